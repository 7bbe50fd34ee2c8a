// What users combine, on the oscilloscope: each of its states (Run on and
// off, the trigger modes with their armed, triggered and waiting states,
// holdoff, a recording, a math channel with the spectrum dock and a zoomed
// chart) met by every event that competes for the board (the events of the
// activity matrix). After each case the board's scope does what the window
// shows: acquisition runs exactly while Run is on, with the shown channels,
// the trigger channel, armed bit, level and slope as set; a Single is
// neither left armed on an unpowered board nor fired twice; a recording's
// file is whole and holds the sweeps the recorder counted; nothing starts
// acquisition on an unpowered board; and after power on again the scope is
// in the state the window shows.
//
// A state is one more entry in its table.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QToolButton>

#include "drive/ui/mode_dlg.h"
#include "scope/chart/line_chart.h"
#include "scope/record/recording_format.h"
#include "scope/scope_core.h"
#include "scope/ui/analysis_tools.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/instrument.h"
#include "scope/ui/scope_binder.h"
#include "tests/e2e/interaction_fixture.h"

namespace e2e {
namespace {

using zelbo::scope::ScopeBinder;
using zelbo::scope::ScopeCore;
using zelbo::scope::TriggerMode;
using zelbo::scope::TriggerState;
using Phase = simboard::ScopeState::Phase;

// The board's trigger level code of a level no sample reaches ("parked").
constexpr std::uint16_t kParkedCode = 0xFFF;

class ScopeCombined : public Combined {
public:
    ScopeCore& scope() { return features().scopeCore(); }
    zelbo::scope::ScopeInstrument& instrument() { return features().instrument(); }
    QAbstractButton* button(int id) { return window->control<QAbstractButton>(id); }
    QComboBox* combo(int id) { return window->control<QComboBox>(id); }
    // The window's 100 ms refresh, at once.
    void refresh() { window->hooks().chartRefresh(); }
    bool runShown() { return button(ctl::kRun)->isChecked(); }
    QString stateShown() { return window->control<QLabel>(ctl::kTriggerState)->text(); }
    QDoubleSpinBox* holdoff() { return window->control<QDoubleSpinBox>(ctl::kHoldoff); }
    QString dataPath(const char* name) const { return data.filePath(QString::fromUtf8(name)); }
    QString shown(TriggerState s) { return ScopeBinder::shownText(s); }

    void setMode(TriggerMode m) { combo(ctl::kTriggerMode)->setCurrentIndex(static_cast<int>(m)); }
    // The trigger on CH1, measuring OUT1A as a voltage, at `volts`, rising.
    void triggerOnCh1At(const char* volts)
    {
        combo(ctl::channelSource(0))->setCurrentIndex(0);
        click(ctl::triggerChannel(0));
        if (!button(ctl::kTriggerOn)->isChecked()) click(ctl::kTriggerOn); // enables the level edit
        type(ctl::kVoltageLevelEdit, volts);
    }
    // The trigger on CH1 at `volts` in `mode`: sweeps come, shown as `state`.
    void sweepingOn(TriggerMode mode, const char* volts, TriggerState state)
    {
        setMode(mode);
        triggerOnCh1At(volts);
        ASSERT_TRUE(sweeps(2)) << "no sweep at " << volts << " V";
        refresh();
        EXPECT_EQ(stateShown(), shown(state));
    }
    // Waits for `n` more sweeps converted.
    bool sweeps(std::uint64_t n, int ms = 5000)
    {
        const auto s = scope().sweepsConverted();
        return waitUntil([&] { return scope().sweepsConverted() >= s + n; }, ms);
    }
    // Waits until the writes are out and the window has shown what the core does.
    void settle()
    {
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        // Run: the reader arms the board and says what it waits for.
        waitUntil([&] { return !scope().running() || scope().triggerState() != TriggerState::Stopped; }, 3000);
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        refresh();
    }

