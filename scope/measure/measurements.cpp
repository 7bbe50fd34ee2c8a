#include "scope/measure/measurements.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <numbers>
#include <optional>

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

namespace detail {

MeasureBand measureBand(const MeasureSetup& setup, double lo, double hi)
{
    MeasureBand c;
    c.lo = lo;
    c.hi = hi;
    c.ioAmps = setup.ioAmps;
    const double resolution = codeResolution(setup.source);
    const double mid = (hi + lo) / 2.0;
    const double band = std::max(0.1 * (hi - lo), 2.0 * resolution) / 2.0;
    c.swings = (hi - lo) > 4.0 * resolution;
    c.currentFigures = setup.source == Source::Current && setup.ioAmps > 0.0 && std::isfinite(setup.ioAmps);
    c.plTolerance = c.currentFigures ? std::max(0.03 * setup.ioAmps, 3.0 * resolution) : 0.0;
    c.io = c.currentFigures ? setup.ioAmps : 1.0;
    const std::span<const double> levels = idealStepLevels(setup.excitation);
    c.levelCount = std::min(levels.size(), c.levelAmps.size());
    for (std::size_t k = 0; k < c.levelCount; ++k)
        c.levelAmps[k] = levels[k] * c.io;
    c.below = mid - band;
    c.above = mid + band;
    return c;
}

double levelDistance(const MeasureBand& c, double level)
{
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < c.levelCount; ++k) {
        const double d = std::abs(level - c.levelAmps[k]);
        best = d < best ? d : best;
    }
    return best;
}

} // namespace detail

MeasureAccumulator::MeasureAccumulator(const MeasureSetup& setup, double lo, double hi)
    : c_(detail::measureBand(setup, lo, hi))
{
}

