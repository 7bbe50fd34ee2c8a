// The oscilloscope as an instrument on the simulated board, through the
// program's own window: the measurement strip, the XY view of the two coil
// currents, Save Data and a recording counted against the board's sweeps.
// Built twice: the default run records for a few seconds, the `long` label
// for ten minutes.

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QSpinBox>

#include "app/program_features.h"
#include "drive/ui/drive_feature.h"
#include "scope/chart/line_chart.h"
#include "scope/record/recording_format.h"
#include "scope/scope_core.h"
#include "scope/ui/instrument.h"
#include "scope/ui/scope_binder.h"
#include "scope/ui/xy_view.h"
#include "tests/e2e/program_fixture.h"

#ifndef ZELBO_RECORD_SECONDS
#define ZELBO_RECORD_SECONDS 3
#endif

using namespace e2e;
using zelbo::drive::Pin;
using zelbo::scope::ScopeInstrument;

namespace {

class Instrument : public Program {
protected:
    zelbo::drive::DriveFeature& drive() { return window->features()->drive(); }
    zelbo::scope::ScopeCore& scope() { return window->features()->scopeCore(); }
    ScopeInstrument& instrument() { return window->features()->instrument(); }
    void pin(Pin p, bool high)
    {
        auto& panel = drive().pinPanel();
        (high ? panel.highRadio(p) : panel.lowRadio(p))->click();
    }
    // Quarter step, clockwise, 1 A on 0.2 ohm, CH2 and CH4 on the coil
    // currents, the clock at 2 kHz: a few electrical cycles a sweep.
    void quarterStepCoils()
    {
        board.setProbeNoise(false);
        for (int ch = 0; ch < 4; ++ch) board.setScopeInputOffsets(ch, 0, 0, 0); // exact levels, uncalibrated
        openReady();
        if (HasFatalFailure()) return;
        pin(Pin::Enable, true);
        pin(Pin::CwCcw, true);
        pin(Pin::Mode0, true);
        pin(Pin::Mode1, true);
        clickPower();
        type(ctl::kVrefEdit, "1.00");
        window->control<QComboBox>(ctl::channelSource(0))->setCurrentIndex(0); // CH1 and CH3 voltage (the first-run
        window->control<QComboBox>(ctl::channelSource(2))->setCurrentIndex(0); // settings show currents there)
        window->control<QComboBox>(ctl::channelSource(1))->setCurrentIndex(1);
        window->control<QComboBox>(ctl::channelSource(3))->setCurrentIndex(1);
        type(ctl::kClkMax, "100k");
        type(ctl::kClkEdit, "2k");
        ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        freshSweeps(3); // none begun before the last change
    }
    void freshSweeps(std::uint64_t n)
    {
        const auto s = scope().sweepsConverted();
        ASSERT_TRUE(waitUntil([&] { return scope().sweepsConverted() >= s + n; }, 5000));
        window->hooks().chartRefresh();
    }
    QString path(const QString& name) const { return data.filePath(name); }
};

} // namespace

#ifndef ZELBO_LONG_RUN
// Every shown cell holds its whole text, and no two run together, at the
// laptop sizes and with a font too large for every column.
TEST_F(Instrument, StripNeverCutsAFigure)
{
    quarterStepCoils();
    if (HasFatalFailure()) return;
    QWidget* strip = instrument().strip();
    ASSERT_NE(strip, nullptr);
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        window->hooks().chartRefresh();
        QCoreApplication::processEvents();
        int shown = 0;
        for (int c = 0; c < ScopeInstrument::Columns; ++c) shown += instrument().columnShown(c) ? 1 : 0;
        EXPECT_GE(shown, 2);
        EXPECT_TRUE(instrument().columnShown(ScopeInstrument::Min));
        EXPECT_TRUE(instrument().columnShown(ScopeInstrument::Max));
        int negative = 0;
        for (QLabel* title : strip->findChildren<QLabel*>()) {
            if (!title->isVisibleTo(strip)) continue;
            const QRect r = title->geometry();
            EXPECT_LE(title->fontMetrics().horizontalAdvance(title->text()), title->contentsRect().width())
                << title->text().toStdString();
            EXPECT_LE(r.right(), strip->contentsRect().right()) << title->text().toStdString();
            negative += title->text().startsWith(QLatin1Char('-')) ? 1 : 0;
            for (QLabel* other : strip->findChildren<QLabel*>())
                if (other != title && other->isVisibleTo(strip)) {
                    EXPECT_FALSE(r.intersects(other->geometry())) << title->text().toStdString();
                }
        }
        EXPECT_GT(negative, 0) << "the coil currents' minima are negative";
        return shown;
    };
    window->resize(1280, 800);
    const int at1280 = check("1280x800");
    window->resize(1366, 768);
    const int at1366 = check("1366x768");
    std::printf("strip columns shown: %d at 1280x800, %d at 1366x768, strip %d px\n", at1280, at1366,
                strip->width());

    // Twice the font: whole columns go, the period first, Min and Max last.
    QFont big = strip->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    strip->setFont(big);
    EXPECT_LT(check("large font"), static_cast<int>(ScopeInstrument::Columns));
    EXPECT_FALSE(instrument().columnShown(ScopeInstrument::Period));
}