    // ---- per state, what the case remembers and checks -----------------------
    QString recording;                    // the file being recorded
    std::uint64_t recordedBefore = 0;     // sweeps in it when the event came
    std::uint64_t sweepsAtEntry = 0;      // sweeps converted once entered
    std::string eventName;                // the event now met
    bool mathKept = true;                 // File > Open brings no math channels
    static constexpr int kM1Row = zelbo::scope::kChannels;
};

struct Entry {
    const char* name;
    std::function<void(ScopeCombined&)> enter;
    // After the event, with the window still open (`poweredAgain`: after a
    // power off and on); the generic comparison has been made.
    std::function<void(ScopeCombined&, bool poweredAgain)> after = {};
};

// The level never crossed: the driver's outputs swing between 0 and its 5 V supply.
constexpr const char* kNeverCrossed = "30.000";

const std::vector<Entry>& entries()
{
    static const std::vector<Entry> e = {
        {"freeRun", [](ScopeCombined& f) { ASSERT_TRUE(f.sweeps(2)); }},
        {"stopped",
         [](ScopeCombined& f) {
             f.click(ctl::kRun);
             ASSERT_FALSE(f.runShown());
         }},
        {"channelHidden",
         [](ScopeCombined& f) {
             f.click(ctl::channelToggle(1)); // CH2 off: its trace goes, its acquisition stays
             ASSERT_FALSE(f.button(ctl::channelToggle(1))->isChecked());
         }},
        // OUT1A crosses 2.5 V.
        {"normalTriggered", [](ScopeCombined& f) { f.sweepingOn(TriggerMode::Normal, "2.500", TriggerState::Triggered); }},
        // Auto sweeps without a trigger.
        {"autoForced", [](ScopeCombined& f) { f.sweepingOn(TriggerMode::Auto, kNeverCrossed, TriggerState::Auto); }},
        {"singleArmed",
         [](ScopeCombined& f) {
             // Set up while stopped, so that no sweep under way is taken.
             f.triggerOnCh1At(kNeverCrossed);
             f.click(ctl::kRun); // off
             f.setMode(TriggerMode::Single);
             f.click(ctl::kRun); // on: armed
             f.settle();
             EXPECT_EQ(f.stateShown(), f.shown(TriggerState::Armed));
         },
         [](ScopeCombined& f, bool poweredAgain) {
             // Never triggered: nothing was taken, before or after power on.
             // The file opened has the trigger off: the Single takes its
             // sweep at once, and the load's power-on sequence presses Run
             // once more, for one more.
             const std::uint64_t taken = f.eventName == "fileOpen" ? 2 : 0;
             EXPECT_EQ(f.scope().sweepsConverted(), f.sweepsAtEntry + taken) << "sweeps the Single took";
             if (f.runShown()) {
                 EXPECT_EQ(f.stateShown(), f.shown(TriggerState::Armed));
                 EXPECT_EQ(f.sim().scope().phase, Phase::WaitingForTrigger) << "shown armed";
             }
             if (poweredAgain) {
                 EXPECT_TRUE(f.runShown()) << "power on arms it again";
             }
         }},
        {"singleTaken",
         [](ScopeCombined& f) {
             f.click(ctl::kRun); // off
             f.setMode(TriggerMode::Single);
             f.click(ctl::kRun); // on: one sweep at once (trigger off)
             ASSERT_TRUE(waitUntil([&] { return !f.scope().running(); }, 5000)) << "the Single sweep";
             f.refresh();
             EXPECT_FALSE(f.runShown());
         },
         [](ScopeCombined& f, bool poweredAgain) {
             // Power on, and the power-on sequence a settings file reruns,
             // press Run: exactly one more sweep, then stopped.
             const bool rerun = poweredAgain || f.eventName == "fileOpen";
             if (rerun) {
                 ASSERT_TRUE(waitUntil([&] { return !f.scope().running(); }, 5000));
             }
             f.settle();
             EXPECT_FALSE(f.runShown());
             EXPECT_EQ(f.scope().sweepsConverted(), f.sweepsAtEntry + (rerun ? 1 : 0))
                 << "a Single taken fired again";
         }},
        {"holdoff",
         [](ScopeCombined& f) {
             f.holdoff()->setValue(60.0);
             ASSERT_TRUE(f.sweeps(2));
         }},
        {"recording",
         [](ScopeCombined& f) {
             // CH1 on another source than the settings file saved has: the
             // file opened changes what a recorded channel measures.
             auto* source = f.combo(ctl::channelSource(0));
             source->setCurrentIndex(source->currentIndex() == 0 ? 1 : 0);
             ASSERT_TRUE(f.sweeps(1));
             f.recording = f.dataPath("rec.zrec");
             ASSERT_TRUE(f.instrument().startRecordingTo(f.recording));
             ASSERT_TRUE(f.sweeps(2));
         },
         [](ScopeCombined& f, bool poweredAgain) {
             auto& rec = f.instrument().recorder();
             if (f.eventName == "fileOpen") {
                 // It stops by itself, says so, and Record is released.
                 EXPECT_TRUE(waitUntil([&] { return !rec.status().active; }, 5000));
                 f.refresh();
                 EXPECT_EQ(rec.status().reason, zelbo::scope::RecordStop::SourceChanged);
                 EXPECT_FALSE(f.instrument().recordButton()->isChecked());
                 ASSERT_FALSE(f.msgs().shown().empty());
                 EXPECT_NE(f.msgs().shown().back().text.find("source changed"), std::string::npos)
                     << f.msgs().shown().back().text;
                 return;
             }
             // Otherwise not an end of its own: the recording goes on, and
             // takes the sweeps after power on.
             EXPECT_TRUE(rec.status().active);
             if (poweredAgain) {
                 const auto before = rec.status().sweeps;
                 EXPECT_TRUE(waitUntil([&] { return rec.status().sweeps >= before + 2; }, 5000));
             }
         }},
        {"analysis",
         [](ScopeCombined& f) {
             auto& tools = f.instrument().analysis();
             zelbo::scope::analysis::MathSetups setups{};
             setups[0].on = true;
             setups[0].expression = "CH1 * 2";
             tools.applySetups(setups);
             ASSERT_TRUE(tools.math().on(0));
             tools.setSpectrumShown(true);
             // A zoom: a drag across the middle of the plot.
             auto& chart = f.features().chart();
             const QRect plot = chart.plotRect();
             chart.leftPress(plot.center() - QPoint(100, 60));
             chart.mouseMove(plot.center() + QPoint(100, 60));
             chart.leftRelease(plot.center() + QPoint(100, 60));
             ASSERT_TRUE(chart.zoomed());
             ASSERT_TRUE(f.sweeps(2));
         },
         [](ScopeCombined& f, bool) {
             auto& tools = f.instrument().analysis();
             // The file opened was saved without math channels: they go.
             EXPECT_EQ(tools.math().on(0), f.mathKept);
             EXPECT_EQ(f.instrument().rowShown(ScopeCombined::kM1Row), tools.math().on(0));
             ASSERT_NE(tools.spectrumPanel(), nullptr);
             EXPECT_TRUE(tools.spectrumPanel()->isVisibleTo(&f.win())) << "the dock stays";
         }},
    };
    return e;
}

class ScopeInteraction : public ScopeCombined, public ::testing::WithParamInterface<Param> {
protected:
    // Nothing starts acquisition on an unpowered board: after the supply went
    // off the acquisition control register is only ever written stopped.
    void expectNoAcquisitionUnpowered()
    {
        const Writes w = writes();
        const auto off = std::find(w.begin(), w.end(), Write{0x01, 0xE0});
        ASSERT_NE(off, w.end()) << "the supply went off";
        for (auto it = off + 1; it != w.end(); ++it)
            if (it->first == 0x70) {
                EXPECT_EQ(it->second & 0x0F, 0) << "acquisition started on an unpowered board";
            }
    }

