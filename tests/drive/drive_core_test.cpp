// Pins, supply, sense resistor, chips, mode change and reset.
#include <cmath>

#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "tests/drive/fake_port.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

namespace {

using Trace = std::vector<std::string>;

struct DriveState : ::testing::Test {
    FakePort port;
    RecordingMessageService messages;
    DriveCore core{port, messages};
    unsigned seen = 0;
    boost::signals2::scoped_connection conn{core.changed.connect([this](unsigned a) { seen |= a; })};

    ChipEntry chip(std::string name, int mode, std::array<std::string, 4> names, double a = 600, double b = 2)
    {
        return ChipEntry{mode, std::move(name), a, b, std::move(names)};
    }
};

} // namespace

TEST(DriveDac, ChannelMapAndLoadOrder)
{
    FakePort port;
    EXPECT_TRUE(loadDacChannel(port, DacChannel::Vref, 1250));
    EXPECT_TRUE(loadDacChannel(port, DacChannel::Spare, 0x1234));
    EXPECT_FALSE(loadDacChannel(port, 0x42, 7)); // not a channel: nothing sent
    EXPECT_EQ(port.trace(), (Trace{"W(23,226)", "W(24,4)", "W(26,133)", "W(42,52)", "W(43,18)", "W(26,132)"}));
    const std::pair<DacChannel, DacRegisters> map[] = {
        {DacChannel::Mode1, {40, 41}}, {DacChannel::Enable, {36, 37}}, {DacChannel::CwCcw, {32, 33}},
        {DacChannel::Mode0, {38, 39}}, {DacChannel::Mth, {21, 22}},    {DacChannel::Ps, {34, 35}}};
    for (const auto& [ch, regs] : map) {
        auto r = dacRegisters(static_cast<std::uint8_t>(ch));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->low, regs.low);
        EXPECT_EQ(r->high, regs.high);
    }
}

TEST_F(DriveState, ApplyVccAndPinsWritesSupplyThenEveryPinInOrder)
{
    core.setPin(Pin::Enable, true);
    core.setPin(Pin::CwCcw, true);
    port.clear();
    core.loadVcc(Vcc::V3_3);
    core.applyVccAndPins();
    EXPECT_EQ(core.pinHighLevel(), 1650);
    EXPECT_EQ(port.trace(),
              (Trace{"W(1,225)", "Wait",
                     "W(34,0)", "W(35,0)", "W(26,135)", "Pause(50)",                    // PS
                     "W(36,114)", "W(37,6)", "W(26,129)", "Pause(50)",                  // ENABLE 1650
                     "W(38,0)", "W(39,0)", "W(26,131)", "Pause(50)",                    // MODE0
                     "W(40,0)", "W(41,0)", "W(26,128)", "Pause(50)",                    // MODE1
                     "W(32,114)", "W(33,6)", "W(26,130)", "Pause(50)",                  // CW/CCW
                     "Wait", "Pause(50)"}));
    port.clear();
    core.loadVcc(Vcc::V5_0);
    core.applyVccAndPins();
    EXPECT_EQ(port.writes()[0], (std::pair<int, int>{1, 0xE3}));
    EXPECT_EQ(port.writes()[4], (std::pair<int, int>{36, 2500 & 0xFF}));
}

TEST_F(DriveState, PinClicksLoadTheDacAndMirrorPsOnlyWhenAsked)
{
    EXPECT_EQ(core.pinStateText(), "00000");
    core.setPin(Pin::Ps, true);
    EXPECT_EQ(port.trace(), (Trace{"W(34,196)", "W(35,9)", "W(26,135)"}));
    EXPECT_TRUE(core.psIndicatorHigh());
    EXPECT_TRUE(seen & aspect::kPins);
    core.setPin(Pin::Mode1, true);
    EXPECT_EQ(core.pinStateText(), "10010");

    // Advance mode drives PS without moving the main window's indicator.
    core.handlePinDacRequest({135, 0, false});
    EXPECT_TRUE(core.psIndicatorHigh());
    core.handlePinDacRequest({135, 0, true});
    EXPECT_FALSE(core.psIndicatorHigh());
}

