// Advance mode: panel codes and channels, opening and leaving, the supply, the
// clock requests and the enabling rules of the CLK group.
#include <gtest/gtest.h>

#include "drive/advance.h"
#include "tests/drive/fake_port.h"
#include "tests/common/recording_message_service.h"

using namespace zelbo;
using namespace zelbo::drive;
using namespace zelbo::drive::test;

namespace {

struct Advance : ::testing::Test {
    FakePort port;
    RecordingMessageService messages;
    DriveCore drive{port, messages};
    AdvanceCore adv{port, messages, drive};

    // The DAC loads of the recorded traffic as (channel, code).
    Writes dacLoads() const
    {
        Writes out;
        const Writes& w = port.writes();
        for (std::size_t i = 2; i < w.size(); ++i)
            if (w[i].first == reg::kDacStrobe) out.emplace_back(w[i].second, w[i - 2].second | w[i - 1].second << 8);
        return out;
    }
    Writes only(std::initializer_list<int> regs) const
    {
        Writes out;
        for (const auto& w : port.writes())
            if (std::find(regs.begin(), regs.end(), w.first) != regs.end()) out.push_back(w);
        return out;
    }
    void openActive()
    {
        ASSERT_TRUE(adv.confirmOpen());
        adv.activate();
        port.clear();
    }
};

} // namespace

TEST_F(Advance, PanelsMapToTheirChannelsAndHalfMillivoltCodes)
{
    const int expected[] = {135, 129, 131, 128, 130, 132};
    for (int k = 0; k < AdvanceCore::kPanels; ++k) EXPECT_EQ(AdvanceCore::panelChannel(k), expected[k]);
    EXPECT_EQ(AdvanceCore::panelChannel(-1), 132) << "an unknown panel is the spare one";
    EXPECT_EQ(AdvanceCore::panelChannel(6), 132);
    EXPECT_EQ(AdvanceCore::dacCode(2.50), 1250);
    EXPECT_EQ(AdvanceCore::dacCode(5.00), 2500);
    EXPECT_EQ(AdvanceCore::dacCode(0.29), 145) << "binary rounding does not lose a code";
    EXPECT_EQ(AdvanceCore::dacCode(-1.0), 0);

    openActive();
    adv.setValueText(1, "2.5");
    adv.commitValue(1);
    EXPECT_EQ(adv.panel(1).valueText(), "2.50");
    EXPECT_EQ(dacLoads(), (Writes{{129, 1250}}));
    EXPECT_EQ(adv.lastTrace(), "1250 (2.50)\n");
    EXPECT_FALSE(drive.psIndicatorHigh()) << "advance writes are not mirrored";
}

TEST_F(Advance, FirstOpeningTakesSupplyAndPinsLaterOnesKeepThePanels)
{
    drive.loadVcc(Vcc::V3_3);
    drive.applyVccAndPins();
    drive.setPin(Pin::Enable, true);
    drive.setPin(Pin::CwCcw, true);
    port.clear();

    messages.queueAnswer(MsgAnswer::Ok);
    ASSERT_TRUE(adv.confirmOpen());
    EXPECT_EQ(messages.shown().back().text, kAdvanceOpenQuestion);
    EXPECT_EQ(messages.shown().back().buttons, MsgButtons::OkCancel);
    adv.activate();
    EXPECT_TRUE(adv.active());
    EXPECT_EQ(adv.vdut(), Vcc::V3_3);
    EXPECT_EQ(adv.panel(1).valueText(), "3.30");
    EXPECT_EQ(adv.panel(0).valueText(), "0.00");
    EXPECT_EQ(adv.panel(1).limitText(Limit::Max), "3.3");
    EXPECT_EQ(adv.panel(1).sliderMax() - adv.panel(1).sliderPosition(), 330);
    EXPECT_EQ(dacLoads(), (Writes{{135, 0}, {129, 1650}, {131, 0}, {128, 0}, {130, 1650}}));
    EXPECT_EQ(only({1, 144, 153, 154}), Writes{}) << "the first opening only loads the pins";

    // Leave, change the main window's pins: the panels keep their values and
    // the next opening loads them again, with the window's supply and clock.
    adv.setValueText(1, "1.2");
    adv.commitValue(1);
    adv.leave();
    drive.setPin(Pin::Enable, false);
    port.clear();
    adv.activate();
    EXPECT_EQ(adv.panel(1).valueText(), "1.20");
    EXPECT_EQ(dacLoads(), (Writes{{135, 0}, {129, 600}, {131, 0}, {128, 0}, {130, 1650}}));
    EXPECT_EQ(only({1, 144, 153, 154}), (Writes{{1, 0xE1}, {154, 0}, {144, 0}, {153, 0}, {144, 1}}));
}

