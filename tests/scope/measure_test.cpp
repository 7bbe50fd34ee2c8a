// Measurements on synthetic sweeps whose answers are known, and the
// measurer fed by the acquisition core on the reader's path.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "scope/measure/measurements.h"
#include "scope/measure/sweep_measurer.h"
#include "scope/scope_core.h"
#include "tests/scope/fakes.h"

using namespace zelbo::scope;

namespace {

std::vector<TracePoint> sine(double amplitude, double hz, double periodUs, double offset = 0.0, double phase = 0.3)
{
    std::vector<TracePoint> p(kSamplesPerSweep);
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double t = static_cast<double>(i) * periodUs;
        p[i] = {t, offset + amplitude * std::sin(2 * std::numbers::pi * hz * t * 1e-6 + phase)};
    }
    return p;
}

// A coil current as the converter sees it: the quarter-step sine table held
// for `samplesPerStep` samples a position, quantised to codes with +-1 code of noise.
std::vector<std::uint8_t> staircaseCodes(double amps, std::size_t samplesPerStep, int positionOffset, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-1, 1);
    const double res = codeResolution(Source::Current);
    std::vector<std::uint8_t> bytes(kCaptureBytes);
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
        const int pos = static_cast<int>(i / samplesPerStep) + positionOffset;
        const double v = amps * std::cos(pos * 2 * std::numbers::pi / 16);
        const int code = std::clamp(static_cast<int>(std::lround(v / res)) + noise(rng), -512, 511);
        const unsigned u = static_cast<unsigned>(code) & 0x3FF;
        bytes[2 * i] = static_cast<std::uint8_t>(u >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
    }
    return bytes;
}

} // namespace

TEST(Measure, SineGivesItsAmplitudeRmsAndFrequency)
{
    // 1.234 kHz at 160 kHz sampling: about 31.6 cycles, not a whole number.
    const double amp = 2.5, hz = 1234.0;
    const auto pts = sine(amp, hz, 6.25, 0.4);
    const Measurement m = measure(pts, MeasureSetup{Source::Voltage});
    EXPECT_EQ(m.samples, kSamplesPerSweep);
    EXPECT_NEAR(m.peakToPeak, 2 * amp, 0.005 * 2 * amp);
    EXPECT_NEAR(m.max, 0.4 + amp, 0.005 * amp);
    EXPECT_NEAR(m.min, 0.4 - amp, 0.005 * amp);
    EXPECT_NEAR(m.mean, 0.4, 0.005 * amp);
    EXPECT_NEAR(m.rms, std::sqrt(0.4 * 0.4 + amp * amp / 2), 0.005 * amp / std::sqrt(2.0));
    EXPECT_NEAR(m.frequencyHz, hz, 0.005 * hz);
    EXPECT_NEAR(m.periodUs, 1e6 / hz, 0.005 * 1e6 / hz);
    // No current figures for a voltage.
    EXPECT_TRUE(std::isnan(m.peakCurrent));
    EXPECT_TRUE(std::isnan(m.stepErrorPercent));
}

TEST(Measure, RmsOverWholeCyclesHoldsForFewCycles)
{
    // 2.3 cycles: the plain RMS over all samples would be off by percent.
    const double amp = 1.0, hz = 2.3 / (4096 * 6.25e-6);
    const Measurement m = measure(sine(amp, hz, 6.25, 0.0, 1.0), MeasureSetup{Source::Voltage});
    EXPECT_NEAR(m.rms, amp / std::sqrt(2.0), 0.005 * amp / std::sqrt(2.0));
    EXPECT_NEAR(m.frequencyHz, hz, 0.005 * hz);
}

TEST(Measure, HysteresisKeepsNoiseFromDoublingTheFrequency)
{
    // A slow square-ish wave whose edges are buried in noise of 8 % of the swing.
    const double hz = 200.0;
    auto pts = sine(1.0, hz, 6.25);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-0.08, 0.08);
    for (auto& p : pts) p.second += noise(rng);
    const Measurement m = measure(pts, MeasureSetup{Source::Voltage});
    EXPECT_NEAR(m.frequencyHz, hz, 0.01 * hz);
}