TEST_F(DriveState, RestoredPinTextNeedsFiveCharacters)
{
    EXPECT_TRUE(core.loadPinStateText("10201"));
    EXPECT_EQ(core.pinStateText(), "10101");
    EXPECT_TRUE(core.psIndicatorHigh());
    EXPECT_FALSE(core.loadPinStateText("1111"));
    EXPECT_EQ(core.pinStateText(), "10101");
    EXPECT_TRUE(core.loadPinStateText("0x-91"));
    EXPECT_EQ(core.pinStateText(), "00011");
    EXPECT_TRUE(port.ops.empty());
}

TEST_F(DriveState, ExcitationTextFromBuiltInTableOrTheChip)
{
    // One chip (the default stands in for an empty list): MODE0 + 2 * MODE1.
    EXPECT_EQ(core.chipNames(), (std::vector<std::string>{"TQ40000PLXV"}));
    EXPECT_DOUBLE_EQ(core.chipA(), 672.29);
    EXPECT_DOUBLE_EQ(core.chipB(), 2.0836);
    EXPECT_EQ(core.excitationText(), "Full Step");
    core.setPin(Pin::Mode0, true);
    EXPECT_EQ(core.excitationText(), "Half Step A");
    core.setPin(Pin::Mode0, false);
    core.setPin(Pin::Mode1, true);
    EXPECT_EQ(core.excitationText(), "Half Step B");
    core.setPin(Pin::Mode0, true);
    EXPECT_EQ(core.excitationText(), "Quarter Step");

    // Several chips: the selected chip's names, 2 * MODE0 + MODE1; only the
    // chips of the current mode are offered.
    core.setChipList({chip("A1", 0, {"a0", "a1", "a2", "a3"}, 100, 1.5),
                      chip("P1", 1, {"p0", "p1", "p2", "p3"}),
                      chip("B1", 0, {"b0", "b1", "b2", "b3"}, 200, 2.5)});
    EXPECT_EQ(core.chipNames(), (std::vector<std::string>{"A1", "B1"}));
    EXPECT_EQ(core.selectedChipName(), "A1");
    core.setPin(Pin::Mode1, false); // MODE0 High, MODE1 Low
    EXPECT_EQ(core.excitationText(), "a2");
    core.selectChip(1);
    EXPECT_EQ(core.excitationText(), "b2");
    EXPECT_DOUBLE_EQ(core.chipA(), 200);
    core.selectChip(5); // out of range: unchanged
    EXPECT_EQ(core.selectedChipName(), "B1");

    // A single real chip still uses the built-in names.
    core.setChipList({chip("Only", 0, {"x", "y", "z", "w"})});
    EXPECT_EQ(core.excitationText(), "Half Step A");
}

TEST_F(DriveState, RnfValueIsHeldBetweenOneHundredthAndOneOhm)
{
    EXPECT_EQ(core.rnfText(), "0.20");
    for (auto [in, out] : {std::pair{"5", "1.00"}, {"0", "0.01"}, {"abc", "0.01"}, {"0.333", "0.33"},
                           {"-1", "0.01"}, {"1e999", "1.00"}}) {
        core.setRnfText(in);
        core.commitRnf();
        EXPECT_EQ(core.rnfText(), out) << in;
    }
    EXPECT_TRUE(port.ops.empty());
}

