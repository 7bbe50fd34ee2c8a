// The instrument's state on its own: which activity may start when, what ends
// it, and which control groups follow.

#include <gtest/gtest.h>

#include <vector>

#include "engine/instrument_state.h"

using namespace zelbo::engine;

namespace {

constexpr Activity kActivities[] = {Activity::CountedRun, Activity::SweepRun,  Activity::Sequence,
                                    Activity::Calibration, Activity::MonitorRun, Activity::AdvanceMode};
constexpr EndCause kCauses[] = {EndCause::PowerOff, EndCause::ModeChange, EndCause::Closing, EndCause::FileOpen,
                                EndCause::LinkLost};

InstrumentState poweredState()
{
    InstrumentState s;
    s.setLinkUp(true);
    s.setPowered(true);
    return s;
}

} // namespace

TEST(InstrumentState, EveryActivityEndsForEveryCauseThroughItsEnder)
{
    for (Activity a : kActivities) {
        for (EndCause c : kCauses) {
            InstrumentState s = poweredState();
            std::vector<EndCause> seen;
            ASSERT_FALSE(s.begin(a, [&](EndCause why) {
                seen.push_back(why);
                return true;
            })) << activityName(a);
            EXPECT_EQ(s.activity(), a);
            int changes = 0;
            boost::signals2::scoped_connection conn = s.changed.connect([&] { ++changes; });
            EXPECT_TRUE(s.end(c));
            EXPECT_EQ(seen, std::vector<EndCause>{c}) << activityName(a) << " / " << endCauseName(c);
            EXPECT_TRUE(s.idle());
            EXPECT_EQ(changes, 1);
            EXPECT_EQ(s.enabledGroups(), group::kAll) << "idle and powered: every group";
        }
    }
}

TEST(InstrumentState, AnEnderThatReportsTheEndItselfOrKeepsTheActivity)
{
    InstrumentState s = poweredState();
    // The ender reports the end through finished(), as a window's own stop does.
    s.begin(Activity::Sequence, [&](EndCause) {
        s.finished(Activity::Sequence);
        return true;
    });
    EXPECT_TRUE(s.end(EndCause::ModeChange));
    EXPECT_TRUE(s.idle());

    // The user answered No: the activity stays and the caller must not go on.
    s.begin(Activity::Sequence, [](EndCause) { return false; });
    EXPECT_FALSE(s.end(EndCause::ModeChange));
    EXPECT_TRUE(s.running(Activity::Sequence));

    // An ender that asks for its own end (through a power-off it causes) is
    // not entered twice.
    InstrumentState t = poweredState();
    int calls = 0;
    t.begin(Activity::AdvanceMode, [&](EndCause) {
        ++calls;
        EXPECT_FALSE(t.end(EndCause::PowerOff));
        return true;
    });
    EXPECT_TRUE(t.end(EndCause::Closing));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(t.idle());

    // Nothing runs: ending is a no-op that lets the caller go on.
    EXPECT_TRUE(t.end(EndCause::PowerOff));
}

TEST(InstrumentState, RefusesWhatTheStateForbids)
{
    InstrumentState off;
    for (Activity a : kActivities) {
        const auto why = off.refusal(a);
        if (a == Activity::Calibration) {
            EXPECT_FALSE(why) << "the front end calibrates with the DUT off";
        } else {
            ASSERT_TRUE(why) << activityName(a);
            EXPECT_EQ(*why, "Please power on software first.");
        }
    }
    EXPECT_TRUE(off.begin(Activity::SweepRun, {}));
    EXPECT_TRUE(off.idle());

    InstrumentState mode1 = poweredState();
    mode1.setMode(1);
    EXPECT_EQ(mode1.refusal(Activity::Sequence).value_or(""),
              "This option is available in Clk-In mode or Pre-Driver only.");
    EXPECT_EQ(mode1.refusal(Activity::MonitorRun).value_or(""), "This option is available in Clk-In mode only.");
    EXPECT_FALSE(mode1.refusal(Activity::AdvanceMode));

    // One exclusive activity at a time, whichever pair.
    for (Activity running : kActivities) {
        for (Activity next : kActivities) {
            InstrumentState s = poweredState();
            s.begin(running, [](EndCause) { return true; });
            const auto why = s.begin(next, [](EndCause) { return true; });
            ASSERT_TRUE(why) << activityName(running) << " then " << activityName(next);
            EXPECT_EQ(s.activity(), running) << "a refused start changes nothing";
            if (running != next) {
                EXPECT_NE(why->find(activityName(running)), std::string::npos) << *why;
            }
        }
    }
}

TEST(InstrumentState, ControlGroupsFollowTheState)
{
    for (Activity a : kActivities) {
        EXPECT_EQ(InstrumentState::groupsFor(false, a), 0u) << "unpowered: " << activityName(a);
        const unsigned g = InstrumentState::groupsFor(true, a);
        // Only a SWEEP run keeps the SWEEP row (its "Start" stops it).
        EXPECT_EQ((g & group::kSweep) != 0, a == Activity::SweepRun) << activityName(a);
        // The clock group starts a counted run: only a counted run keeps it
        // (its "Start" stops it).
        EXPECT_EQ((g & group::kClockInput) != 0, a == Activity::CountedRun) << activityName(a);
    }
    EXPECT_EQ(InstrumentState::groupsFor(true, Activity::Calibration), 0u);
    EXPECT_EQ(InstrumentState::groupsFor(true, Activity::Sequence), group::kScopeChannels | group::kScopeSettings);

    InstrumentState s = poweredState();
    s.begin(Activity::MonitorRun, {});
    EXPECT_EQ(s.enabledGroups() & (group::kReferences | group::kSenseResistor), 0u)
        << "the monitor drives VREF, MTH and the pins";
    EXPECT_NE(s.enabledGroups() & group::kMode, 0u) << "\"Change\" stops the run";
    s.setPowered(false);
    EXPECT_EQ(s.enabledGroups(), 0u);
}
