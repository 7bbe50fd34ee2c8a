// What users combine: every activity of the program, interrupted by every
// event that competes for the board (power off, "Change", closing the window,
// File > Open, starting another activity, a board that vanishes). After each
// case the board does what the window shows: the activity has ended (or was
// kept, where the event's control is not available while it runs), the
// control groups are exactly those the state allows, the supply, the pins,
// VREF, the clock, the sweep toggle and the pattern sequencer match the
// window, and nothing was written to an unpowered board.
//
// An activity or an event is one more entry in its table.
#include <filesystem>
#include <functional>
#include <string>

#include <QAbstractButton>
#include <QRadioButton>

#include "app/dynamic_feature.h"
#include "app/program_features.h"
#include "app/settings_feature.h"
#include "drive/drive_core.h"
#include "drive/sweep.h"
#include "drive/ui/drive_feature.h"
#include "drive/sequence.h"
#include "drive/ui/dynamic_dlg.h"
#include "engine/instrument_state.h"
#include "files/settings_core.h"
#include "scope/calibration.h"
#include "tests/e2e/interaction_fixture.h"
#include "thermal/ui/thermal_feature.h"
#include "thermal/ui/tj_mon_dlg.h"

namespace e2e {
namespace {

// Two rows that drop ENABLE.
const std::initializer_list<SequenceRow> kEnableDropped = {{"0", "1.00", "0.50", "1000", "HI", "LO", "LO", "LO", "HI"},
                                                           {"100", "1.50", "0.50", "2k", "HI", "LO", "LO", "LO", "LO"}};

struct Entry {
    const char* name;
    Activity activity;
    std::function<void(Combined&)> enter;
};

const std::vector<Entry>& entries()
{
    static const std::vector<Entry> e = {
        {"countedRun", Activity::CountedRun,
         [](Combined& f) {
             f.click(ctl::kClkStart); // the clock runs continuously after power on: stop it
             f.click(ctl::kManual); // "Manual"
             f.drive().editSteps("255");
             using zelbo::drive::ColumnId;
             using zelbo::drive::Limit;
             f.drive().setLimitText(ColumnId::Clk, Limit::Min, "0");
             f.drive().commitLimit(ColumnId::Clk, Limit::Min);
             f.drive().setLimitText(ColumnId::Clk, Limit::Step, "10");
             f.drive().commitLimit(ColumnId::Clk, Limit::Step);
             f.drive().setValueText(ColumnId::Clk, "10");
             f.drive().commitValue(ColumnId::Clk);
             f.click(ctl::kClkStart); // 255 steps at 10 Hz: longer than any case
         }},
        {"sweepRun", Activity::SweepRun, [](Combined& f) { f.click(ctl::kSweepStart); }},
        {"dynamicRun", Activity::Sequence,
         [](Combined& f) {
             // The rows drop ENABLE: the board must get it back at the end.
             startEndlessSequence(f.win(), kEnableDropped);
         }},
        {"calibration", Activity::Calibration,
         [](Combined& f) {
             // The board's time stands still: no sweep comes, so the
             // calibration waits for its step until the event ends it.
             f.sim().setVirtualTime(true);
             f.win().onCommand(CTQ5170xHWPDlg::ID_HELP_CALIBRATE);
         }},
        {"monitorRun", Activity::MonitorRun,
         [](Combined& f) {
             f.win().action(CTQ5170xHWPDlg::ID_VIEW_TJMONITOR)->trigger();
             CTJMonDlg* mon = f.features().thermal().monitor();
             ASSERT_TRUE(mon->isVisible());
             mon->setRows({{"0.50", "0.50", "HI", "LO", "LO"}, {"1.00", "0.50", "HI", "LO", "LO"},
                           {"1.50", "0.50", "HI", "LO", "LO"}});
             mon->setTimeScale(1.0);
             mon->timeEdit()->setText("1");
             mon->rnfEdit()->setText("0.2");
             mon->divideSpin()->setValue(0);
             QTest::mouseClick(mon->startButton(), Qt::LeftButton);
             ASSERT_TRUE(waitUntil([&] { return !f.state().idle(); }, 3000)) << "the first step is due";
         }},
        {"advanceMode", Activity::AdvanceMode,
         [](Combined& f) {
             f.msgs().queueAnswer(zelbo::MsgAnswer::Ok); // "Opening Advance Mode*. Continue?"
             ASSERT_TRUE(f.features().drive().advance().setActive(true));
         }},
    };
    return e;
}

class Interaction : public Combined, public ::testing::WithParamInterface<Param> {
protected:
    // The window's groups, its drive and the board, side by side.
    void expectBoardEqualsWindow()
    {
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        const InstrumentState& s = state();
        const unsigned groups = s.enabledGroups();
        const std::pair<unsigned, int> probes[] = {
            {group::kReferences, ctl::kVrefEdit}, {group::kMode, ctl::kModeChange},        {group::kSenseResistor, ctl::kRnfEdit},
            {group::kClockInput, ctl::kClkGroup}, {group::kSweep, ctl::kSweepStart},       {group::kScopeChannels, ctl::channelToggle(0)},
            {group::kScopeSettings, ctl::kCalibrate}};
        for (const auto& [g, id] : probes)
            EXPECT_EQ(enabled(id), (groups & g) != 0) << "control " << id << " in state "
                                                      << zelbo::engine::activityName(s.activity());

        zelbo::drive::DriveCore& d = drive();
        const bool powered = s.powered();
        const int supply = powered ? (d.vcc() == zelbo::drive::Vcc::V5_0 ? 5000 : 3300) : 0;
        if (!s.running(Activity::AdvanceMode)) {
            EXPECT_EQ(board.supplyMillivolts(), supply);
        }
        if (powered && s.idle()) {
            using zelbo::drive::Pin;
            for (Pin p : {Pin::Enable, Pin::Mode0, Pin::Mode1, Pin::CwCcw})
                EXPECT_EQ(board.dacCode(static_cast<std::uint8_t>(zelbo::drive::pinChannel(p))),
                          d.pinHigh(p) ? d.pinHighLevel() : 0)
                    << zelbo::drive::pinName(p);
            EXPECT_EQ(board.dacCode(133), zelbo::drive::DriveCore::referenceCode(d.vref())) << "VREF";
            EXPECT_EQ(board.clockGenerator().running, d.clockRunning()) << "the clock";
        }
        if (!powered) {
            EXPECT_FALSE(board.clockGenerator().running) << "no clock on an unpowered board";
        }
        EXPECT_EQ(board.registerValue(160) != 0, d.secondRunning()) << "the sweep's run toggle";
        if (!s.running(Activity::Sequence)) {
            EXPECT_EQ(board.registerValue(192), 0) << "the pattern sequencer";
        }
    }
};

} // namespace

TEST_P(Interaction, TheBoardDoesWhatTheWindowShows)
{
    const Entry& entry = entries()[GetParam().entry];
    const Event& event = events()[GetParam().event];
    powerOnSettled();
    if (HasFatalFailure()) return;
    entry.enter(*this);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(state().running(entry.activity)) << "entered " << zelbo::engine::activityName(entry.activity);
    board.clearLog();
    messages.clear();

    event.happen(*this);
    if (event.closes) {
        board.setVirtualTime(false);
        ASSERT_TRUE(waitUntil([&] { return !window->isVisible(); }, 8000)) << "the window closes";
        window.reset();
        // The board is left off (or is gone): supply, clock and sequencer.
        if (std::string(event.name) != "linkLost") {
            EXPECT_EQ(board.supplyMillivolts(), 0);
            EXPECT_EQ(board.registerValue(192), 0);
            EXPECT_EQ(board.registerValue(160), 0);
            expectNothingWrittenUnpowered();
        }
        return;
    }
    // A step of the monitor, a tick of the sweep: given the time to show a
    // write that should not come.
    QTest::qWait(1200);
    const bool ended = event.reaches(entry.activity);
    if (ended) {
        EXPECT_TRUE(state().idle()) << "still " << zelbo::engine::activityName(state().activity());
    } else {
        EXPECT_TRUE(state().running(entry.activity)) << "the activity goes on";
        if (std::string(event.name) == "startAnother") {
            ASSERT_EQ(messages.shown().size(), 1u);
            EXPECT_NE(messages.shown()[0].text.find("Cannot start"), std::string::npos) << messages.shown()[0].text;
        }
    }
    if (std::string(event.name) == "powerOff") expectNothingWrittenUnpowered();
    expectBoardEqualsWindow();
    if (ended) {
        EXPECT_NE(window->statusPaneText(0).indexOf("stopped"), -1) << window->statusPaneText(0).toStdString();
    }
    board.setVirtualTime(false);
}

// ---- cases met on the bench, one by one ---------------------------------------

class Bench : public Combined {};

TEST_F(Bench, ThePowerButtonHasTheFocusAfterStartUpAndSpacePowersOn)
{
    openReady();
    if (HasFatalFailure()) return;
    // The default settings have been loaded by now: they must not keep the focus.
    EXPECT_EQ(window->focusWidget(), power());
    const auto vref = board.dacCode(133);
    QTest::keyClick(window->focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(waitUntil([&] { return window->powerOn(); }, 2000)) << "Space powers on";
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    EXPECT_EQ(board.supplyMillivolts(), 5000);
    EXPECT_GE(board.dacCode(133), vref) << "VREF was not moved down a notch";
}

TEST_F(Bench, CalibrateWithRunOnIsRefusedAndThePinsStayAsShown)
{
    powerOnSettled();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(drive().pinHigh(zelbo::drive::Pin::Enable));
    click(ctl::kCalibrate); // CALIBRATE with "Run" on
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    ASSERT_FALSE(messages.shown().empty());
    EXPECT_TRUE(state().idle());
    EXPECT_EQ(board.dacCode(129), drive().pinHighLevel()) << "ENABLE back at its level";
}

TEST_F(Bench, AfterACalibrationTheRunModeRadiosStayOffWhileTheClockRuns)
{
    powerOnSettled();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(drive().clockRunning());
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    window->onCommand(CTQ5170xHWPDlg::ID_HELP_CALIBRATE);
    ASSERT_TRUE(waitUntil([&] { return state().idle(); }, 20000)) << "the calibration ends";
    EXPECT_TRUE(enabled(ctl::kClkStart)) << "the CLK group is back";
    EXPECT_FALSE(window->control(ctl::kContinuous)->isEnabled());
    EXPECT_FALSE(window->control(ctl::kManual)->isEnabled());
}

TEST_F(Bench, FinishingADynamicRunGivesThePinsBackAndAPausedRunStaysPaused)
{
    powerOnSettled();
    if (HasFatalFailure()) return;
    CDynamicDlg* dlg = startEndlessSequence(*window, kEnableDropped);
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(129) == 0; }, 5000)) << "the rows drop ENABLE";
    dlg->pauseButton()->click();
    ASSERT_EQ(dlg->pauseState(), zelbo::drive::sequence::kPauseStatePaused);
    const auto rows0 = board.sequenceRowsApplied();

    // No: the run stays paused while the question is open and after it.
    messages.queueAnswer(zelbo::MsgAnswer::No);
    dlg->close();
    EXPECT_EQ(dlg->pauseState(), zelbo::drive::sequence::kPauseStatePaused);
    QTest::qWait(300);
    EXPECT_EQ(board.sequenceRowsApplied(), rows0) << "a paused run did not move";

    messages.queueAnswer(zelbo::MsgAnswer::Yes);
    dlg->close();
    EXPECT_TRUE(state().idle());
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    EXPECT_EQ(board.dacCode(129), drive().pinHighLevel()) << "ENABLE as the pin panel shows it";
    EXPECT_TRUE(enabled(ctl::kVrefEdit)) << "the drive groups are back";
}

