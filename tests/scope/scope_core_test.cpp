// Acquisition core: register sequences, tables, trigger codes and the
// conversion of uploaded sweeps into traces.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "scope/scope_core.h"
#include "tests/scope/fakes.h"

using namespace zelbo::scope;
using zelbo::link::WriteClass;
using test::FakePort;
using test::FakeView;
using test::RegWrite;

namespace {

struct Capture {
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    Capture()
    {
        for (auto& b : bytes)
            b.assign(kCaptureBytes, 0);
    }
    void put(int ch, std::size_t i, int raw)
    {
        const unsigned u = static_cast<unsigned>(raw) & 0x3FF;
        // Upper six bits of the first byte carry junk the host must ignore.
        bytes[static_cast<std::size_t>(ch)][2 * i] = static_cast<std::uint8_t>(0xA8 | (u >> 8));
        bytes[static_cast<std::size_t>(ch)][2 * i + 1] = static_cast<std::uint8_t>(u & 0xFF);
    }
    CaptureAreas areas() const
    {
        CaptureAreas a;
        for (std::size_t n = 0; n < kChannels; ++n)
            a[n] = std::span<const std::uint8_t>(bytes[n]);
        return a;
    }
};

class ScopeCoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        core.setView(&view);
        core.setArmRequest([this] { ++arms; });
        core.applyDefaults();
        port.take();
    }
    FakePort port;
    FakeView view;
    ScopeCore core{port};
    int arms = 0;
};

} // namespace

TEST_F(ScopeCoreTest, FreshStartShowsAndAcquiresAllFourChannels)
{
    EXPECT_EQ(core.controlValue() & 0x0F, 0x0F);
    ASSERT_EQ(view.traces.size(), 4u);
    for (int n = 0; n < kChannels; ++n) {
        EXPECT_TRUE(core.channelOn(n));
        EXPECT_EQ(view.traces.at(channelKey(n)), &core.channel(n));
        EXPECT_EQ(core.channel(n).valuePerDivText, "20 V");
        EXPECT_EQ(core.configByte(n), 0x04);
    }
    EXPECT_EQ(core.channel(0).label, "OUT1A");
    EXPECT_EQ(core.channel(3).label, "OUT2B");
    EXPECT_EQ(core.timeBaseText(), "2.5 ms");
    EXPECT_EQ(core.samplingRateText(), "150 kHz");
    EXPECT_DOUBLE_EQ(core.samplePeriodUs(), 6.25);
    EXPECT_EQ(core.voltageLevelText(), "0.000");
    EXPECT_EQ(core.currentLevelText(), "0.000");
}

TEST(ScopeTables, DividersFollowTheFortyMegahertzClock)
{
    for (const auto& e : kSampleRates)
        EXPECT_EQ(e.divider, static_cast<int>(std::lround(e.periodUs / 0.025)) - 4) << e.text;
    EXPECT_EQ(kSampleRates[6].text, "150 kHz");
    EXPECT_DOUBLE_EQ(kSampleRates[6].periodUs, 6.25);
}

TEST(ScopeTables, SampleDecodingAndScaling)
{
    EXPECT_NEAR(scaleRaw(decodeSample(0x01, 0xFF), kVoltFullScale), 36.0, 1e-9);
    EXPECT_NEAR(scaleRaw(decodeSample(0x02, 0x00), kVoltFullScale), -36.0, 1e-9);
    EXPECT_NEAR(scaleRaw(decodeSample(0x03, 0xFF), kVoltFullScale), -36.0 / 512, 1e-9);
    EXPECT_NEAR(scaleRaw(decodeSample(0x03, 0xFF), kVoltFullScale), -0.0703, 1e-4);
    EXPECT_EQ(decodeSample(0xFC, 0x00), 0); // only bits 0..1 of the first byte count
    EXPECT_NEAR(scaleRaw(511, kAmpFullScale), 6.22, 1e-9);
}

