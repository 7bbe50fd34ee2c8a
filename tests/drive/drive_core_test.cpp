// Pins, supply, sense resistor, chips, mode change, reset and restore.
#include <cmath>

#include <gtest/gtest.h>

#include "drive/drive_core.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

namespace {

struct DriveState : ::testing::Test {
    FakePort port;
    RecordingMessageService messages;
    DriveCore core{port, messages};
    unsigned seen = 0;
    boost::signals2::scoped_connection conn{core.changed.connect([this](unsigned a) { seen |= a; })};

    static ChipEntry chip(std::string name, int mode, const std::string& prefix, double a = 600)
    {
        return ChipEntry{mode, std::move(name), a, 2.0, {prefix + "0", prefix + "1", prefix + "2", prefix + "3"}};
    }
};

} // namespace

TEST_F(DriveState, ApplyVccAndPinsWritesSupplyThenEveryPinInOrder)
{
    EXPECT_FALSE(loadDacChannel(port, 0x42, 7)); // not a channel: nothing sent
    core.setPin(Pin::Enable, true);
    core.setPin(Pin::CwCcw, true);
    port.clear();
    core.loadVcc(Vcc::V3_3);
    core.applyVccAndPins();
    EXPECT_EQ(core.pinHighLevel(), 1650);
    EXPECT_EQ(port.ops, (Trace{"W(1,225)", "Wait",
                               "W(34,0)", "W(35,0)", "W(26,135)", "Pause(50)",   // PS
                               "W(36,114)", "W(37,6)", "W(26,129)", "Pause(50)", // ENABLE 1650
                               "W(38,0)", "W(39,0)", "W(26,131)", "Pause(50)",   // MODE0
                               "W(40,0)", "W(41,0)", "W(26,128)", "Pause(50)",   // MODE1
                               "W(32,114)", "W(33,6)", "W(26,130)", "Pause(50)", // CW/CCW
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
    EXPECT_EQ(port.ops, (Trace{"W(34,196)", "W(35,9)", "W(26,135)"}));
    EXPECT_TRUE(core.psIndicatorHigh());
    EXPECT_TRUE(seen & aspect::kPins);
    core.setPin(Pin::Mode1, true);
    EXPECT_EQ(core.pinStateText(), "10010");
    core.handlePinDacRequest({135, 0, false}); // advance mode: the indicator stays
    EXPECT_TRUE(core.psIndicatorHigh());
    core.handlePinDacRequest({135, 0, true});
    EXPECT_FALSE(core.psIndicatorHigh());
}

TEST_F(DriveState, ExcitationTextFromBuiltInTableOrTheChip)
{
    // One chip (the default stands in for an empty list): MODE0 + 2 x MODE1.
    EXPECT_EQ(core.chipNames(), (std::vector<std::string>{"TQ40000PLXV"}));
    EXPECT_DOUBLE_EQ(core.chipB(), 2.0836);
    core.setPin(Pin::Mode0, true);
    EXPECT_EQ(core.excitationText(), "Half Step A");
    core.setPin(Pin::Mode0, false);
    core.setPin(Pin::Mode1, true);
    EXPECT_EQ(core.excitationText(), "Half Step B");

    // Several chips: the selected chip's names by 2 x MODE0 + MODE1, and only
    // the chips of the current mode are offered.
    core.setChipList({chip("A1", 0, "a", 100), chip("P1", 1, "p"), chip("B1", 0, "b", 200)});
    EXPECT_EQ(core.chipNames(), (std::vector<std::string>{"A1", "B1"}));
    core.setPin(Pin::Mode0, true);
    core.setPin(Pin::Mode1, false);
    EXPECT_EQ(core.excitationText(), "a2");
    core.selectChip(1);
    EXPECT_EQ(core.excitationText(), "b2");
    EXPECT_DOUBLE_EQ(core.chipA(), 200);

    core.setChipList({chip("Only", 0, "x")}); // one real chip: built-in names again
    EXPECT_EQ(core.excitationText(), "Half Step A");
}

TEST_F(DriveState, SenseResistorAndIo)
{
    for (auto [in, out] : {std::pair{"5", "1.00"}, {"0", "0.01"}, {"abc", "0.01"}, {"0.333", "0.33"}}) {
        core.setRnfText(in);
        core.commitRnf();
        EXPECT_EQ(core.rnfText(), out) << in;
    }
    core.setRnfText("0.2");
    core.commitRnf();
    core.setValueText(ColumnId::Vref, "0.5");
    core.commitValue(ColumnId::Vref);
    EXPECT_EQ(core.ioText(), "500 m");
    core.setValueText(ColumnId::Vref, "1");
    core.commitValue(ColumnId::Vref);
    core.setRateIndex(9);
    EXPECT_EQ(core.rateText(), "1 / 1");
    EXPECT_EQ(core.ioText(), "5000 m");
    core.setRateIndex(-3);
    EXPECT_EQ(core.rateText(), "1 / 10");

    // A stored rate text without the spaces is shown but changes nothing.
    EXPECT_FALSE(core.loadRateText("1/5"));
    EXPECT_EQ(core.rateText(), "1/5");
    EXPECT_EQ(core.rateDivisor(), 10);
    // A stored RNF of 0 stays as written, but Io must stay a number.
    core.loadRnfText("0");
    EXPECT_EQ(core.ioText(), "10000 m");
}

TEST_F(DriveState, SameModeOnlyReappliesSupplyAndPins)
{
    core.setPin(Pin::Ps, true);
    port.clear();
    int scope = 0;
    ModeChangeHooks hooks;
    hooks.scopeRunning = [] { return true; };
    hooks.stopScope = [&] { scope -= 1; };
    hooks.startScope = [&] { scope += 2; };
    EXPECT_TRUE(core.changeMode(0, Vcc::V3_3, hooks));
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_EQ(scope, 1); // stopped, then started again
    EXPECT_EQ(port.writes().front(), (std::pair<int, int>{1, 0xE1}));
    EXPECT_EQ(port.writes().size(), 1u + 15u);
    EXPECT_EQ(core.pinStateText(), "10000");
}

TEST_F(DriveState, CancellingTheModeWarningChangesNothing)
{
    core.loadMode(1); // as a settings file can leave it
    core.setPin(Pin::Enable, true);
    port.clear();
    messages.queueAnswer(MsgAnswer::Cancel);
    bool restarted = false;
    ModeChangeHooks hooks;
    hooks.scopeRunning = [] { return true; };
    hooks.startScope = [&] { restarted = true; };
    EXPECT_FALSE(core.changeMode(0, Vcc::V3_3, hooks));
    ASSERT_EQ(messages.shown().size(), 1u);
    const Message m = messages.shown()[0];
    EXPECT_EQ(m.text, "Warning: Changing modes will reset settings.");
    EXPECT_EQ(m.caption, "Zelbo Evaluation Software");
    EXPECT_EQ(m.buttons, MsgButtons::OkCancel);
    EXPECT_EQ(m.icon, MsgIcon::Warning);
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(core.mode(), 1);
    EXPECT_EQ(core.vcc(), Vcc::V5_0);
    EXPECT_EQ(core.pinStateText(), "01000");
    EXPECT_FALSE(restarted); // the scope stopped for the question stays stopped
}

TEST_F(DriveState, ConfirmedModeChangeResetsClearsAndReapplies)
{
    core.loadMode(2);
    core.setPin(Pin::Ps, true);
    core.setManual(true);
    core.setClockRunning(true);
    port.clear();
    std::string calls;
    ModeChangeHooks hooks;
    hooks.clearChartOrigin = [&] { calls += "origin "; };
    hooks.resetScopeOutputNames = [&] { calls += "names "; };
    hooks.startThermometer = [&] { calls += "thermometer"; };
    EXPECT_TRUE(core.changeMode(0, Vcc::V5_0, hooks));
    EXPECT_EQ(calls, "origin names thermometer");

    const Trace expected{
        "W(32,0)", "W(33,0)", "W(26,130)", "W(34,0)", "W(35,0)", "W(26,135)", "W(36,0)", "W(37,0)",
        "W(26,129)", "W(38,0)", "W(39,0)", "W(26,131)", "W(40,0)", "W(41,0)", "W(26,128)", "W(21,0)",
        "W(22,0)", "W(26,134)", "W(23,0)", "W(24,0)", "W(26,133)", "Pause(30)", "W(104,1)",
        "W(145,0)", "W(146,0)", "W(147,0)", "W(148,0)", "W(149,0)", "W(150,0)", "W(151,0)", "W(152,0)",
        "W(144,6)", "W(160,0)", "W(112,0,scope)", "W(116,255,scope)", "W(117,15,scope)",
        "W(120,4,scope)", "W(121,4,scope)", "W(122,4,scope)", "W(123,4,scope)",
        "W(104,1)", "W(1,227)", "Wait"};
    ASSERT_GE(port.ops.size(), expected.size());
    EXPECT_EQ(Trace(port.ops.begin(), port.ops.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(core.mode(), 0);
    EXPECT_EQ(core.pinStateText(), "00000");
    EXPECT_FALSE(core.clockRunning());

    FakePort other; // the link's start clears through its own port
    core.clearDacOutputs(other);
    EXPECT_EQ(other.ops, Trace(expected.begin(), expected.end() - 3));
}

TEST_F(DriveState, ResetRestoresDefaultsWithoutTraffic)
{
    core.setLimitText(ColumnId::Clk, Limit::Max, "50k");
    core.commitLimit(ColumnId::Clk, Limit::Max);
    core.setValueText(ColumnId::Clk, "20k");
    core.commitValue(ColumnId::Clk);
    core.setRnfText("0.7");
    core.commitRnf();
    core.setRateIndex(1);
    core.setPin(Pin::Mode0, true);
    core.setManual(true);
    core.editSteps("77");
    core.setStopHigh(true);
    port.clear();
    seen = 0;

    core.reset();
    EXPECT_TRUE(port.ops.empty());
    EXPECT_EQ(seen, aspect::kAll);
    const Column& c = core.column(ColumnId::Clk);
    EXPECT_EQ(c.limitText(Limit::Max) + "/" + c.limitText(Limit::Min) + "/" + c.limitText(Limit::Step), "1000/0/10");
    EXPECT_EQ(c.sliderMax(), 100);
    EXPECT_EQ(c.valueText(), "0"); // not "1.0 k" from the CLK range in force before
    EXPECT_EQ(core.column(ColumnId::Vref).valueText(), "0.00");
    EXPECT_EQ(core.column(ColumnId::Mth).sliderPosition(), 350);
    EXPECT_EQ(core.rnfText() + " " + core.rateText() + " " + core.ioText(), "0.20 1 / 5 0 m");
    EXPECT_EQ(core.pinStateText(), "00000");
    EXPECT_EQ(core.excitationText(), "Full Step");
    EXPECT_EQ(core.stepsText(), "1");
    EXPECT_FALSE(core.manual());
    EXPECT_STREQ(core.stopLevelCaption(), "L");
}

TEST_F(DriveState, RestoredTextsThenSentAsShown)
{
    EXPECT_TRUE(core.loadPinStateText("1x201"));
    EXPECT_EQ(core.pinStateText(), "10101"); // only digits above 0 are High
    EXPECT_FALSE(core.loadPinStateText("1111"));
    core.loadValueText(ColumnId::Clk, "2.00 k");
    EXPECT_DOUBLE_EQ(core.clockFrequency(), 2000.0);
    core.loadMode(9); // no such mode
    EXPECT_EQ(core.mode(), 0);
    EXPECT_TRUE(port.ops.empty());

    core.sendPins(std::chrono::milliseconds(20));
    EXPECT_EQ(port.ops[0], "W(34,196)");
    EXPECT_EQ(port.ops[3], "Pause(20)");
    EXPECT_EQ(port.ops[8], "W(38,196)"); // MODE0 High: 2500
    EXPECT_EQ(port.ops[11], "Pause(20)");
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