TEST(Measure, FlatOrEmptyTracesHaveNoFrequency)
{
    std::vector<TracePoint> flat(100);
    for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = {double(i), 1.5};
    const Measurement m = measure(flat, MeasureSetup{Source::Voltage});
    EXPECT_DOUBLE_EQ(m.peakToPeak, 0.0);
    EXPECT_DOUBLE_EQ(m.rms, 1.5);
    EXPECT_TRUE(std::isnan(m.frequencyHz));
    EXPECT_EQ(measure(std::span<const TracePoint>{}, MeasureSetup{}).samples, 0u);
    // Non-finite samples are skipped rather than poisoning every figure.
    flat[3].second = std::numeric_limits<double>::quiet_NaN();
    EXPECT_DOUBLE_EQ(measure(flat, MeasureSetup{Source::Voltage}).mean, 1.5);
}

TEST(Measure, TwoHalvesMeasureLikeOneRun)
{
    const auto pts = sine(1.0, 800.0, 6.25);
    const std::span<const TracePoint> all(pts);
    const Measurement whole = measure(all, MeasureSetup{Source::Voltage});
    const Measurement split = measure(all.first(1000), all.subspan(1000), MeasureSetup{Source::Voltage});
    EXPECT_DOUBLE_EQ(whole.frequencyHz, split.frequencyHz);
    EXPECT_DOUBLE_EQ(whole.rms, split.rms);
}

TEST(Measure, IdealLevelsOfEachExcitationMode)
{
    EXPECT_EQ(idealStepLevels(Excitation::FullStep).size(), 2u);
    EXPECT_EQ(idealStepLevels(Excitation::HalfStepA).size(), 2u);
    ASSERT_EQ(idealStepLevels(Excitation::HalfStepB).size(), 3u);
    ASSERT_EQ(idealStepLevels(Excitation::QuarterStep).size(), 5u);
    EXPECT_NEAR(idealStepLevels(Excitation::QuarterStep)[1], 0.38268, 1e-5);
    EXPECT_NEAR(idealStepLevels(Excitation::HalfStepB)[1], std::sqrt(0.5), 1e-12);
}

TEST(Measure, TraceWindowFollowsTheZoomAcrossBothHalves)
{
    Trace t(10);
    for (int i = 0; i < 14; ++i) t.push_back({double(i) * 10, double(i)}); // wraps: halves 4+6
    ASSERT_GT(t.array_two().second, 0u);
    const TraceWindow w = traceWindow(t, 55, 105);
    std::vector<double> got;
    for (auto& p : w.first) got.push_back(p.second);
    for (auto& p : w.second) got.push_back(p.second);
    EXPECT_EQ(got, (std::vector<double>{6, 7, 8, 9, 10}));
    EXPECT_TRUE(traceWindow(t, 500, 600).first.empty());
    EXPECT_TRUE(traceWindow(t, 500, 600).second.empty());
    EXPECT_TRUE(traceWindow(t, 60, 50).first.empty());
}

class MeasurerOnCore : public ::testing::Test {
protected:
    void SetUp() override
    {
        core.setView(&view);
        core.applyDefaults();
        core.setSweepObserver(&measurer);
        core.setRunning(true);
    }
    test::FakePort port;
    test::FakeView view;
    ScopeCore core{port};
    SweepMeasurer measurer;
};