TEST(ScopeTables, LevelTextsAndSliders)
{
    EXPECT_EQ(parseLevel("abc"), 0.0);
    EXPECT_EQ(parseLevel(""), 0.0);
    EXPECT_EQ(parseLevel("nan"), 0.0);
    EXPECT_EQ(parseLevel("1e999"), 0.0);
    EXPECT_DOUBLE_EQ(parseLevel("  +1.25V"), 1.25);
    EXPECT_DOUBLE_EQ(parseLevel("-3"), -3.0);
    EXPECT_EQ(formatLevel(-1.0 / 3), "-0.333");
    EXPECT_EQ(formatLevel(sliderToLevel(2048, kVoltLevelTop, kVoltSliderStep)), "0.000");
    EXPECT_EQ(formatLevel(sliderToLevel(0, kVoltLevelTop, kVoltSliderStep)), "36.000");
    EXPECT_EQ(formatLevel(sliderToLevel(464, kAmpLevelTop, kAmpSliderStep)), "0.000");
    EXPECT_EQ(levelToSlider(0.0, kVoltLevelTop, kVoltSliderStep, kVoltSliderMax), 2048);
    EXPECT_EQ(levelToSlider(36.0, kVoltLevelTop, kVoltSliderStep, kVoltSliderMax), 0);
    EXPECT_EQ(levelToSlider(-6.0, kAmpLevelTop, kAmpSliderStep, kAmpSliderMax), 928);
    EXPECT_EQ(levelToSlider(1e300, kVoltLevelTop, kVoltSliderStep, kVoltSliderMax), 0);
    EXPECT_EQ(levelToSlider(-1e300, kVoltLevelTop, kVoltSliderStep, kVoltSliderMax), kVoltSliderMax);
}

TEST_F(ScopeCoreTest, TriggerCodeAtZeroAndSlope)
{
    core.setTriggerOn(true);
    auto w = port.take();
    // All four configuration bytes armed, then the level and slope.
    ASSERT_GE(w.size(), 6u);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(w[static_cast<std::size_t>(n)], (RegWrite{static_cast<std::uint8_t>(0x78 + n), 0x05, WriteClass::Scope}));
    EXPECT_EQ(w[4], (RegWrite{0x76, 0x00, WriteClass::Scope}));
    EXPECT_EQ(w[5], (RegWrite{0x77, 0x08, WriteClass::Scope}));
    EXPECT_EQ(core.channel(0).triggerFlag, 1);
    EXPECT_EQ(core.triggerControls().buttonCaption, "OFF");
    EXPECT_TRUE(core.triggerControls().voltageLevelEnabled);
    EXPECT_FALSE(core.triggerControls().currentLevelEnabled);

    core.setSlopeMinus(true);
    EXPECT_EQ(port.last(0x77), 0x88);
    EXPECT_EQ(view.slope, 1);

    core.setTriggerOn(false);
    EXPECT_EQ(port.last(0x78), 0x04);
    EXPECT_EQ(core.channel(0).triggerFlag, 0);
    EXPECT_EQ(core.triggerControls().buttonCaption, "ON");
}

TEST_F(ScopeCoreTest, TriggerCodesAcrossTheRangeAndOffsets)
{
    core.setTriggerOn(true);
    auto code = [&] { return (*port.last(0x76)) | ((*port.last(0x77) & 0x7F) << 8); };
    core.setVoltageLevelText("36");
    EXPECT_EQ(code(), 0x800 + 511);
    core.setVoltageLevelText("-36");
    EXPECT_EQ(code(), 0x800 - 512);
    core.setVoltageLevelText("1e300"); // clamped, never wraps
    EXPECT_EQ(code(), 0xFFF);
    EXPECT_EQ(core.voltageSlider(), 0);

    CalibrationOffsets off;
    off.voltage[0] = 1.0;
    core.setCalibrationOffsets(off);
    core.setVoltageLevelText("1.0"); // level equal to the offset: code of zero
    EXPECT_EQ(code(), 0x800);

    // Current on CH2 ("B" output by default): the compared quantity is the
    // level with the direction folded in.
    core.setSource(1, Source::Current);
    core.setTriggerChannel(1);
    core.setCurrentLevelText("3.11");
    EXPECT_EQ(core.output(1), 1);
    EXPECT_EQ(code(), 0x800 + 255);
    core.setOutput(1, 0); // "A" output: sign flips, and the trigger follows
    EXPECT_EQ(code(), 0x800 - 256);
    EXPECT_TRUE(core.triggerControls().currentLevelEnabled);
    EXPECT_EQ(core.controlValue() >> 6, 1);
}

