// The acquisition core on the real link and bridge library with the simulated
// board: Run brings four whole traces within a second, Stop clears the
// channels on the board and the traces keep their last sweep.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "board/sim_board_test.h"
#include "tests/common/recording_message_service.h"
#include "link/fpga_link.h"
#include "scope/scope_core.h"
#include "engine/link_sequences.h"

using namespace std::chrono_literals;
using namespace zelbo::scope;

namespace {

template <class Pred>
bool eventually(Pred p, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (p())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return p();
}

struct QuietProgress final : zelbo::link::BringUpObserver {
    void statusText(const std::string&) override {}
    void progressShow() override {}
    void progressText(const std::string&) override {}
    void progressStep(int, int) override {}
    void progressHide() override {}
    void downloadProgressControl(bool) override {}
};

struct QuietWindow final : zelbo::link::LinkObserver {
    void linkStarted() override {}
};

} // namespace

TEST(ScopeOnSimulatedBoard, RunDeliversFourWholeTracesAndStopKeepsThem)
{
    simboard::Control board;
    board.reset();
    board.setBusTiming(false);
    board.setTimeoutLimit(200ms);
    board.setProbeNoise(false);
    for (int ch = 0; ch < 4; ++ch) board.setScopeInputOffsets(ch, 0, 0, 0); // uncalibrated here: exact levels
    board.startFirmware();
    board.configureFpga();

    zelbo::RecordingMessageService messages;
    zelbo::link::LinkOptions options;
    options.timings.hardwareReady = 3000ms;
    options.timings.doneWait = 1000ms;
    zelbo::link::FpgaLink link(messages, options);

    ScopeCore core(link);
    auto snapshot = std::make_unique<zelbo::link::FpgaLink::CaptureSnapshot>();
    core.setArmRequest([&] { link.armScope(); });
    link.onScopeArm([&] {
        link.clearCaptures();
        core.arm();
    });
    link.onSweep([&] {
        link.copyCaptures(*snapshot);
        CaptureAreas areas;
        for (std::size_t n = 0; n < kChannels; ++n)
            areas[n] = std::span<const std::uint8_t>((*snapshot)[n]);
        link.resetCaptureIndices(core.processSweep(areas, core.calibrationOffsets()));
    });

    QuietProgress progress;
    QuietWindow window;
    ASSERT_EQ(zelbo::engine::startLink(link, progress, window), 0) << testing::PrintToString(messages.texts());
    ASSERT_TRUE(eventually([&] { return link.scopeCommandsAllowed(); }, 3000ms));

    core.applyDefaults();
    core.setSource(1, Source::Current);
    core.setSource(3, Source::Icc);
    const auto t0 = std::chrono::steady_clock::now();
    core.setRunning(true);
    ASSERT_TRUE(eventually([&] { return core.sweepsConverted() >= 2; }, 1000ms))
        << "sweeps: " << core.sweepsConverted() << " after "
        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count()
        << " ms";

    const auto scope = board.scope();
    EXPECT_EQ(scope.control & 0x0F, 0x0F);
    EXPECT_EQ(scope.divider, 246);
    EXPECT_EQ(scope.recordLength, 4096u);
    EXPECT_EQ(scope.channelConfig[1], 0x14);
    EXPECT_EQ(scope.channelConfig[3], 0x1C);
    for (int n = 0; n < kChannels; ++n) {
        const ScopeChannel& ch = core.channel(n);
        std::lock_guard lk(ch.traceMutex);
        ASSERT_EQ(ch.trace.size(), kSamplesPerSweep) << n;
        EXPECT_DOUBLE_EQ(ch.trace[4095].first, 4095 * 6.25);
        for (const auto& p : ch.trace)
            ASSERT_TRUE(std::isfinite(p.second));
    }
    // The motor is not driven: its outputs and currents are at rest, and so
    // are the traces (within one converter step).
    const auto dut = board.dut();
    const double vStep = 36.0 / 511, aStep = 6.22 / 511;
    {
        std::lock_guard lk(core.channel(0).traceMutex);
        EXPECT_NEAR(core.channel(0).trace[100].second, dut.out1a, vStep);
    }
    {
        std::lock_guard lk(core.channel(1).traceMutex);
        EXPECT_NEAR(core.channel(1).trace[100].second, dut.coilA, aStep);
    }

    // Stop: 0x70 with the channels cleared reaches the board; the traces stay.
    core.setRunning(false);
    ASSERT_TRUE(link.waitWriteDone(2000ms));
    ASSERT_TRUE(eventually([&] { return (board.registerValue(0x70) & 0x0F) == 0; }, 1000ms));
    std::this_thread::sleep_for(100ms);
    const auto converted = core.sweepsConverted();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(core.sweepsConverted(), converted);
    for (int n = 0; n < kChannels; ++n) {
        std::lock_guard lk(core.channel(n).traceMutex);
        EXPECT_EQ(core.channel(n).trace.size(), kSamplesPerSweep);
    }
    EXPECT_TRUE(zelbo::engine::shutdownLink(link));
    EXPECT_TRUE(messages.shown().empty()) << testing::PrintToString(messages.texts());
}

