// The bench set-up and the scope offsets across a restart, through the
// program's own window on the simulated board: the first-run settings, Save
// and Open with the stage-2 traffic on the board's log, calibration against
// the board's front-end offsets, init.clb at close and start.

#include <cmath>
#include <fstream>

#include <QAbstractButton>
#include <QFile>

#include "app/calibration_feature.h"
#include "app/program_features.h"
#include "app/settings_feature.h"
#include "drive/drive_core.h"
#include "drive/ui/drive_feature.h"
#include "common/data_folder.h"
#include "files/settings_file.h"
#include "scope/calibration.h"
#include "scope/calibration_file.h"
#include "scope/chart/line_chart.h"
#include "scope/ui/analysis_tools.h"
#include "scope/ui/instrument.h"
#include "scope/scope_core.h"
#include "scope/ui/scope_binder.h"
#include "tests/e2e/program_fixture.h"

using namespace e2e;
using zelbo::drive::ColumnId;
using zelbo::drive::Limit;

namespace {

class SetUpOnBoard : public Program {
protected:
    zelbo::app::ProgramFeatures& features() { return *window->features(); }
    zelbo::drive::DriveCore& drive() { return features().drive().core(); }
    zelbo::scope::ScopeCore& scope() { return features().scopeCore(); }
    zelbo::app::SettingsFeature& settings() { return features().settings(); }
    zelbo::scope::Calibration& calibration() { return features().calibration().core(); }
    std::filesystem::path folder() const { return data.path().toStdString(); }

    // Waits for `n` more converted sweeps.
    bool sweeps(std::uint64_t n, int ms = 5000)
    {
        const auto start = scope().sweepsConverted();
        return waitUntil([&] { return scope().sweepsConverted() >= start + n; }, ms);
    }
    // Smallest and largest value and mean of a channel's trace.
    std::array<double, 3> stats(int n)
    {
        std::lock_guard lk(scope().channel(n).traceMutex);
        double lo = 1e9, hi = -1e9, sum = 0;
        for (const auto& [t, v] : scope().channel(n).trace) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            sum += v;
        }
        return {lo, hi, sum / double(scope().channel(n).trace.size())};
    }
    bool shown(const std::string& text) const
    {
        for (const auto& m : messages.shown())
            if (m.text == text) return true;
        return false;
    }
    void settle() { ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000))); }
    void waitCalibrated()
    {
        ASSERT_TRUE(waitUntil([&] { return shown(zelbo::scope::kCalibrationCompleted); }, 15000));
    }
};

TEST_F(SetUpOnBoard, FirstStartShowsAMovingQuarterStepOnAllFourChannels)
{
    poweredOn();
    ASSERT_TRUE(std::filesystem::exists(folder() / zelbo::files::kSettingsFileName));
    EXPECT_EQ(drive().column(ColumnId::Vref).valueText(), "1.00");
    EXPECT_EQ(drive().pinStateText(), "01111");
    ASSERT_TRUE(waitUntil([&] { return board.dut().powered && board.clockGenerator().running; }, 3000));
    EXPECT_EQ(board.dut().excitation, 3);
    EXPECT_NEAR(board.dut().vrefVolts, 1.0, 1e-9);
    EXPECT_NEAR(board.dut().mthVolts, 0.5, 1e-9);
    ASSERT_TRUE(sweeps(3));
    // Currents swing through +-1 A on CH1 and CH3; the B outputs chop on CH2 and CH4.
    for (int n : {0, 2}) {
        const auto s = stats(n);
        EXPECT_GT(s[1], 0.8) << n;
        EXPECT_LT(s[0], -0.8) << n;
    }
    for (int n : {1, 3}) EXPECT_GT(stats(n)[1] - stats(n)[0], 10.0) << n;
    // And they move: the drive steps between sweeps.
    const auto steps = board.dut().steps;
    ASSERT_TRUE(waitUntil([&] { return board.dut().steps != steps; }, 2000));
}