TEST_F(ScopeCoreTest, TriggerChannelWithTriggerOffDoesNotArm)
{
    core.setRunning(true);
    port.take();
    core.setTriggerChannel(2);
    auto w = port.take();
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.front(), (RegWrite{0x70, static_cast<std::uint8_t>(0x80 | 0x0F), WriteClass::Scope}));
    EXPECT_EQ(port.waits, 1);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(core.configByte(n) & kCfgArmed, 0);
}

TEST_F(ScopeCoreTest, TimeBaseClampsAfterShowingTheChosenEntry)
{
    EXPECT_EQ(core.setTimeBase(20), 15);
    EXPECT_EQ(core.timeBaseText(), "2.5 s");
    EXPECT_EQ(view.timeText, "2.5 s");
    EXPECT_DOUBLE_EQ(view.usPerDiv, 2500000.0);
    EXPECT_EQ(core.timeBaseIndex(), 15);
    EXPECT_EQ(core.setTimeBase(99), 15);
    EXPECT_EQ(core.setTimeBase(-3), 0);
    EXPECT_EQ(core.timeBaseText(), "500 ns");
    EXPECT_TRUE(port.take().empty()); // without Auto nothing reaches the board
}

TEST_F(ScopeCoreTest, SamplingRateWritesTheDividerAtOnce)
{
    core.setSamplingRate(15);
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x72, 0x00, WriteClass::Scope}, {0x73, 0x00, WriteClass::Scope}}));
    core.setSamplingRate(0);
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x72, 0x7C, WriteClass::Scope}, {0x73, 0x3E, WriteClass::Scope}}));
    EXPECT_EQ(core.samplingRateText(), "2.5 kHz");
    EXPECT_EQ(core.timeBaseText(), "2.5 ms"); // not linked without Auto
}

TEST_F(ScopeCoreTest, AutoLinksBothWaysOneStepOnly)
{
    core.setAuto(true);
    core.setTimeBase(11);
    EXPECT_EQ(core.samplingRateIndex(), 6);
    EXPECT_EQ(port.last(0x72), 246);
    core.setSamplingRate(15);
    EXPECT_EQ(core.timeBaseIndex(), 5);
    EXPECT_EQ(core.timeBaseText(), "25 µs");
    // One step only: the linked time base (5) would link back to rate 15,
    // which is where we are; the rate written is the chosen one, once.
    auto w = port.take();
    EXPECT_EQ(std::count_if(w.begin(), w.end(), [](const RegWrite& r) { return r.reg == 0x72; }), 2);
    // Rate 0 links to time base 16, which then clamps to 15.
    core.setSamplingRate(0);
    EXPECT_EQ(core.timeBaseText(), "100 ms");
    EXPECT_EQ(core.timeBaseIndex(), 15);
    EXPECT_EQ(core.samplingRateIndex(), 0);
}

TEST_F(ScopeCoreTest, RunArmStop)
{
    core.setRunning(true);
    EXPECT_EQ(arms, 1);
    EXPECT_EQ(view.resets, 1);
    EXPECT_TRUE(port.take().empty()); // trigger off: only the arm request

    core.arm();
    const std::vector<RegWrite> expected{
        {0x78, 0x04, WriteClass::Scope}, {0x79, 0x04, WriteClass::Scope}, {0x7A, 0x04, WriteClass::Scope},
        {0x7B, 0x04, WriteClass::Scope}, {0x72, 246, WriteClass::Scope},  {0x73, 0x00, WriteClass::Scope},
        {0x74, 0xFF, WriteClass::Scope}, {0x75, 0x0F, WriteClass::Scope}, {0x70, 0x0F, WriteClass::Scope}};
    EXPECT_EQ(port.take(), expected);

    core.setTriggerChannel(3);
    port.take();
    core.setRunning(false);
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x70, 0xC0, WriteClass::Scope}}));
}

TEST_F(ScopeCoreTest, ChannelOffHidesTheTraceButKeepsAcquiring)
{
    core.setRunning(true);
    port.take();
    core.setChannelOn(2, false);
    EXPECT_FALSE(view.hasTrace("CH3"));
    EXPECT_EQ(core.controlValue() & 0x0F, 0x0F);
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x70, 0x0F, WriteClass::Scope}}));
    core.setChannelOn(2, true);
    EXPECT_EQ(view.traces.at("CH3"), &core.channel(2));
}