TEST_F(MeasurerOnCore, QuarterStepStaircaseGivesPeakAndStepLevelError)
{
    // CH2 and CH4: coil currents of 0.8 A, 40 samples a step (2.5 kHz clock at 160 kHz).
    for (int n : {1, 3}) {
        core.setSource(n, Source::Current);
        core.setOutput(n, 0);
    }
    measurer.setDrive(0.8, Excitation::QuarterStep);
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    bytes[0] = bytes[2] = std::vector<std::uint8_t>(kCaptureBytes);
    bytes[1] = staircaseCodes(0.8, 40, 0, 1);
    bytes[3] = staircaseCodes(0.8, 40, -4, 2); // the second coil a quarter cycle behind
    CaptureAreas areas;
    for (std::size_t n = 0; n < kChannels; ++n) areas[n] = bytes[n];
    core.processSweep(areas, {});

    const auto latest = measurer.latest();
    EXPECT_EQ(latest.sweep, 1u);
    const double res = codeResolution(Source::Current);
    for (int n : {1, 3}) {
        const Measurement& m = latest.channels[static_cast<std::size_t>(n)];
        SCOPED_TRACE(n);
        // The core's direction sign flips the "A" output's current; magnitudes stay.
        EXPECT_NEAR(m.peakCurrent, 0.8, 0.02 * 0.8);
        EXPECT_NEAR(m.peakErrorPercent, 0.0, 2.0);
        EXPECT_GT(m.plateaus, 50);
        // Below one code of noise, in % of Io.
        EXPECT_LT(m.stepErrorPercent, res / 0.8 * 100.0);
        // 16 positions of 40 samples: one electrical cycle is 640 samples.
        EXPECT_NEAR(m.periodUs, 640 * 6.25, 0.005 * 640 * 6.25);
    }
    // The voltage channels read flat zero: figures, but no frequency.
    EXPECT_DOUBLE_EQ(latest.channels[0].peakToPeak, 0.0);
    EXPECT_TRUE(std::isnan(latest.channels[0].frequencyHz));
}

TEST_F(MeasurerOnCore, MisplacedPlateauShowsAsStepLevelError)
{
    core.setSource(1, Source::Current);
    measurer.setDrive(1.0, Excitation::QuarterStep);
    // A staircase whose 45-degree plateau sits at 0.60 instead of 0.707 of Io.
    std::vector<TracePoint> pts;
    const double levels[] = {0.0, 0.38268, 0.60, 0.92388, 1.0};
    for (int k = 0; k < 5; ++k)
        for (int i = 0; i < 50; ++i) pts.push_back({double(pts.size()), levels[k]});
    const Measurement m = measure(pts, measurer.setupFor(Source::Current));
    EXPECT_EQ(m.plateaus, 5);
    EXPECT_NEAR(m.stepErrorPercent, 10.7, 0.1);
    // Unknown Io: no current figures at all.
    const Measurement noIo = measure(pts, MeasureSetup{Source::Current, 0.0, Excitation::QuarterStep});
    EXPECT_TRUE(std::isnan(noIo.peakCurrent));
    EXPECT_TRUE(std::isnan(noIo.stepErrorPercent));
}

TEST(Measure, FiguresCarryFourDigitsAndTheirPrefix)
{
    EXPECT_EQ(formatFigure(0.8123, "A"), "812.3 mA");
    EXPECT_EQ(formatFigure(1250.0, "Hz"), "1.250 kHz");
    EXPECT_EQ(formatFigure(-70.31e-3, "V"), "-70.31 mV");
    EXPECT_EQ(formatFigure(8e-3, "s"), "8.000 ms");
    EXPECT_EQ(formatFigure(0.0, "V"), "0.000 V");
    EXPECT_EQ(formatFigure(0.99999, "A"), "1.000 A"); // rounds into the next prefix, not "1000 mA"
    EXPECT_EQ(formatFigure(kNoValue, "V"), "---");
}

