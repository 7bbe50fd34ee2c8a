// The soak against a chamber and a junction modelled in the test, on a clock
// that moves only when the soak sleeps: hours of chamber time in milliseconds.

#include "campaign/soak.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace zelbo::campaign {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A test clock and a chamber whose air follows its set point at a limited
// ramp rate through a first-order lag, with a DUT junction following the air
// (plus its self-heating) with its own time constant. Both are stepped by the
// soak's sleeps.
struct Bench {
    Clock::time_point t0 = Clock::time_point{} + 1000h;
    Clock::time_point now = t0;

    double setpoint = 25.0;
    double controlled = 25.0;      // the ramped set point the controller regulates to
    double air = 25.0;
    double rampPerSecond = 5.0 / 60.0; // 5 degrees a minute
    double airLag = 30.0;          // s
    double tj = 25.0;
    double tjRise = 3.0;           // self-heating above ambient
    double tjTau = 20.0;           // s
    double tjNoise = 0.0;          // amplitude of a slow swing on the Tj reading

    // Faults: silent between these times (seconds from t0), a reading stuck.
    double silentFrom = -1, silentTo = -1;
    std::optional<double> stuckAt;

    std::vector<double> setpointCalls; // seconds from t0 of every setSetpoint
    std::vector<double> setpointValues;
    std::vector<std::string> lines;
    std::vector<std::string> states;

    double seconds() const { return std::chrono::duration<double>(now - t0).count(); }
    bool silent() const { return seconds() >= silentFrom && seconds() < silentTo; }

    void step(double dt)
    {
        const double d = setpoint - controlled;
        controlled += std::clamp(d, -rampPerSecond * dt, rampPerSecond * dt);
        air = controlled + (air - controlled) * std::exp(-dt / airLag);
        const double target = air + tjRise;
        tj = target + (tj - target) * std::exp(-dt / tjTau);
    }

    SoakHooks hooks()
    {
        SoakHooks h;
        h.now = [this] { return now; };
        h.sleep = [this](std::chrono::milliseconds d) {
            step(double(d.count()) / 1000.0);
            now += d;
        };
        h.tj = [this]() -> std::optional<double> {
            return tj + tjNoise * std::sin(seconds() / 7.0);
        };
        h.log = [this](const std::string& l) { lines.push_back(l); };
        h.sample = [this](double, std::optional<double>, const char* s) { states.push_back(s); };
        return h;
    }

    bool logged(const std::string& part) const
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
};

class FakeChamber : public Chamber {
public:
    explicit FakeChamber(Bench& b) : b_(b) {}
    bool setSetpoint(double c) override
    {
        b_.setpointCalls.push_back(b_.seconds());
        b_.setpointValues.push_back(c);
        if (b_.silent()) return false;
        b_.setpoint = c;
        return true;
    }
    std::optional<double> air() override
    {
        if (b_.silent()) return std::nullopt;
        return b_.stuckAt ? *b_.stuckAt : b_.air;
    }
    std::string describe() const override { return "fake"; }

private:
    Bench& b_;
};

SoakPlan quickPlan()
{
    SoakPlan p;
    p.window = 1.0;
    p.tjBand = 0.2;
    p.tjStableFor = 60s;
    p.maxSoak = 1800s;
    p.chamberSilenceLimit = 300s;
    return p;
}

TEST(Soak, SettlesOnceTjHoldsAndTheJunctionHasFollowedTheAir)
{
    Bench b;
    FakeChamber c(b);
    EXPECT_EQ(settle(c, 85.0, quickPlan(), b.hooks()), SoakResult::Settled);
    // The air had to ramp 60 degrees at 5 a minute, and Tj to follow it.
    EXPECT_GT(b.seconds(), 12 * 60.0);
    EXPECT_LT(b.seconds(), 1800.0);
    EXPECT_NEAR(b.tj, 85.0 + b.tjRise, 1.0);
    EXPECT_TRUE(b.logged("within the window"));
    EXPECT_TRUE(b.logged("settled after"));
    ASSERT_FALSE(b.states.empty());
    EXPECT_EQ(b.states.front(), "ramp");
    EXPECT_EQ(b.states.back(), "settled");
}

TEST(Soak, TjThatNeverHoldsEndsAtTheBoundWithTheReason)
{
    Bench b;
    b.tjNoise = 2.0;
    FakeChamber c(b);
    auto plan = quickPlan();
    plan.maxSoak = 900s;
    EXPECT_EQ(settle(c, 40.0, plan, b.hooks()), SoakResult::SoakTimedOut);
    EXPECT_NEAR(b.seconds(), 900.0, 2.0);
    EXPECT_TRUE(b.logged("Tj did not hold"));
}

TEST(Soak, FixedSoakCountsFromTheWindowAndIgnoresTj)
{
    Bench b;
    b.tjNoise = 2.0; // would never hold
    FakeChamber c(b);
    auto plan = quickPlan();
    plan.fixedSoak = 600s;
    EXPECT_EQ(settle(c, 45.0, plan, b.hooks()), SoakResult::Settled);
    // The ramp of 20 degrees takes about five minutes, then ten of soak.
    EXPECT_GT(b.seconds(), 600.0 + 200.0);
    EXPECT_LT(b.seconds(), 600.0 + 500.0);
    EXPECT_TRUE(b.logged("fixed soak of 600 s"));
}

