#pragma once
// Whoever wants every converted sweep as it comes (measurements, recording)
// implements this. The call runs on the board reader thread, right after the
// sweep was converted: it must be quick and must not allocate or block, or
// the reader falls behind the board.

#include <array>
#include <cstdint>
#include <span>

#include "scope/scope_channel.h"
#include "scope/scope_tables.h"

namespace zelbo::scope {

// How one channel's codes became values: value = code * (code < 0 ? neg : pos) + add.
struct ChannelScale {
    double pos = 0.0;
    double neg = 0.0;
    double add = 0.0;
};

struct SweepFrame {
    std::uint64_t index = 0;   // 1 for the first sweep converted since the core was made
    std::uint8_t channels = 0; // bit n = channel n converted in this sweep
    double periodUs = 0.0;     // sample period
    std::array<Source, kChannels> sources{};
    std::array<ChannelScale, kChannels> scales{};
    // The converted traces (read-only; only the reader thread writes them).
    std::array<const Trace*, kChannels> traces{};
    // The raw capture blocks the traces came from (kCaptureBytes each).
    std::array<std::span<const std::uint8_t>, kChannels> raw{};
};

class SweepObserver {
public:
    virtual ~SweepObserver() = default;
    virtual void onSweep(const SweepFrame& frame) = 0;
};

} // namespace zelbo::scope