namespace {

// Equal to the last bit, NaN equal to NaN.
void expectSameFigures(const Measurement& a, const Measurement& b)
{
    auto same = [](double x, double y) { return (std::isnan(x) && std::isnan(y)) || x == y; };
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_EQ(a.plateaus, b.plateaus);
    const double xs[] = {a.min, a.max, a.peakToPeak, a.mean, a.rms, a.frequencyHz, a.periodUs,
                         a.peakCurrent, a.peakErrorPercent, a.stepErrorPercent};
    const double ys[] = {b.min, b.max, b.peakToPeak, b.mean, b.rms, b.frequencyHz, b.periodUs,
                         b.peakCurrent, b.peakErrorPercent, b.stepErrorPercent};
    for (std::size_t k = 0; k < std::size(xs); ++k)
        EXPECT_TRUE(same(xs[k], ys[k])) << "figure " << k << ": " << xs[k] << " against " << ys[k];
}

// Equal but for the last bits of the sums: the counts, extremes and crossing
// times exactly (the same decisions on the same values), mean and RMS to
// 1e-12 of the signal's size and 1e-9 relative, the step error to 1e-9 %.
// Sums taken from integer codes and sums taken value by value round apart.
void expectCloseFigures(const Measurement& a, const Measurement& b)
{
    auto same = [](double x, double y) { return (std::isnan(x) && std::isnan(y)) || x == y; };
    auto near = [](double x, double y, double tol) {
        return (std::isnan(x) && std::isnan(y)) || std::abs(x - y) <= tol;
    };
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_EQ(a.plateaus, b.plateaus);
    const double exact[] = {a.min, a.max, a.peakToPeak, a.frequencyHz, a.periodUs, a.peakCurrent, a.peakErrorPercent};
    const double other[] = {b.min, b.max, b.peakToPeak, b.frequencyHz, b.periodUs, b.peakCurrent, b.peakErrorPercent};
    for (std::size_t k = 0; k < std::size(exact); ++k)
        EXPECT_TRUE(same(exact[k], other[k])) << "figure " << k << ": " << exact[k] << " against " << other[k];
    const double size = std::max({std::abs(a.min), std::abs(a.max), 1e-3});
    EXPECT_TRUE(near(a.mean, b.mean, 1e-12 * size)) << a.mean << " against " << b.mean;
    EXPECT_TRUE(near(a.rms, b.rms, 1e-9 * std::abs(b.rms) + 1e-12 * size)) << a.rms << " against " << b.rms;
    EXPECT_TRUE(near(a.stepErrorPercent, b.stepErrorPercent, 1e-9))
        << a.stepErrorPercent << " against " << b.stepErrorPercent;
}

struct Unmeasured : SweepObserver {
    void onSweep(const SweepFrame&) override {}
};

// Keeps what the core measured while converting, and measures the traces
// again afterwards the way the strip does.
struct BothWays : SweepObserver {
    MeasureDrive drive;
    std::array<Measurement, kChannels> inline_{}, after{};
    bool measured = false;
    bool measureWhileConverting(MeasureDrive& d) override
    {
        d = drive;
        return true;
    }
    void onSweep(const SweepFrame& f) override
    {
        measured = f.measured;
        for (std::size_t n = 0; n < kChannels; ++n) {
            if (!(f.channels & (1u << n))) continue;
            inline_[n] = f.measurements[n];
            const auto one = f.traces[n]->array_one();
            const auto two = f.traces[n]->array_two();
            after[n] = measure({one.first, one.second}, {two.first, two.second},
                               MeasureSetup{f.sources[n], drive.ioAmps, drive.excitation});
        }
    }
};

} // namespace

