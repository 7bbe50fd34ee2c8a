// The step clock: counts, run control, counted runs and the steps field.
#include <cmath>

#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "common/number_text.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

TEST(DriveClockCounts, FollowTheFortyMegahertzTimeBase)
{
    const auto c = clockCounts(1000, 50);
    EXPECT_EQ(c.period, 39999u);
    EXPECT_EQ(c.highTime, 19999u);
    EXPECT_EQ(clockCounts(100000, 50).period, 399u);
    EXPECT_EQ(clockCounts(100000, 50).highTime, 199u);
    EXPECT_EQ(clockCounts(10, 50).period, 3999999u);
    EXPECT_EQ(clockCounts(1000, 29).highTime, 11599u); // 0.29 x 39999 = 11599.71
    EXPECT_EQ(clockCounts(0, 80).period + clockCounts(0, 80).highTime, 0u);
    EXPECT_EQ(clockCounts(-5, 50).period, 0u);
    EXPECT_EQ(clockCounts(1e-9, 100).highTime, 0xFFFFFFFFu); // saturates, no wrap

    EXPECT_EQ(effectiveDuty("0"), 50);
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

TEST_F(DriveClock, CountedRunWithStopLevelHighEndsOnTheReadBack)
{
    core.setManual(true);
    EXPECT_TRUE(core.stepsEnabled());
    EXPECT_EQ(core.editSteps("10"), "10");
    core.setStopHigh(true);
    EXPECT_STREQ(core.stopLevelCaption(), "H");

    core.setClockRunning(true);
    EXPECT_EQ(port.ops, (Trace{"W(144,0)", "Wait", "W(153,10)", "W(144,129)", "Wait"}));
    EXPECT_STREQ(core.clockRunCaption(), "Stop");
    EXPECT_FALSE(core.runModeEnabled());
    EXPECT_FALSE(core.stepsEnabled());

    port.clear();
    EXPECT_TRUE(core.requestClockState());
    EXPECT_EQ(port.ops, (Trace{"R(144)"}));
    EXPECT_FALSE(core.onClockControlRead(0x81)); // still running
    EXPECT_TRUE(core.clockRunning());
    EXPECT_TRUE(core.onClockControlRead(0x80));
    EXPECT_STREQ(core.clockRunCaption(), "Start");
    EXPECT_TRUE(core.runModeEnabled());
    EXPECT_TRUE(core.stepsEnabled());
    EXPECT_EQ(port.ops.size(), 1u); // the end of a run writes nothing
}

TEST_F(DriveClock, ContinuousRunAndStop)
{
    core.editSteps("10"); // ignored in Continuous
    core.setClockRunning(true);
    EXPECT_EQ(port.writes(), (Writes{{144, 0}, {153, 0}, {144, 1}}));
    EXPECT_FALSE(core.requestClockState()); // no polling outside Manual
    port.clear();
    core.setClockRunning(false);
    EXPECT_EQ(port.ops, (Trace{"W(144,0)", "Wait", "W(144,0)", "Wait"}));
}

TEST_F(DriveClock, NewPeriodWhileRunningKeepsItRunning)
{
    setFrequency("1000");
    core.setClockRunning(true);
    port.clear();
    core.sliderMoved(ColumnId::Clk, 0); // top: 100 kHz
    ASSERT_EQ(port.writes().size(), 9u);
    EXPECT_EQ(port.writes()[0], (std::pair<int, int>{145, 399 & 0xFF}));
    EXPECT_EQ(port.writes()[8], (std::pair<int, int>{144, 7}));
}

TEST_F(DriveClock, StepsAreOneTo255)
{
    EXPECT_EQ(core.editSteps("300"), "255");
    EXPECT_EQ(core.editSteps("0"), "1");
    EXPECT_EQ(core.editSteps("a"), "1");
    EXPECT_EQ(core.editSteps("12x"), "12");

    // A stored text outside the range is kept as text, but a run never sends
    // only its low byte (300 would be 44 steps).
    core.loadRunMode(1);
    core.loadStepsText("300");
    core.setClockRunning(true);
    EXPECT_EQ(port.writes()[1], (std::pair<int, int>{153, 255}));
}

TEST_F(DriveClock, DutyAndSecondRunToggle)
{
    setFrequency("1000");
    core.setDutyText("25");
    core.commitDuty();
    EXPECT_EQ(core.dutyText(), "25.00");
    EXPECT_EQ(core.dutySliderPosition(), 750);
    ASSERT_EQ(port.writes().size(), 9u);
    EXPECT_EQ(port.writes()[4].second | (port.writes()[5].second << 8), 9999); // 0.25 x 39999

    port.clear();
    core.setSecondRunning(true);
    EXPECT_STREQ(core.secondRunCaption(), "Stop");
    core.secondRunEnded(); // the board ended it: nothing to write
    EXPECT_STREQ(core.secondRunCaption(), "Start");
    core.setSecondRunning(true);
    core.setSecondRunning(false);
    EXPECT_EQ(port.writes(), (Writes{{160, 1}, {160, 1}, {160, 0}}));
}

TEST(DriveGeneratorFrequency, IsTheGeneratorsOwnAndGivesTheSamePeriodBack)
{
    // Every stored frequency must give the period it came from, or a value
    // read back from a session would run one count slower.
    for (double f = 0.01; f <= 100000.0; f *= 1.0137) {
        const std::uint32_t n = clockCounts(f, 50).period;
        const double g = generatorFrequency(f);
        ASSERT_EQ(clockCounts(g, 50).period, n) << f;
        EXPECT_NEAR(g, kClockTimeBaseHz / (n + 1.0), 1e-9 * g) << f;
        EXPECT_EQ(parseNumberK(exactText(g)), g) << f;
    }
    EXPECT_EQ(generatorFrequency(0), 0.0);
    EXPECT_EQ(generatorFrequency(30e6), 0.0); // N would be 0: no clock
}

TEST_F(DriveClock, AnExactValueBypassesTheSliderGridAndReadsBack)
{
    core.setExactValue(ColumnId::Clk, generatorFrequency(1234));
    EXPECT_EQ(clockCounts(core.clockFrequency(), 50).period, 32413u); // the grid would give 1230 Hz
    EXPECT_EQ(parseNumberK(core.column(ColumnId::Clk).valueText()), core.clockFrequency());
    core.setExactValue(ColumnId::Vref, 0.004);
    EXPECT_EQ(core.column(ColumnId::Vref).valueText(), "0.004");
    core.setExactValue(ColumnId::Vref, 1.5);
    EXPECT_EQ(core.column(ColumnId::Vref).valueText(), "1.50"); // on the grid: the window's text

    EXPECT_EQ(rangeError(ColumnId::Vref, 3.0), "");
    EXPECT_EQ(rangeError(ColumnId::Vref, 9), "VREF 9 V is out of range (0 to 3 V).");
    EXPECT_EQ(rangeError(ColumnId::Clk, 0), "CLK 0 Hz is out of range (0.01 to 100000 Hz).");
    EXPECT_NE(rangeError(ColumnId::Mth, std::nan("")), "");
}
