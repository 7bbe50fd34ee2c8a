// The thermometer and the temperature monitor in the whole program on the
// simulated board: the gauge, a monitor run over three operating points, its
// log against the board's thermal model, and the workbook a real reader opens.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "tests/e2e/program_fixture.h"
#include "thermal/ui/thermal_feature.h"
#include "thermal/ui/tj_fin_dlg.h"
#include "thermal/ui/tj_mon_dlg.h"
#include "app/program_features.h"
#include "drive/drive_core.h"
#include "widgets/grid_ctrl.h"
#include "widgets/meter_wnd.h"

namespace fs = std::filesystem;
using zelbo::thermal::LogRow;
using zelbo::thermal::StepRow;

namespace {

class Thermal : public e2e::Program {
protected:
    zelbo::thermal::ThermalFeature& feature() { return window->features()->thermal(); }
    CTJMonDlg* monitor() { return feature().monitor(); }
    CMeterWnd* gauge() { return feature().gauge(); }

    void openMonitor()
    {
        messages.clear();
        window->action(CTQ5170xHWPDlg::ID_VIEW_TJMONITOR)->trigger();
        ASSERT_TRUE(monitor()->isVisible()) << testing::PrintToString(messages.texts());
    }
    // Steps of `minutes`, each lasting `seconds` in the test.
    void startRun(const std::vector<StepRow>& rows, double secondsPerStep)
    {
        monitor()->setRows(rows);
        monitor()->setTimeScale(secondsPerStep);
        monitor()->timeEdit()->setText("1");
        monitor()->rnfEdit()->setText("0.2");
        monitor()->divideSpin()->setValue(0); // 1 / 10
        QTest::mouseClick(monitor()->startButton(), Qt::LeftButton);
    }
};

std::string slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The junction the board settles at with both windings at `amps` (full step).
double predicted(const simboard::ThermalState& m, double amps)
{
    return m.ambientCelsius + m.kelvinPerWatt * (2 * m.bridgeOhms * amps * amps + 0.005 * 24.0);
}

} // namespace

TEST_F(Thermal, GaugeShowsTheJunctionOnceASecondAndKeepsItAfterPowerOff)
{
    board.setThermalModel(31.0, 0.0);
    openReady();
    ASSERT_NE(gauge(), nullptr);
    EXPECT_EQ(gauge()->displayText(), "    OPEN");
    clickPower();
    ASSERT_TRUE(e2e::waitUntil([&] { return gauge()->reading().has_value(); }, 5000));
    ASSERT_TRUE(e2e::waitUntil([&] {
        return std::abs(*gauge()->reading() - board.thermal().junctionCelsius) < 0.5;
    }, 5000)) << *gauge()->reading() << " vs " << board.thermal().junctionCelsius;
    const double shown = *gauge()->reading();

    waitLockout();
    clickPower(); // off: no more readings, the last one stays
    ASSERT_TRUE(e2e::waitUntil([&] { return !window->powerOn(); }, 3000));
    board.setThermalModel(80.0, 0.0);
    QTest::qWait(2500);
    ASSERT_TRUE(gauge()->reading().has_value());
    EXPECT_NEAR(*gauge()->reading(), shown, 0.5);
}

