// Pictures of the temperature monitor for the documentation, taken on the
// simulated board under a virtual X server: the monitor window over the main
// window during a run (the gauge warm), then the completion dialog; the run's
// workbook is written beside the pictures for rendering.
//   thermal_screenshots <out folder> [workbook path]

#include <cstdio>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include "app/program_features.h"
#include "app/style.h"
#include "drive/drive_core.h"
#include "tests/e2e/sim_program.h"
#include "thermal/ui/thermal_feature.h"
#include "thermal/ui/tj_fin_dlg.h"
#include "thermal/ui/tj_mon_dlg.h"
#include "widgets/grid_ctrl.h"

namespace {

bool grab(const QString& path)
{
    QApplication::processEvents();
    QTest::qWait(300);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyInstrumentStyle(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out folder> [workbook]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString workbook = argc > 2 ? QString::fromLocal8Bit(argv[2]) : out + "/tj_monitor.xlsx";

    e2e::SimProgram program(false);
    simboard::Control board;
    board.setThermalModel(25.0, 1.5);
    board.setDutSense(0.2, 10.0);
    if (!program.start()) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    CTQ5170xHWPDlg& window = *program.window;
    QTest::mouseClick(window.control(ctl::kPower), Qt::LeftButton);
    window.link().waitWriteDone(std::chrono::milliseconds(3000));
    window.features()->drive().core().setPin(zelbo::drive::Pin::Enable, true); // the coils carry current
    window.onCommand(CTQ5170xHWPDlg::ID_VIEW_TJMONITOR);
    auto& feature = window.features()->thermal();
    CTJMonDlg* dlg = feature.monitor();
    std::vector<zelbo::thermal::StepRow> rows;
    for (const char* v : {"0.30", "0.60", "0.90", "1.20", "1.50", "1.80"})
        rows.push_back({v, "1.00", "HI", "LO", "LO"});
    dlg->setRows(rows);
    dlg->setTimeScale(3.0);
    dlg->timeEdit()->setText("1");
    dlg->rnfEdit()->setText("0.20");
    dlg->divideSpin()->setValue(0);
    dlg->move(window.geometry().right() - dlg->width() - 300, 120);
    QTest::mouseClick(dlg->startButton(), Qt::LeftButton);
    e2e::waitUntil([&] { return board.dut().vrefVolts > 1.1; }, 30000);
    QTest::qWait(1500);
    if (!grab(out + "/tj_monitor.png")) return 1;

    e2e::waitUntil([&] { return dlg->finishDialog() && dlg->finishDialog()->isVisible(); }, 60000);
    if (!grab(out + "/tj_finished.png")) return 1;
    dlg->setFileChooser([&](bool, const QString&, const QString&, const QString&) { return workbook; });
    QTest::mouseClick(dlg->finishDialog()->saveButton(), Qt::LeftButton);
    std::printf("%s\n", qPrintable(workbook));
    return 0;
}