TEST(Measure, FiguresTakenWhileConvertingEqualThoseMeasuredAfterwards)
{
    test::FakePort port;
    ScopeCore core{port};
    core.applyDefaults();
    BothWays both;
    core.setSweepObserver(&both);
    core.setRunning(true);
    CalibrationOffsets offsets;
    for (std::size_t n = 0; n < kChannels; ++n) {
        offsets.voltage[n] = 0.013 * double(n + 1);
        offsets.current[n] = -0.0041 * double(n + 1);
        offsets.icc[n] = 0.002;
    }

    std::mt19937 rng(7);
    const Source sources[] = {Source::Voltage, Source::Current, Source::Icc};
    const Excitation modes[] = {Excitation::FullStep, Excitation::HalfStepA, Excitation::HalfStepB,
                                Excitation::QuarterStep};
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        // Vary the sources, outputs (the direction flips a current's sign),
        // Io, mode and sampling rate (which rewrites the times).
        for (int n = 0; n < kChannels; ++n) {
            core.setSource(n, sources[(round + n) % 3]);
            core.setOutput(n, (round / 3 + n) % 2);
        }
        if (round % 5 == 0) core.setSamplingRate(round % 7);
        both.drive = {round % 4 == 3 ? 0.0 : 0.3 + 0.1 * round, modes[round % 4]};

        std::array<std::vector<std::uint8_t>, kChannels> bytes;
        CaptureAreas areas;
        for (std::size_t n = 0; n < kChannels; ++n) {
            const int shape = (round + static_cast<int>(n)) % 6;
            std::uniform_int_distribution<int> noise(-2, 2);
            std::vector<int> codes(kSamplesPerSweep);
            for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
                const double ph = double(i) * (0.003 + 0.002 * round);
                switch (shape) {
                case 0: codes[i] = int(std::lround(300 * std::sin(ph))) + noise(rng); break;     // noisy sine
                case 1: codes[i] = int(std::lround(400 * std::cos(std::floor(i / 37.0) * std::numbers::pi / 8))); break; // staircase
                case 2: codes[i] = 5; break;                                                       // flat
                case 3: codes[i] = std::uniform_int_distribution<int>(-512, 511)(rng); break;     // full-scale noise
                case 4: codes[i] = std::clamp(int(900 * std::sin(ph)), -512, 511); break;          // clipped
                default: codes[i] = (i / 100) % 2 ? 200 : -3; break;                               // square
                }
            }
            bytes[n].resize(shape == 5 && round % 2 ? kCaptureBytes / 3 : kCaptureBytes); // short blocks too
            for (std::size_t i = 0; i < bytes[n].size() / 2; ++i) {
                const unsigned u = static_cast<unsigned>(codes[i]) & 0x3FF;
                bytes[n][2 * i] = static_cast<std::uint8_t>(u >> 8);
                bytes[n][2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
            }
            areas[n] = bytes[n];
        }
        core.processSweep(areas, offsets);
        ASSERT_TRUE(both.measured);
        std::array<std::vector<TracePoint>, kChannels> measuredTraces;
        for (std::size_t n = 0; n < kChannels; ++n) {
            SCOPED_TRACE(n);
            expectCloseFigures(both.inline_[n], both.after[n]);
            measuredTraces[n].assign(core.channel(int(n)).trace.begin(), core.channel(int(n)).trace.end());
        }
        // Measuring converts from the codes it took apart: the traces are
        // the very ones a conversion without measuring gives.
        Unmeasured none;
        core.setSweepObserver(&none);
        core.processSweep(areas, offsets);
        core.setSweepObserver(&both);
        for (std::size_t n = 0; n < kChannels; ++n) {
            const std::vector<TracePoint> plain(core.channel(int(n)).trace.begin(), core.channel(int(n)).trace.end());
            ASSERT_EQ(plain.size(), measuredTraces[n].size());
            EXPECT_EQ(std::memcmp(plain.data(), measuredTraces[n].data(), plain.size() * sizeof(TracePoint)), 0)
                << "channel " << n;
        }
    }
}

namespace {

// Signals that put crossings and plateau ends anywhere within the blocks of
// eight the accumulator works in: a sine with noise about as large as the
// hysteresis band, one-sample spikes, and a staircase whose steps last 1 to
// 60 samples.
std::vector<TracePoint> awkward(int kind, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<TracePoint> p(kSamplesPerSweep);
    double level = 0.5;
    std::size_t left = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        double v = 0.0;
        switch (kind) {
        case 0: v = std::sin(double(i) * 0.021) + 0.12 * unit(rng); break;
        case 1: v = (rng() % 97 == 0) ? 1.0 : (rng() % 89 == 0 ? -1.0 : 0.02 * unit(rng)); break;
        default:
            if (left == 0) {
                left = 1 + rng() % 60;
                level = std::sin(double(rng() % 9) * std::numbers::pi / 8);
            }
            --left;
            v = level + 0.004 * unit(rng);
            break;
        }
        p[i] = {double(i) * 0.5, v};
    }
    return p;
}

