// The spectrum, harmonic distortion and math channel cores on synthetic
// signals with known answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <vector>

#include "scope/analysis/math_channels.h"
#include "scope/analysis/math_expression.h"
#include "scope/analysis/math_file.h"
#include "scope/analysis/frequency_analysis.h"

using namespace zelbo::scope;
using namespace zelbo::scope::analysis;

namespace {

// Harmonic h of `f` with amplitude amps[h - 1], sampled `n` times at `fs`.
std::vector<double> tones(std::size_t n, double fs, double f, std::vector<double> amps, double offset = 0.0)
{
    std::vector<double> x(n, offset);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t h = 1; h <= amps.size(); ++h)
            x[i] += amps[h - 1] * std::sin(2 * std::numbers::pi * f * double(h) * double(i) / fs + 0.3 * double(h));
    return x;
}

const std::array<Unit, kChannels> kVIVI = {Unit{1, 0}, Unit{1, 0}, Unit{0, 1}, Unit{0, 1}};

} // namespace

TEST(Spectrum, ToneLevelAndFrequencyHoldBetweenBinsForEveryWindow)
{
    // 4096 points at 100 kHz; 1234.5 Hz falls between bins (24.4 Hz apart).
    const auto x = tones(4096, 1e5, 1234.5, {0.8}, 0.25);
    double mean = 0;
    for (double v : x) mean += v / double(x.size());
    SpectrumAnalyser a;
    for (Window w : {Window::Hann, Window::FlatTop, Window::Rectangular}) {
        const Spectrum s = a.compute(x, 1e-5, w);
        ASSERT_EQ(s.amplitude.size(), 2049u);
        EXPECT_NEAR(s.binHz, 1e5 / 4096, 1e-9);
        EXPECT_NEAR(s.amplitude[0], mean, 1e-12) << windowName(w); // the mean
        const auto t = s.toneNear(1234.5, 3);
        ASSERT_TRUE(t);
        // The rectangular window leaks: between bins part of a tone lies outside its lobe.
        const double tolDb = w == Window::Rectangular ? 0.5 : 0.02;
        EXPECT_NEAR(toDb(t->amplitude, 0.8), 0.0, tolDb) << windowName(w);
        EXPECT_NEAR(t->hz, 1234.5, 0.2 * s.binHz) << windowName(w);
    }
    // The flat-top window's peak bin itself reads the amplitude.
    const Spectrum ft = a.compute(x, 1e-5, Window::FlatTop);
    const std::size_t peak = std::size_t(std::lround(1234.5 / ft.binHz));
    EXPECT_NEAR(toDb(ft.amplitude[peak], 0.8), 0.0, 0.02);
}

TEST(Spectrum, HarmonicsAndThdOfAKnownSignal)
{
    // Fundamental 1, third harmonic 0.1, fifth 0.05: THD = sqrt(0.01 + 0.0025).
    const auto x = tones(4096, 2e5, 987.0, {1.0, 0.0, 0.1, 0.0, 0.05}, -0.4);
    SpectrumAnalyser a;
    for (Window w : {Window::Hann, Window::FlatTop}) {
        const Harmonics h = analyseHarmonics(a.compute(x, 5e-6, w), 1000.0, 10);
        ASSERT_TRUE(h.valid) << h.reason;
        EXPECT_NEAR(h.fundamentalHz, 987.0, 1.0);
        EXPECT_EQ(h.harmonicsCounted(), 9);
        EXPECT_NEAR(h.thd, std::sqrt(0.0125), 0.002) << windowName(w);
        EXPECT_NEAR(h.levelDbc(3), -20.0, 0.1);
        EXPECT_NEAR(h.levelDbc(5), -26.02, 0.1);
        EXPECT_LT(h.levelDbc(2), -80.0);
        // Found without a hint: the strongest tone.
        EXPECT_NEAR(analyseHarmonics(a.compute(x, 5e-6, w)).thd, h.thd, 1e-3);
    }
    // The harmonics stop below the Nyquist frequency.
    const Harmonics few = analyseHarmonics(a.compute(x, 5e-6, Window::Hann), 0.0, 1000);
    EXPECT_LT(few.harmonicsCounted() * 987.0, 1e5);
}

