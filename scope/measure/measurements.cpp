#include "scope/measure/measurements.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>

namespace zelbo::scope {

namespace {


// The shortest run of samples that counts as a plateau.
constexpr std::size_t kMinPlateau = 8;

template <typename F>
void forEach(std::span<const TracePoint> a, std::span<const TracePoint> b, F&& f)
{
    for (const TracePoint& p : a) f(p);
    for (const TracePoint& p : b) f(p);
}


} // namespace

std::span<const double> idealStepLevels(Excitation mode)
{
    static const std::array<double, 2> full{0.0, 1.0};
    static const std::array<double, 3> half{0.0, std::sin(std::numbers::pi / 4), 1.0};
    static const std::array<double, 5> quarter{0.0, std::sin(std::numbers::pi / 8), std::sin(std::numbers::pi / 4),
                                               std::sin(3 * std::numbers::pi / 8), 1.0};
    switch (mode) {
    case Excitation::FullStep:
    case Excitation::HalfStepA: return full;
    case Excitation::HalfStepB: return half;
    case Excitation::QuarterStep: return quarter;
    }
    return full;
}

double codeResolution(Source source)
{
    return 2.0 / 511.0 * (source == Source::Voltage ? kVoltFullScale : kAmpFullScale);
}

namespace {

// Checked skips non-finite samples; the unchecked pass is the fast one for
// converted sweeps, which are finite by construction, and falls back to the
// checked one when its sums say otherwise.
template <bool Checked>
Measurement measureImpl(std::span<const TracePoint> first, std::span<const TracePoint> second,
                        const MeasureSetup& setup)
{
    Measurement m;
    const std::size_t n = first.size() + second.size();
    if (n == 0)
        return m;

    // Pass 1: extremes and plain sums.
    double lo = std::numeric_limits<double>::infinity(), hi = -lo, sum = 0.0, sumSq = 0.0;
    std::size_t finite = 0;
    if constexpr (Checked) {
        forEach(first, second, [&](const TracePoint& p) {
            if (!std::isfinite(p.second)) return;
            lo = std::min(lo, p.second);
            hi = std::max(hi, p.second);
            sum += p.second;
            sumSq += p.second * p.second;
            ++finite;
        });
    } else {
        forEach(first, second, [&](const TracePoint& p) {
            const double v = p.second;
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
            sum += v;
            sumSq += v * v;
        });
        finite = n;
        if (!std::isfinite(sumSq) || !std::isfinite(lo) || !std::isfinite(hi))
            return measureImpl<true>(first, second, setup);
    }
    if (finite == 0)
        return m;
    m.samples = finite;
    m.min = lo;
    m.max = hi;
    m.peakToPeak = hi - lo;

    // Pass 2: rising crossings of the middle with a hysteresis band of a
    // tenth of the swing (at least two codes), so noise on a slow edge cannot
    // count twice; the sums between the first and the last crossing give the
    // mean and RMS over whole cycles. Plateaus for a current go alongside.
    const double resolution = codeResolution(setup.source);
    const double mid = (hi + lo) / 2.0;
    const double band = std::max(0.1 * (hi - lo), 2.0 * resolution) / 2.0;
    const bool swings = (hi - lo) > 4.0 * resolution;
    const bool currentFigures = setup.source == Source::Current && setup.ioAmps > 0.0 && std::isfinite(setup.ioAmps);
    const double plTolerance = currentFigures ? std::max(0.03 * setup.ioAmps, 3.0 * resolution) : 0.0;
    const std::span<const double> levels = idealStepLevels(setup.excitation);
    const double io = currentFigures ? setup.ioAmps : 1.0;
    const double below = mid - band, above = mid + band;

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
    auto closePlateau = [&] {
        if (plCount >= kMinPlateau) {
            const double level = std::abs(plSum / static_cast<double>(plCount)) / io;
            double best = std::numeric_limits<double>::infinity();
            for (double l : levels)
                best = std::min(best, std::abs(level - l));
            plWorst = std::max(plWorst, best);
            ++plFound;
        }
        plCount = 0;
    };
    for (const std::span<const TracePoint> part : {first, second}) {
        for (const TracePoint& p : part) {
            const double v = p.second;
            if constexpr (Checked)
                if (!std::isfinite(v)) continue;
            if (swings) {
                if (v < below) {
                    state = -1;
                } else if (v > above) {
                    if (state == -1 && idx > 0) {
                        // Where the rise passed the band's top, between the two samples.
                        const double dv = v - prevV;
                        const double f = dv != 0.0 ? (above - prevV) / dv : 0.0;
                        const double t = prevT + std::clamp(f, 0.0, 1.0) * (p.first - prevT);
                        if (rises == 0) {
                            firstRise = t;
                            sumAtFirst = runSum;
                            sqAtFirst = runSq;
                            idxFirst = idx;
                        }
                        lastRise = t;
                        sumAtLast = runSum;
                        sqAtLast = runSq;
                        idxLast = idx;
                        ++rises;
                    }
                    state = 1;
                }
            }
            if (currentFigures) {
                const double nlo = v < plLo ? v : plLo, nhi = v > plHi ? v : plHi;
                if (plCount > 0 && nhi - nlo > plTolerance) {
                    closePlateau();
                }
                if (plCount == 0) {
                    plLo = plHi = v;
                    plSum = 0.0;
                } else {
                    plLo = nlo;
                    plHi = nhi;
                }
                plSum += v;
                ++plCount;
            }
            runSum += v;
            runSq += v * v;
            ++idx;
            prevT = p.first;
            prevV = v;
        }
    }
    if (currentFigures)
        closePlateau();

    const double all = static_cast<double>(finite);
    m.mean = sum / all;
    m.rms = std::sqrt(sumSq / all);
    if (rises >= 2 && lastRise > firstRise) {
        m.periodUs = (lastRise - firstRise) / (rises - 1);
        m.frequencyHz = 1e6 / m.periodUs;
        const double count = static_cast<double>(idxLast - idxFirst);
        if (count > 0) {
            m.mean = (sumAtLast - sumAtFirst) / count;
            m.rms = std::sqrt(std::max(0.0, (sqAtLast - sqAtFirst) / count));
        }
    }

    if (currentFigures) {
        m.peakCurrent = std::max(std::abs(lo), std::abs(hi));
        m.peakErrorPercent = (m.peakCurrent - setup.ioAmps) / setup.ioAmps * 100.0;
        m.plateaus = plFound;
        if (plFound > 0)
            m.stepErrorPercent = plWorst * 100.0;
    }
    return m;
}

} // namespace

Measurement measure(std::span<const TracePoint> first, std::span<const TracePoint> second, const MeasureSetup& setup)
{
    return measureImpl<false>(first, second, setup);
}

TraceWindow traceWindow(const Trace& trace, double fromUs, double toUs)
{
    TraceWindow w;
    const auto one = trace.array_one();
    const auto two = trace.array_two();
    const std::span<const TracePoint> a(one.first, one.second), b(two.first, two.second);
    // Times ascend through both halves: the first point at or after fromUs and
    // the first point after toUs.
    auto lowerIn = [&](std::span<const TracePoint> s, double t) {
        return static_cast<std::size_t>(
            std::lower_bound(s.begin(), s.end(), t, [](const TracePoint& p, double x) { return p.first < x; }) -
            s.begin());
    };
    auto upperIn = [&](std::span<const TracePoint> s, double t) {
        return static_cast<std::size_t>(
            std::upper_bound(s.begin(), s.end(), t, [](double x, const TracePoint& p) { return x < p.first; }) -
            s.begin());
    };
    const std::size_t total = a.size() + b.size();
    auto position = [&](bool upper, double t) {
        const std::size_t inA = upper ? upperIn(a, t) : lowerIn(a, t);
        if (inA < a.size()) return inA;
        return a.size() + (upper ? upperIn(b, t) : lowerIn(b, t));
    };
    if (!(toUs >= fromUs) || total == 0)
        return w;
    const std::size_t begin = position(false, fromUs);
    const std::size_t end = std::max(begin, position(true, toUs));
    auto slice = [&](std::size_t from, std::size_t to) {
        const std::size_t aFrom = std::min(from, a.size()), aTo = std::min(to, a.size());
        w.first = a.subspan(aFrom, aTo - aFrom);
        const std::size_t bFrom = from > a.size() ? from - a.size() : 0;
        const std::size_t bTo = to > a.size() ? to - a.size() : 0;
        w.second = b.subspan(bFrom, bTo - bFrom);
    };
    slice(begin, end);
    return w;
}

std::string formatFigure(double value, const std::string& unit)
{
    if (!std::isfinite(value)) return "---";
    static const struct {
        double scale;
        const char* prefix;
    } prefixes[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}, {1e-6, "\u00b5"}, {1e-9, "n"}};
    const double a = std::abs(value);
    std::size_t k = 3;
    if (a > 0) {
        k = std::size(prefixes) - 1;
        for (std::size_t i = 0; i < std::size(prefixes); ++i)
            if (a >= prefixes[i].scale * 0.99995) {
                k = i;
                break;
            }
    }
    const double m = value / prefixes[k].scale;
    const double am = std::abs(m);
    const int decimals = am >= 99.995 ? 1 : am >= 9.9995 ? 2 : 3;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f %s%s", decimals, m, prefixes[k].prefix, unit.c_str());
    return buf;
}

} // namespace zelbo::scope