// After bring-up (the data folder's settings applied, the power still off)
// each VALUE/DIV field shows the scale the chart's legend uses.
TEST_F(Instrument, ValuePerDivFieldsAndTheLegendAgreeBeforePowerOn)
{
    openReady();
    if (HasFatalFailure()) return;
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        const QString legend = QString::fromStdString(scope().channel(n).valuePerDivText);
        const auto* field = window->control<QLineEdit>(zelbo::scope::ScopeControlIds{}.valuePerDivText[static_cast<std::size_t>(n)]);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(), legend);
    }
}

TEST_F(Instrument, StripShowsEveryChannelAndTheCoilCurrentsAgainstIo)
{
    quarterStepCoils();
    if (HasFatalFailure()) return;
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        EXPECT_GT(instrument().shownMeasurement(n).samples, 0u);
        EXPECT_NE(instrument().figureText(n, ScopeInstrument::Max), "---");
        EXPECT_NE(instrument().figureText(n, ScopeInstrument::Rms), "---");
    }
    for (int n : {1, 3}) {
        const auto m = instrument().shownMeasurement(n);
        EXPECT_NEAR(m.peakCurrent, 1.0, 0.02);
        EXPECT_LT(std::abs(m.peakErrorPercent), 2.0);
        // Under one code of the converter, the model's noise.
        EXPECT_LT(m.stepErrorPercent, zelbo::scope::codeResolution(zelbo::scope::Source::Current) / 1.0 * 100.0);
        // 16 steps a cycle at 2 kHz: 125 Hz.
        EXPECT_NEAR(m.frequencyHz, 125.0, 0.01 * 125.0);
        EXPECT_NE(instrument().figureText(n, ScopeInstrument::StepError), "---");
    }
    // Switched off per channel, and back.
    instrument().setMeasurementShown(0, false);
    window->hooks().chartRefresh();
    EXPECT_EQ(instrument().figureText(0, ScopeInstrument::Max), "---");
    instrument().setMeasurementShown(0, true);

    // Zoomed into the first tenth: the figures follow the visible part.
    auto& chart = window->features()->chart();
    const auto plot = chart.plotRect();
    chart.leftPress(plot.topLeft() + QPoint(1, 1));
    chart.mouseMove(plot.topLeft() + QPoint(plot.width() / 10, plot.height() - 2));
    chart.leftRelease(plot.topLeft() + QPoint(plot.width() / 10, plot.height() - 2));
    ASSERT_TRUE(chart.zoomed());
    window->hooks().chartRefresh();
    EXPECT_LT(instrument().shownMeasurement(1).samples, 4096u / 5);
}

TEST_F(Instrument, XyViewOfTheCoilCurrentsDrawsTheSixteenPointRing)
{
    quarterStepCoils();
    if (HasFatalFailure()) return;
    instrument().setXyChannels(1, 3);
    instrument().setXyMode(true);
    auto* xy = instrument().xyView();
    ASSERT_TRUE(xy->isVisible());
    EXPECT_FALSE(window->features()->chartView()->isVisible());
    xy->repaint();
    // The points fall on 16 places of a circle of radius Io.
    std::set<std::pair<long, long>> places;
    for (const auto& [x, y] : xy->points()) {
        EXPECT_NEAR(std::hypot(x, y), 1.0, 0.03);
        places.insert({std::lround(x * 20), std::lround(y * 20)});
    }
    EXPECT_EQ(places.size(), 16u);
    instrument().setXyMode(false);
    EXPECT_TRUE(window->features()->chartView()->isVisible());
}