void MeasureAccumulator::closePlateau(State& st, const Config& c)
{
    if (st.plCount >= kMinPlateau) {
        // In amperes: one division, the levels scaled by Io beforehand.
        const double level = std::abs(st.plSum) / static_cast<double>(st.plCount);
        const double best = detail::levelDistance(c, level);
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

// Integer sums over keys: of the keys, of their positive parts, and of the
// squares of both. The negative part is what the first leaves.
struct KeySums {
    std::int64_t all = 0, pos = 0, sqAll = 0, sqPos = 0;
    KeySums operator-(const KeySums& o) const
    {
        return {all - o.all, pos - o.pos, sqAll - o.sqAll, sqPos - o.sqPos};
    }
    void add(int k)
    {
        const int p = k > 0 ? k : 0;
        all += k;
        pos += p;
        sqAll += k * k;
        sqPos += p * p;
    }
};

#if defined(__SSE2__)
inline std::int64_t sum32(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_cvtsi128_si32(v);
}

// The same sums for blocks of eight keys, in vector lanes: the plain sums in
// 16-bit lanes (up to 33 blocks of keys up to 512 stay within them), the squares
// in 32-bit lanes; flush() moves them into a KeySums.
class BlockSums {
public:
    void add(__m128i x)
    {
        const __m128i p = _mm_max_epi16(x, _mm_setzero_si128());
        all_ = _mm_add_epi16(all_, x);
        pos_ = _mm_add_epi16(pos_, p);
        sqAll_ = _mm_add_epi32(sqAll_, _mm_madd_epi16(x, x));
        sqPos_ = _mm_add_epi32(sqPos_, _mm_madd_epi16(p, p));
        ++blocks_;
    }
    bool full() const { return blocks_ >= 32; }
    void flush(KeySums& s)
    {
        const __m128i ones = _mm_set1_epi16(1);
        s.all += sum32(_mm_madd_epi16(all_, ones));
        s.pos += sum32(_mm_madd_epi16(pos_, ones));
        s.sqAll += sum32(sqAll_);
        s.sqPos += sum32(sqPos_);
        *this = BlockSums{};
    }

private:
    __m128i all_ = _mm_setzero_si128(), pos_ = _mm_setzero_si128();
    __m128i sqAll_ = _mm_setzero_si128(), sqPos_ = _mm_setzero_si128();
    int blocks_ = 0;
};
#endif

// One pass over a sweep's keys; see measureKeys().
//
// The blocks of eight whose keys all lie within [lo_, hi_] (on their side of
// the band, within the plateau being followed) only add to the sums. The
// others go key by key from the running sums at their start: a plateau's end
// is written down with the sums before it, and the plateaus are closed
// (their level compared with the ideal ones) in batches; a rising crossing,
// a few per sweep, takes the sums with their squares there and then.
class KeyScan {
public:
    KeyScan(const SweepKeys& sweep, double periodUs, const ChannelScale& scale, const detail::MeasureBand& band,
            KeyLimits& limits)
        : k_(sweep.keys.data()), n_(sweep.keys.size()), period_(periodUs), scale_(scale), negated_(sweep.negated),
          c_(band), limits_(limits.limit)
    {
        // In key order the scales are those of the code's opposite sign
        // when the keys are the codes negated.
        posScale_ = negated_ ? -scale.neg : scale.pos;
        negScale_ = negated_ ? -scale.pos : scale.neg;
        // v < below exactly for keys below belowKey_, v > above for keys
        // above aboveKey_: the value never falls as the key rises.
        belowKey_ = firstKey([&](int k) { return value(k) >= c_.below; });
        aboveKey_ = firstKey([&](int k) { return value(k) > c_.above; }) - 1;
        if (c_.currentFigures) {
            if (limits.tolerance != c_.plTolerance || limits.negated != negated_ || limits.scale.pos != scale.pos ||
                limits.scale.neg != scale.neg || limits.scale.add != scale.add) {
                std::memset(limits_.data(), 0x7F, sizeof limits_); // kUnknown
                limits.tolerance = c_.plTolerance;
                limits.negated = negated_;
                limits.scale = scale;
            }
            plLo_ = plHi_ = k_[0];
            plLimit_ = limit(plLo_);
        }
    }

    void run();
    Measurement finish();

private:
    static constexpr int kMinKey = -512, kMaxKey = 512;
    static constexpr std::int16_t kUnknown = 0x7F7F;
    static constexpr std::size_t kBlock = 8, kMinPlateau = 8, kEnds = 256;

    // The conversion's own arithmetic, on the code the key stands for.
    double value(int key) const
    {
        const int r = negated_ ? -key : key;
        const double s = r < 0 ? scale_.neg : scale_.pos;
        return r * s + scale_.add;
    }
    // The lowest key in kMinKey..kMaxKey + 1 for which `at` holds, `at`
    // holding for every key above one for which it holds.
    template <typename F>
    static int firstKey(F&& at)
    {
        int lo = kMinKey, hi = kMaxKey + 1;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (at(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }
    // The highest key a plateau whose lowest key is `lo` may reach: its
    // spread, on the values, stays within the tolerance.
    int limit(int lo)
    {
        std::int16_t& l = limits_[static_cast<std::size_t>(lo - kMinKey)];
        if (l == kUnknown) [[unlikely]] {
            // Plateaus are a few keys wide: step out from lo, then halve.
            const double base = value(lo), tol = c_.plTolerance;
            int ok = lo, step = 1;
            while (ok < kMaxKey && value(std::min(ok + step, kMaxKey)) - base <= tol) {
                ok = std::min(ok + step, kMaxKey);
                step *= 2;
            }
            for (step /= 2; step > 0; step /= 2)
                if (ok + step <= kMaxKey && value(ok + step) - base <= tol) ok += step;
            l = static_cast<std::int16_t>(ok);
        }
        return l;
    }
    // The keys a block may hold and still be taken whole: on its side of
    // the band (or within it, before the first side is known) and within the
    // plateau being followed.
    void bounds()
    {
        int lo = -32768, hi = 32767;
        if (c_.swings) {
            if (state_ <= 0) hi = aboveKey_;
            if (state_ >= 0) lo = belowKey_;
        }
        if (c_.currentFigures) {
            lo = std::max(lo, plLo_);
            hi = std::min(hi, plHi_);
        }
        lo_ = lo;
        hi_ = hi;
    }
    template <bool Crossings, bool Plateaus>
    void samples(std::size_t from, std::size_t to);
    void samples(std::size_t from, std::size_t to)
    {
        if (c_.swings && c_.currentFigures)
            samples<true, true>(from, to);
        else if (c_.swings)
            samples<true, false>(from, to);
        else if (c_.currentFigures)
            samples<false, true>(from, to);
    }
    // Block b key by key: all eight in a loop of fixed length (the keys
    // before the first one outside change nothing, but skipping them would
    // cost a mispredicted branch); then the bounds for the next.
    [[gnu::noinline]] void slowBlock(std::size_t b)
    {
        base_ = b;
        samples(b, b + kBlock);
        if (ends_ >= kEnds) closePlateaus();
        bounds();
    }
    void rise(std::size_t i);
    void closePlateaus();
    double sumOf(const KeySums& d, std::size_t count) const
    {
        return posScale_ * static_cast<double>(d.pos) + negScale_ * static_cast<double>(d.all - d.pos) +
               static_cast<double>(count) * scale_.add;
    }
    void meanAndRms(const KeySums& d, std::size_t count, Measurement& m) const;

    const std::int16_t* k_;
    std::size_t n_;
    double period_;
    ChannelScale scale_;
    bool negated_;
    detail::MeasureBand c_;
    double posScale_ = 0.0, negScale_ = 0.0;
    int belowKey_ = 0, aboveKey_ = 0;
    int lo_ = 0, hi_ = 0;
    KeySums run_; // over the keys before the block being looked at, where a rise may come
    std::size_t base_ = 0; // the block being looked at
    // Crossings.
    int state_ = 0, rises_ = 0;
    double firstRise_ = 0.0, lastRise_ = 0.0;
    std::size_t idxFirst_ = 0, idxLast_ = 0;
    KeySums atFirst_, atLast_;
    // The plateau being followed, from key plFrom_, and the ends of those
    // found since the last batch was closed.
    int plLo_ = 0, plHi_ = 0, plLimit_ = 0;
    std::size_t plFrom_ = 0, ends_ = 0;
    struct End {
        std::uint32_t at;
        std::int64_t all, pos; // the sums before key `at`
    };
    std::array<End, kEnds + kBlock> end_{};
    std::int64_t plAll_ = 0, plPos_ = 0; // the sums before key plFrom_
    double plWorst_ = 0.0;
    int plFound_ = 0;
    std::array<std::int16_t, kMaxKey - kMinKey + 1>& limits_;
};

void KeyScan::rise(std::size_t i)
{
    // Where the rise passed the band's top, between the two samples, on the
    // values and times the conversion gives them.
    const double v = value(k_[i]), prevV = value(k_[i - 1]);
    const double t = static_cast<double>(i) * period_, prevT = static_cast<double>(i - 1) * period_;
    const double dv = v - prevV;
    const double f = dv != 0.0 ? (c_.above - prevV) / dv : 0.0;
    const double at = prevT + (f < 0.0 ? 0.0 : f > 1.0 ? 1.0 : f) * (t - prevT);
    KeySums s = run_;
    for (std::size_t j = base_; j < i; ++j) s.add(k_[j]);
    if (rises_ == 0) {
        firstRise_ = at;
        atFirst_ = s;
        idxFirst_ = i;
    }
    lastRise_ = at;
    atLast_ = s;
    idxLast_ = i;
    ++rises_;
}

// Keys from..to-1 one by one. A plateau ends where a key would take its
// spread beyond the tolerance; the key starts the next one.
template <bool Crossings, bool Plateaus>
void KeyScan::samples(std::size_t from, std::size_t to)
{
    int state = state_, lo = plLo_, hi = plHi_, lim = plLimit_;
    std::size_t ends = ends_;
    std::int64_t all = run_.all, pos = run_.pos; // before key i
    for (std::size_t i = from; i < to; ++i) {
        const int key = k_[i];
        if constexpr (Crossings) {
            if (key < belowKey_) {
                state = -1;
            } else if (key > aboveKey_) {
                if (state == -1 && i > 0) rise(i);
                state = 1;
            }
        }
        if constexpr (Plateaus) {
            // The lowest key is the old one (whose limit is known) or this
            // one, so the limit costs no wait on the one before.
            const int own = limit(key), nlim = key < lo ? own : lim;
            const int nlo = std::min(lo, key), nhi = std::max(hi, key);
            if (nhi > nlim) {
                end_[ends++] = {static_cast<std::uint32_t>(i), all, pos};
                lo = hi = key;
                lim = own;
            } else {
                lo = nlo;
                hi = nhi;
                lim = nlim;
            }
            all += key;
            pos += key > 0 ? key : 0;
        }
    }
    ends_ = ends;
    state_ = state;
    plLo_ = lo;
    plHi_ = hi;
    plLimit_ = lim;
}

// The plateaus whose ends were written down, but the one still followed.
void KeyScan::closePlateaus()
{
    for (std::size_t e = 0; e < ends_; ++e) {
        const std::size_t to = end_[e].at, count = to - plFrom_;
        if (count >= kMinPlateau) {
            // In amperes: one division, the levels scaled by Io beforehand.
            KeySums d;
            d.all = end_[e].all - plAll_;
            d.pos = end_[e].pos - plPos_;
            const double level = std::abs(sumOf(d, count)) / static_cast<double>(count);
            const double best = detail::levelDistance(c_, level);
            plWorst_ = best > plWorst_ ? best : plWorst_;
            ++plFound_;
        }
        plFrom_ = to;
        plAll_ = end_[e].all;
        plPos_ = end_[e].pos;
    }
    ends_ = 0;
}

void KeyScan::run()
{
    const std::size_t whole = n_ - n_ % kBlock;
    bounds();
#if defined(__SSE2__)
    BlockSums pending; // the blocks since run_ was last brought up to date
    __m128i lo = _mm_set1_epi16(static_cast<std::int16_t>(lo_)), hi = _mm_set1_epi16(static_cast<std::int16_t>(hi_));
    auto outside = [&](__m128i x) { return _mm_or_si128(_mm_cmpgt_epi16(x, hi), _mm_cmpgt_epi16(lo, x)); };
    // A block with a key outside goes key by key (slowBlock(), which leaves
    // the vector sums alone, so that they stay in registers here), with the
    // sums brought up to the block's start: a plateau's end or a rise there
    // takes them from that point on.
    std::size_t b = 0;
    for (; b + 2 * kBlock <= whole; b += 2 * kBlock) {
        // Two blocks to a test while nothing happens.
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k_ + b));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k_ + b + kBlock));
        if (_mm_movemask_epi8(_mm_or_si128(outside(x), outside(y))) != 0) [[unlikely]] {
            if (_mm_movemask_epi8(outside(x)) != 0) {
                pending.flush(run_);
                slowBlock(b);
                lo = _mm_set1_epi16(static_cast<std::int16_t>(lo_));
                hi = _mm_set1_epi16(static_cast<std::int16_t>(hi_));
            }
            if (_mm_movemask_epi8(outside(y)) != 0) {
                pending.add(x);
                pending.flush(run_);
                x = _mm_setzero_si128();
                slowBlock(b + kBlock);
                lo = _mm_set1_epi16(static_cast<std::int16_t>(lo_));
                hi = _mm_set1_epi16(static_cast<std::int16_t>(hi_));
            }
        }
        pending.add(x);
        pending.add(y);
        if (pending.full()) pending.flush(run_);
    }
    if (b < whole) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k_ + b));
        if (_mm_movemask_epi8(outside(x)) != 0) {
            pending.flush(run_);
            slowBlock(b);
        }
        pending.add(x);
    }
    pending.flush(run_);
