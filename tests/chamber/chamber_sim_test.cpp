// libCalora.so, bound at run time, against the simulated board's chamber on
// its pseudo-terminal: set points, the air and the DUT's junction following
// it, each fault of the controller, and a whole soak.

#include "board/sim_board_test.h"
#include "campaign/chamber.h"
#include "campaign/soak.h"
#include "tests/common/time_scale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using zelbo::campaign::Chamber;

class ChamberSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctl.reset();
        ctl.setBusTiming(false);
        ctl.configureFpga();             // the junction model runs with the FPGA
        ctl.setThermalModel(25.0, 0.5);  // a quick junction
        port = ctl.startChamber();
        ASSERT_FALSE(port.empty());
        ctl.setChamberModel(600.0, 0.2); // 10 degrees a second, little lag
        std::string error;
        chamber = zelbo::campaign::openCaloraChamber(port, &error);
        ASSERT_TRUE(chamber) << error;
    }

    // Polls the chamber's reading until `ok` holds or a few seconds pass.
    template <class F>
    std::optional<double> airUntil(F ok)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(zelbo::test::scaledMs(10000));
        std::optional<double> a;
        while (std::chrono::steady_clock::now() < end) {
            a = chamber->air();
            if (ok(a)) break;
            std::this_thread::sleep_for(50ms);
        }
        return a;
    }

    simboard::Control ctl;
    std::string port;
    std::unique_ptr<Chamber> chamber;
};

TEST_F(ChamberSim, SetpointIsReachedAndTheJunctionFollowsTheAir)
{
    EXPECT_NE(chamber->describe().find(port), std::string::npos);
    const auto start = ctl.chamber().requests;
    ASSERT_TRUE(chamber->setSetpoint(5.0));
    EXPECT_NEAR(ctl.chamber().setpointCelsius, 5.0, 0.1);
    const auto a = airUntil([](auto v) { return v && std::fabs(*v - 5.0) < 0.15; });
    ASSERT_TRUE(a);
    EXPECT_NEAR(*a, 5.0, 0.15);
    // Through the controller's imperfect probe and the library's calibration
    // the reading is the true air.
    EXPECT_NEAR(*a, ctl.chamber().airCelsius, 0.15);
    std::this_thread::sleep_for(std::chrono::milliseconds(zelbo::test::scaledMs(2000)));
    EXPECT_NEAR(ctl.thermal().ambientCelsius, 5.0, 0.1);
    EXPECT_NEAR(ctl.thermal().junctionCelsius, 5.0, 0.3); // unpowered: no self-heating
    EXPECT_GT(ctl.chamber().requests, start + 2);
}

TEST_F(ChamberSim, EachFaultOfTheControllerIsSeenAsSuch)
{
    ASSERT_TRUE(chamber->setSetpoint(30.0));

    ctl.setChamberFault(simboard::ChamberFault::NoAnswer);
    EXPECT_FALSE(chamber->air());

    ctl.setChamberFault(simboard::ChamberFault::Garbled);
    EXPECT_FALSE(chamber->air());
    EXPECT_FALSE(chamber->setSetpoint(31.0)); // ten garbled echoes
    EXPECT_NEAR(ctl.chamber().setpointCelsius, 31.0, 0.1) << "the write itself arrived";

    // A reading stuck while the air moves on.
    ctl.setChamberFault(simboard::ChamberFault::None);
    ASSERT_TRUE(chamber->setSetpoint(30.0));
    ASSERT_TRUE(airUntil([](auto v) { return v && std::fabs(*v - 30.0) < 0.15; }));
    ctl.setChamberFault(simboard::ChamberFault::StuckReading);
    ASSERT_TRUE(chamber->setSetpoint(60.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(zelbo::test::scaledMs(1500)));
    const auto stuck = chamber->air();
    ASSERT_TRUE(stuck);
    EXPECT_NEAR(*stuck, 30.0, 0.2);
    EXPECT_GT(ctl.chamber().airCelsius, 40.0);

    ctl.setChamberFault(simboard::ChamberFault::None);
    const auto back = airUntil([](auto v) { return v && std::fabs(*v - 60.0) < 0.15; });
    ASSERT_TRUE(back);
    EXPECT_NEAR(*back, 60.0, 0.15);
}

TEST_F(ChamberSim, PublishedLinkLeadsToTheController)
{
    const auto dir = std::filesystem::temp_directory_path() / ("zelbo-chamber-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto link = (dir / "chamber").string();
    EXPECT_EQ(ctl.startChamber(link), port); // one controller per process
    EXPECT_EQ(ctl.startChamber(link), port); // and the link replaced in place
    auto viaLink = zelbo::campaign::openCaloraChamber(link, nullptr);
    ASSERT_TRUE(viaLink);
    EXPECT_TRUE(viaLink->air());
    std::filesystem::remove_all(dir);
}

TEST_F(ChamberSim, PortThatDoesNotExistIsSilentNotFatal)
{
    auto none = zelbo::campaign::openCaloraChamber("/nonexistent/ttyCHAMBER", nullptr);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->air());
    EXPECT_FALSE(none->setSetpoint(25.0));
}

TEST_F(ChamberSim, SoakOnTheSimulatedBoardSettlesOnTheJunction)
{
    zelbo::campaign::SoakPlan plan;
    plan.window = 0.5;
    plan.tjBand = 0.1;
    plan.tjStableFor = 2s;
    plan.maxSoak = std::chrono::seconds(static_cast<int>(60 * zelbo::test::timeScale()));
    zelbo::campaign::SoakHooks hooks;
    hooks.tj = [this]() -> std::optional<double> { return ctl.thermal().junctionCelsius; };
    std::vector<std::string> lines;
    hooks.log = [&](const std::string& l) { lines.push_back(l); };
    EXPECT_EQ(zelbo::campaign::settle(*chamber, 45.0, plan, hooks), zelbo::campaign::SoakResult::Settled);
    EXPECT_NEAR(ctl.thermal().junctionCelsius, 45.0, 0.6);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("settled"), std::string::npos);
}

} // namespace