TEST(Spectrum, RefusesWhatItCannotAnalyse)
{
    SpectrumAnalyser a;
    // Under two cycles in the sweep: the fundamental's lobe runs into the mean's.
    const Harmonics slow = analyseHarmonics(a.compute(tones(4096, 1e5, 30.0, {1.0}), 1e-5, Window::Hann), 30.0);
    EXPECT_FALSE(slow.valid);
    EXPECT_NE(slow.reason.find("longer time base"), std::string::npos);
    EXPECT_TRUE(a.compute(std::vector<double>(4, 1.0), 1e-5, Window::Hann).amplitude.empty());
    EXPECT_TRUE(a.compute(std::vector<double>(64, 1.0), 0.0, Window::Hann).amplitude.empty());
    EXPECT_FALSE(analyseHarmonics(Spectrum{}).valid);
    // Noise alone has no fundamental, even where one is expected.
    std::vector<double> noise(4096);
    unsigned seed = 1;
    for (double& v : noise) v = ((seed = seed * 1103515245u + 12345u) >> 16) % 1000 / 1e5;
    const Harmonics quiet = analyseHarmonics(a.compute(noise, 1e-5, Window::Hann), 625.0);
    EXPECT_FALSE(quiet.valid);
    EXPECT_EQ(quiet.reason, "No signal at the fundamental.");
    // NaN samples (a math channel dividing by 0) do not poison the spectrum.
    auto x = tones(1024, 1e5, 2000.0, {1.0});
    x[100] = std::nan("");
    const Spectrum s = a.compute(x, 1e-5, Window::Hann);
    for (double v : s.amplitude) ASSERT_TRUE(std::isfinite(v));
}

TEST(Spectrum, AnalysersOnSeveralThreadsShareThePlans)
{
    auto work = [](std::size_t n) {
        SpectrumAnalyser a;
        const auto x = tones(n, 1e5, 3000.0, {1.0});
        for (int i = 0; i < 20; ++i) {
            const auto t = a.compute(x, 1e-5, Window::Hann).toneNear(3000.0, 3);
            if (!t || std::abs(t->amplitude - 1.0) > 1e-3) return false;
        }
        return true;
    };
    bool ok[3] = {};
    std::thread t1([&] { ok[0] = work(4096); }), t2([&] { ok[1] = work(4096); }), t3([&] { ok[2] = work(1000); });
    t1.join();
    t2.join();
    t3.join();
    EXPECT_TRUE(ok[0] && ok[1] && ok[2]);
}

TEST(Spectrum, ElectricalFrequencyByExcitationMode)
{
    EXPECT_DOUBLE_EQ(electricalHz(1000, Excitation::FullStep), 250);
    EXPECT_DOUBLE_EQ(electricalHz(1000, Excitation::HalfStepA), 125);
    EXPECT_DOUBLE_EQ(electricalHz(1000, Excitation::HalfStepB), 125);
    EXPECT_DOUBLE_EQ(electricalHz(1000, Excitation::QuarterStep), 62.5);
    EXPECT_EQ(windowFromName("flat-top"), Window::FlatTop);
    EXPECT_EQ(windowFromName(windowName(Window::Rectangular)), Window::Rectangular);
    EXPECT_FALSE(windowFromName("kaiser"));
}

