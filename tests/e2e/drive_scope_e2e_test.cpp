// The whole program on the simulated board through its own window: what the
// engineer types and clicks reaches the board as the right register writes,
// the simulated driver answers, and the oscilloscope shows what it did.

#include <array>
#include <cmath>
#include <mutex>
#include <numbers>
#include <set>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "app/program_features.h"
#include "drive/ui/drive_feature.h"
#include "scope/scope_core.h"
#include "tests/e2e/program_fixture.h"

using namespace e2e;
using zelbo::drive::Pin;

namespace {

class ProgramOnBoard : public Program {
protected:
    zelbo::drive::DriveFeature& drive() { return window->features()->drive(); }
    zelbo::scope::ScopeCore& scope() { return window->features()->scopeCore(); }
    QAbstractButton* button(int id) const { return window->control<QAbstractButton>(id); }
    QString text(int id) const
    {
        if (auto* e = window->control<QLineEdit>(id)) return e->text();
        if (auto* l = window->control<QLabel>(id)) return l->text();
        return {};
    }
    void pin(Pin p, bool high)
    {
        auto& panel = drive().pinPanel();
        (high ? panel.highRadio(p) : panel.lowRadio(p))->click();
    }
    // Register writes below the scope's block (0x70..): the drive's traffic.
    Writes driveWrites() const
    {
        Writes out;
        for (const Write& w : writes())
            if (w.first < 0x70 || w.first > 0x7B) out.push_back(w);
        return out;
    }
    void settle() { ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000))); }
    // The CLK column may run up to 100 kHz, then `hz`.
    void clockAt(const QString& hz)
    {
        type(ctl::kClkMax, "100k");
        type(ctl::kClkEdit, hz);
    }
};

double parseIoAmps(const QString& text)
{
    // "1000 m" or "1.25": the number, then an optional milli prefix.
    QString t = text.trimmed();
    const bool milli = t.endsWith('m');
    if (milli) t.chop(1);
    return t.trimmed().toDouble() * (milli ? 1e-3 : 1.0);
}

} // namespace

TEST_F(ProgramOnBoard, TypedVrefReachesTheDacAsItsThreeWrites)
{
    poweredOn();
    type(ctl::kVrefEdit, "1.25");
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(133) == 1250; }, 2000));
    settle();
    EXPECT_EQ(driveWrites(), (Writes{{23, 0xE2}, {24, 0x04}, {26, 133}}));
    EXPECT_EQ(text(ctl::kVrefEdit), "1.25");
    EXPECT_NEAR(board.dut().vrefVolts, 1.25, 1e-9);

    // Beyond MAX: clamped and shown as the DAC gets it.
    board.clearLog();
    type(ctl::kVrefEdit, "3.456");
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(133) == 3000; }, 2000));
    settle();
    EXPECT_EQ(driveWrites(), (Writes{{23, 0xB8}, {24, 0x0B}, {26, 133}}));
    EXPECT_EQ(text(ctl::kVrefEdit), "3.00");
}

TEST_F(ProgramOnBoard, CountedRunMakesTenStepsAndTheToggleReturnsByItself)
{
    poweredOn();
    pin(Pin::Enable, true); // the driver's outputs on
    pin(Pin::CwCcw, true);  // clockwise: the step count goes up
    pin(Pin::Mode0, true); // half step A: 2/16 of a cycle per edge
    pin(Pin::Mode1, false); // (the first-run settings start in quarter step)
    clockAt("2k");
    button(ctl::kClkStart)->click(); // stop the continuous clock of power on
    ASSERT_FALSE(button(ctl::kClkStart)->isChecked());
    button(ctl::kManual)->click(); // Manual
    type(ctl::kStepsEdit, "10");
    button(ctl::kStopLevel)->click(); // stop level H
    EXPECT_EQ(button(ctl::kStopLevel)->text(), "H");
    settle();
    ASSERT_TRUE(waitUntil([&] { return !board.clockGenerator().running; }, 1000));
    const auto before = board.dut();
    const auto edgesBefore = board.clockGenerator().risingEdges;
    EXPECT_EQ(before.excitation, 1);
    board.clearLog();

    button(ctl::kClkStart)->click();
    EXPECT_TRUE(button(ctl::kClkStart)->isChecked());
    EXPECT_EQ(button(ctl::kClkStart)->text(), "Stop");
    settle();
    Writes clock;
    for (const Write& w : writes())
        if (w.first == 144 || w.first == 153) clock.push_back(w);
    EXPECT_EQ(clock, (Writes{{144, 0}, {153, 10}, {144, 0x81}}));

    ASSERT_TRUE(waitUntil([&] {
        const auto g = board.clockGenerator();
        return !g.running && g.risingEdges >= edgesBefore + 10;
    }, 2000));
    const auto g = board.clockGenerator();
    EXPECT_EQ(g.risingEdges, edgesBefore + 10);
    EXPECT_TRUE(g.level); // rests High
    const auto after = board.dut();
    EXPECT_EQ(after.steps - before.steps, 10);
    EXPECT_EQ((after.position - before.position + 160) % 16, (10 * 2) % 16);

    // The 1 s tick asks for 0x90; the board's answer ends the run on screen.
    ASSERT_TRUE(waitUntil([&] { return !button(ctl::kClkStart)->isChecked(); }, 2500));
    EXPECT_EQ(button(ctl::kClkStart)->text(), "Start");
    EXPECT_FALSE(drive().core().clockRunning());
    EXPECT_TRUE(button(ctl::kManual)->isEnabled());
    EXPECT_TRUE(window->control(ctl::kStepsEdit)->isEnabled());
    // It can be started again at once: the core knows the run is over.
    board.clearLog();
    button(ctl::kClkStart)->click();
    settle();
    ASSERT_TRUE(waitUntil([&] { return board.clockGenerator().risingEdges >= edgesBefore + 20; }, 2000));
    EXPECT_TRUE(messages.shown().empty()) << messages.texts().front();
}