TEST(Soak, SilentChamberIsRetriedWithGrowingPausesAndTheWaitResumes)
{
    Bench b;
    b.silentFrom = 30;
    b.silentTo = 100;
    FakeChamber c(b);
    auto plan = quickPlan();
    plan.maxSoak = 1200s; // the 70 s of silence must not count against it
    EXPECT_EQ(settle(c, 70.0, plan, b.hooks()), SoakResult::Settled);
    EXPECT_TRUE(b.logged("does not answer"));
    EXPECT_TRUE(b.logged("answers again"));
    // Retries at growing intervals: 1, 2, 4, 8 ... seconds apart.
    std::vector<double> gaps;
    for (std::size_t i = 2; i < b.setpointCalls.size(); ++i)
        gaps.push_back(b.setpointCalls[i] - b.setpointCalls[i - 1]);
    ASSERT_GE(gaps.size(), 4u);
    for (std::size_t i = 1; i + 1 < gaps.size(); ++i)
        EXPECT_GT(gaps[i], gaps[i - 1] * 1.5) << "gap " << i;
    // The silence fell into the ramp; one during the soak starts it again.
    EXPECT_FALSE(b.logged("soak starts again"));
    Bench s;
    s.silentFrom = 600; // the air is in the window by then, Tj not yet settled
    s.silentTo = 620;
    FakeChamber sc(s);
    EXPECT_EQ(settle(sc, 70.0, plan, s.hooks()), SoakResult::Settled);
    EXPECT_TRUE(s.logged("soak starts again"));
    EXPECT_GT(s.seconds(), 620.0 + 60.0);
    // The set point went out again when the chamber came back.
    EXPECT_EQ(b.setpointValues.back(), 70.0);
    EXPECT_GE(b.setpointCalls.back(), 100.0);
}

TEST(Soak, ChamberSilentBeyondTheLimitIsLostWithTheSafeSetpointTried)
{
    Bench b;
    b.silentFrom = 10;
    b.silentTo = 1e9;
    FakeChamber c(b);
    auto plan = quickPlan();
    plan.chamberSilenceLimit = 120s;
    plan.safeSetpoint = 23.0;
    EXPECT_EQ(settle(c, -40.0, plan, b.hooks()), SoakResult::ChamberLost);
    EXPECT_NEAR(b.seconds(), 10.0 + 120.0, 2.0);
    EXPECT_EQ(b.setpointValues.back(), 23.0);
    EXPECT_TRUE(b.logged("campaign ends"));
    // Even a chamber that is silent from the start is given the whole limit.
    Bench d;
    d.silentFrom = 0;
    d.silentTo = 1e9;
    FakeChamber dc(d);
    EXPECT_EQ(settle(dc, 50.0, plan, d.hooks()), SoakResult::ChamberLost);
    EXPECT_NEAR(d.seconds(), 120.0, 1.0);
}

TEST(Soak, ReadingStuckOffSetpointIsLoggedAndBoundedByMaxSoak)
{
    Bench b;
    b.stuckAt = 31.5;
    FakeChamber c(b);
    auto plan = quickPlan();
    plan.maxSoak = 600s;
    EXPECT_EQ(settle(c, 60.0, plan, b.hooks()), SoakResult::SoakTimedOut);
    EXPECT_NEAR(b.seconds(), 600.0, 2.0);
    EXPECT_TRUE(b.logged("stuck at 31.50"));
    EXPECT_TRUE(b.logged("the reading was stuck"));
}

TEST(Soak, StopRequestIsSeenWithinATenthOfASecond)
{
    for (double stopAt : {5.55, 45.02}) { // while ramping; while the chamber is silent
        Bench b;
        b.silentFrom = 40;
        b.silentTo = 1e9;
        FakeChamber c(b);
        auto h = b.hooks();
        h.interrupted = [&] { return b.seconds() >= stopAt; };
        EXPECT_EQ(settle(c, 100.0, quickPlan(), h), SoakResult::Interrupted);
        EXPECT_GE(b.seconds(), stopAt);
        EXPECT_LE(b.seconds(), stopAt + 0.1);
    }
}

TEST(Soak, NonNumericTemperatureIsRefusedAndTheChamberMadeSafe)
{
    Bench b;
    FakeChamber c(b);
    EXPECT_EQ(settle(c, std::nan(""), quickPlan(), b.hooks()), SoakResult::ChamberLost);
    ASSERT_EQ(b.setpointValues.size(), 1u);
    EXPECT_EQ(b.setpointValues[0], 25.0);
    EXPECT_EQ(b.seconds(), 0.0);
}

// The time the junction's own temperature saves over a fixed soak long enough
// for any point of the plan: the same chamber and junction, 25 -> 125 degrees.
TEST(Soak, TimeSavedByWatchingTjOverAFixedSoak)
{
    auto run = [](std::optional<std::chrono::seconds> fixed) {
        Bench b;
        FakeChamber c(b);
        auto plan = quickPlan();
        plan.fixedSoak = fixed;
        plan.maxSoak = 3600s;
        EXPECT_EQ(settle(c, 125.0, plan, b.hooks()), SoakResult::Settled);
        return b.seconds();
    };
    const double byTj = run(std::nullopt);
    const double byTime = run(15min);
    std::printf("soak 25 -> 125 degC: by Tj %.0f s, fixed 15 min %.0f s, saved %.0f s (%.0f %%)\n", byTj, byTime,
                byTime - byTj, 100.0 * (byTime - byTj) / byTime);
    EXPECT_LT(byTj, byTime);
}

} // namespace
} // namespace zelbo::campaign
