#include "scope/measure/measurements.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>

namespace zelbo::scope {

namespace {

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

MeasureAccumulator::MeasureAccumulator(const MeasureSetup& setup, double lo, double hi)
{
    c_.lo = lo;
    c_.hi = hi;
    c_.ioAmps = setup.ioAmps;
    const double resolution = codeResolution(setup.source);
    const double mid = (hi + lo) / 2.0;
    const double band = std::max(0.1 * (hi - lo), 2.0 * resolution) / 2.0;
    c_.swings = (hi - lo) > 4.0 * resolution;
    c_.currentFigures = setup.source == Source::Current && setup.ioAmps > 0.0 && std::isfinite(setup.ioAmps);
    c_.plTolerance = c_.currentFigures ? std::max(0.03 * setup.ioAmps, 3.0 * resolution) : 0.0;
    c_.levels = idealStepLevels(setup.excitation);
    c_.io = c_.currentFigures ? setup.ioAmps : 1.0;
    c_.below = mid - band;
    c_.above = mid + band;
}

Measurement MeasureAccumulator::finish()
{
    Measurement m;
    if (st_.idx == 0)
        return m;
    m.samples = st_.idx;
    m.min = c_.lo;
    m.max = c_.hi;
    m.peakToPeak = c_.hi - c_.lo;
    if (c_.currentFigures)
        closePlateau(st_, c_);

    const double all = static_cast<double>(st_.idx);
    m.mean = st_.runSum / all;
    m.rms = std::sqrt(st_.runSq / all);
    if (st_.rises >= 2 && st_.lastRise > st_.firstRise) {
        m.periodUs = (st_.lastRise - st_.firstRise) / (st_.rises - 1);
        m.frequencyHz = 1e6 / m.periodUs;
        const double count = static_cast<double>(st_.idxLast - st_.idxFirst);
        if (count > 0) {
            m.mean = (st_.sumAtLast - st_.sumAtFirst) / count;
            m.rms = std::sqrt(std::max(0.0, (st_.sqAtLast - st_.sqAtFirst) / count));
        }
    }

    if (c_.currentFigures) {
        m.peakCurrent = std::max(std::abs(c_.lo), std::abs(c_.hi));
        m.peakErrorPercent = (m.peakCurrent - c_.ioAmps) / c_.ioAmps * 100.0;
        m.plateaus = st_.plFound;
        if (st_.plFound > 0)
            m.stepErrorPercent = st_.plWorst * 100.0;
    }
    return m;
}

namespace {

// Checked skips non-finite samples; the unchecked pass is the fast one for
// converted sweeps, which are finite by construction, and falls back to the
// checked one when its extremes say otherwise.
template <bool Checked>
Measurement measureImpl(std::span<const TracePoint> first, std::span<const TracePoint> second,
                        const MeasureSetup& setup)
{
    const std::size_t n = first.size() + second.size();
    if (n == 0)
        return {};

    // Pass 1: the extremes, which place the crossing band.
    double lo = std::numeric_limits<double>::infinity(), hi = -lo, sumSq = 0.0;
    std::size_t finite = 0;
    if constexpr (Checked) {
        forEach(first, second, [&](const TracePoint& p) {
            if (!std::isfinite(p.second)) return;
            lo = std::min(lo, p.second);
            hi = std::max(hi, p.second);
            ++finite;
        });
    } else {
        forEach(first, second, [&](const TracePoint& p) {
            const double v = p.second;
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
            sumSq += v * v;
        });
        finite = n;
        // An infinite sample makes the extremes infinite, a NaN the squares.
        if (!std::isfinite(sumSq) || !std::isfinite(lo) || !std::isfinite(hi))
            return measureImpl<true>(first, second, setup);
    }
    if (finite == 0)
        return {};

    // Pass 2: everything else, sample by sample.
    MeasureAccumulator acc(setup, lo, hi);
    if constexpr (Checked) {
        forEach(first, second, [&](const TracePoint& p) {
            if (std::isfinite(p.second)) acc.add(p.first, p.second);
        });
    } else {
        for (const std::span<const TracePoint> part : {first, second})
            acc.feed(part.size(), [&](std::size_t j) { return part[j]; });
    }
    return acc.finish();
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
