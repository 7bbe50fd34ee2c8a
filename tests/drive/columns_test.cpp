// The VREF / MTH / CLK columns: typed values, sliders and limit fields, with
// the DAC writes they cause.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "common/number_text.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

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
    std::string limit(ColumnId id, Limit which, const char* text)
    {
        core.setLimitText(id, which, text);
        core.commitLimit(id, which);
        return col(id).limitText(which);
    }
};

} // namespace

TEST_F(DriveColumns, TypedReferencesAreClampedRoundedAndLoaded)
{
    type(ColumnId::Vref, "3.456");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "3.00");
    EXPECT_EQ(col(ColumnId::Vref).sliderPosition(), 0); // top
    EXPECT_EQ(port.writes(), (Writes{{23, 0xB8}, {24, 0x0B}, {26, 133}}));

    port.clear();
    type(ColumnId::Mth, "1.234");
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "1.23");
    EXPECT_EQ(port.writes(), (Writes{{21, 1230 & 0xFF}, {22, 1230 >> 8}, {26, 134}}));
    port.clear();
    type(ColumnId::Mth, "0.005"); // half rounds up on the grid
    EXPECT_EQ(col(ColumnId::Mth).valueText(), "0.01");
    EXPECT_EQ(port.writes(), (Writes{{21, 10}, {22, 0}, {26, 134}}));
}

// Entry as typed: prefixes and a decimal comma read as meant; text without a
// number is refused and the last good value stays; each refusal or limit
// is said once.
TEST_F(DriveColumns, EntriesAreReadAsMeantAndRefusalsAndLimitsAreSaid)
{
    std::vector<std::string> notes;
    auto keep = core.entryNote.connect([&](const std::string& n) { notes.push_back(n); });
    type(ColumnId::Vref, "500m");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "0.50");
    type(ColumnId::Vref, "1,2");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.20");
    EXPECT_TRUE(notes.empty());

    port.clear();
    type(ColumnId::Vref, "abc");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.20");
    EXPECT_DOUBLE_EQ(core.vref(), 1.2);
    EXPECT_EQ(port.writes(), (Writes{{23, 1200 & 0xFF}, {24, 1200 >> 8}, {26, 133}})); // the same value again
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes.back(), "VREF: \"abc\" holds no number; kept 1.20 V.");

    type(ColumnId::Vref, "99");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "3.00");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes.back(), "VREF: 99 is above MAX; limited to 3.00 V.");
    type(ColumnId::Mth, "-1");
    EXPECT_EQ(notes.back(), "MTH: -1 is below MIN; limited to 0.00 V.");
    limit(ColumnId::Clk, Limit::Max, "100k");
    const auto said = notes.size();
    type(ColumnId::Clk, "2 kHz");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "2.00 k");
    EXPECT_EQ(notes.size(), said);
    type(ColumnId::Clk, "200k");
    EXPECT_EQ(notes.back(), "CLK: 200k is above MAX; limited to 100.00 kHz.");
}

TEST_F(DriveColumns, EveryGridValueGetsItsExactCodeAndNotch)
{
    // 0.29 / 0.01 is 28.999... in doubles; neither code nor notch may slip.
    for (int i = 0; i <= 300; ++i) {
        port.clear();
        type(ColumnId::Vref, formatVolts(i / 100.0).c_str());
        ASSERT_EQ(col(ColumnId::Vref).sliderPosition(), 300 - i) << i;
        ASSERT_EQ(port.writes()[0].second | (port.writes()[1].second << 8), i * 10) << i;
    }
}

TEST_F(DriveColumns, ClockFieldTakesKilohertz)
{
    EXPECT_EQ(limit(ColumnId::Clk, Limit::Max, "100k"), "100.00 k");
    EXPECT_EQ(col(ColumnId::Clk).sliderMax(), 10000);
    port.clear();
    type(ColumnId::Clk, "2k");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "2.00 k");
    EXPECT_EQ(port.ops.front(), "Pause(10)");
    // 40 MHz / 2 kHz - 1 = 19999 = 0x4E1F, half of it high.
    EXPECT_EQ(port.writes(), (Writes{{145, 0x1F}, {146, 0x4E}, {147, 0}, {148, 0}, {149, 9999 & 0xFF},
                                     {150, 9999 >> 8}, {151, 0}, {152, 0}, {144, 6}}));
    type(ColumnId::Clk, "1000");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "1000");
    type(ColumnId::Clk, "1005");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "1.01 k");
}

TEST_F(DriveColumns, SliderTopIsMaxAndBottomIsMin)
{
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Min, "1"), "1.00");
    EXPECT_EQ(col(ColumnId::Vref).sliderMax(), 200);
    port.clear();
    core.sliderMoved(ColumnId::Vref, 171); // 29 notches above 1.00
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.29");
    EXPECT_EQ(port.ops, (Trace{"W(23,10)", "W(24,5)", "W(26,133)", "Wait"}));
    EXPECT_EQ(core.ioText(), "1290 m"); // 1.29 V / 0.2 ohm / 5
    core.sliderMoved(ColumnId::Vref, 0);
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "3.00");
}

