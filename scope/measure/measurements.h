#pragma once
// Numbers from one channel's sweep: the statistics every scope shows, the
// frequency from level crossings with hysteresis, and for a coil current the
// peak against the set Io and how close each microstep plateau sits to its
// ideal level. Pure functions on the trace's points: no allocation, no locks.

#include <algorithm>
#include <cmath>
#include <cstddef>
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

// The figures of one sweep gathered sample by sample once its extremes are
// known: the crossings of the middle level, the sums over whole cycles and the
// plateaus. measure() runs it as its second pass; the conversion runs it while
// it converts (taking the extremes from the codes), so both give the same
// figures to the last bit. Samples must be finite, times ascending.
class MeasureAccumulator {
public:
    MeasureAccumulator(const MeasureSetup& setup, double lo, double hi);

    // Feeds `count` samples, sample j being next(j) = (time, value). The
    // running state is copied into locals for the loop, so that it stays in
    // registers even while the caller stores converted points next to it.
    template <typename Next>
    void feed(std::size_t count, Next&& next)
    {
        State st = st_;
        const Config c = c_;
        for (std::size_t j = 0; j < count; ++j) {
            const auto [t, v] = next(j);
            if (c.swings) {
                if (v < c.below) {
                    st.state = -1;
                } else if (v > c.above) {
                    if (st.state == -1 && st.idx > 0) [[unlikely]] {
                        // Where the rise passed the band's top, between the two samples.
                        const double dv = v - st.prevV;
                        const double f = dv != 0.0 ? (c.above - st.prevV) / dv : 0.0;
                        const double at = st.prevT + (f < 0.0 ? 0.0 : f > 1.0 ? 1.0 : f) * (t - st.prevT);
                        if (st.rises == 0) {
                            st.firstRise = at;
                            st.sumAtFirst = st.runSum;
                            st.sqAtFirst = st.runSq;
                            st.idxFirst = st.idx;
                        }
                        st.lastRise = at;
                        st.sumAtLast = st.runSum;
                        st.sqAtLast = st.runSq;
                        st.idxLast = st.idx;
                        ++st.rises;
                    }
                    st.state = 1;
                }
            }
            if (c.currentFigures) {
                const double nlo = v < st.plLo ? v : st.plLo, nhi = v > st.plHi ? v : st.plHi;
                if (st.plCount > 0 && nhi - nlo > c.plTolerance) [[unlikely]]
                    closePlateau(st, c);
                if (st.plCount == 0) {
                    st.plLo = st.plHi = v;
                    st.plSum = 0.0;
                } else {
                    st.plLo = nlo;
                    st.plHi = nhi;
                }
                st.plSum += v;
                ++st.plCount;
            }
            st.runSum += v;
            st.runSq += v * v;
            ++st.idx;
            st.prevT = t;
            st.prevV = v;
        }
        st_ = st;
    }
    void add(double t, double v)
    {
        feed(1, [&](std::size_t) { return std::pair{t, v}; });
    }

    Measurement finish();

private:
    struct Config {
        double lo, hi, ioAmps;
        double below = 0.0, above = 0.0;
        bool swings = false, currentFigures = false;
        double plTolerance = 0.0, io = 1.0;
        std::span<const double> levels;
    };
    struct State {
        int state = 0; // -1 below the band, +1 above, 0 not yet known
        double firstRise = 0.0, lastRise = 0.0, runSum = 0.0, runSq = 0.0;
        double sumAtFirst = 0.0, sqAtFirst = 0.0, sumAtLast = 0.0, sqAtLast = 0.0;
        std::size_t idx = 0, idxFirst = 0, idxLast = 0;
        int rises = 0;
        double prevT = 0.0, prevV = 0.0;
        // The plateau being followed: its count, spread and sum.
        std::size_t plCount = 0;
        double plLo = 0.0, plHi = 0.0, plSum = 0.0, plWorst = 0.0;
        int plFound = 0;
    };
    // Ends the plateau being followed, counting it when it is long enough.
    static void closePlateau(State& st, const Config& c)
    {
        if (st.plCount >= kMinPlateau) {
            const double level = std::abs(st.plSum / static_cast<double>(st.plCount)) / c.io;
            double best = std::numeric_limits<double>::infinity();
            for (double l : c.levels)
                best = std::min(best, std::abs(level - l));
            st.plWorst = std::max(st.plWorst, best);
            ++st.plFound;
        }
        st.plCount = 0;
    }
    static constexpr std::size_t kMinPlateau = 8; // the shortest run that counts as a plateau

    Config c_;
    State st_;
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
