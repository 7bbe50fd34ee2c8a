// The step clock: counts, run control, counted runs and the steps field.
#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "tests/drive/fake_port.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

TEST(DriveClockCounts, FollowTheFortyMegahertzTimeBase)
{
    EXPECT_EQ(clockCounts(1000, 50).period, 39999u);
    EXPECT_EQ(clockCounts(1000, 50).highTime, 19999u);
    EXPECT_EQ(clockCounts(100000, 50).period, 399u);
    EXPECT_EQ(clockCounts(100000, 50).highTime, 199u);
    EXPECT_EQ(clockCounts(10, 50).period, 3999999u);
    EXPECT_EQ(clockCounts(1000, 29).highTime, 11599u); // 0.29 * 39999 = 11599.71
    EXPECT_EQ(clockCounts(0, 80).period, 0u);
    EXPECT_EQ(clockCounts(0, 80).highTime, 0u);
    EXPECT_EQ(clockCounts(-5, 50).period, 0u);
    EXPECT_EQ(clockCounts(1e-9, 50).period, 0xFFFFFFFFu); // saturates, no wrap
    EXPECT_EQ(clockCounts(1e-9, 100).highTime, 0xFFFFFFFFu);
}

TEST(DriveClockCounts, DutyFieldRules)
{
    EXPECT_EQ(effectiveDuty("50.0"), 50);
    EXPECT_EQ(effectiveDuty("0"), 50);
    EXPECT_EQ(effectiveDuty("abc"), 50);
    EXPECT_EQ(effectiveDuty("25.9"), 25);
    EXPECT_EQ(effectiveDuty("250"), 100); // never longer than the period
    EXPECT_EQ(effectiveDuty("-20"), 50);
}

namespace {

struct DriveClock : ::testing::Test {
    FakePort port;
    RecordingMessageService messages;
    DriveCore core{port, messages};

    void setFrequency(const char* text)
    {
        core.setLimitText(ColumnId::Clk, Limit::Max, "100k");
        core.commitLimit(ColumnId::Clk, Limit::Max);
        core.setValueText(ColumnId::Clk, text);
        core.commitValue(ColumnId::Clk);
        port.clear();
    }
};

} // namespace

TEST_F(DriveClock, SendsPeriodAndHighTimeLeastSignificantByteFirst)
{
    setFrequency("1000");
    core.sendClockRegisters();
    EXPECT_EQ(port.trace(), (std::vector<std::string>{"W(145,63)", "W(146,156)", "W(147,0)", "W(148,0)",
                                                      "W(149,31)", "W(150,78)", "W(151,0)", "W(152,0)",
                                                      "W(144,6)"}));
    port.clear();
    setFrequency("10");
    core.sendClockRegisters();
    const auto w = port.writes(); // 3 999 999 = 0x3D08FF
    EXPECT_EQ(w[0].second, 0xFF);
    EXPECT_EQ(w[1].second, 0x08);
    EXPECT_EQ(w[2].second, 0x3D);
}

TEST_F(DriveClock, CountedRunWithStopLevelHigh)
{
    core.setManual(true);
    EXPECT_TRUE(core.stepsEnabled());
    EXPECT_EQ(core.editSteps("10"), "10");
    core.setStopHigh(true);
    EXPECT_STREQ(core.stopLevelCaption(), "H");

    core.setClockRunning(true);
    EXPECT_EQ(port.trace(),
              (std::vector<std::string>{"W(144,0)", "Wait", "W(153,10)", "W(144,129)", "Wait"}));
    EXPECT_STREQ(core.clockRunCaption(), "Stop");
    EXPECT_FALSE(core.runModeEnabled());
    EXPECT_FALSE(core.stepsEnabled());

    // While the run lasts the board answers with bit 0 set; then clear.
    port.clear();
    EXPECT_TRUE(core.requestClockState());
    EXPECT_EQ(port.trace(), (std::vector<std::string>{"R(144)"}));
    EXPECT_FALSE(core.onClockControlRead(0x81));
    EXPECT_TRUE(core.clockRunning());
    EXPECT_TRUE(core.onClockControlRead(0x80));
    EXPECT_FALSE(core.clockRunning());
    EXPECT_STREQ(core.clockRunCaption(), "Start");
    EXPECT_TRUE(core.runModeEnabled());
    EXPECT_TRUE(core.stepsEnabled());
    EXPECT_EQ(port.ops.size(), 1u); // the end of a run writes nothing
}

TEST_F(DriveClock, ContinuousRunAndStop)
{
    core.editSteps("10"); // ignored in Continuous
    core.setClockRunning(true);
    EXPECT_EQ(port.writes(), (std::vector<std::pair<int, int>>{{144, 0}, {153, 0}, {144, 1}}));
    EXPECT_FALSE(core.requestClockState()); // no polling outside Manual
    port.clear();
    core.setClockRunning(false);
    EXPECT_EQ(port.trace(), (std::vector<std::string>{"W(144,0)", "Wait", "W(144,0)", "Wait"}));
}

TEST_F(DriveClock, MovingTheClockSliderWhileRunningKeepsItRunning)
{
    setFrequency("1000"); // MAX is 100 kHz from here
    core.setClockRunning(true);
    port.clear();
    core.sliderMoved(ColumnId::Clk, 0);
    EXPECT_DOUBLE_EQ(core.clockFrequency(), 100000.0);
    const auto w = port.writes();
    ASSERT_EQ(w.size(), 9u);
    EXPECT_EQ(w[0], (std::pair<int, int>{145, 399 & 0xFF}));
    EXPECT_EQ(w[8], (std::pair<int, int>{144, 7}));
}

TEST_F(DriveClock, StepsFieldKeepsOneTo255)
{
    EXPECT_EQ(core.editSteps("300"), "255");
    EXPECT_EQ(core.editSteps("0"), "1");
    EXPECT_EQ(core.editSteps("a"), "1");
    EXPECT_EQ(core.editSteps("-4"), "1");
    EXPECT_EQ(core.editSteps("12x"), "12");
    EXPECT_EQ(core.editSteps("99999999999999"), "255");
    EXPECT_EQ(core.editSteps("255"), "255");
}

TEST_F(DriveClock, RestoredStepsOutsideTheFieldRangeAreNotTruncatedToALowByte)
{
    core.loadRunMode(1);
    core.loadStepsText("300"); // stored as is
    EXPECT_EQ(core.stepsText(), "300");
    core.setClockRunning(true);
    EXPECT_EQ(port.writes()[1], (std::pair<int, int>{153, 255}));
    core.loadRunMode(7); // not a run mode: unchanged
    EXPECT_TRUE(core.manual());
}

TEST_F(DriveClock, DutyCommitMovesTheHiddenSliderAndResends)
{
    setFrequency("1000");
    core.setDutyText("25");
    core.commitDuty();
    EXPECT_EQ(core.dutyText(), "25.00");
    EXPECT_EQ(core.dutySliderPosition(), 750);
    const auto w = port.writes();
    ASSERT_EQ(w.size(), 9u);
    EXPECT_EQ(w[4].second | (w[5].second << 8), 9999); // 0.25 * 39999
}

TEST_F(DriveClock, SecondRunToggle)
{
    core.setSecondRunning(true);
    EXPECT_STREQ(core.secondRunCaption(), "Stop");
    core.setSecondRunning(false);
    EXPECT_STREQ(core.secondRunCaption(), "Start");
    EXPECT_EQ(port.writes(), (std::vector<std::pair<int, int>>{{160, 1}, {160, 0}}));
}
