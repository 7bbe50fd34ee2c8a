// The time the junction's own temperature saves over a fixed soak, measured
// on the simulated board: its chamber through the real libCalora.so and its
// junction model, with the soak's clock bound to the board's virtual time.

#include "board/sim_board_test.h"
#include "campaign/chamber.h"
#include "campaign/soak.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SoakOnBoard, TimeSavedByWatchingTjOverAFixedSoak)
{
    simboard::Control ctl;
    ctl.reset();
    ctl.setBusTiming(false);
    ctl.configureFpga();
    ctl.setVirtualTime(true);
    const std::string port = ctl.startChamber();
    ASSERT_FALSE(port.empty());
    std::string error;
    auto chamber = zelbo::campaign::openCaloraChamber(port, &error);
    ASSERT_TRUE(chamber) << error;

    zelbo::campaign::SoakHooks hooks;
    hooks.now = [&] { return Clock::time_point(std::chrono::nanoseconds(ctl.nowNs())); };
    hooks.sleep = [&](std::chrono::milliseconds d) { ctl.advanceTime(d); };
    hooks.tj = [&]() -> std::optional<double> { return ctl.thermal().junctionCelsius; };

    auto run = [&](std::optional<std::chrono::seconds> fixed) {
        ctl.setThermalModel(25.0, 20.0); // chamber, air and die back at 25 degrees
        zelbo::campaign::SoakPlan plan;
        plan.tjBand = 0.1;
        plan.tjStableFor = 60s;
        plan.fixedSoak = fixed;
        const auto start = hooks.now();
        EXPECT_EQ(zelbo::campaign::settle(*chamber, 85.0, plan, hooks), zelbo::campaign::SoakResult::Settled);
        EXPECT_NEAR(ctl.thermal().junctionCelsius, 85.0, 0.5);
        return std::chrono::duration<double>(hooks.now() - start).count();
    };
    const double byTj = run(std::nullopt);
    const double byTime = run(15min);
    std::printf("simulated board, 25 -> 85 degC (30 degC/min, 15 s air lag, 20 s junction): "
                "by Tj %.0f s, fixed 15 min %.0f s, saved %.0f s (%.0f %%)\n",
                byTj, byTime, byTime - byTj, 100.0 * (byTime - byTj) / byTime);
    EXPECT_LT(byTj, byTime);
}

// The controller falls silent in real time, with the library's real time-outs:
// the soak pauses, retries and resumes when it answers again; silent beyond
// the limit it ends with the safe set point tried, and the log says which.
TEST(SoakOnBoard, SilentControllerPausesTheSoakThenEndsItSafely)
{
    simboard::Control ctl;
    ctl.reset();
    ctl.setBusTiming(false);
    ctl.configureFpga();
    ctl.setThermalModel(25.0, 0.5);
    const std::string port = ctl.startChamber();
    ASSERT_FALSE(port.empty());
    ctl.setChamberModel(600.0, 0.2);
    auto chamber = zelbo::campaign::openCaloraChamber(port, nullptr);
    ASSERT_TRUE(chamber);

    std::vector<std::string> lines;
    zelbo::campaign::SoakHooks hooks;
    hooks.tj = [&]() -> std::optional<double> { return ctl.thermal().junctionCelsius; };
    hooks.log = [&](const std::string& l) { lines.push_back(l); };
    auto logged = [&](const char* part) {
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != std::string::npos; });
    };
    zelbo::campaign::SoakPlan plan;
    plan.window = 0.5;
    plan.tjBand = 0.1;
    plan.tjStableFor = 2s;
    plan.maxSoak = 120s;
    plan.chamberSilenceLimit = 60s;

    // Silent for ten seconds from the start, then back.
    ctl.setChamberFault(simboard::ChamberFault::NoAnswer);
    std::thread back([&] {
        std::this_thread::sleep_for(10s);
        ctl.setChamberFault(simboard::ChamberFault::None);
    });
    EXPECT_EQ(zelbo::campaign::settle(*chamber, 40.0, plan, hooks), zelbo::campaign::SoakResult::Settled);
    back.join();
    EXPECT_TRUE(logged("does not answer"));
    EXPECT_TRUE(logged("answers again"));
    EXPECT_NEAR(ctl.chamber().airCelsius, 40.0, 0.5);

    // Silent for good.
    lines.clear();
    plan.chamberSilenceLimit = 15s;
    plan.safeSetpoint = 22.0;
    ctl.setChamberFault(simboard::ChamberFault::NoAnswer);
    const auto before = ctl.chamber().requests;
    EXPECT_EQ(zelbo::campaign::settle(*chamber, 60.0, plan, hooks), zelbo::campaign::SoakResult::ChamberLost);
    EXPECT_TRUE(logged("campaign ends"));
    EXPECT_TRUE(logged("could not be sent"));
    EXPECT_GT(ctl.chamber().requests, before);
    EXPECT_NEAR(ctl.chamber().setpointCelsius, 40.0, 0.1); // nothing got through
}

} // namespace
