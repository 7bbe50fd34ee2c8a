#include "scope/measure/measurements.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelbo::scope {

namespace {

// The extremes and sums of one block of eight samples. The sums go pairwise
// in one fixed order, even samples and odd samples apart, so that the two
// lanes of a vector register compute them; the plain code keeps that order
// and gives the same bits.
struct BlockFigures {
    double min, max, sum, sumSq;
};

inline BlockFigures blockFigures(const TracePoint* q)
{
#if defined(__SSE2__)
    const __m128d a = _mm_set_pd(q[1].second, q[0].second);
    const __m128d b = _mm_set_pd(q[3].second, q[2].second);
    const __m128d c = _mm_set_pd(q[5].second, q[4].second);
    const __m128d d = _mm_set_pd(q[7].second, q[6].second);
    const __m128d mn = _mm_min_pd(_mm_min_pd(a, b), _mm_min_pd(c, d));
    const __m128d mx = _mm_max_pd(_mm_max_pd(a, b), _mm_max_pd(c, d));
    const __m128d sum = _mm_add_pd(_mm_add_pd(a, b), _mm_add_pd(c, d));
    const __m128d sq = _mm_add_pd(_mm_add_pd(_mm_mul_pd(a, a), _mm_mul_pd(b, b)),
                                  _mm_add_pd(_mm_mul_pd(c, c), _mm_mul_pd(d, d)));
    auto lanes = [](__m128d x, double& lo, double& hi) {
        lo = _mm_cvtsd_f64(x);
        hi = _mm_cvtsd_f64(_mm_unpackhi_pd(x, x));
    };
    double mn0, mn1, mx0, mx1, s0, s1, q0, q1;
    lanes(mn, mn0, mn1);
    lanes(mx, mx0, mx1);
    lanes(sum, s0, s1);
    lanes(sq, q0, q1);
    return {mn1 < mn0 ? mn1 : mn0, mx1 > mx0 ? mx1 : mx0, s0 + s1, q0 + q1};
#else
    double v[8];
    for (std::size_t k = 0; k < 8; ++k)
        v[k] = q[k].second;
    BlockFigures f{v[0], v[0], 0.0, 0.0};
    for (double x : v) {
        f.min = x < f.min ? x : f.min;
        f.max = x > f.max ? x : f.max;
    }
    f.sum = ((v[0] + v[2]) + (v[4] + v[6])) + ((v[1] + v[3]) + (v[5] + v[7]));
    f.sumSq = ((v[0] * v[0] + v[2] * v[2]) + (v[4] * v[4] + v[6] * v[6])) +
              ((v[1] * v[1] + v[3] * v[3]) + (v[5] * v[5] + v[7] * v[7]));
    return f;
#endif
}

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
    c_.io = c_.currentFigures ? setup.ioAmps : 1.0;
    const std::span<const double> levels = idealStepLevels(setup.excitation);
    c_.levelCount = std::min(levels.size(), c_.levelAmps.size());
    for (std::size_t k = 0; k < c_.levelCount; ++k)
        c_.levelAmps[k] = levels[k] * c_.io;
    c_.below = mid - band;
    c_.above = mid + band;
}

void MeasureAccumulator::closePlateau(State& st, const Config& c)
{
    if (st.plCount >= kMinPlateau) {
        // In amperes: one division, the levels scaled by Io beforehand.
        const double level = std::abs(st.plSum) / static_cast<double>(st.plCount);
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < c.levelCount; ++k) {
            const double d = std::abs(level - c.levelAmps[k]);
            best = d < best ? d : best;
        }
        st.plWorst = best > st.plWorst ? best : st.plWorst;
        ++st.plFound;
    }
    st.plCount = 0;
}

// The rising crossings among `count` samples that start at sample st.idx,
// with the running sums before each taken sample by sample from st's.
void MeasureAccumulator::crossings(State& st, const Config& c, const TracePoint* p, std::size_t count)
{
    double sum = st.runSum, sq = st.runSq, prevT = st.prevT, prevV = st.prevV;
    for (std::size_t k = 0; k < count; ++k) {
        const auto [t, v] = p[k];
        if (v < c.below) {
            st.state = -1;
        } else if (v > c.above) {
            if (st.state == -1 && st.idx + k > 0) {
                // Where the rise passed the band's top, between the two samples.
                const double dv = v - prevV;
                const double f = dv != 0.0 ? (c.above - prevV) / dv : 0.0;
                const double at = prevT + (f < 0.0 ? 0.0 : f > 1.0 ? 1.0 : f) * (t - prevT);
                if (st.rises == 0) {
                    st.firstRise = at;
                    st.sumAtFirst = sum;
                    st.sqAtFirst = sq;
                    st.idxFirst = st.idx + k;
                }
                st.lastRise = at;
                st.sumAtLast = sum;
                st.sqAtLast = sq;
                st.idxLast = st.idx + k;
                ++st.rises;
            }
            st.state = 1;
        }
        sum += v;
        sq += v * v;
        prevT = t;
        prevV = v;
    }
}