TEST_F(Advance, CancelledOpeningAndAnInactiveModeSendNothing)
{
    messages.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(adv.confirmOpen());
    EXPECT_FALSE(adv.active());
    adv.clockRequest(AdvanceCore::ClockKind::OneStep, 0);
    adv.clockRequest(AdvanceCore::ClockKind::Sweep, 1);
    adv.setClockMode(AdvanceCore::ClockMode::SingleStep);
    adv.trigger();
    adv.sliderMoved(1, 0);
    adv.leave();
    EXPECT_TRUE(port.ops.empty());
}

TEST_F(Advance, ClockRequestsAndTheEnablingRules)
{
    openActive();
    EXPECT_EQ(adv.clockMode(), AdvanceCore::ClockMode::Continuous);
    EXPECT_FALSE(adv.sweepPanelEnabled());
    EXPECT_FALSE(adv.triggerEnabled());
    adv.trigger();
    EXPECT_TRUE(port.ops.empty()) << "Trigger does nothing outside single-step mode";

    adv.setClockMode(AdvanceCore::ClockMode::SingleStep);
    EXPECT_TRUE(adv.triggerEnabled());
    EXPECT_FALSE(adv.sweepPanelEnabled());
    EXPECT_EQ(port.ops, (Trace{"W(154,0)", "Wait", "W(144,0)", "Wait", "W(153,1)", "W(144,1)", "Wait"}));
    port.clear();
    adv.trigger();
    EXPECT_EQ(port.ops, (Trace{"W(144,0)", "Wait", "W(153,1)", "W(144,1)", "Wait"}));

    port.clear();
    adv.setValueText(5, "1.5");
    adv.commitValue(5);
    port.clear();
    adv.setClockMode(AdvanceCore::ClockMode::Sweep);
    EXPECT_TRUE(adv.sweepPanelEnabled());
    EXPECT_FALSE(adv.triggerEnabled());
    EXPECT_EQ(port.writes(), (Writes{{154, 128}, {42, 0xEE}, {43, 0x02}, {26, 132}}));

    port.clear();
    adv.setClockMode(AdvanceCore::ClockMode::Continuous);
    EXPECT_EQ(port.writes(), (Writes{{154, 0}, {144, 0}, {153, 0}, {144, 1}}));
}

TEST_F(Advance, SupplyChoiceWritesRegisterOneAndHoldsPanelsBelowIt)
{
    openActive();
    adv.setValueText(0, "5");
    adv.commitValue(0);
    adv.setValueText(1, "2.5");
    adv.commitValue(1);
    port.clear();
    adv.setVdut(Vcc::V3_3);
    EXPECT_EQ(port.writes().front(), (std::pair<int, int>{1, 0xE1}));
    EXPECT_EQ(adv.panel(0).limitText(Limit::Max), "3.3");
    EXPECT_EQ(adv.panel(0).valueText(), "3.30");
    EXPECT_EQ(dacLoads(), (Writes{{135, 1650}})) << "only the panel above the new supply is loaded";
    EXPECT_EQ(adv.panel(0).sliderPosition(), 0) << "at the top of its new range";

    port.clear();
    adv.setVdut(Vcc::V5_0);
    EXPECT_EQ(port.writes(), (Writes{{1, 0xE3}}));
    EXPECT_EQ(adv.panel(0).limitText(Limit::Max), "5");
    EXPECT_EQ(adv.panel(0).sliderMax(), 500);

    // A MAX typed above the supply is held to it; a smaller one clamps the value.
    adv.setLimitText(1, Limit::Max, "12");
    adv.commitLimit(1, Limit::Max);
    EXPECT_EQ(adv.panel(1).max(), 5.0);
    adv.setLimitText(1, Limit::Max, "2");
    adv.commitLimit(1, Limit::Max);
    EXPECT_EQ(adv.panel(1).valueText(), "2.00");
    EXPECT_EQ(adv.panel(1).sliderMax(), 200);
}