TEST_F(SetUpOnBoard, MathChannelsAreSavedBesideTheSettingsFileAndComeBackWithIt)
{
    poweredOn();
    const QString path = data.path() + "/math.set";
    settings().setPrompts([&] { return path; }, [&] { return path; });
    auto& tools = features().instrument().analysis();
    zelbo::scope::analysis::MathSetups setups{};
    setups[0] = {true, "CH1 * 2", 2.0, 1, "twice"};
    tools.applySetups(setups);
    ASSERT_TRUE(features().chart().hasTrace("M1"));
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_SAVE);
    ASSERT_TRUE(QFile::exists(data.path() + "/math.zmath"));
    tools.applySetups({});
    EXPECT_FALSE(features().chart().hasTrace("M1"));
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_OPEN);
    EXPECT_EQ(tools.math().setup(0).expression, "CH1 * 2");
    EXPECT_EQ(tools.math().setup(0).label, "twice");
    EXPECT_TRUE(features().chart().hasTrace("M1"));
    // Turned off and saved again: the file says so, rather than bringing them back.
    tools.applySetups({});
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_SAVE);
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_OPEN);
    EXPECT_FALSE(features().chart().hasTrace("M1"));
}

TEST_F(SetUpOnBoard, SavedSetUpIsRestoredAndSentToTheBoardOnOpen)
{
    poweredOn();
    const QString path = data.path() + "/bench.set";
    settings().setPrompts([&] { return path; }, [&] { return path; });

    // A set-up away from the first-run one.
    drive().loadVcc(zelbo::drive::Vcc::V3_3);
    drive().setLimitText(ColumnId::Vref, Limit::Max, "2.50");
    drive().commitLimit(ColumnId::Vref, Limit::Max);
    drive().setValueText(ColumnId::Vref, "1.20");
    drive().commitValue(ColumnId::Vref);
    drive().setRateIndex(7);
    drive().setManual(true);
    drive().editSteps("40");
    drive().setStopHigh(true);
    drive().loadPinStateText("01101");
    scope().setSamplingRate(9); // 1 MHz, divider 36
    scope().setTimeBase(7);
    scope().setSource(1, zelbo::scope::Source::Current);
    scope().setOutput(1, 1);
    scope().setValuePerDiv(1, 3);
    scope().setTriggerChannel(1);
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_SAVE);
    ASSERT_TRUE(QFile::exists(path));
    const std::string saved = zelbo::files::formatSettings(settings().core().collect());

    // Everything changed again, then the file opened.
    settings().load(QString::fromStdString((folder() / zelbo::files::kSettingsFileName).string()));
    ASSERT_NE(zelbo::files::formatSettings(settings().core().collect()), saved);
    settle();
    board.clearLog();
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_OPEN);
    EXPECT_EQ(zelbo::files::formatSettings(settings().core().collect()), saved);
    EXPECT_EQ(drive().vcc(), zelbo::drive::Vcc::V3_3);
    EXPECT_TRUE(drive().manual());
    EXPECT_EQ(scope().output(1), 1);
    EXPECT_DOUBLE_EQ(scope().directionSign(1), -1.0);
    EXPECT_EQ(scope().valuePerDivIndex(1), 3);

    // Stage 2 on the wire: divider and record length, the pins at the 3.3 V
    // level (1650) in order, 104, and VREF committed again.
    settle();
    const Writes w = writes();
    EXPECT_TRUE(contains(w, {{114, 36}, {115, 0}, {116, 255}, {117, 15}}));
    EXPECT_TRUE(contains(w, {{117, 15}, {34, 0}, {35, 0}, {26, 135}, {36, 0x72}, {37, 0x06}, {26, 129}, {38, 0x72},
                             {39, 0x06}, {26, 131}, {40, 0}, {41, 0}, {26, 128}, {32, 0x72}, {33, 0x06}, {26, 130},
                             {104, 1}}));
    EXPECT_TRUE(contains(w, {{104, 1}, {23, 0xB0}, {24, 0x04}}));
    EXPECT_EQ(board.supplyMillivolts(), 3300);
    EXPECT_NEAR(board.dut().vrefVolts, 1.2, 1e-9);
    EXPECT_TRUE(messages.texts().empty() || !shown(zelbo::files::kSettingsOpenFailed));
}