namespace {

// The core wired to the link as the engine wires it, trigger modes included.
struct ScopeOnBoard {
    simboard::Control board;
    zelbo::RecordingMessageService messages;
    std::unique_ptr<zelbo::link::FpgaLink> link;
    std::unique_ptr<ScopeCore> core;
    std::unique_ptr<zelbo::link::FpgaLink::CaptureSnapshot> snapshot =
        std::make_unique<zelbo::link::FpgaLink::CaptureSnapshot>();

    bool start()
    {
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(200ms);
        board.startFirmware();
        board.configureFpga();
        zelbo::link::LinkOptions options;
        options.timings.hardwareReady = 3000ms;
        options.timings.doneWait = 1000ms;
        link = std::make_unique<zelbo::link::FpgaLink>(messages, options);
        core = std::make_unique<ScopeCore>(*link);
        auto& l = *link;
        auto& c = *core;
        c.setArmRequest([&l] { l.armScope(); });
        l.onScopeArm([&l, &c] {
            l.clearCaptures();
            c.arm();
        });
        l.onSweep([this, &l, &c] {
            l.copyCaptures(*snapshot);
            CaptureAreas areas;
            for (std::size_t n = 0; n < kChannels; ++n) areas[n] = std::span<const std::uint8_t>((*snapshot)[n]);
            l.resetCaptureIndices(c.processSweep(areas, c.calibrationOffsets()));
        });
        l.onSweepUploading([&c] { c.sweepUploading(); });
        l.onScopeTimer([&c] { c.onTimer(std::chrono::steady_clock::now()); });
        c.setTimerRequest([&l](std::chrono::steady_clock::time_point at) { l.scheduleScopeTimer(at); });
        QuietProgress progress;
        QuietWindow window;
        if (zelbo::engine::startLink(l, progress, window) != 0) return false;
        if (!eventually([&] { return l.scopeCommandsAllowed(); }, 3000ms)) return false;
        c.applyDefaults();
        return true;
    }
    ~ScopeOnBoard()
    {
        if (link) zelbo::engine::shutdownLink(*link);
    }
};

} // namespace

TEST(ScopeOnSimulatedBoard, SingleTakesOneSweepAfterArmingAndTheBoardNoMore)
{
    ScopeOnBoard s;
    ASSERT_TRUE(s.start()) << testing::PrintToString(s.messages.texts());
    ScopeCore& core = *s.core;
    // The fastest sweeps (10 MHz, 0.4 ms each), free running: the board would
    // take the next one at once if the trigger were not taken away in time.
    core.setSamplingRate(15);
    core.setTriggerMode(TriggerMode::Single);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(s.link->waitWriteDone(2000ms));
        std::this_thread::sleep_for(50ms);
        const auto boardBefore = s.board.scope().sweepsAcquired;
        const auto hostBefore = core.sweepsConverted();
        core.setRunning(true);
        ASSERT_TRUE(eventually([&] { return core.sweepsConverted() > hostBefore; }, 2000ms));
        EXPECT_TRUE(eventually([&] { return !core.running(); }, 1000ms));
        EXPECT_EQ(core.triggerState(), TriggerState::Stopped);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(core.sweepsConverted(), hostBefore + 1);
        EXPECT_EQ(s.board.scope().sweepsAcquired, boardBefore + 1);
        EXPECT_EQ(s.board.scope().control & 0x0F, 0);
    }
    EXPECT_TRUE(s.messages.shown().empty()) << testing::PrintToString(s.messages.texts());
}

TEST(ScopeOnSimulatedBoard, AutoSweepsWithoutATriggerAndNormalWaitsForIt)
{
    ScopeOnBoard s;
    ASSERT_TRUE(s.start()) << testing::PrintToString(s.messages.texts());
    ScopeCore& core = *s.core;
    s.board.setProbeNoise(false);
    // The motor is at rest: a level of 30 V is never crossed.
    core.setSamplingRate(15);
    core.setVoltageLevelText("30.000");
    core.setTriggerOn(true);
    core.setTriggerMode(TriggerMode::Normal);
    core.setRunning(true);
    ASSERT_TRUE(eventually([&] { return core.triggerState() == TriggerState::Armed; }, 1000ms));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(core.sweepsConverted(), 0u);
    EXPECT_EQ(core.triggerState(), TriggerState::Armed);

    // Auto gives up waiting after a sweep's time and 100 ms, and keeps doing so.
    core.setTriggerMode(TriggerMode::Auto);
    ASSERT_TRUE(eventually([&] { return core.sweepsConverted() >= 3; }, 3000ms));
    EXPECT_EQ(core.triggerState(), TriggerState::Auto);
    // Each forced sweep is followed by a wait for the trigger again, not a free run.
    const auto converted = core.sweepsConverted();
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(core.sweepsConverted() - converted, 10u);

    // Holdoff spaces free-running sweeps.
    core.setTriggerOn(false);
    core.setHoldoffMs(100);
    core.setRunning(false);
    core.setRunning(true);
    ASSERT_TRUE(eventually([&] { return core.sweepsConverted() > converted + 2; }, 2000ms));
    const auto c0 = core.sweepsConverted();
    std::this_thread::sleep_for(1000ms);
    const auto inSecond = core.sweepsConverted() - c0;
    EXPECT_GE(inSecond, 3u);
    EXPECT_LE(inSecond, 11u);
    core.setRunning(false);
}
