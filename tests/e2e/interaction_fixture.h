#pragma once
// What users combine, shared by the matrices of the program's activities and
// of the oscilloscope's states: the program powered on and settled, the
// events that compete for the board (power off, "Change", closing the
// window, File > Open, starting another activity, a board that vanishes),
// and the check that nothing reached an unpowered board.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include <QAbstractButton>

#include "app/program_features.h"
#include "app/settings_feature.h"
#include "drive/drive_core.h"
#include "drive/ui/drive_feature.h"
#include "engine/instrument_state.h"
#include "files/settings_core.h"
#include "tests/e2e/program_fixture.h"

namespace e2e {

using zelbo::engine::Activity;
using zelbo::engine::InstrumentState;
namespace group = zelbo::engine::group;

class Combined : public Program {
public:
    using Program::clickPower;
    using Program::waitLockout;
    CTQ5170xHWPDlg& win() { return *window; }
    simboard::Control& sim() { return board; }
    zelbo::app::ProgramFeatures& features() { return *window->features(); }
    zelbo::drive::DriveCore& drive() { return features().drive().core(); }
    const InstrumentState& state() { return window->engine().state(); }
    zelbo::RecordingMessageService& msgs() { return messages; }
    std::filesystem::path saved() const { return std::filesystem::path(data.path().toStdString()) / "saved.set"; }

    // Powered on with the scope sweeping, and the set-up File > Open will
    // load saved. `lockout`: wait until the power button takes a click again.
    void powerOnSettled(bool lockout = true)
    {
        openReady();
        if (HasFatalFailure()) return;
        clickPower();
        if (lockout) waitLockout();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(waitUntil([&] { return board.scope().sweepsUploaded >= 2; }, 10000));
        ASSERT_TRUE(features().settings().core().save(saved()));
    }

    void click(int id)
    {
        auto* b = window->control<QAbstractButton>(id);
        ASSERT_NE(b, nullptr) << id;
        QTest::mouseClick(b, Qt::LeftButton);
    }

    bool enabled(int id)
    {
        QWidget* w = window->control(id);
        return w && w->isEnabled();
    }

protected:
    // The register writes after the supply went off: only the power-off
    // sequence's own (the scope stopped, PS low) and, when closing, the
    // shutdown's (every output to 0, the key) may follow.
    void expectNothingWrittenUnpowered()
    {
        const Writes w = writes();
        const auto off = std::find(w.begin(), w.end(), Write{0x01, 0xE0});
        ASSERT_NE(off, w.end()) << "the supply went off";
        for (auto it = off + 1; it != w.end(); ++it) {
            const bool scope = it->first >= 0x70 && it->first <= 0x7F;
            const bool psLow = it->first == 0x22 || it->first == 0x23 || (it->first == 0x1A && it->second == 0x87);
            // Closing: every DAC output to 0, then the shutdown key.
            const bool shutdown = (it->first == 0x1A && it->second == 0x88) || it->first == 0xFF;
            EXPECT_TRUE(scope || psLow || shutdown) << "register " << it->first << " <- " << it->second
                                        << " written to an unpowered board";
        }
    }
};

struct Event {
    const char* name;
    std::function<void(Combined&)> happen;
    // Whether the event can reach the activity: its control is enabled while
    // it runs (otherwise the activity goes on).
    std::function<bool(Activity)> reaches;
    bool closes = false; // the window is gone afterwards
};

inline bool modeGroupOn(Activity a) { return InstrumentState::groupsFor(true, a) & group::kMode; }

inline const std::vector<Event>& events()
{
    static const std::vector<Event> e = {
        {"powerOff",
         [](Combined& f) {
             f.waitLockout();
             f.clickPower();
         },
         [](Activity) { return true; }},
        {"change",
         [](Combined& f) {
             f.msgs().queueAnswer(zelbo::MsgAnswer::Yes); // a dynamic window asks before it finishes
             f.click(ctl::kModeChange);
         },
         modeGroupOn},
        {"close",
         [](Combined& f) {
             f.msgs().queueAnswer(zelbo::MsgAnswer::Ok); // "Closing software. Continue?"
             f.win().close();
         },
         [](Activity) { return true; }, true},
        {"fileOpen",
         [](Combined& f) {
             f.features().settings().setPrompts({}, [p = f.saved()] { return QString::fromStdString(p.string()); });
             f.msgs().queueAnswer(zelbo::MsgAnswer::Yes);
             f.win().onCommand(CTQ5170xHWPDlg::ID_FILE_OPEN);
         },
         [](Activity) { return true; }},
        {"startAnother",
         [](Combined& f) {
             // Calibration from the menu, always at hand; during a calibration
             // the dynamic window.
             if (f.state().running(Activity::Calibration)) f.win().onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
             else f.win().onCommand(CTQ5170xHWPDlg::ID_HELP_CALIBRATE);
         },
         [](Activity) { return false; }},
        {"linkLost", [](Combined& f) { f.sim().setPresent(false); }, [](Activity) { return true; }, true},
    };
    return e;
}

// A case of a matrix: entry (an activity, a state) met by event.
struct Param {
    std::size_t entry, event;
};

inline std::vector<Param> everyEntryWithEveryEvent(std::size_t entries)
{
    std::vector<Param> p;
    for (std::size_t a = 0; a < entries; ++a)
        for (std::size_t e = 0; e < events().size(); ++e) p.push_back({a, e});
    return p;
}

} // namespace e2e
