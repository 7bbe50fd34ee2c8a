#include "engine/instrument_state.h"

#include <utility>

namespace zelbo::engine {

namespace {
constexpr const char* kPowerFirst = "Please power on software first.";
constexpr const char* kDynamicMode0 = "This option is available in Clk-In mode or Pre-Driver only.";
constexpr const char* kMonitorMode0 = "This option is available in Clk-In mode only.";
} // namespace

const char* activityName(Activity a)
{
    switch (a) {
    case Activity::None: return "nothing";
    case Activity::CountedRun: return "a counted run";
    case Activity::SweepRun: return "a sweep";
    case Activity::Sequence: return "dynamic mode";
    case Activity::Calibration: return "the oscilloscope calibration";
    case Activity::MonitorRun: return "a temperature-monitor run";
    case Activity::AdvanceMode: return "advance mode";
    }
    return "?";
}

const char* endCauseName(EndCause c)
{
    switch (c) {
    case EndCause::PowerOff: return "power off";
    case EndCause::ModeChange: return "mode change";
    case EndCause::Closing: return "closing";
    case EndCause::FileOpen: return "settings file";
    case EndCause::LinkLost: return "board lost";
    }
    return "?";
}

std::optional<std::string> InstrumentState::refusal(Activity a) const
{
    if (a == Activity::None) return std::nullopt;
    // The oscilloscope's front end calibrates with the DUT off as well.
    if (!powered_ && a != Activity::Calibration) return std::string(kPowerFirst);
    if (a == Activity::Sequence && mode_ != 0) return std::string(kDynamicMode0);
    if (a == Activity::MonitorRun && mode_ != 0) return std::string(kMonitorMode0);
    if (activity_ != Activity::None && activity_ != a)
        return std::string("Cannot start ") + activityName(a) + " while " + activityName(activity_) +
               " is running. Stop it first.";
    if (activity_ == a) return std::string(activityName(a)) + " is already running.";
    return std::nullopt;
}

std::optional<std::string> InstrumentState::begin(Activity a, Ender ender)
{
    if (auto why = refusal(a)) return why;
    set(a, std::move(ender));
    return std::nullopt;
}

void InstrumentState::finished(Activity a)
{
    if (activity_ != a || a == Activity::None) return;
    set(Activity::None, {});
}

bool InstrumentState::end(EndCause cause)
{
    if (activity_ == Activity::None) return true;
    if (ending_) return false; // an ender that asks for its own end
    const Activity was = activity_;
    Ender ender = ender_;
    bool ended = true;
    if (ender) {
        ending_ = true;
        try {
            ended = ender(cause);
        } catch (...) {
            ending_ = false;
            throw;
        }
        ending_ = false;
    }
    // The ender may have reported the end itself (finished()); a refusal
    // keeps the activity.
    if (!ended && activity_ == was) return false;
    if (activity_ == was) set(Activity::None, {});
    return true;
}

void InstrumentState::setPowered(bool on)
{
    if (powered_ == on) return;
    powered_ = on;
    changed();
}

void InstrumentState::setMode(int mode)
{
    if (mode_ == mode) return;
    mode_ = mode;
    changed();
}

void InstrumentState::setLinkUp(bool up)
{
    if (linkUp_ == up) return;
    linkUp_ = up;
    changed();
}

unsigned InstrumentState::groupsFor(bool powered, Activity a)
{
    using namespace group;
    if (!powered) return 0;
    switch (a) {
    case Activity::None: return kAll;
    // The CLK "Start" toggle stops the run; the SWEEP row would start a
    // second one.
    case Activity::CountedRun: return kAll & ~kSweep;
    // The sweep's "Start" stops it; the CLK group would start a second
    // run beside it.
    case Activity::SweepRun: return kAll & ~kClockInput;
    // The board plays the table: the drive controls are the dynamic
    // window's; the oscilloscope stays the user's.
    case Activity::Sequence: return kScopeChannels | kScopeSettings;
    // The monitor's steps set VREF, MTH and the pins; "Change" stays, and
    // stops the run first.
    case Activity::MonitorRun: return kScopeChannels | kScopeSettings | kMode;
    case Activity::Calibration: return 0;
    // Advance mode runs the clock and the pins from its own window.
    case Activity::AdvanceMode: return kAll & ~(kClockInput | kSweep);
    }
    return 0;
}

unsigned InstrumentState::enabledGroups() const { return groupsFor(powered_, activity_); }

void InstrumentState::set(Activity a, Ender ender)
{
    activity_ = a;
    ender_ = std::move(ender);
    changed();
}

} // namespace zelbo::engine
