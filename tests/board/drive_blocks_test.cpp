// The clock generator and the stepping-motor driver behind it, driven by
// command frames and checked by register reads and the board's state.

#include "board_fixture.h"

#include <cmath>
#include <thread>

namespace boardtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class DriveTest : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        bringUp();
        ctl.setVirtualTime(true);
    }

    // Register 144 as the host's read request sees it.
    std::uint8_t readControl()
    {
        bulkOut(readFrame(144));
        const auto records = drain();
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? 0xFF : records.back()[2];
    }
};

TEST_F(DriveTest, ContinuousClockRunsUntilStopped)
{
    ASSERT_EQ(bulkOut(clockRegisters(1000)), Result::Ok);
    const auto idle = ctl.clockGenerator();
    EXPECT_EQ(idle.period, 39999u);
    EXPECT_EQ(idle.highTime, 19999u);
    EXPECT_FALSE(idle.running);

    bulkOut(startRun(0, false));
    ctl.advanceTime(10ms);
    EXPECT_EQ(ctl.clockGenerator().risingEdges, 10u) << "one edge per millisecond at 1 kHz";
    EXPECT_EQ(readControl() & 0x01, 0x01);

    // Advancing in uneven pieces gives the same count as one step.
    for (int i = 0; i < 7; ++i) ctl.advanceTime(std::chrono::microseconds(1300));
    ctl.advanceTime(std::chrono::microseconds(900));
    EXPECT_EQ(ctl.clockGenerator().risingEdges, 20u);

    bulkOut(writeFrame(144, 0));
    ctl.advanceTime(5ms);
    EXPECT_EQ(ctl.clockGenerator().risingEdges, 20u);
    EXPECT_EQ(readControl() & 0x01, 0);
}

TEST_F(DriveTest, CountedRunEndsAtTheStopLevel)
{
    bulkOut(clockRegisters(100000));
    EXPECT_EQ(ctl.clockGenerator().period, 399u);
    bulkOut(startRun(10, true));
    EXPECT_EQ(readControl() & 0x01, 0x01);
    ctl.advanceTime(95us); // nine and a half periods of 10 us
    auto s = ctl.clockGenerator();
    EXPECT_TRUE(s.running);
    EXPECT_EQ(s.risingEdges, 9u);
    EXPECT_EQ(s.stepsLeft, 1u);
    ctl.advanceTime(1ms);
    s = ctl.clockGenerator();
    EXPECT_FALSE(s.running);
    EXPECT_EQ(s.risingEdges, 10u);
    EXPECT_TRUE(s.level) << "rests high";
    EXPECT_EQ(readControl() & 0x01, 0) << "the host sees the run has ended";

    bulkOut(startRun(3, false));
    ctl.advanceTime(1ms);
    s = ctl.clockGenerator();
    EXPECT_EQ(s.risingEdges, 13u) << "a new run starts low and rises again";
    EXPECT_FALSE(s.level);
}

TEST_F(DriveTest, PeriodChangesWhileRunning)
{
    bulkOut(clockRegisters(1000));
    bulkOut(startRun(0, false));
    ctl.advanceTime(std::chrono::microseconds(2600)); // edges at 0.5, 1.5, 2.5 ms
    bulkOut(clockRegisters(2000, 7));
    EXPECT_TRUE(ctl.clockGenerator().running) << "7 keeps the clock running";
    ctl.advanceTime(5ms); // now 2 kHz: ten more
    EXPECT_EQ(ctl.clockGenerator().risingEdges, 13u);
    bulkOut(clockRegisters(2000, 6));
    EXPECT_FALSE(ctl.clockGenerator().running) << "6 goes with a stopped clock";

    bulkOut(clockRegisters(0));
    bulkOut(startRun(0, false));
    ctl.advanceTime(100ms);
    EXPECT_EQ(ctl.clockGenerator().risingEdges, 13u) << "a period of 0 makes no clock";
}

TEST_F(DriveTest, FullStepWalksTheDiagonals)
{
    power(false, false, true, 1.0);
    auto s = ctl.dut();
    ASSERT_TRUE(s.powered);
    EXPECT_EQ(s.excitation, 0);
    EXPECT_DOUBLE_EQ(s.amplitudeAmps, 1.0) << "1.0 V / 5 / 0.2 ohm";
    EXPECT_DOUBLE_EQ(s.coilA, 1.0);
    EXPECT_DOUBLE_EQ(s.coilB, 1.0);

    bulkOut(clockRegisters(1000));
    bulkOut(startRun(1, false));
    ctl.advanceTime(2ms);
    s = ctl.dut();
    EXPECT_EQ(s.steps, 1);
    EXPECT_DOUBLE_EQ(s.coilA, -1.0);
    EXPECT_DOUBLE_EQ(s.coilB, 1.0);

    bulkOut(startRun(3, false));
    ctl.advanceTime(5ms);
    s = ctl.dut();
    EXPECT_EQ(s.steps, 4);
    EXPECT_DOUBLE_EQ(s.coilA, 1.0) << "four full steps: one electrical cycle";
    EXPECT_DOUBLE_EQ(s.coilB, 1.0);
}