TEST_F(ScopeCoreTest, SourceChangesBytesUnitsScalesAndOutputs)
{
    core.setSource(0, Source::Current);
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x78, 0x14, WriteClass::Scope}}));
    EXPECT_EQ(core.channel(0).unit, "A");
    EXPECT_EQ(core.valuePerDivIndex(0), 6); // "20 V" has no current twin: clamped
    EXPECT_EQ(core.channel(0).valuePerDivText, "10 A");
    EXPECT_TRUE(core.outputSelectable(0));

    core.setSource(0, Source::Icc);
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x78, 0x1C, WriteClass::Scope}}));
    EXPECT_EQ(core.channel(0).label, "ICC");
    EXPECT_FALSE(core.outputSelectable(0));
    core.setSource(0, Source::Icc);
    EXPECT_TRUE(port.take().empty()); // unchanged byte is not re-sent

    // A voltage source snaps the output back to the channel's fixed one.
    core.setSource(1, Source::Current);
    core.setOutput(1, 0);
    EXPECT_EQ(core.directionSign(1), 1.0);
    core.setSource(1, Source::Voltage);
    EXPECT_EQ(core.output(1), 1);
    EXPECT_EQ(core.directionSign(1), -1.0);
    EXPECT_EQ(core.channel(1).label, "OUT1B");
    EXPECT_EQ(core.setValuePerDiv(1, 42), 8);
    EXPECT_EQ(core.channel(1).valuePerDivText, "50 V");
}

TEST_F(ScopeCoreTest, SweepConversionScalesOffsetsAndTimes)
{
    core.setSource(1, Source::Current);
    core.setOutput(1, 0); // CH2 current on the "A" output
    core.setSource(2, Source::Current);
    core.setOutput(2, 1); // CH3 current on the "B" output
    core.setSource(3, Source::Icc);
    core.setSamplingRate(9); // 1 us
    core.setRunning(true);
    core.arm(); // as the reader does when Run asks for it

    Capture cap;
    cap.put(0, 0, 0x1FF);
    cap.put(0, 1, 0x200);
    cap.put(0, 4095, 0x3FF);
    cap.put(1, 10, 511);
    cap.put(2, 10, 511);
    cap.put(3, 10, -512);
    CalibrationOffsets off;
    off.voltage[0] = 0.5;
    off.current[1] = 0.25;
    off.current[2] = 0.25;
    off.icc[3] = 0.1;
    EXPECT_EQ(core.processSweep(cap.areas(), off), 0x0F);

    const auto& t0 = core.channel(0).trace;
    ASSERT_EQ(t0.size(), kSamplesPerSweep);
    EXPECT_NEAR(t0[0].second, 36.5, 1e-9);
    EXPECT_NEAR(t0[1].second, -35.5, 1e-9);
    EXPECT_NEAR(t0[4095].second, -36.0 / 512 + 0.5, 1e-9);
    EXPECT_NEAR(t0[2].second, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(t0[4095].first, 4095.0);
    // Current: the "B" output reads the negated value of the "A" output.
    EXPECT_NEAR(core.channel(1).trace[10].second, -(6.22 + 0.25), 1e-9);
    EXPECT_NEAR(core.channel(2).trace[10].second, +(6.22 + 0.25), 1e-9);
    EXPECT_NEAR(core.channel(3).trace[10].second, -6.22 + 0.1, 1e-9);
    EXPECT_EQ(core.sweepsConverted(), 1u);

    // Times follow the sampling rate in both buffers that take turns.
    for (int rate : {15, 15, 15, 9, 9, 9}) {
        core.setSamplingRate(rate);
        core.processSweep(cap.areas(), off);
        const double period = kSampleRates[static_cast<std::size_t>(rate)].periodUs;
        const auto& t = core.channel(0).trace;
        EXPECT_DOUBLE_EQ(t[4095].first, 4095 * period) << rate;
        EXPECT_DOUBLE_EQ(t[1].first, period) << rate;
        EXPECT_NEAR(t[0].second, 36.5, 1e-9);
    }
}

TEST_F(ScopeCoreTest, SweepConversionRespectsRunAndControlByte)
{
    Capture cap;
    cap.put(0, 0, 100);
    // Stopped: nothing converted, only CH1's counter is reset.
    EXPECT_EQ(core.processSweep(cap.areas(), {}), 0x01);
    EXPECT_TRUE(core.channel(0).trace.empty());

    core.setRunning(true);
    core.arm(); // as the reader does when Run asks for it
    core.setChannelOn(3, false); // still acquired
    EXPECT_EQ(core.processSweep(cap.areas(), {}), 0x0F);

    // A short capture block reads as zeros beyond its end, never past it.
    CaptureAreas shortAreas = cap.areas();
    shortAreas[0] = shortAreas[0].subspan(0, 7);
    core.processSweep(shortAreas, {});
    EXPECT_EQ(core.channel(0).trace.size(), kSamplesPerSweep);
    EXPECT_NE(core.channel(0).trace[0].second, 0.0);
    EXPECT_EQ(core.channel(0).trace[3].second, 0.0);
    shortAreas[1] = {};
    core.processSweep(shortAreas, {});
    EXPECT_EQ(core.channel(1).trace.size(), kSamplesPerSweep);
}

TEST_F(ScopeCoreTest, SwapsTracesWhileTheGuiReadsThem)
{
    // The reader thread converts sweeps while the GUI thread reads traces
    // under their lock and changes settings: every trace it sees is whole.
    core.setRunning(true);
    core.arm(); // as the reader does when Run asks for it
    Capture cap;
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i)
        for (int n = 0; n < 4; ++n)
            cap.put(n, i, 300);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load())
            core.processSweep(cap.areas(), {});
    });
    int whole = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int k = 0; (k < 2000 || core.sweepsConverted() < 50) && std::chrono::steady_clock::now() < deadline; ++k) {
        const auto& ch = core.channel(k % 4);
        {
            std::lock_guard lk(ch.traceMutex);
            if (ch.trace.size() == kSamplesPerSweep && ch.trace.front().first == 0.0 &&
                ch.trace.back().second == ch.trace.front().second)
                ++whole;
        }
        if (k % 100 == 0)
            core.setSamplingRate(k % 16);
        if (k % 64 == 0)
            std::this_thread::yield();
    }
    stop = true;
    reader.join();
    EXPECT_GE(core.sweepsConverted(), 50u);
    EXPECT_GT(whole, 0);
}