TEST_F(ProgramOnBoard, CancellingTheModeChangeWarningLeavesEverythingAsItWas)
{
    poweredOn();
    type(ctl::kVrefEdit, "1.50");
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(133) == 1500; }, 2000));
    // A settings file may put the window in another mode; the dialog offers Clk-In.
    drive().core().loadMode(1);
    ASSERT_EQ(window->mode(), 1);
    const QString modeName = text(ctl::kModeName);
    settle();
    board.clearLog();

    button(ctl::kModeChange)->click(); // "Change"
    auto& dialog = drive().modeDialog();
    ASSERT_TRUE(dialog.isVisible());
    messages.queueAnswer(zelbo::MsgAnswer::Cancel);
    dialog.okButton()->click();
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Warning: Changing modes will reset settings.");
    EXPECT_EQ(messages.shown()[0].caption, "Zelbo Evaluation Software");
    EXPECT_EQ(messages.shown()[0].buttons, zelbo::MsgButtons::OkCancel);
    EXPECT_FALSE(dialog.isVisible());
    QTest::qWait(100);
    settle();
    EXPECT_TRUE(driveWrites().empty()) << testing::PrintToString(driveWrites());
    EXPECT_EQ(window->mode(), 1);
    EXPECT_EQ(drive().core().mode(), 1);
    EXPECT_EQ(text(ctl::kModeName), modeName);
    EXPECT_EQ(text(ctl::kVrefEdit), "1.50");
    EXPECT_EQ(board.dacCode(133), 1500);
    EXPECT_EQ(board.supplyMillivolts(), 5000);

    // Confirmed, the change resets the drive and clears the DAC outputs.
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    button(ctl::kModeChange)->click();
    dialog.okButton()->click();
    EXPECT_EQ(window->mode(), 0);
    ASSERT_TRUE(waitUntil([&] { return board.dacCode(133) == 0; }, 2000));
    EXPECT_TRUE(contains(writes(), {{104, 1}}));
}

