#pragma once
// One oscilloscope channel as the chart sees it: the last converted sweep and
// the presentation settings that go with it.

#include <boost/circular_buffer.hpp>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "scope/scope_tables.h"

namespace zelbo::scope {

using TracePoint = std::pair<double, double>; // (time in us from the first sample, value in V or A)
using Trace = boost::circular_buffer<TracePoint>;

struct ScopeChannel {
    ScopeChannel() : trace(kSamplesPerSweep) {}
    ScopeChannel(const ScopeChannel&) = delete;
    ScopeChannel& operator=(const ScopeChannel&) = delete;

    // The last converted sweep. The reader thread exchanges it with a scratch
    // buffer under `traceMutex`; whoever reads it on another thread (the chart)
    // holds the same lock for as long as it looks at the points.
    Trace trace;
    mutable std::mutex traceMutex;

    // The rest is written and read on the GUI thread only.
    std::string label;                 // at most 7 characters; the key is shown when empty
    std::uint32_t colour = 0xFF000000; // ARGB, alpha always 0xFF
    std::string unit = "V";
    std::string valuePerDivText = "20 V";
    int verticalPosition = 0; // zero line offset in half divisions, -10..+10
    double valuePerDiv = 2000; // units of 10 mV or 10 mA
    int triggerFlag = 0;       // 1 on the channel that is the trigger source
    double triggerLevel = 0.0; // last level applied to this channel
};

// Offsets measured by calibration, added after scaling (V, A, A).
struct CalibrationOffsets {
    std::array<double, kChannels> voltage{};
    std::array<double, kChannels> current{};
    std::array<double, kChannels> icc{};
};

} // namespace zelbo::scope
