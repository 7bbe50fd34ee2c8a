// The driver's logic inputs read as voltages against the supply, and the
// clock generator's single steps, as advance mode uses them.

#include "board_fixture.h"

namespace boardtest {
namespace {

class InputLevels : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        bringUp();
        ctl.setVirtualTime(true);
    }
    // A pin voltage in millivolts on its DAC channel (code = half the millivolts).
    void pinMv(std::uint8_t channel, int mv) { ASSERT_EQ(bulkOut(dac(channel, std::uint16_t(mv / 2))), Result::Ok); }
};

TEST_F(InputLevels, EnableSwitchesAtItsThresholdsAndHoldsBetweenThem)
{
    power(false, false, true);
    ASSERT_TRUE(ctl.dut().powered);
    // 5 V supply: VIH 3.5 V, VIL 1.5 V.
    pinMv(kEnable, 3000);
    EXPECT_TRUE(ctl.dut().enable) << "between the thresholds the input keeps High";
    pinMv(kEnable, 1600);
    EXPECT_TRUE(ctl.dut().powered);
    pinMv(kEnable, 1400);
    auto s = ctl.dut();
    EXPECT_FALSE(s.enable);
    EXPECT_FALSE(s.powered);
    EXPECT_EQ(s.coilA, 0.0);
    EXPECT_EQ(s.iccMeanAmps, 0.0) << "outputs off";
    pinMv(kEnable, 3400);
    EXPECT_FALSE(ctl.dut().enable) << "and keeps Low on the way up";
    pinMv(kEnable, 3600);
    s = ctl.dut();
    EXPECT_TRUE(s.powered);
    EXPECT_NE(s.coilA, 0.0);

    // The thresholds follow the supply: 3.3 V puts VIH at 2.31 V.
    pinMv(kCw, 2400);
    EXPECT_TRUE(ctl.dut().cw);
    pinMv(kMode0, 2400);
    EXPECT_FALSE(ctl.dut().mode0) << "2.4 V is no High at 5 V";
    ASSERT_EQ(bulkOut(writeFrame(1, 0xE1)), Result::Ok);
    EXPECT_TRUE(ctl.dut().mode0) << "the same 2.4 V is above VIH at 3.3 V";

    // Unpowered, no input is High, and none comes back High by itself.
    ASSERT_EQ(bulkOut(writeFrame(1, 0xE0)), Result::Ok);
    EXPECT_FALSE(ctl.dut().cw);
    pinMv(kEnable, 2500);
    ASSERT_EQ(bulkOut(writeFrame(1, 0xE3)), Result::Ok);
    EXPECT_FALSE(ctl.dut().enable);
}

TEST_F(InputLevels, EachSingleStepRequestMakesOneEdge)
{
    power(false, false, true);
    const std::int64_t before = ctl.dut().steps;
    // No period loaded (a clock frequency of 0), then with one.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(bulkOut(cat({writeFrame(144, 0), writeFrame(153, 1), writeFrame(144, 1)})), Result::Ok);
    ctl.advanceTime(std::chrono::milliseconds(5));
    EXPECT_EQ(ctl.dut().steps, before + 3);
    EXPECT_FALSE(ctl.clockGenerator().running);

    ASSERT_EQ(bulkOut(clockRegisters(1000)), Result::Ok);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(bulkOut(cat({writeFrame(144, 0), writeFrame(153, 1), writeFrame(144, 1)})), Result::Ok);
        ctl.advanceTime(std::chrono::milliseconds(3));
    }
    EXPECT_EQ(ctl.dut().steps, before + 5);
    EXPECT_FALSE(ctl.clockGenerator().running);
}

} // namespace
} // namespace boardtest