namespace {

using Clock = std::chrono::steady_clock;

// The trigger as the reader sees it: Run, the arm, and sweeps with the times
// the core asked its timer for.
class TriggerModeTest : public ScopeCoreTest {
protected:
    void SetUp() override
    {
        ScopeCoreTest::SetUp();
        core.setTimerRequest([this](Clock::time_point at) { timer = at; });
        bytes.fill(std::vector<std::uint8_t>(kCaptureBytes));
        for (std::size_t n = 0; n < kChannels; ++n) areas[n] = bytes[n];
    }
    void run()
    {
        core.setRunning(true);
        core.arm();
        port.take();
    }
    void sweep()
    {
        core.sweepUploading();
        core.processSweep(areas, {});
    }
    std::optional<std::uint8_t> level(std::uint8_t reg) { return port.last(reg); }
    Clock::time_point timer{};
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    CaptureAreas areas;
};

} // namespace

TEST_F(TriggerModeTest, SingleParksTheTriggerWhileItsSweepUploadsThenStops)
{
    core.setTriggerOn(true);
    core.setTriggerMode(TriggerMode::Single);
    run();
    EXPECT_EQ(core.triggerState(), TriggerState::Armed);
    core.sweepUploading();
    // Armed on every channel at a level no sample reaches (rising through 0xFFF).
    EXPECT_EQ(level(0x76), 0xFF);
    EXPECT_EQ(level(0x77), 0x0F);
    EXPECT_EQ(level(0x78).value_or(0) & 0x01, 0x01);
    port.take();
    core.processSweep(areas, {});
    EXPECT_EQ(port.take(), (std::vector<RegWrite>{{0x70, 0x00, WriteClass::Scope}}));
    EXPECT_FALSE(core.running());
    EXPECT_EQ(core.triggerState(), TriggerState::Stopped);
    EXPECT_EQ(core.sweepsConverted(), 1u);
    // A sweep the board had under way is not taken.
    sweep();
    EXPECT_EQ(core.sweepsConverted(), 1u);
    EXPECT_TRUE(port.take().empty());

    // Run again: the level as set goes back before the arm.
    core.setRunning(true);
    EXPECT_EQ(level(0x76), 0x00);
    EXPECT_EQ(level(0x77), 0x08);
    core.arm();
    sweep();
    EXPECT_EQ(core.sweepsConverted(), 2u);
    EXPECT_FALSE(core.running());
}