TEST_F(Advance, StepAndMinShapeTheSliderLikeTheMainColumns)
{
    openActive();
    adv.setLimitText(2, Limit::Step, "0.5");
    adv.commitLimit(2, Limit::Step);
    adv.setLimitText(2, Limit::Min, "1");
    adv.commitLimit(2, Limit::Min);
    EXPECT_EQ(adv.panel(2).sliderMax(), 8); // (5 - 1) / 0.5
    port.clear();
    adv.sliderMoved(2, 3);                  // five notches above MIN
    EXPECT_EQ(adv.panel(2).valueText(), "3.50");
    EXPECT_EQ(dacLoads(), (Writes{{131, 1750}}));
    adv.setValueText(2, "2.7");
    adv.commitValue(2);
    EXPECT_EQ(adv.panel(2).valueText(), "2.50") << "onto the STEP grid";
    adv.setValueText(2, "0.2");
    adv.commitValue(2);
    EXPECT_EQ(adv.panel(2).valueText(), "1.00") << "not below MIN";
}

TEST_F(Advance, LeavingRestoresTheMainWindowsClockReferencesAndPins)
{
    drive.setPin(Pin::Enable, true);
    openActive();
    adv.setClockMode(AdvanceCore::ClockMode::Sweep);
    adv.sliderMoved(1, 500); // ENABLE to 0 V
    port.clear();
    adv.leave();
    EXPECT_FALSE(adv.active());
    const Writes clock = only({144, 153, 154});
    ASSERT_GE(clock.size(), 4u);
    EXPECT_EQ(Writes(clock.begin(), clock.begin() + 4), (Writes{{154, 0}, {144, 0}, {153, 0}, {144, 1}}));
    EXPECT_EQ(clock.back(), (std::pair<int, int>{144, 6})) << "the stopped main clock stops the generator";
    const Writes loads = dacLoads();
    EXPECT_NE(std::find(loads.begin(), loads.end(), std::pair<int, int>{133, 0}), loads.end()) << "VREF";
    EXPECT_EQ(loads.back(), (std::pair<int, int>{130, 0}));
    EXPECT_NE(std::find(loads.begin(), loads.end(), std::pair<int, int>{129, 2500}), loads.end())
        << "ENABLE back at the main window's High";
}

TEST_F(Advance, NoPanelIsEverDrivenAboveTheSupply)
{
    openActive();
    adv.setVdut(Vcc::V3_3);
    // A MAX typed below MIN: the column's own correction is its absolute top
    // (5 V), above this supply.
    adv.setLimitText(1, Limit::Min, "2");
    adv.commitLimit(1, Limit::Min);
    adv.setLimitText(1, Limit::Max, "1");
    adv.commitLimit(1, Limit::Max);
    EXPECT_LE(adv.panel(1).max(), 3.3);
    port.clear();
    adv.sliderMoved(1, 0); // the slider's top
    for (const auto& [channel, code] : dacLoads()) EXPECT_LE(code, 1650) << "channel " << channel;
    EXPECT_LE(adv.panel(1).value(), 3.3);

    // A pin at 4.5 V held up by a MIN of 4 V when 3.3 V is chosen.
    adv.setVdut(Vcc::V5_0);
    adv.setLimitText(2, Limit::Min, "4");
    adv.commitLimit(2, Limit::Min);
    adv.setValueText(2, "4.5");
    adv.commitValue(2);
    port.clear();
    adv.setVdut(Vcc::V3_3);
    ASSERT_FALSE(dacLoads().empty());
    for (const auto& [channel, code] : dacLoads()) EXPECT_LE(code, 1650) << "channel " << channel;
    EXPECT_LE(adv.panel(2).value(), 3.3) << "the window shows what the pin gets";
}
