// Pictures of the program for the documentation, taken on the simulated board
// under a virtual X server: the main window with the pin panel open and set
// away from its defaults, and the oscilloscope running four channels with a
// cursor pair and a zoom, and the advance-mode window over it.
//   e2e_screenshots <out folder>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include "app/dynamic_feature.h"
#include "app/main_window.h"
#include "app/program_features.h"
#include "app/style.h"
#include "drive/ui/drive_feature.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/instrument.h"
#include "tests/e2e/sim_program.h"

using zelbo::drive::Pin;

namespace {

void type(CTQ5170xHWPDlg& w, int id, const QString& text)
{
    auto* e = w.control<QLineEdit>(id);
    if (!e) return;
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
}

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

// The measurement strip, the microstep levels and the XY view of the coils.
bool instrumentShots(CTQ5170xHWPDlg& window, const QString& out)
{
    auto& chart = window.features()->chart();
    auto& instrument = window.features()->instrument();
    chart.setStartCursor(false);
    chart.setEndCursor(false);
    chart.resetZoom();
    window.hooks().chartRefresh();
    if (!grab(out + "/scope_measurements.png")) return false;
    instrument.setLevelsShown(true);
    window.hooks().chartRefresh();
    if (!grab(out + "/scope_step_levels.png")) return false;
    instrument.setLevelsShown(false);
    instrument.setXyChannels(1, 3);
    instrument.setXyMode(true);
    window.hooks().chartRefresh();
    return grab(out + "/scope_xy.png");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyInstrumentStyle(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out folder> [fill]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    e2e::SimProgram program(false);
    if (!program.start()) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    CTQ5170xHWPDlg& window = *program.window;
    auto& drive = window.features()->drive();
    auto& panel = drive.pinPanel();

    // Power on, then a quarter-step drive at 1.00 V and 2 kHz, clockwise.
    QTest::mouseClick(window.control(ctl::kPower), Qt::LeftButton);
    window.link().waitWriteDone(std::chrono::milliseconds(3000));
    window.showPinPanel();
    for (Pin p : {Pin::Enable, Pin::Mode0, Pin::Mode1, Pin::CwCcw}) panel.highRadio(p)->click();
    if (panel.chipNameList()->count() > 1) panel.chipNameList()->setCurrentIndex(1);
    type(window, ctl::kVrefEdit, "1.00");
    type(window, ctl::kMthEdit, "0.50");
    type(window, ctl::kClkMax, "100k");
    type(window, ctl::kClkEdit, "2k");
    // CH2 and CH4: the coil currents at 500 mA/div.
    for (int n : {1, 3}) {
        window.control<QComboBox>(ctl::channelSource(0) + n)->setCurrentIndex(1);
        if (auto* s = window.control<QAbstractSlider>(ctl::valuePerDivSpin(0) + n)) s->setValue(2);
    }
    if (argc > 2 && QString::fromLatin1(argv[2]) == QLatin1String("fill")) {
        // The powered window filling the screen, strip full:
        // main_<width>x<height>.png, then nothing else.
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        panel.hide();
        window.setGeometry(room);
        e2e::waitUntil([&] { return window.control(ctl::kPower)->isEnabled(); }, 3000); // the power button's lock-out
        QTest::qWait(2500); // a thermometer reading or two
        for (int n = 0; n < 4; ++n) window.features()->instrument().setMeasurementShown(n, true);
        e2e::waitUntil([&] { return window.features()->scopeCore().sweepsConverted() > 6; }, 5000);
        window.hooks().chartRefresh();
        return grab(QStringLiteral("%1/main_%2x%3.png").arg(out).arg(room.width()).arg(room.height())) ? 0 : 1;
    }
    panel.move(window.geometry().right() - panel.width() - 290, 170);
    panel.raise();
    e2e::waitUntil([&] { return window.features()->scopeCore().sweepsConverted() > 3; }, 3000);
    e2e::waitUntil([&] { return window.control(ctl::kPower)->isEnabled(); }, 3000); // the power button's lock-out
    if (!grab(out + "/pin_panel.png")) return 1;

    // The oscilloscope: the panel closed, a cursor pair and a zoom.
    panel.hide();
    auto& chart = window.features()->chart();
    const QRect plot = chart.plotRect();
    chart.leftDoubleClick(plot.topLeft() + QPoint(plot.width() * 3 / 10, 40));
    chart.rightDoubleClick(plot.topLeft() + QPoint(plot.width() * 7 / 10, 40));
    chart.leftPress(plot.topLeft() + QPoint(plot.width() / 10, plot.height() / 10));
    chart.mouseMove(plot.topLeft() + QPoint(plot.width() / 2, plot.height() * 9 / 10));
    chart.leftRelease(plot.topLeft() + QPoint(plot.width() * 6 / 10, plot.height() * 9 / 10));
    window.update();
    const auto sweeps = window.features()->scopeCore().sweepsConverted();
    e2e::waitUntil([&] { return window.features()->scopeCore().sweepsConverted() > sweeps + 2; }, 3000);
    if (!grab(out + "/scope_running.png")) return 1;
    if (!instrumentShots(window, out)) return 1;
    window.features()->instrument().setXyMode(false);
    window.hooks().chartRefresh();

    // Advance mode over the running scope: ENABLE just above its threshold,
    // single steps.
    panel.advanceButton()->click();
    auto& advance = drive.advance().window();
    advance.panel(1)->slider()->setValue(advance.panel(1)->slider()->maximum() - 380);
    advance.singleStepRadio()->click();
    advance.adjustSize();
    advance.move(window.geometry().right() - advance.width() - 40, 120);
    advance.raise();
    if (!grab(out + "/advance_mode.png")) return 1;
    panel.advanceButton()->click(); // leave advance mode

    // A dynamic sequence running, its current row highlighted.
    window.onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    CDynamicDlg* dyn = window.features()->dynamic().dialog(0);
    const char* rows[4][9] = {{"0", "1.00", "0.50", "1000", "HI", "HI", "LO", "LO", "HI"},
                              {"400", "1.50", "0.50", "2k", "HI", "HI", "LO", "LO", "LO"},
                              {"800", "2.00", "0.75", "500", "HI", "HI", "HI", "LO", "HI"},
                              {"1200", "1.20", "0.75", "1.5k", "HI", "HI", "HI", "LO", "LO"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 9; ++c) dyn->table().setCell(r, c, rows[r][c]);
    dyn->refreshGrid();
    dyn->infiniteRadio()->setChecked(true);
    dyn->delayField()->setText("400");
    dyn->move(300, 120);
    dyn->startButton()->click();
    e2e::waitUntil([&] { return dyn->highlightedRow() == 2; }, 5000);
    return grab(out + "/dynamic_running.png") ? 0 : 1;
}
