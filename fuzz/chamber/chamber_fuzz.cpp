// Arbitrary bytes on the simulated chamber controller's line, fed in pieces
// of arbitrary size with arbitrary time between them: the framing and the
// register map must neither crash nor read outside the bytes, every reply must
// be a whole frame with a good CRC, and the line buffer must stay short.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "board/chamber_sim.h"

namespace {

std::uint16_t crc(const std::uint8_t* p, std::size_t n)
{
    std::uint16_t c = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : c >> 1;
    }
    return c;
}

// Walks a run of replies frame by frame; false when one is malformed.
bool wholeFrames(const std::vector<std::uint8_t>& out)
{
    std::size_t at = 0;
    while (at < out.size()) {
        if (out.size() - at < 5 || out[at] != 1) return false;
        std::size_t len = 0;
        const std::uint8_t fn = out[at + 1];
        if (fn & 0x80) len = 5;
        else if (fn == 3) len = 5u + out[at + 2];
        else if (fn == 6) len = 8;
        else return false;
        if (out.size() - at < len) return false;
        const std::uint16_t c = crc(out.data() + at, len - 2);
        if ((out[at + len - 2] | out[at + len - 1] << 8) != c) return false;
        at += len;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    simboard::ChamberModel model;
    std::vector<std::uint8_t> pending;
    std::int64_t now = 0;
    std::size_t i = 0;
    while (i < size) {
        // A control byte: how many bytes arrive next, and the time that passes.
        const std::uint8_t ctl = data[i++];
        const std::size_t n = std::min<std::size_t>(ctl & 0x1F, size - i);
        now += static_cast<std::int64_t>(ctl >> 5) * 7'000'000'000LL;
        pending.insert(pending.end(), data + i, data + i + n);
        i += n;
        if ((ctl & 0xE0) == 0xE0) model.setFault(static_cast<simboard::ChamberFault>(ctl % 3 == 0 ? 0 : 3));
        const std::vector<std::uint8_t> out = model.serve(pending, now);
        if (!wholeFrames(out)) std::abort();
        if (pending.size() >= 8) std::abort();
    }
    const simboard::ChamberState s = model.state();
    if (!(s.airCelsius >= -70.0 && s.airCelsius <= 180.0)) std::abort();
    return 0;
}
