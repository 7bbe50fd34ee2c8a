#pragma once
// "Save Data...": the sweep on the screen as CSV (a time column in the unit
// of the time base, then one column per shown channel and math channel) or as JSON with the
// settings beside the samples. Both are written to a temporary file in the
// same folder and renamed over the target, so a failed save leaves any
// earlier file whole.

#include <string>
#include <utility>
#include <vector>

#include "common/atomic_file.h"

namespace zelbo::scope {

struct ExportChannel {
    std::string key;   // "CH1"
    std::string label; // the user's label, may be empty
    std::string unit;  // "V" or "A"
    std::string source, output, valuePerDiv;
    std::vector<std::pair<double, double>> points; // (us, value)
    std::string expression; // a math channel's ("CH1 * CH3"); empty for a channel
};

struct ExportSweep {
    std::string timeBase;     // "2.5 ms"
    std::string samplingRate; // "150 kHz"
    double samplePeriodUs = 0;
    std::string trigger;      // "off" or e.g. "CH1 + 0.000 V"
    std::vector<ExportChannel> channels;
};

// The time unit of a time-base text ("ns", "µs", "ms" or "s") and the
// microseconds in one of it.
std::pair<std::string, double> timeUnitOf(const std::string& timeBase);

std::string sweepCsv(const ExportSweep& sweep);
std::string sweepJson(const ExportSweep& sweep);

// Exports are written through a temporary file beside the target.
using files::writeFileAtomically;

// Shortest text that reads back as exactly `v`.
std::string formatNumber(double v);

} // namespace zelbo::scope