// The plateaus among `count` samples, sample by sample.
void MeasureAccumulator::plateaus(State& st, const Config& c, const TracePoint* p, std::size_t count)
{
    double lo = st.plLo, hi = st.plHi, sum = st.plSum;
    std::size_t n = st.plCount;
    for (std::size_t k = 0; k < count; ++k) {
        const double v = p[k].second;
        const double nlo = v < lo ? v : lo, nhi = v > hi ? v : hi;
        if (n > 0 && nhi - nlo > c.plTolerance) {
            st.plCount = n;
            st.plSum = sum;
            closePlateau(st, c);
            n = 0;
        }
        if (n == 0) {
            lo = hi = v;
            sum = 0.0;
        } else {
            lo = nlo;
            hi = nhi;
        }
        sum += v;
        ++n;
    }
    st.plLo = lo;
    st.plHi = hi;
    st.plSum = sum;
    st.plCount = n;
}

// Whole blocks: the extremes and sums of each first, then sample by sample
// only where the block holds a crossing or leaves the plateau.
void MeasureAccumulator::blocks(State& st, const Config& c, const TracePoint* p, std::size_t count)
{
    if (count == 0)
        return;
    // What every block changes, in locals that stay in registers; the whole
    // state is written back only around a block taken sample by sample.
    double runSum = st.runSum, runSq = st.runSq, plSum = st.plSum, plLo = st.plLo, plHi = st.plHi;
    std::size_t plCount = st.plCount, idx = st.idx;
    int state = st.state;
    const double below = c.below, above = c.above, tolerance = c.plTolerance;
    const bool swings = c.swings, currentFigures = c.currentFigures;
    auto save = [&] {
        st.runSum = runSum;
        st.runSq = runSq;
        st.plSum = plSum;
        st.plLo = plLo;
        st.plHi = plHi;
        st.plCount = plCount;
        st.idx = idx;
        st.state = state;
    };
    static_assert(kBlock == 8);
    for (std::size_t b = 0; b + kBlock <= count; b += kBlock) {
        const TracePoint* q = p + b;
        const auto [mn, mx, sum, sumSq] = blockFigures(q);

        // Below the band with nothing above its top, or above it with nothing
        // below its bottom: the block holds no crossing. Within the spread
        // of the plateau being followed: the block only lengthens it.
        const bool quiet = !swings || (state == -1 && mx <= above) || (state == 1 && mn >= below);
        const double nlo = mn < plLo ? mn : plLo, nhi = mx > plHi ? mx : plHi;
        const bool flat = !currentFigures || (plCount > 0 && nhi - nlo <= tolerance);
        if (quiet && flat) [[likely]] {
            if (currentFigures) {
                plLo = nlo;
                plHi = nhi;
                plSum += sum;
                plCount += kBlock;
            }
        } else {
            save();
            if (b > 0) {
                st.prevT = q[-1].first;
                st.prevV = q[-1].second;
            }
            if (!quiet)
                crossings(st, c, q, kBlock);
            if (!flat) {
                plateaus(st, c, q, kBlock);
            } else if (currentFigures) {
                st.plLo = nlo;
                st.plHi = nhi;
                st.plSum += sum;
                st.plCount += kBlock;
            }
            plSum = st.plSum;
            plLo = st.plLo;
            plHi = st.plHi;
            plCount = st.plCount;
            state = st.state;
        }
        runSum += sum;
        runSq += sumSq;
        idx += kBlock;
    }
    save();
    st.prevT = p[count - 1].first;
    st.prevV = p[count - 1].second;
}

void MeasureAccumulator::feed(std::span<const TracePoint> points)
{
    const TracePoint* p = points.data();
    std::size_t n = points.size();
    if (pendingCount_ > 0) {
        const std::size_t take = std::min(n, kBlock - pendingCount_);
        std::copy_n(p, take, pending_.begin() + static_cast<std::ptrdiff_t>(pendingCount_));
        pendingCount_ += take;
        p += take;
        n -= take;
        if (pendingCount_ < kBlock)
            return;
        blocks(st_, c_, pending_.data(), kBlock);
        pendingCount_ = 0;
    }
    const std::size_t whole = n - n % kBlock;
    blocks(st_, c_, p, whole);
    std::copy_n(p + whole, n - whole, pending_.begin());
    pendingCount_ = n - whole;
}

Measurement MeasureAccumulator::finish()
{
    // The last, short block sample by sample.
    if (pendingCount_ > 0) {
        const TracePoint* p = pending_.data();
        if (c_.swings)
            crossings(st_, c_, p, pendingCount_);
        if (c_.currentFigures)
            plateaus(st_, c_, p, pendingCount_);
        for (std::size_t k = 0; k < pendingCount_; ++k) {
            st_.runSum += p[k].second;
            st_.runSq += p[k].second * p[k].second;
        }
        st_.idx += pendingCount_;
        st_.prevT = p[pendingCount_ - 1].first;
        st_.prevV = p[pendingCount_ - 1].second;
        pendingCount_ = 0;
    }

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
            m.stepErrorPercent = st_.plWorst / c_.io * 100.0;
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
        acc.feed(first);
        acc.feed(second);
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