TEST_F(DriveColumns, LimitFieldsAreCorrectedAndReRangeTheSlider)
{
    EXPECT_EQ(col(ColumnId::Vref).sliderMax(), 300);
    EXPECT_EQ(col(ColumnId::Vref).pageStep(), 50);
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Step, "0.004"), "0.01"); // rounds to 0, below resolution
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Step, "5"), "0.01");     // wider than MAX - MIN
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Step, "0.054"), "0.05");
    EXPECT_EQ(col(ColumnId::Vref).sliderMax(), 60);
    EXPECT_EQ(col(ColumnId::Vref).pageStep(), 10);
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Max, "4"), "3.00");
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Min, "-1"), "0.00");
    limit(ColumnId::Vref, Limit::Max, "2");
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Min, "2.5"), "0.00"); // above MAX
    limit(ColumnId::Vref, Limit::Min, "1");
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Max, "0.5"), "3.00"); // below MIN: absolute maximum
    EXPECT_EQ(limit(ColumnId::Mth, Limit::Max, "9"), "3.50");
    EXPECT_EQ(limit(ColumnId::Clk, Limit::Step, "16"), "20");
    EXPECT_EQ(col(ColumnId::Clk).pageStep(), 5);
}

TEST_F(DriveColumns, GridRoundingStaysInsideTheLimits)
{
    // 3.00 is no multiple of 0.07: rounding up would give 3.01 V, above what
    // VREF may ever be.
    limit(ColumnId::Vref, Limit::Step, "0.07");
    type(ColumnId::Vref, "3");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "2.94");

    // A STEP no field would accept, as a hand-edited settings file can hold.
    core.setLimitText(ColumnId::Clk, Limit::Step, "0");
    type(ColumnId::Clk, "505");
    EXPECT_EQ(col(ColumnId::Clk).valueText(), "510"); // the resolution stands in
    EXPECT_LE(col(ColumnId::Clk).sliderPosition(), col(ColumnId::Clk).sliderMax());
}

TEST_F(DriveColumns, ValueAtAnyMaxOnTheGridKeepsThatMax)
{
    // 35 x 0.01 lies a hair above 0.35 in doubles; that noise must not step
    // the value back a whole notch below a MAX that is itself on the grid.
    for (ColumnId id : {ColumnId::Vref, ColumnId::Mth}) {
        const int top = id == ColumnId::Vref ? 300 : 350;
        for (int i = 1; i <= top; ++i) {
            const std::string max = formatVolts(i / 100.0);
            limit(id, Limit::Max, max.c_str());
            port.clear();
            type(id, "9");
            ASSERT_EQ(col(id).valueText(), max) << "MAX " << max;
            ASSERT_EQ(port.writes()[0].second | (port.writes()[1].second << 8), i * 10) << "MAX " << max;
            ASSERT_EQ(col(id).sliderPosition(), 0) << "MAX " << max;
        }
    }
}

// A limit field holds its last good limit when given text without a number
// (not 0, which would drop MAX below the value), a corrected limit is said,
// and the other entry fields of the group refuse letters the same way.
TEST_F(DriveColumns, LimitAndGroupFieldsRefuseTextWithoutANumber)
{
    std::vector<std::string> notes;
    auto keep = core.entryNote.connect([&](const std::string& n) { notes.push_back(n); });
    type(ColumnId::Vref, "1.5");
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Max, "2,5"), "2.50");
    EXPECT_TRUE(notes.empty());
    port.clear();
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Max, "abc"), "2.50");
    EXPECT_EQ(col(ColumnId::Vref).valueText(), "1.50");
    EXPECT_EQ(col(ColumnId::Vref).sliderMax(), 250);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes.back(), "VREF MAX: \"abc\" is not a number; kept 2.50.");
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Step, ""), "0.01");
    EXPECT_EQ(notes.back(), "VREF STEP: \"\" is not a number; kept 0.01.");
    EXPECT_EQ(limit(ColumnId::Clk, Limit::Min, "x10"), "0");
    EXPECT_EQ(limit(ColumnId::Mth, Limit::Max, "9"), "3.50");
    EXPECT_EQ(notes.back(), "MTH MAX: 9 is out of range; set to 3.50.");
    // A new MAX below the value limits the value: that note is the one said.
    EXPECT_EQ(limit(ColumnId::Vref, Limit::Max, "1"), "1.00");
    EXPECT_EQ(notes.back(), "VREF: 1.50 is above MAX; limited to 1.00 V.");

    notes.clear();
    core.setRnfText("0,5");
    core.commitRnf();
    EXPECT_EQ(core.rnfText(), "0.50");
    core.setRnfText("ohm");
    core.commitRnf();
    EXPECT_EQ(core.rnfText(), "0.50");
    core.setRnfText("5");
    core.commitRnf();
    EXPECT_EQ(core.rnfText(), "1.00");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "RNF: \"ohm\" is not a number; kept 0.50 ohm.");
    EXPECT_EQ(notes[1], "RNF: 5 is outside 0.01 to 1 ohm; limited to 1.00 ohm.");

    core.setDutyText("25");
    core.commitDuty();
    core.setDutyText("q");
    core.commitDuty();
    EXPECT_EQ(core.dutyText(), "25.00");
    core.setDutyText("250");
    core.commitDuty();
    EXPECT_EQ(core.dutyText(), "100.00");
    EXPECT_EQ(notes.size(), 4u);

    EXPECT_EQ(core.editSteps("12"), "12");
    EXPECT_EQ(core.editSteps("12x"), "12");
    EXPECT_EQ(core.editSteps("x"), "12");
    EXPECT_EQ(core.editSteps(""), "1");
    EXPECT_EQ(notes.back(), "Steps: \"x\" is not a number; kept 12.");
}
