// The VREF / MTH / CLK columns: typed values, sliders and limit fields, with
// the DAC writes they cause.
#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "drive/number_text.h"
#include "tests/drive/fake_port.h"

using namespace zelbo;
using namespace zelbo::drive;
using zelbo::drive::test::FakePort;

namespace {

struct DriveColumns : ::testing::Test {
    FakePort port;
    RecordingMessageService messages;
    DriveCore core{port, messages};

    const Column& col(ColumnId id) { return core.column(id); }
    void type(ColumnId id, const char* text)
    {
        core.setValueText(id, text);
        core.commitValue(id);
    }
    void limit(ColumnId id, Limit which, const char* text)
    {
        core.setLimitText(id, which, text);
        core.commitLimit(id, which);
    }
    using Writes = std::vector<std::pair<int, int>>;
};

} // namespace

TEST_F(DriveColumns, TypedVrefIsClampedRoundedAndLoadedIntoItsDacChannel)
{
    type(ColumnId::Vref, "3.456");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "3.00");
    EXPECT_EQ(col(ColumnId::Vref).sliderPosition(), 0); // top
    EXPECT_EQ(port.writes(), (Writes{{23, 0xB8}, {24, 0x0B}, {26, 133}}));
    EXPECT_DOUBLE_EQ(core.vref(), 3.0);

    port.clear();
    type(ColumnId::Vref, "1.25");
    EXPECT_EQ(port.writes(), (Writes{{23, 0xE2}, {24, 0x04}, {26, 133}}));
    EXPECT_EQ(col(ColumnId::Vref).sliderPosition(), 300 - 125);
}

TEST_F(DriveColumns, TypedMthRoundsHalfUpOnTheGrid)
{
    type(ColumnId::Mth, "1.234");
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "1.23");
    EXPECT_EQ(port.writes(), (Writes{{21, 1230 & 0xFF}, {22, 1230 >> 8}, {26, 134}}));
    port.clear();
    type(ColumnId::Mth, "0.005");
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "0.01");
    EXPECT_EQ(port.writes(), (Writes{{21, 10}, {22, 0}, {26, 134}}));
    type(ColumnId::Mth, "junk");
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "0.00");
    type(ColumnId::Mth, "-2");
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "0.00");
}

TEST_F(DriveColumns, EveryGridValueGivesItsExactCodeAndSliderNotch)
{
    // 0.29 / 0.01 is 28.999... in doubles; neither code nor notch may slip.
    for (int i = 0; i <= 300; ++i) {
        const std::string text = formatVolts(i / 100.0);
        port.clear();
        type(ColumnId::Vref, text.c_str());
        ASSERT_EQ(col(ColumnId::Vref).sliderPosition(), 300 - i) << text;
        const auto w = port.writes();
        ASSERT_EQ(w[0].second | (w[1].second << 8), i * 10) << text;
    }
}

TEST_F(DriveColumns, ClockFieldTakesKilohertzAndShowsThem)
{
    limit(ColumnId::Clk, Limit::Max, "100k");
    EXPECT_EQ(col(ColumnId::Clk).limitText(Limit::Max), "100.00 k");
    EXPECT_EQ(col(ColumnId::Clk).sliderMax(), 10000);
    EXPECT_EQ(col(ColumnId::Clk).pageStep(), 1000);

    port.clear();
    type(ColumnId::Clk, "2k");
    EXPECT_DOUBLE_EQ(core.clockFrequency(), 2000.0);
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "2.00 k");
    // 40 MHz / 2 kHz - 1 = 19999 = 0x4E1F, half of it high.
    EXPECT_EQ(port.writes(), (Writes{{145, 0x1F}, {146, 0x4E}, {147, 0}, {148, 0},
                                     {149, 9999 & 0xFF}, {150, 9999 >> 8}, {151, 0}, {152, 0},
                                     {144, 6}}));
    EXPECT_EQ(port.ops.front(), test::Pause(10));

    type(ColumnId::Clk, "1000");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "1000");
    type(ColumnId::Clk, "1005");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "1.01 k"); // on the 10 Hz grid
}

TEST_F(DriveColumns, SliderMapsTopToMaxAndBottomToMin)
{
    limit(ColumnId::Vref, Limit::Min, "1");
    EXPECT_EQ(col(ColumnId::Vref).limitText(Limit::Min), "1.00");
    EXPECT_EQ(col(ColumnId::Vref).sliderMax(), 200);
    port.clear();
    core.sliderMoved(ColumnId::Vref, 0);
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "3.00");
    core.sliderMoved(ColumnId::Vref, 200);
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.00");
    port.clear();
    core.sliderMoved(ColumnId::Vref, 171); // 29 notches above 1.00
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.29");
    EXPECT_EQ(port.writes(), (Writes{{23, 1290 & 0xFF}, {24, 1290 >> 8}, {26, 133}}));
    EXPECT_EQ(port.ops.back(), test::Wait());
    EXPECT_EQ(core.ioText(), "1290 m"); // 1.29 V / 0.2 ohm / 5

    port.clear();
    core.sliderMoved(ColumnId::Mth, 350 - 7);
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "0.07");
    EXPECT_EQ(port.writes(), (Writes{{21, 70}, {22, 0}, {26, 134}}));
}