TEST_F(DriveTest, ExcitationModesFollowTheirTables)
{
    struct Case {
        bool mode0, mode1;
        int excitation;
        int edgesPerCycle;
        double peakA;  // |coil A| at a diagonal position
    };
    const Case cases[] = {
        {true, false, 1, 8, 1.0},           // half step A: full current on the diagonals
        {false, true, 2, 8, std::sqrt(0.5)}, // half step B: sine table
        {true, true, 3, 16, std::sqrt(0.5)}, // quarter step
    };
    bulkOut(clockRegisters(10000));
    for (const auto& c : cases) {
        power(c.mode0, c.mode1, true, 1.5);
        auto s = ctl.dut();
        ASSERT_EQ(s.excitation, c.excitation);
        const int start = s.position;
        EXPECT_NEAR(std::abs(s.coilA), c.peakA * 1.5, 1e-9) << c.excitation;

        // One step off the diagonal: one coil at full current, or on the sine table.
        bulkOut(startRun(1, false));
        ctl.advanceTime(1ms);
        s = ctl.dut();
        const double magnitude = std::hypot(s.coilA, s.coilB);
        if (c.excitation == 3) {
            EXPECT_NEAR(magnitude, 1.5, 1e-9) << "quarter steps keep the vector length";
        } else {
            EXPECT_NEAR(std::max(std::abs(s.coilA), std::abs(s.coilB)), 1.5, 1e-9);
            EXPECT_NEAR(std::min(std::abs(s.coilA), std::abs(s.coilB)), 0.0, 1e-9);
        }

        bulkOut(startRun(std::uint8_t(c.edgesPerCycle - 1), false));
        ctl.advanceTime(5ms);
        EXPECT_EQ(ctl.dut().position, start) << "a whole cycle returns to the start";
    }
}

TEST_F(DriveTest, DirectionAndEnable)
{
    power(true, true, false, 1.0);
    bulkOut(clockRegisters(10000));
    bulkOut(startRun(5, false));
    ctl.advanceTime(1ms);
    auto s = ctl.dut();
    EXPECT_EQ(s.steps, -5);
    EXPECT_EQ(s.position, (2 - 5 + 16) % 16);

    bulkOut(dac(kEnable, 0));
    s = ctl.dut();
    EXPECT_FALSE(s.powered);
    EXPECT_EQ(s.coilA, 0.0);
    EXPECT_EQ(s.coilB, 0.0);
    bulkOut(startRun(5, false));
    ctl.advanceTime(1ms);
    EXPECT_EQ(ctl.dut().steps, -5) << "edges ignored while disabled";
    EXPECT_EQ(ctl.clockGenerator().risingEdges, 10u) << "though the clock ran";

    bulkOut(dac(kEnable, 2500));
    EXPECT_EQ(ctl.dut().position, (2 - 5 + 16) % 16) << "the position survives ENABLE";
    bulkOut(writeFrame(1, 0xE0));
    s = ctl.dut();
    EXPECT_FALSE(s.powered);
    bulkOut(writeFrame(1, 0xE3));
    EXPECT_EQ(ctl.dut().position, 2) << "a supply cycle resets to the home position";
}

TEST_F(DriveTest, ManualLevelStepsOnItsRisingEdge)
{
    power(true, true, true);
    bulkOut(writeFrame(154, 128));
    bulkOut(writeFrame(154, 128));
    bulkOut(writeFrame(154, 0));
    bulkOut(writeFrame(154, 128));
    EXPECT_EQ(ctl.dut().steps, 2);
}

TEST_F(DriveTest, ClockRunsInRealTimeByDefault)
{
    ctl.setVirtualTime(false);
    power(true, true, true);
    bulkOut(clockRegisters(100000));
    bulkOut(startRun(0, false));
    std::this_thread::sleep_for(20ms);
    bulkOut(writeFrame(144, 0));
    const auto edges = ctl.clockGenerator().risingEdges;
    EXPECT_GE(edges, 1900u) << "100 kHz for at least 20 ms";
    EXPECT_EQ(ctl.dut().steps, std::int64_t(edges));
}

} // namespace
} // namespace boardtest