TEST_F(Instrument, SaveDataWritesTheTraceAsItIs)
{
    quarterStepCoils();
    if (HasFatalFailure()) return;
    window->control<QAbstractButton>(ctl::kRun)->click(); // Run off: the trace stays
    ASSERT_TRUE(waitUntil([&] { return !scope().running(); }));
    const QString csv = path("sweep.csv");
    ASSERT_TRUE(instrument().saveDataTo(csv));
    std::ifstream in(csv.toStdString());
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "Time (ms),CH1 OUT1A (V),CH2 OUT1B (A),CH3 OUT2A (V),CH4 OUT2B (A)"); // labels default to the outputs
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        std::vector<double> r;
        std::stringstream ss(line);
        std::string f;
        while (std::getline(ss, f, ',')) r.push_back(std::stod(f));
        rows.push_back(r);
    }
    ASSERT_EQ(rows.size(), 4096u);
    for (int n = 0; n < 4; ++n) {
        const auto& c = scope().channel(n);
        std::lock_guard lk(c.traceMutex);
        for (std::size_t i = 0; i < 4096; ++i) {
            ASSERT_DOUBLE_EQ(rows[i][static_cast<std::size_t>(n) + 1], c.trace[i].second) << n << " " << i;
            ASSERT_NEAR(rows[i][0], c.trace[i].first / 1000.0, 1e-12);
        }
    }
    EXPECT_TRUE(instrument().saveDataTo(path("sweep.json")));
    EXPECT_FALSE(instrument().saveDataTo(path("missing/folder/sweep.csv")));
    ASSERT_FALSE(messages.shown().empty());
    EXPECT_NE(messages.shown().back().text.find("could not be saved"), std::string::npos);
}

#define RECORDING_SUITE Instrument
#else
// The long run holds the recording only, under its own name.
using InstrumentLong = Instrument;
#define RECORDING_SUITE InstrumentLong
#endif

TEST_F(RECORDING_SUITE, RecordingAtTheFastestSweepRateLosesNoSweep)
{
    poweredOn();
    if (HasFatalFailure()) return;
    // The shortest sweep: 500 ns/div, 10 MHz.
    scope().setTimeBase(0);
    scope().setSamplingRate(15);
    freshSweeps(3);
    const QString file = path("run.zrec");
    // The board's sweep counter against the core's, read together: while
    // acquisition runs, their difference is the sweep in flight.
    auto counts = [&] { return std::pair(board.scope().sweepsUploaded, scope().sweepsConverted()); };
    ASSERT_TRUE(instrument().startRecordingTo(file));
    const auto [board0, core0] = counts();
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] {
        window->hooks().chartRefresh();
        return std::chrono::steady_clock::now() - t0 > std::chrono::seconds(ZELBO_RECORD_SECONDS);
    }, (ZELBO_RECORD_SECONDS + 60) * 1000));
    EXPECT_FALSE(window->statusBar()->findChild<QLabel*>("recordStatus")->text().isEmpty());
    const auto [board1, core1] = counts();
    instrument().stopRecording();
    const auto st = instrument().recorder().status();
    EXPECT_EQ(st.reason, zelbo::scope::RecordStop::User);
    // Every sweep from the first to the last recorded is in the file...
    EXPECT_EQ(st.lastSweep - st.firstSweep + 1, st.sweeps);
    // ...it holds every sweep converted between its start and its stop...
    EXPECT_LE(st.firstSweep, core0 + 1);
    EXPECT_GE(st.lastSweep, core1);
    // ...and the host converted every sweep the board uploaded meanwhile.
    const auto boardSweeps = static_cast<long long>(board1 - board0);
    const auto hostSweeps = static_cast<long long>(core1 - core0);
    EXPECT_LE(std::llabs(boardSweeps - hostSweeps), 2) << boardSweeps << " vs " << hostSweeps;
    EXPECT_GT(st.sweeps, std::uint64_t(ZELBO_RECORD_SECONDS) * 5);

    zelbo::scope::recording::Header h;
    std::uint64_t count = 0, expect = st.firstSweep;
    bool inOrder = true;
    ASSERT_TRUE(zelbo::scope::recording::readFile(file.toStdString(), h, [&](const auto& s) {
        inOrder = inOrder && s.index == expect++ && s.present == 0x0F;
        ++count;
        return true;
    }));
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(count, st.sweeps);
    EXPECT_EQ(h.mask, 0x0F);
    RecordProperty("sweeps", static_cast<int>(st.sweeps));
    std::printf("recorded %llu sweeps in %.1f s (%.1f sweeps/s); board uploaded %lld, host converted %lld\n",
                static_cast<unsigned long long>(st.sweeps), st.elapsedSeconds, st.sweeps / st.elapsedSeconds,
                boardSweeps, hostSweeps);
}