TEST_F(DriveColumns, LimitFieldsAreCorrectedAndReRangeTheSlider)
{
    const auto& v = col(ColumnId::Vref);
    EXPECT_EQ(v.sliderMax(), 300);
    EXPECT_EQ(v.pageStep(), 50);

    limit(ColumnId::Vref, Limit::Step, "0.004"); // rounds to 0.00, below the resolution
    EXPECT_EQ(v.limitText(Limit::Step), "0.01");
    limit(ColumnId::Vref, Limit::Step, "5"); // wider than MAX - MIN
    EXPECT_EQ(v.limitText(Limit::Step), "0.01");
    limit(ColumnId::Vref, Limit::Step, "0.054");
    EXPECT_EQ(v.limitText(Limit::Step), "0.05");
    EXPECT_EQ(v.sliderMax(), 60);
    EXPECT_EQ(v.pageStep(), 10);
    limit(ColumnId::Vref, Limit::Step, "0.01");

    limit(ColumnId::Vref, Limit::Max, "4");
    EXPECT_EQ(v.limitText(Limit::Max), "3.00");
    limit(ColumnId::Vref, Limit::Min, "-1");
    EXPECT_EQ(v.limitText(Limit::Min), "0.00");
    limit(ColumnId::Vref, Limit::Max, "2");
    limit(ColumnId::Vref, Limit::Min, "2.5"); // above MAX
    EXPECT_EQ(v.limitText(Limit::Min), "0.00");
    limit(ColumnId::Vref, Limit::Min, "1");
    limit(ColumnId::Vref, Limit::Max, "0.5"); // below MIN: the absolute maximum
    EXPECT_EQ(v.limitText(Limit::Max), "3.00");

    limit(ColumnId::Mth, Limit::Max, "9");
    EXPECT_EQ(col(ColumnId::Mth).limitText(Limit::Max), "3.50");
    EXPECT_EQ(col(ColumnId::Mth).pageStep(), 50);
    limit(ColumnId::Clk, Limit::Step, "14");
    EXPECT_EQ(col(ColumnId::Clk).limitText(Limit::Step), "10");
    limit(ColumnId::Clk, Limit::Step, "16");
    EXPECT_EQ(col(ColumnId::Clk).limitText(Limit::Step), "20");
    EXPECT_EQ(col(ColumnId::Clk).sliderMax(), 50);
    EXPECT_EQ(col(ColumnId::Clk).pageStep(), 5);
}

TEST_F(DriveColumns, NewLimitsReCommitTheValueToTheBoard)
{
    type(ColumnId::Vref, "2.5");
    port.clear();
    limit(ColumnId::Vref, Limit::Max, "2");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "2.00");
    EXPECT_EQ(port.writes(), (Writes{{23, 2000 & 0xFF}, {24, 2000 >> 8}, {26, 133}}));
    EXPECT_EQ(col(ColumnId::Vref).sliderPosition(), 0);
}

TEST_F(DriveColumns, GridRoundingStaysInsideTheLimits)
{
    // 3.00 is not a multiple of 0.07: rounding up would give 3.01 V, above
    // what VREF may ever be.
    limit(ColumnId::Vref, Limit::Step, "0.07");
    port.clear();
    type(ColumnId::Vref, "3");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "2.94");
    EXPECT_EQ(port.writes()[0].second | (port.writes()[1].second << 8), 2940);
    EXPECT_GE(col(ColumnId::Vref).sliderPosition(), 0);
}

TEST_F(DriveColumns, UnvalidatedLimitTextsCannotBreakTheArithmetic)
{
    // As a hand-edited settings file can leave them.
    core.setLimitText(ColumnId::Vref, Limit::Step, "0");
    core.setLimitText(ColumnId::Vref, Limit::Max, "1e999");
    core.commitLimit(ColumnId::Vref, Limit::Min);
    type(ColumnId::Vref, "1.5");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.50");
    core.setLimitText(ColumnId::Clk, Limit::Step, "-5");
    type(ColumnId::Clk, "505");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "510");
    EXPECT_GE(col(ColumnId::Clk).sliderPosition(), 0);
    EXPECT_LE(col(ColumnId::Clk).sliderPosition(), col(ColumnId::Clk).sliderMax());
}