#else
    for (std::size_t b = 0; b < whole; b += kBlock) {
        std::size_t first = 0;
        while (first < kBlock && k_[b + first] >= lo_ && k_[b + first] <= hi_) ++first;
        if (first < kBlock) slowBlock(b);
        for (std::size_t j = 0; j < kBlock; ++j) run_.add(k_[b + j]);
    }
#endif
    base_ = whole;
    samples(whole, n_);
    for (std::size_t i = whole; i < n_; ++i) run_.add(k_[i]);
    if (c_.currentFigures) {
        end_[ends_++] = {static_cast<std::uint32_t>(n_), run_.all, run_.pos};
        closePlateaus();
    }
}

// Mean and RMS over `count` keys with sums d. The square sum is taken as
// count times the spread of the products around their mean plus the mean's
// square: every integer term of the spread is exact and none is negative
// (the positive and negative parts have scales of one sign), so nothing
// cancels, whatever the offset.
void KeyScan::meanAndRms(const KeySums& d, std::size_t count, Measurement& m) const
{
    const auto n = static_cast<std::int64_t>(count);
    const std::int64_t neg = d.all - d.pos, sqNeg = d.sqAll - d.sqPos;
    const double a = posScale_, b = negScale_, cnt = static_cast<double>(count);
    const double mean = (a * static_cast<double>(d.pos) + b * static_cast<double>(neg)) / cnt + scale_.add;
    const double spread = a * a * static_cast<double>(n * d.sqPos - d.pos * d.pos) +
                          b * b * static_cast<double>(n * sqNeg - neg * neg) -
                          2.0 * a * b * static_cast<double>(d.pos) * static_cast<double>(neg);
    m.mean = mean;
    m.rms = std::sqrt(std::max(0.0, spread / (cnt * cnt) + mean * mean));
}