TEST_F(TriggerModeTest, AutoForcesASweepWhenNoTriggerComesAndArmsAgain)
{
    core.setTriggerOn(true);
    core.setTriggerMode(TriggerMode::Auto);
    const auto t0 = Clock::now();
    run();
    EXPECT_EQ(core.triggerState(), TriggerState::Armed);
    // 160 kHz sampling (6.25 us): a sweep of 25.6 ms and 100 ms more.
    ASSERT_GT(timer, t0 + std::chrono::milliseconds(120));
    core.onTimer(timer - std::chrono::milliseconds(1));
    EXPECT_TRUE(port.take().empty());
    core.onTimer(timer);
    auto w = port.take();
    ASSERT_EQ(w.size(), 4u); // the four configuration bytes, not armed
    for (const auto& x : w) EXPECT_EQ(x.value & 0x01, 0) << int(x.reg);
    // A second time-out before the forced sweep comes does not force again.
    core.onTimer(timer + std::chrono::seconds(1));
    EXPECT_TRUE(port.take().empty());

    // While the forced sweep uploads the trigger goes back as set.
    core.sweepUploading();
    EXPECT_EQ(level(0x78).value_or(0) & 0x01, 0x01);
    EXPECT_EQ(level(0x77), 0x08);
    port.take();
    core.processSweep(areas, {});
    EXPECT_EQ(core.triggerState(), TriggerState::Auto);
    // The next sweep came from the trigger.
    sweep();
    EXPECT_EQ(core.triggerState(), TriggerState::Triggered);
    EXPECT_TRUE(core.running());
}

// The trigger switched on (or off) while sweeping: the board searches anew,
// and the state and Auto's time-out follow at once, not at a sweep that a
// level never crossed would never bring.
TEST_F(TriggerModeTest, ATriggerSwitchedOnWhileRunningIsWaitedForOrForced)
{
    core.setTriggerMode(TriggerMode::Auto);
    run();
    sweep();
    EXPECT_EQ(core.triggerState(), TriggerState::FreeRun);
    timer = {};
    const auto t0 = Clock::now();
    core.setTriggerOn(true);
    EXPECT_EQ(core.triggerState(), TriggerState::Armed);
    ASSERT_GT(timer, t0) << "Auto's time-out was not asked for";
    port.take();
    core.onTimer(timer);
    auto w = port.take();
    ASSERT_EQ(w.size(), 4u) << "Auto did not force a sweep";
    for (const auto& x : w) EXPECT_EQ(x.value & 0x01, 0) << int(x.reg);
    // A new level while the forced sweep is due: the level is searched for,
    // the next sweep is not shown as forced.
    core.setVoltageLevelText("1.0");
    sweep();
    EXPECT_EQ(core.triggerState(), TriggerState::Triggered);
    // Off again: free running at once.
    core.setTriggerOn(false);
    EXPECT_EQ(core.triggerState(), TriggerState::FreeRun);
    // Stopped, a trigger change leaves the state alone.
    core.setRunning(false);
    core.setTriggerOn(true);
    EXPECT_EQ(core.triggerState(), TriggerState::Stopped);
}

// Run switched off on the window's thread while the reader converts a sweep:
// whatever the trigger, the state the window shows is the stop's, and no
// timer comes for a stopped scope.
TEST_F(TriggerModeTest, AStopWhileASweepIsConvertedLeavesTheStateStopped)
{
    struct StopMidway : SweepObserver {
        ScopeCore* core = nullptr;
        bool measureWhileConverting(MeasureDrive&) override
        {
            core->setRunning(false);
            return false;
        }
        void onSweep(const SweepFrame&) override {}
    };
    for (const bool triggerOn : {false, true})
        for (const TriggerMode mode : {TriggerMode::Auto, TriggerMode::Normal, TriggerMode::Single}) {
            SCOPED_TRACE(std::string(triggerOn ? "trigger on, " : "trigger off, ") + triggerModeText(mode));
            core.setTriggerOn(triggerOn);
            core.setTriggerMode(mode);
            core.setHoldoffMs(mode == TriggerMode::Normal ? 50.0 : 0.0);
            run();
            StopMidway stop;
            stop.core = &core;
            core.setSweepObserver(&stop);
            timer = {};
            sweep();
            core.setSweepObserver(nullptr);
            EXPECT_FALSE(core.running());
            EXPECT_EQ(core.triggerState(), TriggerState::Stopped);
            EXPECT_EQ(timer, Clock::time_point{});
            // The next Run starts from there as usual.
            run();
            EXPECT_NE(core.triggerState(), TriggerState::Stopped);
            core.setRunning(false);
        }
}

