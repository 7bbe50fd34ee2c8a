// Advance mode and the SWEEP row on the simulated board, through the windows:
// pin voltages against the driver's thresholds, single steps, the voltage
// sweep switch, leaving, and a stepped clock sweep.

#include <QAbstractButton>
#include <QComboBox>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include "app/program_features.h"
#include "drive/ui/drive_feature.h"
#include "scope/scope_core.h"
#include "tests/e2e/program_fixture.h"

using namespace e2e;
using zelbo::drive::Pin;

namespace {

class AdvanceOnBoard : public Program {
protected:
    zelbo::drive::DriveFeature& drive() { return window->features()->drive(); }
    CDlgAdvanceMode& advanceWindow() { return drive().advance().window(); }
    zelbo::scope::ScopeCore& scope() { return window->features()->scopeCore(); }
    QAbstractButton* button(int id) const { return window->control<QAbstractButton>(id); }
    void settle() { ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000))); }
    void pin(Pin p, bool high)
    {
        auto& panel = drive().pinPanel();
        (high ? panel.highRadio(p) : panel.lowRadio(p))->click();
    }

    // The largest |value| of every channel over the next two whole sweeps.
    double peakOfNextSweeps()
    {
        const auto from = scope().sweepsConverted();
        EXPECT_TRUE(waitUntil([&] { return scope().sweepsConverted() >= from + 2; }, 3000));
        double peak = 0;
        for (int n = 0; n < 4; ++n) {
            std::lock_guard lk(scope().channel(n).traceMutex);
            for (const auto& p : scope().channel(n).trace) peak = std::max(peak, std::abs(p.second));
        }
        return peak;
    }
    Writes only(std::initializer_list<int> regs) const
    {
        Writes out;
        for (const Write& w : writes())
            if (std::find(regs.begin(), regs.end(), w.first) != regs.end()) out.push_back(w);
        return out;
    }
};

} // namespace

TEST_F(AdvanceOnBoard, EnableSliderAcrossTheThresholdSwitchesTheOutputsAndLeavingRestores)
{
    poweredOn();
    pin(Pin::Enable, true);
    pin(Pin::CwCcw, true);
    window->control<QLineEdit>(ctl::kVrefEdit)->setText("1.00");
    window->control<QLineEdit>(ctl::kVrefEdit)->editingFinished();
    settle();
    ASSERT_TRUE(waitUntil([&] { return board.dut().powered; }, 2000));
    ASSERT_GT(peakOfNextSweeps(), 10.0) << "the chopped outputs at the motor supply";

    QAbstractButton* toggle = drive().pinPanel().advanceButton();
    toggle->click();
    ASSERT_TRUE(advanceWindow().isVisible());
    EXPECT_EQ(advanceWindow().windowTitle(), "Advance Mode");
    EXPECT_EQ(messages.texts().back(), zelbo::drive::kAdvanceOpenQuestion);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(drive().pinPanel().highRadio(Pin::Enable)->isEnabled());
    EXPECT_EQ(advanceWindow().panel(1)->valueEdit()->text(), "5.00");

    // ENABLE to 1.00 V, below VIL (1.5 V at 5 V): the outputs go off.
    QSlider* enable = advanceWindow().panel(1)->slider();
    enable->setValue(enable->maximum() - 100);
    EXPECT_EQ(advanceWindow().panel(1)->valueEdit()->text(), "1.00");
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(129) == 500; }, 2000));
    EXPECT_FALSE(board.dut().powered);
    EXPECT_LT(peakOfNextSweeps(), 0.5) << "flat traces";
    // 3.00 V lies between the thresholds: still off. 4.00 V is above VIH.
    enable->setValue(enable->maximum() - 300);
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(129) == 1500; }, 2000));
    EXPECT_FALSE(board.dut().powered);
    enable->setValue(enable->maximum() - 400);
    ASSERT_TRUE(waitUntil([&] { return board.dut().powered; }, 2000));
    EXPECT_GT(peakOfNextSweeps(), 10.0);

    // Leaving: the pin panel's pins, the references and the clock come back.
    board.clearLog();
    toggle->click();
    EXPECT_FALSE(advanceWindow().isVisible());
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(drive().pinPanel().highRadio(Pin::Enable)->isEnabled());
    settle();
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(129) == 2500 && board.clockGenerator().running; }, 2000));
    EXPECT_TRUE(contains(only({144, 153, 154}), {{154, 0}, {144, 0}, {153, 0}, {144, 1}}));
    EXPECT_EQ(board.dacCode(133), 1000u);
    EXPECT_TRUE(board.dut().powered);
}