    // The board's scope against the window's oscilloscope controls.
    void expectScopeEqualsWindow()
    {
        settle();
        if (HasFatalFailure()) return;
        const bool run = runShown();
        EXPECT_EQ(scope().running(), run) << "the Run button against the acquisition";
        const simboard::ScopeState b = board.scope();
        if (!run) {
            EXPECT_EQ(b.phase, Phase::Stopped) << "the board acquires behind a Run button that is off";
            EXPECT_EQ(stateShown(), shown(TriggerState::Stopped));
        } else {
            EXPECT_NE(b.phase, Phase::Stopped) << "Run is on, the board is stopped";
            EXPECT_EQ(b.control & 0x0F, scope().controlValue() & 0x0F);
            for (int n = 0; n < 4; ++n)
                if (button(ctl::channelToggle(n))->isChecked()) {
                    EXPECT_TRUE(b.control & (1u << n)) << "CH" << n + 1 << " shown but not acquired";
                }
            int radio = -1;
            for (int t = 0; t < 4; ++t)
                if (button(ctl::triggerChannel(t))->isChecked()) radio = t;
            EXPECT_EQ(b.control >> 6, radio) << "the trigger channel";
            const bool triggerOn = button(ctl::kTriggerOn)->isChecked();
            const auto mode = static_cast<TriggerMode>(combo(ctl::kTriggerMode)->currentIndex());
            const double holdoffMs = holdoff()->value();
            // Normal without holdoff, and a Single that waits, leave the
            // board's trigger as set; Auto and holdoff move it on their own.
            const QString st = stateShown();
            if ((mode == TriggerMode::Normal && holdoffMs == 0) || st == shown(TriggerState::Armed)) {
                EXPECT_EQ(b.triggerArmed, triggerOn) << "armed bit, state " << st.toStdString();
                if (triggerOn) {
                    EXPECT_NE(b.triggerCode, kParkedCode) << "a parked trigger behind " << st.toStdString();
                    EXPECT_EQ(b.fallingSlope, scope().slopeMinus());
                }
            }
            if (st == shown(TriggerState::Armed)) {
                // Waiting (or just triggered): what it does next is the
                // state's own to check.
            } else if (mode == TriggerMode::Single) {
                // Its one sweep, then Run goes off with the board stopped.
                EXPECT_TRUE(waitUntil([&] { return !scope().running(); }, 5000)) << "the Single never ended";
                settle();
                EXPECT_FALSE(runShown());
                EXPECT_EQ(board.scope().phase, Phase::Stopped);
            } else {
                EXPECT_TRUE(sweeps(2)) << "shown " << st.toStdString() << ", but no sweep comes";
            }
        }
        // The chart draws the channels whose toggles are on.
        for (int n = 0; n < 4; ++n)
            EXPECT_EQ(features().chart().hasTrace(zelbo::scope::channelKey(n)), button(ctl::channelToggle(n))->isChecked())
                << "CH" << n + 1;
        // The "1:1" button says whether the chart is zoomed.
        if (auto* view = features().chartView()) {
            view->repaint();
            EXPECT_EQ(view->zoomOutButton()->isEnabled(), features().chart().zoomed());
        }
    }