TEST_F(Bench, TheSweepRowIsOffWithoutPowerAndASweepEndsWithThePower)
{
    openReady();
    if (HasFatalFailure()) return;
    for (int id : {ctl::kSweepDown, ctl::kSweepStart, ctl::kSweepUp}) EXPECT_FALSE(enabled(id)) << id;
    clickPower();
    waitLockout();
    if (HasFatalFailure()) return;
    click(ctl::kSweepStart);
    ASSERT_TRUE(state().running(Activity::SweepRun));
    EXPECT_FALSE(enabled(ctl::kClkStart)) << "the CLK group would start a second run";
    clickPower();
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    board.clearLog();
    QTest::qWait(1300); // longer than a sweep step
    EXPECT_EQ(count(writes(), 26), 0u) << "no DAC load on the unpowered board";
    EXPECT_EQ(board.registerValue(160), 0);
    EXPECT_FALSE(window->control<QAbstractButton>(ctl::kSweepStart)->isChecked());
}

TEST_F(Bench, AMonitorWindowClosedWhileRunningStopsItsRun)
{
    powerOnSettled();
    if (HasFatalFailure()) return;
    entries()[4].enter(*this); // monitorRun
    if (HasFatalFailure()) return;
    ASSERT_TRUE(state().running(Activity::MonitorRun));
    features().thermal().monitor()->close();
    EXPECT_TRUE(state().idle());
    EXPECT_FALSE(features().thermal().monitor()->running());
    EXPECT_TRUE(enabled(ctl::kVrefEdit));
}

INSTANTIATE_TEST_SUITE_P(EveryActivity, Interaction, ::testing::ValuesIn(everyEntryWithEveryEvent(entries().size())),
                         [](const ::testing::TestParamInfo<Param>& i) {
                             return std::string(entries()[i.param.entry].name) + "_" +
                                    events()[i.param.event].name;
                         });

} // namespace e2e