TEST_F(ProgramOnBoard, ScopeShowsTheQuarterStepStaircaseAndStopKeepsTheLastSweep)
{
    board.setProbeNoise(false);
    for (int ch = 0; ch < 4; ++ch) board.setScopeInputOffsets(ch, 0, 0, 0); // the model's exact levels
    openReady();
    // Quarter step, clockwise, 1.00 V: 1 A full scale on 0.2 ohm.
    pin(Pin::Enable, true);
    pin(Pin::CwCcw, true);
    pin(Pin::Mode0, true);
    pin(Pin::Mode1, true);
    clickPower();
    const auto t0 = std::chrono::steady_clock::now();
    auto whole = [&] {
        if (scope().sweepsConverted() < 1) return false;
        for (int n = 0; n < 4; ++n) {
            std::lock_guard lk(scope().channel(n).traceMutex);
            if (scope().channel(n).trace.size() != 4096) return false;
        }
        return true;
    };
    ASSERT_TRUE(waitUntil(whole, 3000));
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::milliseconds(1000))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_TRUE(button(ctl::kRun)->isChecked());

    // CH2 and CH4 show the coil currents; the clock at 2 kHz: 16 edges a
    // cycle, about three cycles a sweep.
    type(ctl::kVrefEdit, "1.00");
    window->control<QComboBox>(ctl::channelSource(0))->setCurrentIndex(0); // CH1 and CH3 voltage (the first-run
    window->control<QComboBox>(ctl::channelSource(2))->setCurrentIndex(0); // settings show currents there)
    window->control<QComboBox>(ctl::channelSource(1))->setCurrentIndex(1);
    window->control<QComboBox>(ctl::channelSource(3))->setCurrentIndex(1);
    clockAt("2k");
    settle();
    const auto sweeps = scope().sweepsConverted();
    ASSERT_TRUE(waitUntil([&] { return scope().sweepsConverted() >= sweeps + 2; }, 2000));

    const auto dut = board.dut();
    EXPECT_EQ(dut.excitation, 3);
    ASSERT_NEAR(dut.amplitudeAmps, 1.0, 1e-9);
    const double aStep = 6.22 / 511, vStep = 36.0 / 511;
    std::array<double, 5> levels{};
    for (int k = 0; k < 5; ++k) levels[static_cast<std::size_t>(k)] = std::sin(k * std::numbers::pi / 8) * dut.amplitudeAmps;
    const double io = parseIoAmps(text(ctl::kIo));
    for (int n : {1, 3}) {
        std::lock_guard lk(scope().channel(n).traceMutex);
        const auto& trace = scope().channel(n).trace;
        ASSERT_EQ(trace.size(), 4096u);
        EXPECT_DOUBLE_EQ(trace[4095].first, 4095 * 6.25);
        std::set<int> seen;
        double peak = 0;
        for (const auto& [t, v] : trace) {
            int nearest = 0;
            for (int k = 1; k < 5; ++k)
                if (std::abs(std::abs(v) - levels[static_cast<std::size_t>(k)]) <
                    std::abs(std::abs(v) - levels[static_cast<std::size_t>(nearest)]))
                    nearest = k;
            ASSERT_NEAR(std::abs(v), levels[static_cast<std::size_t>(nearest)], 1.5 * aStep) << "CH" << n + 1 << " t " << t;
            seen.insert(v < 0 ? -nearest : nearest);
            peak = std::max(peak, std::abs(v));
        }
        // A staircase: every step of the sine table, both signs.
        EXPECT_GE(seen.size(), 8u) << "CH" << n + 1;
        EXPECT_NEAR(peak, dut.amplitudeAmps, 0.02 * dut.amplitudeAmps) << "CH" << n + 1;
        EXPECT_NEAR(peak, io, 0.02 * io) << "CH" << n + 1 << " Io " << text(ctl::kIo).toStdString();
    }
    // The voltage channels: the chopped outputs, off or at the motor supply.
    for (int n : {0, 2}) {
        std::lock_guard lk(scope().channel(n).traceMutex);
        int high = 0;
        for (const auto& [t, v] : scope().channel(n).trace) {
            const bool off = std::abs(v) <= 1.5 * vStep, on = std::abs(v - dut.motorVolts) <= 1.5 * vStep;
            ASSERT_TRUE(off || on) << "CH" << n + 1 << " t " << t << " v " << v;
            high += on;
        }
        EXPECT_GT(high, 0) << "CH" << n + 1;
    }

    // Stop: 0x70 with the channels cleared; the traces keep the last sweep.
    board.clearLog();
    button(ctl::kRun)->click();
    EXPECT_FALSE(button(ctl::kRun)->isChecked());
    EXPECT_EQ(button(ctl::kRun)->text(), "Run");
    ASSERT_TRUE(waitUntil([&] { return (board.registerValue(0x70) & 0x0F) == 0; }, 1000));
    bool stopWrite = false;
    for (const Write& w : writes()) stopWrite = stopWrite || (w.first == 0x70 && (w.second & 0x0F) == 0);
    EXPECT_TRUE(stopWrite);
    QTest::qWait(100);
    const auto converted = scope().sweepsConverted();
    std::array<std::vector<double>, 4> kept;
    for (int n = 0; n < 4; ++n) {
        std::lock_guard lk(scope().channel(n).traceMutex);
        for (const auto& p : scope().channel(n).trace) kept[static_cast<std::size_t>(n)].push_back(p.second);
    }
    QTest::qWait(300);
    EXPECT_EQ(scope().sweepsConverted(), converted);
    for (int n = 0; n < 4; ++n) {
        std::lock_guard lk(scope().channel(n).traceMutex);
        ASSERT_EQ(scope().channel(n).trace.size(), 4096u);
        std::vector<double> now;
        for (const auto& p : scope().channel(n).trace) now.push_back(p.second);
        EXPECT_EQ(now, kept[static_cast<std::size_t>(n)]) << "CH" << n + 1;
    }
    EXPECT_TRUE(messages.shown().empty()) << messages.texts().front();
}