// Above the chip's rating the gauge turns to its alarm colour and the
// status bar says so, in degrees Celsius.
TEST_F(Thermal, GaugeAlarmsAboveTheRatedJunctionTemperature)
{
    board.setThermalModel(184.5, 0.0);
    openReady();
    ASSERT_NE(gauge(), nullptr);
    EXPECT_FALSE(gauge()->alarming());
    clickPower();
    ASSERT_TRUE(e2e::waitUntil([&] { return gauge()->reading() && *gauge()->reading() > 150.0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(gauge()->alarming());
    EXPECT_TRUE(gauge()->displayText().endsWith(QString::fromUtf8("\u00b0C"))) << gauge()->displayText().toStdString();
    EXPECT_TRUE(window->statusPaneText(0).contains("above the chip's rated 150")) << window->statusPaneText(0).toStdString();
}

TEST_F(Thermal, MonitorOpensOnlyWhenPoweredAndChecksItsFields)
{
    openReady();
    window->action(CTQ5170xHWPDlg::ID_VIEW_TJMONITOR)->trigger();
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Please power on software first.");
    EXPECT_EQ(messages.shown()[0].caption, "Zelbo Evaluation Software");
    EXPECT_FALSE(monitor()->isVisible());

    clickPower();
    openMonitor();
    // RNF is clamped when the field is left.
    for (auto [typed, shown] : {std::pair{"5", "1.00"}, {"0", "0.01"}, {"0.33", "0.33"}}) {
        monitor()->rnfEdit()->setText(typed);
        QTest::keyClick(monitor()->rnfEdit(), Qt::Key_Return);
        EXPECT_EQ(monitor()->rnfEdit()->text().toStdString(), shown);
    }
    EXPECT_EQ(monitor()->divideSpin()->text(), "1 / 5");

    // An empty RNF is reported as it was left, not made 0.01 ohm first.
    messages.clear();
    monitor()->setRows({{"1.0", "1.0", "HI", "HI", "HI"}});
    monitor()->rnfEdit()->setText("");
    QTest::mouseClick(monitor()->startButton(), Qt::LeftButton);
    ASSERT_EQ(messages.texts(), (std::vector<std::string>{"Please indicate RNF Register value."}));
    EXPECT_EQ(monitor()->rnfEdit()->text(), "");
    EXPECT_FALSE(monitor()->running());
    monitor()->rnfEdit()->setText("0.20");
    monitor()->setRows({});

    messages.clear();
    board.clearLog();
    QTest::mouseClick(monitor()->startButton(), Qt::LeftButton);
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Dynamic sequence is empty.");
    EXPECT_EQ(messages.shown()[0].caption, "Error");
    EXPECT_FALSE(monitor()->startButton()->isChecked());
    EXPECT_EQ(monitor()->startButton()->text(), "Start");
    EXPECT_FALSE(monitor()->running());
}

TEST_F(Thermal, ARunLogsTheModelsTemperaturesAndSavesAWorkbook)
{
    board.setThermalModel(25.0, 0.0);
    board.setDutSense(0.2, 10.0); // the board the monitor's RNF and divisor describe
    board.setProbeNoise(false);
    poweredOn();
    window->features()->drive().core().setPin(zelbo::drive::Pin::Enable, true); // the coils carry current
    openMonitor();
    startRun({{"0.5", "1.0", "HI", "LO", "LO"}, {"1.0", "1.0", "HI", "LO", "LO"}, {"1.5", "1.0", "HI", "LO", "LO"}},
             2.5);
    ASSERT_TRUE(monitor()->running());
    EXPECT_EQ(monitor()->startButton()->text(), "Stop");
    EXPECT_TRUE(monitor()->elapsedLabel()->isVisible());
    // While it runs, the drive's controls are the monitor's.
    ASSERT_TRUE(e2e::waitUntil([&] { return std::abs(board.dut().vrefVolts - 0.5) < 0.05; }, 5000));
    ASSERT_NE(window->control(ctl::kVrefEdit), nullptr);
    EXPECT_FALSE(window->control(ctl::kVrefEdit)->isEnabled()); // VREF

    ASSERT_TRUE(e2e::waitUntil([&] { return monitor()->finishDialog() && monitor()->finishDialog()->isVisible(); },
                               20000));
    EXPECT_FALSE(monitor()->running());
    EXPECT_EQ(monitor()->startButton()->text(), "Start");
    EXPECT_TRUE(window->control(ctl::kVrefEdit)->isEnabled());
    EXPECT_EQ(window->control<QLineEdit>(ctl::kVrefEdit)->text(), "1.50");

    // Each step's pins went out through the pin registers.
    const auto w = writes();
    EXPECT_TRUE(contains(w, {{0x22, 0xC4}, {0x23, 0x09}, {0x1A, 0x87}, {0x26, 0x00}, {0x27, 0x00}, {0x1A, 0x83},
                             {0x28, 0x00}, {0x29, 0x00}, {0x1A, 0x80}}));

    // One row per step, sorted by current, each at the model's junction.
    const std::vector<LogRow> rows = feature().log().rows();
    ASSERT_EQ(rows.size(), 3u);
    const simboard::ThermalState model = board.thermal();
    const double amps[] = {0.25, 0.5, 0.75};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].io, std::to_string(int(amps[i] * 1000))) << i;
        EXPECT_NEAR(std::stod(rows[i].temp), predicted(model, amps[i]), 0.5) << i;
    }
    EXPECT_LT(std::stod(rows[0].temp), std::stod(rows[1].temp));
    EXPECT_LT(std::stod(rows[1].temp), std::stod(rows[2].temp));

    // Save Chart: a workbook a real reader opens.
    const fs::path folder = data.path().toStdString();
    const fs::path xlsx = folder / "run.xlsx";
    monitor()->setFileChooser([&](bool save, const QString&, const QString& filter, const QString&) {
        EXPECT_TRUE(save);
        EXPECT_EQ(filter, "Excel Workbook (*.xlsx)");
        return QString::fromStdString(xlsx.string());
    });
    messages.clear();
    QTest::mouseClick(monitor()->finishDialog()->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(fs::exists(xlsx));
    EXPECT_TRUE(messages.shown().empty());
    if (std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") == 0) {
        std::string cmd = "/usr/bin/python3 " ZELBO_SOURCE_DIR "/tests/thermal/check_workbook.py '" + xlsx.string() +
                          "' TQ51701 TQ51701 3";
        for (const LogRow& r : rows) cmd += " " + r.temp;
        cmd += " > '" + (folder / "check.txt").string() + "' 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << slurp(folder / "check.txt");
    }

    // Where the workbook cannot take the chosen name (here a folder stands
    // in its place), the CSV goes beside it, after a message with the reason.
    const fs::path blocked = folder / "blocked.xlsx";
    fs::create_directory(blocked);
    monitor()->setFileChooser([&](bool, const QString&, const QString&, const QString&) {
        return QString::fromStdString(blocked.string());
    });
    messages.clear();
    QTest::mouseClick(monitor()->saveChartButton(), Qt::LeftButton);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0].rfind("The workbook could not be written (", 0), 0u) << messages.texts()[0];
    EXPECT_NE(messages.texts()[0].find("). Data will be saved in a CSV file"), std::string::npos);
    const std::string csv = slurp(folder / "blocked.csv");
    EXPECT_EQ(csv.rfind("Temperature Monitor\nChip Name: TQ51701\n\nTime (mins),Io (mA),Temp (C),Vf (mV)\n", 0), 0u);
    EXPECT_NE(csv.find("," + rows[2].temp + ","), std::string::npos);
}