    // The recording's file: readable, whole records in order, as many as counted.
    void expectRecordingWhole(std::optional<std::uint64_t> counted)
    {
        if (recording.isEmpty()) return;
        zelbo::scope::recording::Header h;
        std::uint64_t n = 0, first = 0;
        bool inOrder = true;
        std::string error;
        ASSERT_TRUE(zelbo::scope::recording::readFile(recording.toStdString(), h, [&](const auto& s) {
            if (n == 0) first = s.index;
            inOrder = inOrder && s.index == first + n;
            ++n;
            return true;
        }, &error)) << error;
        EXPECT_TRUE(inOrder) << "a sweep is missing or out of order";
        EXPECT_EQ(std::filesystem::file_size(recording.toStdString()), h.dataOffset + n * h.recordBytes)
            << "a partial record";
        if (counted) {
            EXPECT_EQ(n, *counted) << "sweeps in the file against the recorder's count";
        }
        else EXPECT_GE(n, recordedBefore);
    }
};

} // namespace

TEST_P(ScopeInteraction, TheBoardsScopeDoesWhatTheWindowShows)
{
    const Entry& entry = entries()[GetParam().entry];
    const Event& event = events()[GetParam().event];
    const std::string ev = event.name;
    powerOnSettled(false);
    if (HasFatalFailure()) return;
    entry.enter(*this);
    if (HasFatalFailure()) return;
    settle();
    if (HasFatalFailure()) return;
    sweepsAtEntry = scope().sweepsConverted();
    eventName = ev;
    if (!recording.isEmpty()) recordedBefore = instrument().recorder().status().sweeps;
    const bool ranBefore = runShown();
    board.clearLog();
    messages.clear();

    event.happen(*this);
    if (event.closes) {
        ASSERT_TRUE(waitUntil([&] { return !window->isVisible(); }, 8000)) << "the window closes";
        window.reset();
        expectRecordingWhole(std::nullopt);
        if (ev != "linkLost") {
            EXPECT_EQ(board.scope().phase, Phase::Stopped) << "the scope left running";
            expectNothingWrittenUnpowered();
            expectNoAcquisitionUnpowered();
        }
        return;
    }
    bool poweredAgain = false;
    if (ev == "powerOff") {
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        expectNothingWrittenUnpowered();
        expectNoAcquisitionUnpowered();
        expectScopeEqualsWindow();
        EXPECT_EQ(board.scope().phase, Phase::Stopped) << "the scope runs on an unpowered board";
        if (entry.after) entry.after(*this, false);
        // On again: the scope is what the window shows.
        waitLockout();
        clickPower();
        poweredAgain = true;
    } else if (ev == "change") {
        // The mode dialog, taken with the mode as it is.
        auto& dlg = features().drive().modeDialog();
        ASSERT_TRUE(waitUntil([&] { return dlg.isVisible(); }, 3000));
        QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
    } else if (ev == "startAnother") {
        // The calibration stops Run and runs to its end.
        ASSERT_TRUE(waitUntil([&] { return state().idle(); }, 10000)) << "the calibration ends";
    } else if (ev == "fileOpen") {
        mathKept = false;
    }
    expectScopeEqualsWindow();
    if (HasFatalFailure()) return;
    // Run after the event: pressed by power on and by the power-on sequence a
    // settings file reruns, released by a calibration, kept by "Change". (A
    // Single ends by itself: its state checks it.)
    if (static_cast<TriggerMode>(combo(ctl::kTriggerMode)->currentIndex()) != TriggerMode::Single) {
        const bool expected = poweredAgain || ev == "fileOpen" || (ev == "change" && ranBefore);
        EXPECT_EQ(runShown(), expected) << "Run after " << ev;
    }
    if (entry.after) entry.after(*this, poweredAgain);
    if (!recording.isEmpty()) {
        instrument().stopRecording();
        const auto st = instrument().recorder().status();
        EXPECT_EQ(st.reason, ev == "fileOpen" ? zelbo::scope::RecordStop::SourceChanged : zelbo::scope::RecordStop::User);
        expectRecordingWhole(st.sweeps);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryState, ScopeInteraction, ::testing::ValuesIn(everyEntryWithEveryEvent(entries().size())),
                         [](const ::testing::TestParamInfo<Param>& i) {
                             return std::string(entries()[i.param.entry].name) + "_" +
                                    events()[i.param.event].name;
                         });

} // namespace e2e
