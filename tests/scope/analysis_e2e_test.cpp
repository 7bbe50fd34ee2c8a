// The spectrum and the math channels headless, on the simulated board's
// driver model: the coil current's THD against the model's ideal staircase,
// full step against quarter step, and power from a math channel against
// V x I of the same sweep.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "engine/session.h"

using namespace std::chrono_literals;
using namespace zelbo;

namespace {

// The THD of an ideal staircase: `levels` held for equal parts of one
// period, over harmonics 2..hMax, from its Fourier series.
double staircaseThd(const std::vector<double>& levels, int hMax)
{
    const double n = static_cast<double>(levels.size());
    auto amplitude = [&](int h) {
        std::complex<double> a;
        for (std::size_t p = 0; p < levels.size(); ++p) {
            const double t0 = 2 * std::numbers::pi * double(p) / n, t1 = t0 + 2 * std::numbers::pi / n;
            // (1 / 2 pi) * integral of e^{-i h t} over [t0, t1]
            a += levels[p] * (std::exp(std::complex<double>(0, -h * t1)) - std::exp(std::complex<double>(0, -h * t0))) /
                 std::complex<double>(0, -2 * std::numbers::pi * h);
        }
        return 2 * std::abs(a);
    };
    double sum = 0;
    for (int h = 2; h <= hMax; ++h) sum += amplitude(h) * amplitude(h);
    return std::sqrt(sum) / amplitude(1);
}

std::vector<double> idealCoil(int positionsPerStep)
{
    // The model's table: cos of the electrical position in sixteenths of a
    // cycle; full step holds the sign only (both coils at full current).
    std::vector<double> levels;
    for (int p = (positionsPerStep == 4 ? 2 : 0); p < 16; p += positionsPerStep) {
        const double c = std::cos(p * 2 * std::numbers::pi / 16);
        levels.push_back(positionsPerStep == 4 ? (c > 0 ? 1.0 : -1.0) : c);
    }
    return levels;
}

class AnalysisOnBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::filesystem::temp_directory_path() / ("zelbo_analysis_e2e_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        engine::SessionOptions o;
        o.sim = true;
        o.dataFolder = folder_;
        s_ = std::make_unique<engine::Session>(o);
    }
    void TearDown() override
    {
        s_.reset();
        std::filesystem::remove_all(folder_);
    }
    // Powered in `mode` with the step clock at `hz`; CH3 on coil 2's current.
    void drive(const std::string& mode, double hz)
    {
        if (s_->poweredOn()) s_->powerOff();
        s_->setMode(mode);
        s_->setPin("enable", true);
        s_->setVref(2.0);
        s_->setRnf(0.2);
        s_->powerOn();
        s_->setSource(2, "I", 0);
        s_->run(hz);
    }
    std::filesystem::path folder_;
    std::unique_ptr<engine::Session> s_;
};

} // namespace

TEST_F(AnalysisOnBoard, CoilCurrentThdMatchesTheIdealStaircaseAndFullStepIsWorse)
{
    // 160 kHz sampling: 4096 samples hold 16 electrical cycles of 625 Hz.
    drive("quarter", 10000.0);
    const engine::SpectrumResult q = s_->spectrum("CH3", "hann", 5000ms);
    ASSERT_TRUE(q.harmonics.valid) << q.harmonics.reason;
    EXPECT_NEAR(q.expectedHz, 625.0, 0.1);
    EXPECT_NEAR(q.harmonics.fundamentalHz, 625.0, 5.0);
    EXPECT_EQ(q.unit, "A");
    const int counted = q.harmonics.harmonicsCounted() + 1;
    ASSERT_GE(counted, 33); // the 15th, 17th, 31st and 33rd carry the distortion
    const double idealQuarter = staircaseThd(idealCoil(1), counted);
    EXPECT_NEAR(q.harmonics.thdDb(), 20 * std::log10(idealQuarter), 0.5)
        << "measured " << q.harmonics.thdPercent() << " %, ideal " << idealQuarter * 100 << " %";
    // The staircase's first distortion is at 16 steps +- 1.
    EXPECT_NEAR(q.harmonics.levelDbc(15), 20 * std::log10(1.0 / 15), 1.0);
    EXPECT_LT(q.harmonics.levelDbc(3), -40.0);

    // Full step at the same electrical frequency: a square wave.
    drive("full", 2500.0);
    const engine::SpectrumResult f = s_->spectrum("CH3", "flat-top", 5000ms);
    ASSERT_TRUE(f.harmonics.valid) << f.harmonics.reason;
    EXPECT_NEAR(f.expectedHz, 625.0, 0.1);
    const double idealFull = staircaseThd(idealCoil(4), f.harmonics.harmonicsCounted() + 1);
    EXPECT_NEAR(f.harmonics.thdDb(), 20 * std::log10(idealFull), 0.5);
    EXPECT_GT(f.harmonics.thdDb(), q.harmonics.thdDb() + 10.0);
    std::printf("THD quarter step %.3f dB (ideal %.3f dB), full step %.3f dB (ideal %.3f dB)\n", q.harmonics.thdDb(),
                20 * std::log10(idealQuarter), f.harmonics.thdDb(), 20 * std::log10(idealFull));
    EXPECT_NEAR(f.harmonics.levelDbc(3), 20 * std::log10(1.0 / 3), 0.5);
}

TEST_F(AnalysisOnBoard, PowerFromAMathChannelIsVTimesIOfTheSweep)
{
    drive("quarter", 2000.0);
    s_->setSource(1, "I", 0); // CH2: coil 1, read at OUT1A; CH1 is OUT1A's voltage
    EXPECT_EQ(s_->setMath(0, "CH1 * CH2"), "W");
    EXPECT_EQ(s_->setMath(1, "CH1 / 4 ohm"), "A");
    EXPECT_THROW(s_->setMath(1, "CH1 + CH2"), std::invalid_argument);
    EXPECT_EQ(s_->mathSetups()[1].expression, "CH1 / 4 ohm"); // a refusal changes nothing

    const engine::Capture c = s_->measure(5000ms);
    ASSERT_TRUE(c.math[0] && c.math[1]);
    const engine::MathTrace& p = *c.math[0];
    EXPECT_EQ(p.unit, "W");
    ASSERT_EQ(p.values.size(), c.t.size());
    double maxAbs = 0;
    for (std::size_t i = 0; i < p.values.size(); ++i) {
        ASSERT_DOUBLE_EQ(p.values[i], c.ch[0].values[i] * c.ch[1].values[i]) << i;
        maxAbs = std::max(maxAbs, std::abs(p.values[i]));
    }
    EXPECT_GT(maxAbs, 1.0); // 24 V chopped into an ampere or so: real power, not zeros
    EXPECT_EQ(p.figures.samples, c.t.size());
    EXPECT_DOUBLE_EQ(p.figures.max, *std::max_element(p.values.begin(), p.values.end()));

    // The spectrum of a math channel, and the math channels saved beside the settings.
    EXPECT_TRUE(!s_->spectrum("M1", "rectangular", 5000ms).amplitude.empty());
    const auto set = folder_ / "bench.set";
    s_->saveSettings(set);
    ASSERT_TRUE(std::filesystem::exists(folder_ / "bench.zmath"));
    s_->setMath(0, "");
    s_->loadSettings(set);
    EXPECT_EQ(s_->mathSetups()[0].expression, "CH1 * CH2");
    EXPECT_TRUE(s_->mathSetups()[0].on);
}