TEST_F(Thermal, StopEndsARunAndGivesTheControlsBack)
{
    poweredOn();
    openMonitor();
    startRun({{"0.5", "1.0", "HI", "HI", "HI"}, {"1.0", "1.0", "HI", "HI", "HI"}}, 600.0);
    ASSERT_TRUE(e2e::waitUntil([&] { return std::abs(board.dut().vrefVolts - 0.5) < 0.05; }, 5000));
    QTest::mouseClick(monitor()->startButton(), Qt::LeftButton);
    EXPECT_FALSE(monitor()->running());
    EXPECT_EQ(monitor()->startButton()->text(), "Start");
    EXPECT_FALSE(monitor()->elapsedLabel()->isVisible());
    EXPECT_TRUE(window->control(ctl::kVrefEdit)->isEnabled());
    QTest::qWait(1500);
    EXPECT_FALSE(monitor()->finishDialog() && monitor()->finishDialog()->isVisible());
    EXPECT_LT(board.dut().vrefVolts, 0.75); // the second step never came
}

TEST_F(Thermal, StepListFilesRoundTripAndBadOnesSaySo)
{
    openReady();
    const fs::path folder = data.path().toStdString();
    const std::vector<StepRow> rows = {{"0.5", "1.0", "HI", "LO", "HI"}, {"1.0", "1.5", "LO", "HI", "LO"}};
    monitor()->setRows(rows);
    fs::path chosen = folder / "steps"; // the extension is added
    monitor()->setFileChooser([&](bool, const QString&, const QString& filter, const QString&) {
        EXPECT_EQ(filter, "CSV File (*.csv)");
        return QString::fromStdString(chosen.string());
    });
    monitor()->saveList();
    EXPECT_EQ(slurp(folder / "steps.csv"), "0.5,1.0,HI,LO,HI,\n1.0,1.5,LO,HI,LO,\n");

    monitor()->newList();
    EXPECT_TRUE(monitor()->rows().front().vref.empty());
    chosen = folder / "steps.csv";
    monitor()->openList();
    auto back = monitor()->rows();
    back.resize(2);
    EXPECT_EQ(back, rows);
    EXPECT_TRUE(messages.shown().empty());

    std::ofstream(folder / "bad.csv") << "0.7,1.0,HI,HI,HI\r\n1,2,3\r\n0.9,1,HI,HI,HI\r\n";
    chosen = folder / "bad.csv";
    monitor()->openList();
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Incomplete CSV Settings"}));
    EXPECT_EQ(monitor()->rows()[0].vref, "0.7");
    EXPECT_TRUE(monitor()->rows()[1].vref.empty());
    // A file of which no line is a row warns and keeps the list.
    messages.clear();
    std::ofstream(folder / "noise.csv", std::ios::binary) << "\x89PNG\r\n\x1a\n";
    chosen = folder / "noise.csv";
    monitor()->openList();
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Incomplete CSV Settings"}));
    EXPECT_EQ(monitor()->rows()[0].vref, "0.7");

    messages.clear();
    chosen = folder / "missing.csv";
    monitor()->openList();
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Unable to open .csv file"}));
    chosen = folder / "no such folder" / "x.csv";
    messages.clear();
    monitor()->saveList();
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Failed to create .csv file. Settings can't be saved."}));

    // A folder that cannot take a file: the real reason first, and alone
    // (a CSV there would fail the same way).
    messages.clear();
    chosen = folder / "no such folder" / "log.xlsx";
    monitor()->setFileChooser([&](bool, const QString&, const QString& filter, const QString&) {
        EXPECT_EQ(filter, "Excel Workbook (*.xlsx)");
        return QString::fromStdString(chosen.string());
    });
    QTest::mouseClick(monitor()->saveChartButton(), Qt::LeftButton);
    const auto texts = messages.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("log.xlsx"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("No such file or directory"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("Data can't be saved."), std::string::npos) << texts[0];
    EXPECT_FALSE(fs::exists(folder / "no such folder"));
}
