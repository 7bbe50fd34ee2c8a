// Pictures of the analyser for the documentation, on the simulated board
// under a virtual X server: the spectrum dock with THD and harmonics of a
// quarter-step coil current, a math channel (power, V x I) with its dialog,
// and the amplitude cursors. The window fills the screen.
//   e2e_analysis_screenshots <out folder> <suffix>

#include <chrono>
#include <cstdio>

#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

#include "app/main_window.h"
#include "app/program_features.h"
#include "app/style.h"
#include "drive/ui/drive_feature.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/analysis_tools.h"
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
    QTest::qWait(400);
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
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <out folder> <suffix>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]), suffix = QString::fromLocal8Bit(argv[2]);
    e2e::SimProgram program(false);
    if (!program.start()) {
        std::fprintf(stderr, "the link did not start\n");
        return 1;
    }
    CTQ5170xHWPDlg& window = *program.window;
    auto& panel = window.features()->drive().pinPanel();
    window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());

    // Power on; quarter step at VREF 1.00 V and a 10 kHz step clock (625 Hz
    // electrical, 16 cycles a sweep).
    QTest::mouseClick(window.control(ctl::kPower), Qt::LeftButton);
    window.link().waitWriteDone(std::chrono::milliseconds(3000));
    window.showPinPanel();
    for (Pin p : {Pin::Enable, Pin::Mode0, Pin::Mode1, Pin::CwCcw}) panel.highRadio(p)->click();
    type(window, ctl::kVrefEdit, "1.00");
    type(window, ctl::kMthEdit, "0.50");
    type(window, ctl::kClkMax, "100k");
    type(window, ctl::kClkEdit, "10k");
    panel.hide();
    // CH1: OUT1A's voltage; CH2 and CH4: the coil currents at 500 mA/div.
    window.control<QComboBox>(ctl::channelSource(0))->setCurrentIndex(0);
    for (int n : {1, 3}) {
        window.control<QComboBox>(ctl::channelSource(0) + n)->setCurrentIndex(1);
        if (auto* s = window.control<QAbstractSlider>(ctl::valuePerDivSpin(0) + n)) s->setValue(2);
    }
    e2e::waitUntil([&] { return window.features()->scopeCore().sweepsConverted() > 3; }, 3000);

    auto& tools = window.features()->instrument().analysis();
    // The spectrum of CH2 (coil 1) in the dock under the chart.
    tools.setSpectrumShown(true);
    tools.spectrumPanel()->setChannel(1);
    window.hooks().chartRefresh();
    if (!grab(out + "/scope_fft_" + suffix + ".png")) return 1;
    tools.setSpectrumShown(false);

    // M1 = CH1 x CH2: the power into winding 1 through OUT1A, in W.
    zelbo::scope::analysis::MathSetups setups{};
    setups[0] = {true, "CH1 * CH2", 20.0, -4, "P1"};
    tools.applySetups(setups);
    auto* dlg = tools.mathDialog();
    dlg->load();
    dlg->show();
    dlg->adjustSize();
    dlg->move(window.geometry().right() - dlg->width() - 40, window.geometry().top() + 140);
    // The math channel's figures in the strip come with the next sweeps.
    const auto before = window.features()->scopeCore().sweepsConverted();
    e2e::waitUntil([&] { return window.features()->scopeCore().sweepsConverted() > before + 2; }, 3000);
    window.hooks().chartRefresh();
    if (!grab(out + "/scope_math_" + suffix + ".png")) return 1;
    dlg->hide();

    // Amplitude cursors on CH2 at +-0.8 A.
    auto* levels = tools.cursorDialog();
    levels->reload();
    levels->setLevels("CH2", true, -0.8, 0.8);
    levels->show();
    levels->adjustSize();
    levels->move(window.geometry().right() - levels->width() - 40, window.geometry().top() + 140);
    window.hooks().chartRefresh();
    if (!grab(out + "/scope_amplitude_cursors_" + suffix + ".png")) return 1;
    levels->setLevels("CH2", false, -0.8, 0.8);
    levels->hide();
    tools.applySetups({});

    // 10 ms/div: one sweep fills a quarter of the screen, the rest is marked.
    if (auto* secDiv = window.control<QAbstractSlider>(ctl::kSecPerDivSpin)) secDiv->setValue(13);
    const auto shown = window.features()->scopeCore().sweepsConverted();
    e2e::waitUntil([&] { return window.features()->scopeCore().sweepsConverted() > shown + 2; }, 5000);
    window.hooks().chartRefresh();
    return grab(out + "/scope_not_acquired_" + suffix + ".png") ? 0 : 1;
}
