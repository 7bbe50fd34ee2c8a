// Any bytes the board uploads, in capture blocks of any length and under any
// channel settings, convert to finite values within full scale plus offset.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/null_command_port.h"
#include "scope/scope_core.h"

using namespace zelbo::scope;

namespace {

using NullPort = zelbo::link::NullCommandPort;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    static NullPort port;
    static ScopeCore core(port);
    // Settings from the first six bytes.
    for (int n = 0; n < kChannels; ++n) {
        core.setSource(n, static_cast<Source>((data[0] >> (2 * n)) % 3));
        core.setOutput(n, (data[1] >> n) & 1);
        core.setChannelOn(n, true);
    }
    core.setSamplingRate(data[2] % 16);
    core.setRunning((data[3] & 1) == 0);
    const double offset = (static_cast<int>(data[4]) - 128) / 64.0; // -2 .. +2
    CalibrationOffsets off;
    off.voltage.fill(offset);
    off.current.fill(offset);
    off.icc.fill(offset);

    // The rest split into four blocks of varying length (possibly empty).
    std::vector<std::uint8_t> rest(data + 6, data + size);
    CaptureAreas areas;
    const std::size_t part = rest.size() / 4;
    const std::size_t skew = data[5] % (part + 1);
    std::size_t at = 0;
    for (std::size_t n = 0; n < kChannels; ++n) {
        std::size_t len = n == 3 ? rest.size() - at : (n % 2 ? part + skew : part - skew);
        len = std::min(len, rest.size() - at);
        areas[n] = std::span<const std::uint8_t>(rest.data() + at, len);
        at += len;
    }
    const auto mask = core.processSweep(areas, off);
    if (!core.running()) {
        if (mask != 0x01)
            std::abort();
        return 0;
    }
    const double limit = 36.0 + std::abs(offset) + 1e-9;
    for (int n = 0; n < kChannels; ++n) {
        const auto& t = core.channel(n).trace;
        if (t.size() != kSamplesPerSweep)
            std::abort();
        for (const auto& p : t)
            if (!std::isfinite(p.first) || !std::isfinite(p.second) || std::abs(p.second) > limit)
                std::abort();
    }
    return 0;
}
