#pragma once
// Whoever wants every converted sweep as it comes (measurements, recording)
// implements this. The call runs on the board reader thread, right after the
// sweep was converted: it must be quick and must not allocate or block, or
// the reader falls behind the board.

#include <array>
#include <cstdint>
#include <span>

#include "scope/measure/measurements.h"
#include "scope/scope_channel.h"
#include "scope/scope_tables.h"

namespace zelbo::scope {

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
    // The figures of each converted channel, taken while converting, when an
    // observer asked for them (see SweepObserver::measureWhileConverting).
    bool measured = false;
    std::array<Measurement, kChannels> measurements{};
};

// What the conversion needs to measure current channels besides the sweep.
struct MeasureDrive {
    double ioAmps = 0.0;
    Excitation excitation = Excitation::QuarterStep;
};

class SweepObserver {
public:
    virtual ~SweepObserver() = default;
    virtual void onSweep(const SweepFrame& frame) = 0;
    // Asked on the reader thread before each sweep is converted. An observer
    // that will measure the sweep fills in the drive and returns true; the
    // conversion then measures from the codes it converts, which costs less
    // than measuring the traces afterwards, and hands the figures over in the
    // frame.
    virtual bool measureWhileConverting(MeasureDrive& /*drive*/) { return false; }
};

} // namespace zelbo::scope
