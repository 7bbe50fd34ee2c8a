#pragma once
// Numbers from one channel's sweep: the statistics every scope shows, the
// frequency from level crossings with hysteresis, and for a coil current the
// peak against the set Io and how close each microstep plateau sits to its
// ideal level. Pure functions on the trace's points: no allocation, no locks.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>

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

// How one channel's codes became values: value = code * (code < 0 ? neg : pos) + add.
// Both scales have the same sign, so the value follows the code monotonically.
struct ChannelScale {
    double pos = 0.0;
    double neg = 0.0;
    double add = 0.0;
};

// A sweep's converter codes as keys that order like their values: the code
// itself for positive scales, the code negated for negative ones (a current
// read on its reversed output). Keys lie in -512..512.
struct SweepKeys {
    std::span<const std::int16_t> keys;
    int lo = 0, hi = 0;   // the lowest and highest key
    bool negated = false; // key = -code
};

// The figures of a converted sweep from its keys alone, the same figures
// measure() gives on the converted values (to within the last bits of the
// sums, which are taken here in exact integers). The crossing band and the
// plateau tolerance become key thresholds, found once with the conversion's
// own arithmetic, so every decision falls as it does on the values; blocks of
// eight keys that stay on their side of the band and within the plateau being
// followed are taken whole with one vector compare. No allocation.
// Sums are exact for up to 2^20 keys. Nothing is measured (samples 0) when
// the scales are not of one sign, a key lies outside -512..512 or the
// extremes' values are not finite.
//
// `limits`, when given, keeps what depends only on the channel's scale and
// the plateau tolerance from one sweep to the next (one per channel).
struct KeyLimits {
    ChannelScale scale{};
    bool negated = false;
    double tolerance = -1.0;
    std::array<std::int16_t, 1025> limit{}; // per lowest key of a plateau, its highest
};
Measurement measureKeys(const SweepKeys& sweep, double periodUs, const ChannelScale& scale, const MeasureSetup& setup,
                        KeyLimits* limits = nullptr);

// The figures of one sweep gathered sample by sample once its extremes are
// known: the crossings of the middle level, the sums over whole cycles and the
// plateaus. measure() runs it as its second pass; the conversion runs it on
// each short run of points it has just converted (taking the extremes from the
// codes), so both give the same figures to the last bit.
//
// The samples go in blocks of kBlock, counted from the first sample whatever
// the calls that bring them: a block's sums are added in a fixed order and
// then to the running sums, and a block that holds no crossing and stays
// within the plateau being followed is taken whole, sample by sample only
// where something happens. How the samples are split across feed() calls
// therefore never changes a figure. Samples must be finite, times ascending.
namespace detail {
// Where a sweep's figures are decided, from its setup and extremes.
struct MeasureBand {
    double lo, hi, ioAmps;
    double below = 0.0, above = 0.0; // the crossing band
    bool swings = false, currentFigures = false;
    double plTolerance = 0.0, io = 1.0;
    std::array<double, 5> levelAmps{}; // the ideal levels times Io
    std::size_t levelCount = 0;
};
MeasureBand measureBand(const MeasureSetup& setup, double lo, double hi);
// How far a plateau's level (in A) lies from the nearest ideal level.
double levelDistance(const MeasureBand& band, double level);
} // namespace detail

class MeasureAccumulator {
public:
    static constexpr std::size_t kBlock = 8;

    MeasureAccumulator(const MeasureSetup& setup, double lo, double hi);

    void feed(std::span<const TracePoint> points);
    void add(double t, double v)
    {
        const TracePoint p{t, v};
        feed({&p, 1});
    }

    Measurement finish();

private:
    using Config = detail::MeasureBand;
    struct State {
        int state = 0; // -1 below the band, +1 above, 0 not yet known
        double firstRise = 0.0, lastRise = 0.0, runSum = 0.0, runSq = 0.0;
        double sumAtFirst = 0.0, sqAtFirst = 0.0, sumAtLast = 0.0, sqAtLast = 0.0;
        std::size_t idx = 0, idxFirst = 0, idxLast = 0;
        int rises = 0;
        double prevT = 0.0, prevV = 0.0;
        // The plateau being followed: its count, spread and sum.
        std::size_t plCount = 0;
        double plLo = 0.0, plHi = 0.0, plSum = 0.0, plWorst = 0.0; // plWorst in A
        int plFound = 0;
    };
    static void blocks(State& st, const Config& c, const TracePoint* p, std::size_t count);
    static void crossings(State& st, const Config& c, const TracePoint* p, std::size_t count);
    static void plateaus(State& st, const Config& c, const TracePoint* p, std::size_t count);
    static void closePlateau(State& st, const Config& c);
    static constexpr std::size_t kMinPlateau = 8; // the shortest run that counts as a plateau

    Config c_;
    State st_;
    // The start of a block whose end has not come yet.
    std::array<TracePoint, kBlock> pending_{};
    std::size_t pendingCount_ = 0;
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