// Run asks the reader for the arm; until it comes the board is not acquiring
// for this Run. A sweep from before that arrives meanwhile is nobody's (not
// a Single's), and an arm that comes after Run went off again starts nothing.
TEST_F(TriggerModeTest, OnlyTheArmStartsARunAndOnlyWhileRunIsOn)
{
    int armsAsked = 0;
    core.setArmRequest([&] { ++armsAsked; });
    core.setTriggerMode(TriggerMode::Single);
    core.setRunning(true);
    EXPECT_EQ(armsAsked, 1);
    sweep(); // under way before Run
    EXPECT_EQ(core.sweepsConverted(), 0u);
    EXPECT_TRUE(core.running());
    core.arm();
    sweep();
    EXPECT_EQ(core.sweepsConverted(), 1u);
    EXPECT_FALSE(core.running()) << "the Single's own sweep ends it";

    for (const TriggerMode mode : {TriggerMode::Auto, TriggerMode::Single}) {
        core.setTriggerMode(mode);
        core.setRunning(true);
        core.setRunning(false);
        port.take();
        core.arm(); // late, from the Run just ended
        for (const RegWrite& w : port.take())
            EXPECT_FALSE(w.reg == 0x70 && (w.value & 0x0F) != 0) << "acquisition started with Run off";
        EXPECT_EQ(core.triggerState(), TriggerState::Stopped);
    }
}

TEST_F(TriggerModeTest, NormalOnlyShowsThatItWaits)
{
    core.setTriggerOn(true);
    core.setTriggerMode(TriggerMode::Normal);
    run();
    sweep();
    EXPECT_EQ(core.triggerState(), TriggerState::Triggered);
    port.take();
    core.onTimer(timer);
    EXPECT_TRUE(port.take().empty());
    EXPECT_EQ(core.triggerState(), TriggerState::Armed);

    // Trigger off: free running, no timer needed.
    core.setTriggerOn(false);
    sweep();
    EXPECT_EQ(core.triggerState(), TriggerState::FreeRun);
    core.setRunning(false);
    EXPECT_EQ(core.triggerState(), TriggerState::Stopped);
}

TEST_F(TriggerModeTest, HoldoffKeepsTheTriggerAwayAfterEachSweep)
{
    EXPECT_EQ(core.setHoldoffMs(-5), 0.0);
    EXPECT_EQ(core.setHoldoffMs(std::nan("")), 0.0);
    EXPECT_EQ(core.setHoldoffMs(1e9), kMaxHoldoffMs);
    EXPECT_EQ(core.setHoldoffMs(50), 50.0);
    core.setTriggerOn(true);
    core.setTriggerMode(TriggerMode::Normal);
    run();
    const auto before = Clock::now();
    sweep();
    EXPECT_EQ(level(0x76), 0xFF); // parked while the sweep uploaded
    EXPECT_EQ(core.triggerState(), TriggerState::Waiting);
    EXPECT_GE(timer, before + std::chrono::milliseconds(50));
    port.take();
    core.onTimer(timer - std::chrono::milliseconds(1));
    EXPECT_TRUE(port.take().empty());
    core.onTimer(timer);
    EXPECT_EQ(level(0x76), 0x00); // the level as set: the board searches again
    EXPECT_EQ(level(0x77), 0x08);
    EXPECT_EQ(core.triggerState(), TriggerState::Armed);

    // Stopped, nothing happens on a late timer.
    core.setRunning(false);
    port.take();
    core.onTimer(Clock::now() + std::chrono::hours(1));
    EXPECT_TRUE(port.take().empty());
}