// A hand-edited file with a VREF far out of range and a Sec/Div that is no
// time base: named on the status bar, VREF limited on the board; a clean file
// opened next clears the note.
TEST_F(SetUpOnBoard, UnusableLinesAreNamedAndAStaleNoteIsCleared)
{
    poweredOn();
    const QString badPath = data.path() + "/bad.set", cleanPath = data.path() + "/clean.set";
    {
        zelbo::files::SettingsValues v = settings().core().collect();
        ASSERT_TRUE(zelbo::files::writeSettingsFile(cleanPath.toStdString(), v, nullptr));
        v[zelbo::files::kLineVref] = "99";
        v[zelbo::files::kLineTimeBase] = "7 parsecs";
        ASSERT_TRUE(zelbo::files::writeSettingsFile(badPath.toStdString(), v, nullptr));
    }
    settings().load(badPath);
    const QString note = window->statusPaneText(0);
    EXPECT_TRUE(note.contains("Line 3 (VREF): \"99\" is above MAX")) << note.toStdString();
    EXPECT_TRUE(note.contains("Line 21 (Sec/Div)")) << note.toStdString();
    settle();
    EXPECT_LE(board.dut().vrefVolts, 3.0 + 1e-9);
    settings().load(cleanPath);
    EXPECT_EQ(window->statusPaneText(0), "");
}

TEST_F(SetUpOnBoard, OpenWantsThePowerOnAndReportsUnreadableFiles)
{
    openReady();
    settings().setPrompts({}, [&] { return data.path() + "/none.set"; });
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_OPEN);
    EXPECT_TRUE(shown("Please power on software first."));
    clickPower();
    waitLockout();
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_OPEN);
    EXPECT_TRUE(shown(zelbo::files::kSettingsOpenFailed));

    settings().setPrompts([&] { return data.path() + "/no/such/folder.set"; }, {});
    window->onCommand(CTQ5170xHWPDlg::ID_FILE_SAVE);
    EXPECT_TRUE(shown(zelbo::files::kSettingsSaveFailed));
}

TEST_F(SetUpOnBoard, CalibrationCancelsTheFrontEndOffsetsAndSurvivesARestart)
{
    board.setProbeNoise(true);
    poweredOn();
    window->onCommand(CTQ5170xHWPDlg::ID_HELP_CALIBRATE); // stops "Run" first
    waitCalibrated();
    EXPECT_FALSE(calibration().calibrating());
    EXPECT_EQ(window->statusPaneText(0), "Ready...");
    EXPECT_TRUE(window->control(ctl::kVrefEdit)->isEnabled()) << "controls back";

    // The offsets are the board's own, negated: voltage to within a code
    // (the running halving follows the last samples' noise), currents and
    // ICC to a few mA (means over 4096 samples).
    const auto o = calibration().offsets();
    const auto& codes = simboard::kDefaultScopeInputOffsetCodes;
    for (std::size_t n = 0; n < 4; ++n) {
        EXPECT_NEAR(o.voltage[n], -codes[n][0] * 36.0 / 511, 0.08) << n;
        EXPECT_NEAR(o.current[n], -codes[n][1] * 6.22 / 511, 0.003) << n;
        EXPECT_NEAR(o.icc[n], -codes[n][2] * 6.22 / 511, 0.003) << n;
    }

    // A quiet input now converts to 0: ENABLE low, every channel at rest.
    drive().setPin(zelbo::drive::Pin::Enable, false);
    features().scopeBinder().startScope();
    for (int n = 0; n < 4; ++n) scope().setSource(n, zelbo::scope::Source::Voltage);
    ASSERT_TRUE(sweeps(3));
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(stats(n)[2], 0.0, 0.08) << n;
    for (int n = 0; n < 4; ++n) scope().setSource(n, zelbo::scope::Source::Current);
    ASSERT_TRUE(sweeps(3));
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(stats(n)[2], 0.0, 0.005) << n;

    // Written at close in the file's form, read back at the next start.
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    window->close();
    window.reset();
    std::ifstream in(folder() / zelbo::files::kCalibrationFileName);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line.back(), ' ');
    openReady();
    const auto back = calibration().offsets();
    for (std::size_t n = 0; n < 4; ++n) {
        EXPECT_NEAR(back.voltage[n], o.voltage[n], 1e-5 * std::abs(o.voltage[n]) + 1e-12);
        EXPECT_NEAR(back.icc[n], o.icc[n], 1e-5 * std::abs(o.icc[n]) + 1e-12);
    }
    EXPECT_EQ(scope().calibrationOffsets().current, back.current) << "in use for the conversion";
}