Measurement KeyScan::finish()
{
    Measurement m;
    m.samples = n_;
    m.min = c_.lo;
    m.max = c_.hi;
    m.peakToPeak = c_.hi - c_.lo;

    meanAndRms(run_, n_, m);
    if (rises_ >= 2 && lastRise_ > firstRise_) {
        m.periodUs = (lastRise_ - firstRise_) / (rises_ - 1);
        m.frequencyHz = 1e6 / m.periodUs;
        if (idxLast_ > idxFirst_) meanAndRms(atLast_ - atFirst_, idxLast_ - idxFirst_, m);
    }

    if (c_.currentFigures) {
        m.peakCurrent = std::max(std::abs(c_.lo), std::abs(c_.hi));
        m.peakErrorPercent = (m.peakCurrent - c_.ioAmps) / c_.ioAmps * 100.0;
        m.plateaus = plFound_;
        if (plFound_ > 0) m.stepErrorPercent = plWorst_ / c_.io * 100.0;
    }
    return m;
}

} // namespace

Measurement measureKeys(const SweepKeys& sweep, double periodUs, const ChannelScale& scale, const MeasureSetup& setup,
                        KeyLimits* limits)
{
    // The thresholds need the value to follow the key: scales of one sign;
    // the plateau limits are kept for keys of ten-bit codes.
    if (sweep.keys.empty() || !(scale.pos * scale.neg > 0.0) || sweep.lo < -512 || sweep.hi > 512) return {};
    auto value = [&](int key) {
        const int r = sweep.negated ? -key : key;
        return r * (r < 0 ? scale.neg : scale.pos) + scale.add;
    };
    const double a = value(sweep.lo), b = value(sweep.hi);
    if (!std::isfinite(a) || !std::isfinite(b)) return {};
    std::optional<KeyLimits> local;
    if (!limits) limits = &local.emplace();
    KeyScan scan(sweep, periodUs, scale, detail::measureBand(setup, std::min(a, b), std::max(a, b)), *limits);
    scan.run();
    return scan.finish();
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