TEST_F(AdvanceOnBoard, FiveTriggersMakeFiveStepsAndCancelRefuses)
{
    poweredOn();
    pin(Pin::Enable, true);
    pin(Pin::CwCcw, true);
    QAbstractButton* toggle = drive().pinPanel().advanceButton();

    // Cancel: the toggle stays off and nothing reaches the board.
    settle();
    board.clearLog();
    messages.queueAnswer(zelbo::MsgAnswer::Cancel);
    toggle->click();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(advanceWindow().isVisible());
    QTest::qWait(100);
    EXPECT_TRUE(writes().empty());

    toggle->click();
    ASSERT_TRUE(advanceWindow().isVisible());
    EXPECT_FALSE(advanceWindow().triggerButton()->isEnabled());
    advanceWindow().singleStepRadio()->click();
    EXPECT_TRUE(advanceWindow().triggerButton()->isEnabled());
    EXPECT_FALSE(advanceWindow().panel(5)->isEnabled());
    settle();
    ASSERT_TRUE(waitUntil([&] { return !board.clockGenerator().running; }, 2000));
    const auto before = board.dut().steps;
    board.clearLog();
    for (int i = 0; i < 5; ++i) {
        advanceWindow().triggerButton()->click();
        ASSERT_TRUE(waitUntil([&] { return !board.clockGenerator().running; }, 2000));
    }
    settle();
    EXPECT_EQ(board.dut().steps, before + 5);
    Writes expected;
    for (int i = 0; i < 5; ++i) expected.insert(expected.end(), {{144, 0}, {153, 1}, {144, 1}});
    EXPECT_EQ(only({144, 153}), expected);

    // The voltage sweep switch and the supply choice.
    board.clearLog();
    advanceWindow().sweepRadio()->click();
    EXPECT_TRUE(advanceWindow().panel(5)->isEnabled());
    advanceWindow().vdut33()->click();
    settle();
    ASSERT_TRUE(waitUntil([&] { return board.supplyMillivolts() == 3300; }, 2000));
    EXPECT_TRUE(contains(writes(), {{154, 128}, {26, 132}, {1, 0xE1}}));
    EXPECT_EQ(advanceWindow().panel(1)->limitEdit(zelbo::drive::Limit::Max)->text(), "3.3");
    advanceWindow().vdut5()->click();
    settle();
    EXPECT_TRUE(contains(writes(), {{1, 0xE3}}));

    // Closing the window leaves advance mode like the toggle.
    advanceWindow().close();
    EXPECT_FALSE(toggle->isChecked());
    settle();
    EXPECT_TRUE(waitUntil([&] { return board.registerValue(154) == 0; }, 2000));
}

TEST_F(AdvanceOnBoard, ClockSweepReachesTheGeneratorAsThreeFrequenciesInOrder)
{
    poweredOn();
    // CLK limits 1 k .. 3 k in 1 k steps.
    for (auto [id, text] : {std::pair{ctl::kClkMin, "1k"}, std::pair{ctl::kClkMax, "3k"}, std::pair{ctl::kClkStep, "1k"}}) {
        auto* e = window->control<QLineEdit>(id);
        e->setText(text);
        e->editingFinished();
    }
    auto& sweep = drive().sweep();
    ASSERT_NE(sweep.columnChoice(), nullptr);
    sweep.columnChoice()->setCurrentIndex(2);
    sweep.columnChoice()->activated(2);
    sweep.paceField()->setValue(100);
    settle();
    board.clearLog();

    QAbstractButton* start = button(ctl::kSweepStart);
    start->click();
    EXPECT_EQ(start->text(), "Stop");
    ASSERT_TRUE(waitUntil([&] { return !start->isChecked(); }, 5000)) << "the sweep ends by itself";
    EXPECT_EQ(start->text(), "Start");
    settle();
    std::vector<unsigned> periods;
    const Writes w = writes();
    for (std::size_t i = 0; i + 3 < w.size(); ++i)
        if (w[i].first == 145 && w[i + 3].first == 148)
            periods.push_back(unsigned(w[i].second) | unsigned(w[i + 1].second) << 8 | unsigned(w[i + 2].second) << 16);
    EXPECT_EQ(periods, (std::vector<unsigned>{39'999, 19'999, 13'332}));
    EXPECT_EQ(board.clockGenerator().period, 13'332u);
    EXPECT_TRUE(contains(w, {{160, 1}, {160, 0}}));

    // "<" and ">" one step at a time inside the limits.
    button(ctl::kSweepDown)->click();
    EXPECT_EQ(window->control<QLineEdit>(ctl::kClkEdit)->text(), "2.00 k");
    button(ctl::kSweepUp)->click();
    button(ctl::kSweepUp)->click();
    EXPECT_EQ(window->control<QLineEdit>(ctl::kClkEdit)->text(), "3.00 k");
    settle();
    EXPECT_TRUE(waitUntil([&] { return board.clockGenerator().period == 13'332u; }, 2000));
}
