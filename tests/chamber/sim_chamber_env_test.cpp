// A host that agrees on the chamber's path before the simulated board exists
// finds the controller there. Its own program: the board is created once per
// process, and here it must be created after the path is agreed.

#include "board/sim_board_test.h"
#include "campaign/chamber.h"
#include "campaign/sim_chamber.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(SimulatedChamberPath, BoardCreatedAfterwardsServesThere)
{
    ::unsetenv("ZELBO_SIM_CHAMBER");
    const std::string path = zelbo::campaign::prepareSimulatedChamber();
    EXPECT_EQ(zelbo::campaign::prepareSimulatedChamber(), path); // one per process
    simboard::Control ctl; // the board comes to life now
    ASSERT_TRUE(ctl.chamber().started);
    EXPECT_EQ(std::filesystem::canonical(path).string(), std::filesystem::canonical(ctl.chamber().port).string());
    auto chamber = zelbo::campaign::openCaloraChamber(path, nullptr);
    ASSERT_TRUE(chamber);
    const auto air = chamber->air();
    ASSERT_TRUE(air);
    EXPECT_NEAR(*air, 25.0, 0.1);
}