// A board lost after a calibration (a communication error closes the
// program) used to take the calibration with it: init.clb was written only
// while the link was active.
TEST_F(SetUpOnBoard, ACalibrationIsKeptWhenTheBoardIsLostBeforeTheClose)
{
    poweredOn();
    window->onCommand(CTQ5170xHWPDlg::ID_HELP_CALIBRATE);
    waitCalibrated();
    const auto o = calibration().offsets();
    features().scopeBinder().startScope(); // traffic under way
    board.setPresent(false);
    ASSERT_TRUE(waitUntil([&] { return !window->isVisible(); }, 10000)) << "closes on the communication error";
    window.reset();

    std::ifstream in(folder() / zelbo::files::kCalibrationFileName, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    zelbo::scope::CalibrationOffsets back{};
    zelbo::scope::parseCalibration(text, back);
    for (std::size_t n = 0; n < 4; ++n) {
        EXPECT_NEAR(back.voltage[n], o.voltage[n], 1e-5 * std::abs(o.voltage[n]) + 1e-12) << n;
        EXPECT_NEAR(back.icc[n], o.icc[n], 1e-5 * std::abs(o.icc[n]) + 1e-12) << n;
    }
}

// Offsets as they were read are not written again (the file stays byte for
// byte); changed ones that cannot be written are reported, not lost silently.
TEST_F(SetUpOnBoard, InitClbIsWrittenWhenTheOffsetsChangedAndAFailureIsReported)
{
    const std::filesystem::path clb = folder() / zelbo::files::kCalibrationFileName;
    const std::string own = "0.5 0 0 0\n0 0 0 0\n0 0 0 0 \n";
    { std::ofstream(clb, std::ios::binary) << own; }
    openReady();
    EXPECT_DOUBLE_EQ(calibration().offsets().voltage[0], 0.5);
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    window->close();
    window.reset();
    {
        std::ifstream in(clb, std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), own);
    }

    // Changed offsets, and a folder where the file should go.
    std::filesystem::remove(clb);
    std::filesystem::create_directory(clb);
    openReady();
    auto o = calibration().offsets();
    o.current[2] = 0.125;
    calibration().setOffsets(o);
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    window->close();
    EXPECT_NE(window->statusPaneText(0).indexOf("calibration not saved"), -1)
        << window->statusPaneText(0).toStdString();
}

TEST_F(SetUpOnBoard, CalibrateWithRunOnRefusesAndTouchesNoScopeRegister)
{
    poweredOn();
    const auto before = calibration().offsets();
    auto* calibrate = window->control<QAbstractButton>(features().scopeBinder().ids().calibrateButton);
    ASSERT_NE(calibrate, nullptr);
    calibrate->click();
    EXPECT_TRUE(shown(zelbo::scope::kCalibrationRefused));
    EXPECT_FALSE(calibration().calibrating());
    EXPECT_EQ(calibration().offsets().voltage, before.voltage);
    settle();
    for (const Write& w : writes()) EXPECT_FALSE(w.first >= 0x78 && w.first <= 0x7B) << w.first;
}

TEST_F(SetUpOnBoard, ABoardThatStopsSweepingEndsCalibrationWithControlsBack)
{
    poweredOn();
    const auto before = calibration().offsets();
    board.setVirtualTime(true); // board time stands still: no sweep completes
    window->onCommand(CTQ5170xHWPDlg::ID_HELP_CALIBRATE);
    EXPECT_TRUE(calibration().calibrating());
    EXPECT_FALSE(window->control(ctl::kVrefEdit)->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return shown(zelbo::scope::kCalibrationTimedOut); }, 10000));
    board.setVirtualTime(false);
    EXPECT_FALSE(calibration().calibrating());
    EXPECT_TRUE(window->control(ctl::kVrefEdit)->isEnabled());
    EXPECT_EQ(calibration().offsets().voltage, before.voltage);
    EXPECT_EQ(window->statusPaneText(0), "Ready...");
}

} // namespace
