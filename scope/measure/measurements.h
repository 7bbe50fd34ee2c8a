#pragma once
// Numbers from one channel's sweep: the statistics every scope shows, the
// frequency from level crossings with hysteresis, and for a coil current the
// peak against the set Io and how close each microstep plateau sits to its
// ideal level. Pure functions on the trace's points: no allocation, no locks.

#include <cstddef>
#include <limits>
#include <span>
#include <string>

#include "scope/scope_channel.h"
#include "scope/scope_tables.h"

namespace zelbo::scope {

// The driver's excitation modes in the order of the MODE0/MODE1 pins
// (index = MODE0 + 2 * MODE1).
enum class Excitation : int { FullStep = 0, HalfStepA = 1, HalfStepB = 2, QuarterStep = 3 };

// Ideal plateau magnitudes of a coil current as fractions of Io, ascending,
// starting at 0: sin(k pi / 2n) for n microsteps per quarter cycle. Half step
// A is the 1-2 phase drive, whose plateaus are 0 and full current only.
std::span<const double> idealStepLevels(Excitation mode);

// One code of the converter in the channel's unit (V or A).
double codeResolution(Source source);

struct MeasureSetup {
    Source source = Source::Voltage;
    double ioAmps = 0.0; // set coil current; 0 = unknown (no current figures)
    Excitation excitation = Excitation::QuarterStep;
};

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

struct Measurement {
    std::size_t samples = 0; // 0: nothing measured, every value NaN
    double min = kNoValue, max = kNoValue, peakToPeak = kNoValue;
    // Over whole cycles when at least one was found, else over every sample.
    double mean = kNoValue, rms = kNoValue;
    double frequencyHz = kNoValue, periodUs = kNoValue;
    // Current channels with a known Io only.
    double peakCurrent = kNoValue;    // largest |value|
    double peakErrorPercent = kNoValue; // (peak - Io) / Io
    double stepErrorPercent = kNoValue; // worst plateau distance to its nearest ideal level, % of Io
    int plateaus = 0;
};

// Measures the points of `first` followed by `second` (the two halves of a
// trace). Times are in microseconds, ascending.
Measurement measure(std::span<const TracePoint> first, std::span<const TracePoint> second, const MeasureSetup& setup);
inline Measurement measure(std::span<const TracePoint> points, const MeasureSetup& setup)
{
    return measure(points, {}, setup);
}

// The points of `trace` whose time lies in [fromUs, toUs], as the two halves
// to pass to measure().
struct TraceWindow {
    std::span<const TracePoint> first, second;
};
TraceWindow traceWindow(const Trace& trace, double fromUs, double toUs);

// A figure for the measurement strip: four significant digits with an SI
// prefix ("812.0 mA", "1.250 kHz"), "---" for no value.
std::string formatFigure(double value, const std::string& unit);

} // namespace zelbo::scope
