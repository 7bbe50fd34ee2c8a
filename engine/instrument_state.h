#pragma once
// What the instrument is doing, in one place: whether the DUT is powered,
// which drive mode is active, and the one exclusive activity that runs (a
// counted run, a SWEEP run, dynamic mode, calibration, a temperature-monitor
// run or advance mode). Continuous activities (acquisition, recording, the
// thermometer) may run beside any of them and are not tracked here.
//
// An activity starts only through begin(), which refuses what the state
// forbids and otherwise records how the activity is ended from outside. It
// ends either by itself (finished(): its own stop button, its last step) or
// because something else needs the board (end(): power off, a mode change,
// closing, a settings file, a lost link, or another activity's start). Which
// control groups of the window are enabled follows from the state alone.
//
// Plain C++, no locks: the front end calls it from one thread (the window's
// GUI thread, or the session's caller).

#include <functional>
#include <optional>
#include <string>

#include <boost/signals2/signal.hpp>

namespace zelbo::engine {

enum class Activity { None, CountedRun, SweepRun, Sequence, Calibration, MonitorRun, AdvanceMode };

// Why an activity is ended from outside.
enum class EndCause {
    PowerOff,   // the power switch (or File > New)
    ModeChange, // "Change"
    Closing,    // the window closes, the session ends
    FileOpen,   // a settings file is about to be applied
    LinkLost,   // the board is gone: nothing may be written
};

// The control groups of the main window (bits of its enableGroups mask).
namespace group {
inline constexpr unsigned kScopeChannels = 0x01;
inline constexpr unsigned kScopeSettings = 0x02;
inline constexpr unsigned kReferences = 0x04;
inline constexpr unsigned kMode = 0x08;
inline constexpr unsigned kSenseResistor = 0x10;
inline constexpr unsigned kClockInput = 0x20;
inline constexpr unsigned kSweep = 0x40;  // the SWEEP row: "<", ">", "Start", column and pace
inline constexpr unsigned kWindowGroups = 0x3F; // the six groups of the window's mask
inline constexpr unsigned kAll = 0x7F;
} // namespace group

// The user-facing name of an activity ("a dynamic sequence", ...).
const char* activityName(Activity a);
const char* endCauseName(EndCause c);

class InstrumentState {
public:
    // Ends the running activity from outside. It must stop the activity and
    // put the board back as the window shows it; with `cause` PowerOff,
    // Closing or LinkLost the board is about to be switched off or is gone,
    // so it restores nothing (restores() says which). It may refuse (return
    // false: the user kept the activity, e.g. answered No to a question), in
    // which case whatever asked for the end does not go on.
    using Ender = std::function<bool(EndCause cause)>;

    static bool restores(EndCause cause)
    {
        return cause == EndCause::ModeChange || cause == EndCause::FileOpen;
    }

    bool powered() const { return powered_; }
    int mode() const { return mode_; }
    bool linkUp() const { return linkUp_; }
    Activity activity() const { return activity_; }
    bool idle() const { return activity_ == Activity::None; }
    bool running(Activity a) const { return activity_ == a; }

    // The text that refuses starting `a` now, or nullopt when it may start.
    // Power is needed by every activity but calibration; dynamic mode and
    // the monitor also need drive mode 0.
    std::optional<std::string> refusal(Activity a) const;
    // Starts `a` (nullopt) or returns the refusal and changes nothing.
    std::optional<std::string> begin(Activity a, Ender ender);
    // `a` ended by itself; nothing is run. Ignored when `a` is not running.
    void finished(Activity a);
    // Ends the running activity for `cause` through its ender. True when
    // nothing runs any more (also when nothing ran).
    bool end(EndCause cause);

    // The state transitions the engine makes. Setting power off or losing
    // the link does not end an activity by itself: the engine ends it first.
    // Without a started link the window stays usable (its writes are
    // dropped), so the link's state enables and refuses nothing.
    void setPowered(bool on);
    void setMode(int mode);
    void setLinkUp(bool up);

    // The control groups enabled now: none without power; every group when
    // idle; while an activity runs, those it leaves to the user.
    unsigned enabledGroups() const;
    static unsigned groupsFor(bool powered, Activity a);

    // After every change of power, mode, link or activity.
    boost::signals2::signal<void()> changed;

private:
    void set(Activity a, Ender ender);

    bool powered_ = false;
    int mode_ = 0;
    bool linkUp_ = false;
    Activity activity_ = Activity::None;
    Ender ender_;
    bool ending_ = false;
};

} // namespace zelbo::engine