TEST(MathExpression, DerivesUnitsAndValues)
{
    struct Case {
        const char* text;
        const char* unit;
        double value; // with CH1..CH4 = 12 V, -3 V, 0.5 A, 2 A
    };
    const Case cases[] = {
        {"CH1 - CH2", "V", 15.0},        {"CH1 + CH2", "V", 9.0},
        {"CH1 * CH3", "W", 6.0},         {"ch1 × ch3", "W", 6.0},
        {"CH2 / 0.2 ohm", "A", -15.0},   {"CH2 ÷ 200mΩ", "A", -15.0},
        {"CH1/1kR", "A", 0.012},         {"(CH3 + CH4) * 0.5 + 1", "A", 2.25},
        {"2 * CH1 - 1.5", "V", 22.5},    {"-CH4", "A", -2.0},
        {"CH3 * 500mV", "W", 0.25},      {"CH1 / CH3", "Ω", 24.0},
        {"CH4 * CH4", "A²", 4.0},        {"CH1 * CH1 * CH3", "V^2·A", 72.0},
        {"3", "", 3.0},                  {"CH1 - 2 V", "V", 10.0},
        {"1e-3 * CH1", "V", 0.012},      {"CH3 x 4", "A", 2.0},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto e = MathExpression::parse(c.text, kVIVI, &error);
        ASSERT_TRUE(e) << c.text << ": " << error;
        EXPECT_EQ(e->unit().text(), c.unit) << c.text;
        EXPECT_NEAR(e->evaluate({12.0, -3.0, 0.5, 2.0}), c.value, 1e-9) << c.text;
    }
    // Channel units follow the sources.
    const auto p = MathExpression::parse("CH1 * CH2", {Unit{1, 0}, Unit{0, 1}, Unit{}, Unit{}});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->unit().text(), "W");
    EXPECT_EQ(p->channelsUsed(), 0b0011);
}