// The figures the block shortcuts must not change, found the plain way.
struct Plain {
    int rises = 0, plateaus = 0;
    std::size_t first = 0, last = 0; // samples of the first and last rise
    double worstStep = 0.0, cycleSum = 0.0;
};
Plain plainScan(std::span<const TracePoint> p, const MeasureSetup& setup)
{
    double lo = p[0].second, hi = lo;
    for (const auto& q : p) {
        lo = std::min(lo, q.second);
        hi = std::max(hi, q.second);
    }
    const double res = codeResolution(setup.source);
    const double band = std::max(0.1 * (hi - lo), 2.0 * res) / 2.0, mid = (hi + lo) / 2.0;
    Plain r;
    int state = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double v = p[i].second;
        if (v < mid - band) {
            state = -1;
        } else if (v > mid + band) {
            if (state == -1) {
                if (r.rises == 0) r.first = i;
                r.last = i;
                ++r.rises;
            }
            state = 1;
        }
    }
    for (std::size_t i = r.first; i < r.last; ++i) r.cycleSum += p[i].second;
    const double tol = std::max(0.03 * setup.ioAmps, 3.0 * res);
    const auto levels = idealStepLevels(setup.excitation);
    for (std::size_t from = 0; from < p.size();) {
        std::size_t to = from + 1;
        double a = p[from].second, b = a, sum = a;
        while (to < p.size() && std::max(b, p[to].second) - std::min(a, p[to].second) <= tol) {
            a = std::min(a, p[to].second);
            b = std::max(b, p[to].second);
            sum += p[to++].second;
        }
        if (to - from >= 8) {
            double best = 1e300;
            for (double l : levels) best = std::min(best, std::abs(std::abs(sum / double(to - from)) / setup.ioAmps - l));
            r.worstStep = std::max(r.worstStep, best);
            ++r.plateaus;
        }
        from = to;
    }
    return r;
}

} // namespace

TEST(Measure, HowTheSamplesAreSplitChangesNoFigure)
{
    std::mt19937 rng(11);
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        const auto pts = awkward(kind, 100u + unsigned(kind));
        const std::span<const TracePoint> all(pts);
        const MeasureSetup setup{Source::Current, 1.0, Excitation::QuarterStep};
        const Measurement whole = measure(all, setup);
        for (std::size_t cut : {std::size_t{1}, std::size_t{7}, std::size_t{9}, std::size_t{1001}, pts.size() - 3})
            expectSameFigures(whole, measure(all.first(cut), all.subspan(cut), setup));

        // One at a time, and in runs of 1 to 50.
        MeasureAccumulator single(setup, whole.min, whole.max), runs(setup, whole.min, whole.max);
        for (const auto& p : pts) single.add(p.first, p.second);
        for (std::size_t at = 0; at < pts.size();) {
            const std::size_t n = std::min<std::size_t>(pts.size() - at, 1 + rng() % 50);
            runs.feed(all.subspan(at, n));
            at += n;
        }
        expectSameFigures(whole, single.finish());
        expectSameFigures(whole, runs.finish());
    }
}

TEST(Measure, BlockShortcutsMissNoCrossingOrPlateau)
{
    for (int kind = 0; kind < 3; ++kind) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " seed " << seed);
            const auto pts = awkward(kind, seed);
            const MeasureSetup setup{Source::Current, 1.0, Excitation::QuarterStep};
            const Measurement m = measure(pts, setup);
            const Plain plain = plainScan(pts, setup);
            EXPECT_EQ(m.plateaus, plain.plateaus);
            if (plain.plateaus > 0) {
                EXPECT_NEAR(m.stepErrorPercent, plain.worstStep * 100.0, 1e-9);
            }
            if (plain.rises >= 2) {
                // rises - 1 periods from the first rise to the last, each
                // placed between its sample and the one before (0.5 us apart).
                const double span = m.periodUs * (plain.rises - 1), samples = double(plain.last - plain.first);
                EXPECT_GE(span, (samples - 1) * 0.5);
                EXPECT_LE(span, (samples + 1) * 0.5);
                EXPECT_NEAR(m.mean, plain.cycleSum / samples, 1e-12);
            } else {
                EXPECT_TRUE(std::isnan(m.frequencyHz));
            }
        }
    }
}