TEST_F(DriveState, IoFollowsVrefRnfAndExchangeRate)
{
    EXPECT_EQ(core.rateText(), "1 / 5");
    EXPECT_EQ(core.ioText(), "0 m");
    core.setValueText(ColumnId::Vref, "0.5");
    core.commitValue(ColumnId::Vref);
    EXPECT_EQ(core.ioText(), "500 m");
    core.setValueText(ColumnId::Vref, "1");
    core.commitValue(ColumnId::Vref);
    core.setRateIndex(9);
    EXPECT_EQ(core.rateText(), "1 / 1");
    EXPECT_EQ(core.ioText(), "5000 m");
    core.setRateIndex(42);
    EXPECT_EQ(core.rateIndex(), 9);
    core.setRateIndex(-3);
    EXPECT_EQ(core.rateText(), "1 / 10");
    EXPECT_EQ(core.ioText(), "500 m");
    core.setRnfText("0.5");
    core.commitRnf();
    EXPECT_EQ(core.ioText(), "200 m");

    // A restored rate text without the spaces is shown but changes nothing.
    EXPECT_FALSE(core.loadRateText("1/5"));
    EXPECT_EQ(core.rateText(), "1/5");
    EXPECT_EQ(core.rateDivisor(), 10);
    EXPECT_TRUE(core.loadRateText("1 / 2"));
    EXPECT_EQ(core.rateDivisor(), 2);
}

TEST_F(DriveState, SameModeOnOkOnlyReappliesSupplyAndPins)
{
    core.setPin(Pin::Ps, true);
    port.clear();
    bool stopped = false, started = false;
    ModeChangeHooks hooks;
    hooks.scopeRunning = [] { return true; };
    hooks.stopScope = [&] { stopped = true; };
    hooks.startScope = [&] { started = true; };
    EXPECT_TRUE(core.changeMode(0, Vcc::V3_3, hooks));
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_TRUE(stopped && started);
    EXPECT_EQ(port.writes().front(), (std::pair<int, int>{1, 0xE1}));
    EXPECT_EQ(port.writes().size(), 1u + 15u);
    EXPECT_EQ(core.pinStateText(), "10000"); // pins kept
    EXPECT_EQ(core.modeLabel(), "Stepping Clk-In");
}