TEST(MathExpression, RefusesAnythingElseWithAMessage)
{
    const char* bad[] = {"",          "   ",        "CH1 + CH3",   "CH5",        "sin(CH1)", "CH1 +",
                         "(CH1",      "CH1)",       "CH1 = 2",     "CH1 / 0",    "2 CH1",    "1.2.3",
                         "CH1 * 3 Hz", "import os", "CH1 - 2 A",  "nan",        "1e999",    "CH1 ** 2"};
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(MathExpression::parse(text, kVIVI, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string error;
    MathExpression::parse("CH1 + CH3", kVIVI, &error);
    EXPECT_EQ(error.rfind("Cannot add A to V", 0), 0u) << error;
    // Bounded nesting and length: refused, not a deep recursion.
    EXPECT_FALSE(MathExpression::parse(std::string(40, '(') + "CH1" + std::string(40, ')'), kVIVI, &error));
    EXPECT_NE(error.find("nested"), std::string::npos);
    EXPECT_FALSE(MathExpression::parse(std::string(300, '1'), kVIVI, &error));
    EXPECT_TRUE(MathExpression::parse("((((CH1))))", kVIVI));
}

TEST(MathExpression, EvaluatesSweepsAndMarksDivisionByZeroAsNoValue)
{
    const auto e = MathExpression::parse("CH1 / CH3", kVIVI);
    ASSERT_TRUE(e);
    const std::vector<double> v = {1, 2, 3, 4}, i = {1, 0, 0.5};
    std::vector<double> out(8, -1.0);
    const std::size_t n = e->evaluate({std::span<const double>(v), {}, std::span<const double>(i), {}}, out);
    ASSERT_EQ(n, 3u); // the shorter channel
    EXPECT_EQ(out[0], 1.0);
    EXPECT_TRUE(std::isnan(out[1]));
    EXPECT_EQ(out[2], 6.0);
    EXPECT_EQ(out[3], -1.0);
}

TEST(MathFile, RoundTripDefaultsAndDamagedFiles)
{
    MathSetups s{};
    s[0] = {true, "CH1 * CH3", 5.0, -2, "P1"};
    s[1] = {false, "CH2 / 0.2 ohm \"quoted\"", 0.1, 3, ""};
    std::vector<std::string> notes;
    EXPECT_EQ(parseMathFile(formatMathFile(s), &notes), s);
    EXPECT_TRUE(notes.empty());

    EXPECT_EQ(mathPathFor("/a/b/name.set"), std::filesystem::path("/a/b/name.zmath"));
    EXPECT_EQ(mathPathFor("noext"), std::filesystem::path("noext.zmath"));

    // Not TOML at all: defaults and a note.
    EXPECT_EQ(parseMathFile("\x01\xff[[[", &notes), MathSetups{});
    ASSERT_EQ(notes.size(), 1u);
    // Fields out of range keep their defaults; the good ones are taken.
    notes.clear();
    const MathSetups p = parseMathFile("[M1]\non = true\nvalue_per_div = -1\nposition = 99\nlabel = \"far too long\"\n"
                                       "expression = \"CH1\"\n[M2]\non = \"yes\"\n",
                                       &notes);
    EXPECT_TRUE(p[0].on);
    EXPECT_EQ(p[0].expression, "CH1");
    EXPECT_EQ(p[0].valuePerDiv, 1.0);
    EXPECT_EQ(p[0].position, 0);
    EXPECT_EQ(p[0].label, "");
    EXPECT_FALSE(p[1].on);
    EXPECT_EQ(notes.size(), 4u);
}

TEST(MathFile, WritesAtomicallyAndReadsAMissingFileAsDefaults)
{
    const auto dir = std::filesystem::temp_directory_path() / ("zelbo_math_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "bench.zmath";
    MathSetups s{};
    s[1] = {true, "CH1 - CH2", 2.0, 1, "diff"};
    std::string error;
    ASSERT_TRUE(writeMathFile(path, s, &error)) << error;
    MathSetups back{};
    ASSERT_TRUE(readMathFile(path, back, nullptr, &error));
    EXPECT_EQ(back, s);
    // A write that cannot happen leaves the old file and says why.
    EXPECT_FALSE(writeMathFile(dir / "no" / "such" / "x.zmath", s, &error));
    EXPECT_FALSE(error.empty());
    back[0].on = true;
    ASSERT_TRUE(readMathFile(dir / "missing.zmath", back, nullptr, &error));
    EXPECT_EQ(back, MathSetups{});
    std::filesystem::remove_all(dir);
}

TEST(MathChannelSet, EvaluatesEverySweepIntoItsChannelAndMeasuresIt)
{
    MathChannelSet set;
    const std::array<Source, kChannels> sources = {Source::Voltage, Source::Current, Source::Voltage, Source::Icc};
    std::string error;
    ASSERT_TRUE(set.apply(0, {true, "CH1 * CH2", 5.0, 2, "P"}, sources, &error)) << error;
    EXPECT_EQ(set.channel(0).unit, "W");
    EXPECT_EQ(set.channel(0).valuePerDivText, "5.000 W");
    EXPECT_EQ(set.channel(0).verticalPosition, 2);
    // Units that do not fit are refused and change nothing.
    EXPECT_FALSE(set.apply(0, {true, "CH1 + CH2", 1.0, 0, ""}, sources, &error));
    EXPECT_EQ(set.setup(0).expression, "CH1 * CH2");
    EXPECT_FALSE(set.on(1));

    Trace v(kSamplesPerSweep), i(kSamplesPerSweep);
    for (std::size_t n = 0; n < 100; ++n) {
        v.push_back({double(n), 10.0 + double(n % 2)});
        i.push_back({double(n), 0.5});
    }
    SweepFrame f;
    f.channels = 0b0011;
    f.periodUs = 1.0;
    f.traces = {&v, &i, nullptr, nullptr};
    set.onSweep(f);
    {
        std::lock_guard lock(set.channel(0).traceMutex);
        const Trace& t = set.channel(0).trace;
        ASSERT_EQ(t.size(), 100u);
        EXPECT_EQ(t[3].first, 3.0);
        EXPECT_EQ(t[3].second, 5.5);
    }
    const Measurement m = set.latest(0);
    EXPECT_EQ(m.samples, 100u);
    EXPECT_DOUBLE_EQ(m.max, 5.5);
    EXPECT_DOUBLE_EQ(m.min, 5.0);
    // A sweep without a channel it reads leaves the last trace as it was.
    f.channels = 0b0001;
    v.clear();
    set.onSweep(f);
    EXPECT_EQ(set.latest(0).samples, 100u);
    // Off: nothing more is computed.
    ASSERT_TRUE(set.apply(0, {false, "", 1.0, 0, ""}, sources));
    EXPECT_FALSE(set.on(0));
    EXPECT_EQ(set.latest(0).samples, 0u);
}