namespace {

// The figures the plain way, value by value in the order of the samples,
// written from their definitions: the band from the extremes, each rising
// crossing interpolated, mean and RMS over whole cycles (long double sums),
// plateaus as the longest runs within the tolerance.
Measurement plainFigures(const std::vector<double>& v, double period, const MeasureSetup& setup)
{
    Measurement m;
    m.samples = v.size();
    const double lo = *std::min_element(v.begin(), v.end()), hi = *std::max_element(v.begin(), v.end());
    m.min = lo;
    m.max = hi;
    m.peakToPeak = hi - lo;
    const double res = codeResolution(setup.source);
    const double band = std::max(0.1 * (hi - lo), 2.0 * res) / 2.0, mid = (hi + lo) / 2.0;
    int state = 0, rises = 0;
    double first = 0, last = 0;
    std::size_t iFirst = 0, iLast = 0;
    for (std::size_t i = 0; hi - lo > 4.0 * res && i < v.size(); ++i) {
        if (v[i] < mid - band) {
            state = -1;
        } else if (v[i] > mid + band) {
            if (state == -1 && i > 0) {
                const double f = std::clamp((mid + band - v[i - 1]) / (v[i] - v[i - 1]), 0.0, 1.0);
                const double at = double(i - 1) * period + f * period;
                if (rises++ == 0) {
                    first = at;
                    iFirst = i;
                }
                last = at;
                iLast = i;
            }
            state = 1;
        }
    }
    std::size_t from = 0, to = v.size();
    if (rises >= 2 && last > first) {
        m.periodUs = (last - first) / (rises - 1);
        m.frequencyHz = 1e6 / m.periodUs;
        from = iFirst;
        to = iLast;
    }
    long double sum = 0, sq = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += v[i];
        sq += static_cast<long double>(v[i]) * v[i];
    }
    m.mean = static_cast<double>(sum / (to - from));
    m.rms = static_cast<double>(std::sqrt(sq / (to - from)));
    if (setup.source == Source::Current && setup.ioAmps > 0) {
        const double tol = std::max(0.03 * setup.ioAmps, 3.0 * res);
        double worst = 0;
        for (std::size_t a = 0; a < v.size();) {
            std::size_t b = a + 1;
            double pl = v[a], ph = v[a];
            long double s = v[a];
            while (b < v.size() && std::max(ph, v[b]) - std::min(pl, v[b]) <= tol) {
                pl = std::min(pl, v[b]);
                ph = std::max(ph, v[b]);
                s += v[b++];
            }
            if (b - a >= 8) {
                double best = 1e300;
                for (double l : idealStepLevels(setup.excitation))
                    best = std::min(best, std::abs(std::abs(static_cast<double>(s / (b - a))) - l * setup.ioAmps));
                worst = std::max(worst, best);
                ++m.plateaus;
            }
            a = b;
        }
        m.peakCurrent = std::max(std::abs(lo), std::abs(hi));
        m.peakErrorPercent = (m.peakCurrent - setup.ioAmps) / setup.ioAmps * 100.0;
        if (m.plateaus > 0) m.stepErrorPercent = worst / setup.ioAmps * 100.0;
    }
    return m;
}

// Codes of several shapes, `count` of them.
std::vector<int> shapedCodes(int shape, std::size_t count, std::mt19937& rng)
{
    std::vector<int> c(count);
    std::uniform_int_distribution<int> noise(-2, 2), any(-512, 511);
    for (std::size_t i = 0; i < count; ++i) {
        const double ph = double(i) * 0.011;
        switch (shape) {
        case 0: c[i] = int(std::lround(300 * std::sin(ph))) + noise(rng); break;                                 // noisy sine
        case 1: c[i] = int(std::lround(450 * std::cos(std::floor(double(i) / 13.0) * std::numbers::pi / 8))); break; // staircase
        case 2: c[i] = std::clamp(int(2000 * std::sin(ph)), -512, 511); break;                                   // clipped at full scale
        case 3: c[i] = any(rng); break;                                                                           // full-scale noise
        case 4: c[i] = -7 + noise(rng) / 2; break;                                                                // flat: no crossing
        case 5: c[i] = i < count / 2 ? -512 : 511; break;                                                         // pinned at both ends
        default: c[i] = (i / 61) % 2 ? 180 + noise(rng) : -3; break;                                             // square
        }
    }
    return c;
}

} // namespace