TEST_F(DriveState, CancellingTheModeWarningChangesNothing)
{
    core.loadMode(1); // as a settings file can leave it
    core.setPin(Pin::Enable, true);
    core.setValueText(ColumnId::Vref, "1.5");
    core.commitValue(ColumnId::Vref);
    port.clear();
    messages.queueAnswer(MsgAnswer::Cancel);
    bool restarted = false;
    ModeChangeHooks hooks;
    hooks.scopeRunning = [] { return true; };
    hooks.startScope = [&] { restarted = true; };
    EXPECT_FALSE(core.changeMode(0, Vcc::V3_3, hooks));
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Warning: Changing modes will reset settings.");
    EXPECT_EQ(messages.shown()[0].caption, "Zelbo Evaluation Software");
    EXPECT_EQ(messages.shown()[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(messages.shown()[0].icon, MsgIcon::Warning);
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(core.mode(), 1);
    EXPECT_EQ(core.vcc(), Vcc::V5_0);
    EXPECT_EQ(core.pinStateText(), "01000");
    EXPECT_EQ(core.column(ColumnId::Vref).valueText(), "1.50");
    EXPECT_FALSE(restarted); // the scope stopped for the question stays stopped
}

TEST_F(DriveState, ConfirmedModeChangeResetsClearsAndReapplies)
{
    core.loadMode(2);
    core.setPin(Pin::Ps, true);
    core.setManual(true);
    core.setValueText(ColumnId::Vref, "2");
    core.commitValue(ColumnId::Vref);
    core.setClockRunning(true);
    port.clear();
    std::vector<std::string> calls;
    ModeChangeHooks hooks;
    hooks.scopeRunning = [] { return false; };
    hooks.clearChartOrigin = [&] { calls.push_back("origin"); };
    hooks.resetScopeOutputNames = [&] { calls.push_back("names"); };
    hooks.startThermometer = [&] { calls.push_back("thermometer"); };
    EXPECT_TRUE(core.changeMode(0, Vcc::V5_0, hooks));
    EXPECT_EQ(calls, (std::vector<std::string>{"origin", "names", "thermometer"}));

    const Trace expected{
        // all DAC outputs to 0
        "W(32,0)", "W(33,0)", "W(26,130)", "W(34,0)", "W(35,0)", "W(26,135)", "W(36,0)", "W(37,0)",
        "W(26,129)", "W(38,0)", "W(39,0)", "W(26,131)", "W(40,0)", "W(41,0)", "W(26,128)", "W(21,0)",
        "W(22,0)", "W(26,134)", "W(23,0)", "W(24,0)", "W(26,133)", "Pause(30)", "W(104,1)",
        // clock off: frequency 0 after the reset
        "W(145,0)", "W(146,0)", "W(147,0)", "W(148,0)", "W(149,0)", "W(150,0)", "W(151,0)", "W(152,0)",
        "W(144,6)", "W(160,0)",
        // scope front end
        "W(112,0,scope)", "W(116,255,scope)", "W(117,15,scope)", "W(120,4,scope)", "W(121,4,scope)",
        "W(122,4,scope)", "W(123,4,scope)",
        // mode 0 set-up, then supply and pins (all Low now)
        "W(104,1)", "W(1,227)", "Wait"};
    const Trace got = port.trace();
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(Trace(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(core.mode(), 0);
    EXPECT_EQ(core.pinStateText(), "00000");
    EXPECT_FALSE(core.clockRunning());
    EXPECT_FALSE(core.manual());
    EXPECT_EQ(core.column(ColumnId::Vref).valueText(), "0.00");
}

TEST_F(DriveState, ClearingThroughAnotherPortLeavesOursAlone)
{
    FakePort other;
    core.clearDacOutputs(other);
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(other.writes().size(), 21u + 1 + 9 + 1 + 7);
    EXPECT_EQ(other.ops[21], Pause(30));
}

TEST_F(DriveState, ResetRestoresEveryDefault)
{
    core.setLimitText(ColumnId::Clk, Limit::Max, "50k");
    core.commitLimit(ColumnId::Clk, Limit::Max);
    core.setValueText(ColumnId::Clk, "20k");
    core.commitValue(ColumnId::Clk);
    core.setLimitText(ColumnId::Vref, Limit::Step, "0.1");
    core.commitLimit(ColumnId::Vref, Limit::Step);
    core.setRnfText("0.7");
    core.commitRnf();
    core.setRateIndex(1);
    core.setPin(Pin::Mode0, true);
    core.setManual(true);
    core.editSteps("77");
    core.setStopHigh(true);
    core.setSecondRunning(true);
    port.clear();
    seen = 0;

    core.reset();
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(seen, aspect::kAll);
    const auto& v = core.column(ColumnId::Vref);
    const auto& m = core.column(ColumnId::Mth);
    const auto& c = core.column(ColumnId::Clk);
    EXPECT_EQ(v.limitText(Limit::Max) + v.limitText(Limit::Min) + v.limitText(Limit::Step), "3.000.000.01");
    EXPECT_EQ(m.limitText(Limit::Max) + m.limitText(Limit::Min) + m.limitText(Limit::Step), "3.500.000.01");
    EXPECT_EQ(c.limitText(Limit::Max) + c.limitText(Limit::Min) + c.limitText(Limit::Step), "1000010");
    EXPECT_EQ(v.sliderMax(), 300);
    EXPECT_EQ(v.sliderPosition(), 300);
    EXPECT_EQ(v.pageStep(), 50);
    EXPECT_EQ(m.sliderMax(), 350);
    EXPECT_EQ(m.pageStep(), 50);
    EXPECT_EQ(c.sliderMax(), 100);
    EXPECT_EQ(c.pageStep(), 10);
    EXPECT_EQ(v.valueText(), "0.00");
    EXPECT_EQ(m.valueText(), "0.00");
    EXPECT_EQ(c.valueText(), "0"); // not "1.0 k" from the old CLK range
    EXPECT_DOUBLE_EQ(core.clockFrequency(), 0.0);
    EXPECT_EQ(core.rnfText(), "0.20");
    EXPECT_EQ(core.rateText(), "1 / 5");
    EXPECT_EQ(core.ioText(), "0 m");
    EXPECT_EQ(core.pinStateText(), "00000");
    EXPECT_EQ(core.excitationText(), "Full Step");
    EXPECT_FALSE(core.manual());
    EXPECT_EQ(core.stepsText(), "1");
    EXPECT_FALSE(core.stepsLabelsEnabled());
    EXPECT_STREQ(core.stopLevelCaption(), "L");
    EXPECT_STREQ(core.clockRunCaption(), "Start");
    EXPECT_STREQ(core.secondRunCaption(), "Start");
    EXPECT_EQ(core.dutySliderPosition(), 500);
}

TEST_F(DriveState, RestoredTextsSetValuesWithoutTraffic)
{
    core.loadValueText(ColumnId::Vref, "1.00");
    core.setRateIndex(9);
    EXPECT_EQ(core.ioText(), "5000 m");
    core.loadValueText(ColumnId::Clk, "2.00 k");
    EXPECT_DOUBLE_EQ(core.clockFrequency(), 2000.0);
    core.loadMode(9); // no such mode
    EXPECT_EQ(core.mode(), 0);
    // A stored RNF of 0 stays as written, but Io must stay a number.
    core.loadRnfText("0");
    EXPECT_EQ(core.rnfText(), "0");
    EXPECT_EQ(core.ioText(), "100000 m");
    EXPECT_TRUE(port.ops.empty());

    // Sending them afterwards gives the board what the fields show.
    core.loadPinStateText("1x001");
    core.sendPins(std::chrono::milliseconds(20));
    EXPECT_EQ(port.trace(), (Trace{"W(34,196)", "W(35,9)", "W(26,135)", "Pause(20)", "W(36,0)", "W(37,0)",
                                   "W(26,129)", "Pause(20)", "W(38,0)", "W(39,0)", "W(26,131)", "Pause(20)",
                                   "W(40,0)", "W(41,0)", "W(26,128)", "Pause(20)", "W(32,196)", "W(33,9)",
                                   "W(26,130)", "Pause(20)"}));
    port.clear();
    core.setLimitText(ColumnId::Clk, Limit::Max, "5k");
    core.commitLimit(ColumnId::Clk, Limit::Max);
    port.clear();
    core.recommitValues();
    const Trace t = port.trace();
    ASSERT_EQ(t.size(), 3u + 1 + 3 + 1 + 1 + 9 + 1);
    EXPECT_EQ(t[0], "W(23,232)"); // 1000 mV
    EXPECT_EQ(t[3], "Pause(50)");
    EXPECT_EQ(t[8], "Pause(10)");
    EXPECT_EQ(t[9], "W(145,31)"); // 2 kHz: N = 19999
    EXPECT_EQ(t.back(), "Pause(50)");
}

TEST_F(DriveState, ArbitraryBytesInEveryStoredFieldAreHarmless)
{
    // Settings files are outside input: whatever their texts hold, the core
    // must neither crash nor send an out-of-range value.
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const std::string alphabet = "0123456789.-+eEkK x\t\x01\xff";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const auto len = next() % 24;
        for (std::uint32_t i = 0; i < len; ++i)
            text += (next() % 4 == 0) ? static_cast<char>(next() & 0xFF) : alphabet[next() % alphabet.size()];
        const auto col = static_cast<ColumnId>(next() % 3);
        const auto which = static_cast<Limit>(next() % 3);
        core.setLimitText(col, which, text);
        core.loadValueText(col, text);
        core.loadRnfText(text);
        core.loadRateText(text);
        core.loadStepsText(text);
        core.loadPinStateText(text);
        core.setDutyText(text);
        core.recommitValues();
        core.commitDuty();
        core.setManual(true);
        core.setClockRunning(true);
        if (round % 7 == 0) core.commitLimit(col, which);
        const Column& c = core.column(col);
        ASSERT_GE(c.sliderPosition(), 0);
        ASSERT_LE(c.sliderPosition(), c.sliderMax());
        ASSERT_TRUE(std::isfinite(core.io()));
        ASSERT_TRUE(std::isfinite(c.value()));
        port.clear();
    }
}