TEST(Measure, FiguresFromTheCodesEqualAPlainScanOfTheValues)
{
    std::mt19937 rng(23);
    struct Channel {
        Source source;
        double sign, offset;
    };
    const Channel channels[] = {{Source::Voltage, 1.0, 0.037}, {Source::Current, 1.0, 0.0},
                                {Source::Current, -1.0, 0.0049}, {Source::Current, -1.0, -0.0},
                                {Source::Icc, 1.0, -0.002}};
    const std::size_t counts[] = {kSamplesPerSweep, 1, 7, 8, 9, 1000, 4093};
    int cases = 0;
    for (const Channel& ch : channels) {
        const double full = ch.source == Source::Voltage ? kVoltFullScale : kAmpFullScale;
        const ChannelScale scale{ch.sign * 2.0 / 511.0 * full, ch.sign * 2.0 / 512.0 * full, ch.sign * ch.offset};
        for (int shape = 0; shape < 7; ++shape) {
            for (std::size_t count : counts) {
                SCOPED_TRACE(testing::Message() << "source " << int(ch.source) << " sign " << ch.sign << " shape "
                                                << shape << " count " << count);
                const std::vector<int> codes = shapedCodes(shape, count, rng);
                std::vector<std::int16_t> keys(count);
                std::vector<double> values(count);
                const bool negated = scale.pos < 0;
                for (std::size_t i = 0; i < count; ++i) {
                    const int r = codes[i];
                    keys[i] = static_cast<std::int16_t>(negated ? -r : r);
                    values[i] = r * (r < 0 ? scale.neg : scale.pos) + scale.add;
                }
                const auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
                for (double io : {0.0, 0.7, 2.5}) {
                    const MeasureSetup setup{ch.source, io, Excitation(shape % 4)};
                    const Measurement m = measureKeys(SweepKeys{keys, *lo, *hi, negated}, 6.25, scale, setup);
                    expectCloseFigures(m, plainFigures(values, 6.25, setup));
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, 5 * 7 * 7 * 3);

    // Scales of opposite signs would not keep the values in key order:
    // nothing is measured rather than something wrong.
    const std::vector<std::int16_t> keys{-3, 5, 9};
    EXPECT_EQ(measureKeys(SweepKeys{keys, -3, 9, false}, 1.0, ChannelScale{0.01, -0.01, 0.0}, MeasureSetup{}).samples,
              0u);
    // Nor are keys that no ten-bit code gives.
    const std::vector<std::int16_t> wide{-600, 5, 9};
    EXPECT_EQ(measureKeys(SweepKeys{wide, -600, 9, false}, 1.0, ChannelScale{0.01, 0.01, 0.0},
                          MeasureSetup{Source::Current, 1.0, Excitation::QuarterStep})
                  .samples,
              0u);
}

TEST(Measure, FiguresFromTheCodesKeepTheirPlateauLimitsPerScale)
{
    // One cache of plateau limits met by two scales in turn, with the same
    // tolerance (3 % of Io, above three codes of either): each sweep must be
    // measured with its own.
    // A slow ramp, one code every third sample: how long a plateau lasts
    // depends on how many codes the tolerance spans.
    std::vector<int> codes(kSamplesPerSweep);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = int(i / 3 % 300) - 150;
    KeyLimits limits;
    for (int round = 0; round < 4; ++round) {
        const double full = round % 2 ? kAmpFullScale : kAmpFullScale / 4;
        const ChannelScale scale{2.0 / 511.0 * full, 2.0 / 512.0 * full, 0.0};
        std::vector<std::int16_t> keys(codes.begin(), codes.end());
        std::vector<double> values(codes.size());
        for (std::size_t i = 0; i < codes.size(); ++i)
            values[i] = codes[i] * (codes[i] < 0 ? scale.neg : scale.pos);
        const MeasureSetup setup{Source::Current, 2.0, Excitation::QuarterStep};
        const auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
        const Measurement m = measureKeys(SweepKeys{keys, *lo, *hi, false}, 1.0, scale, setup, &limits);
        expectCloseFigures(m, plainFigures(values, 1.0, setup));
        EXPECT_GT(m.plateaus, 0);
    }
}
