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
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QSpinBox>

#include "app/program_features.h"
#include "drive/drive_core.h"
#include "engine/session.h"
#include "drive/ui/drive_feature.h"
#include "scope/chart/line_chart.h"
#include "scope/record/recording_format.h"
#include "scope/scope_core.h"
#include "scope/ui/analysis_tools.h"
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

    // The window's strip for the set-up its figures are compared on with a
    // headless session's: quarterStepCoils() with the trigger on CH2 (coil
    // current) at 0.5 A, rising, which holds the steps' phase. The window is
    // closed afterwards, so that a session may take the board.
    struct StripSnapshot {
        std::array<zelbo::scope::Measurement, 4> figures;
        std::array<zelbo::scope::Source, 4> sources{};
        std::array<std::string, 4> outputs;
        std::string timeBase, rate;
        double vref = 0, rnf = 0, io = 0; // V, ohm, mA
    };
    StripSnapshot stripForComparison()
    {
        StripSnapshot shown;
        quarterStepCoils();
        if (HasFatalFailure()) return shown;
        scope().setTriggerChannel(1);
        scope().setSlopeMinus(false);
        scope().setCurrentLevelText("0.500");
        scope().setTriggerOn(true);
        EXPECT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
        freshSweeps(3);
        if (HasFatalFailure()) return shown;
        for (int n = 0; n < 4; ++n) {
            shown.figures[n] = instrument().shownMeasurement(n);
            shown.sources[n] = scope().source(n);
            shown.outputs[n] = scope().outputText(n);
        }
        shown.timeBase = scope().timeBaseText();
        shown.rate = scope().samplingRateText();
        shown.vref = drive().core().vref();
        shown.rnf = drive().core().rnfValue();
        shown.io = drive().core().io();
        messages.queueAnswer(zelbo::MsgAnswer::Ok);
        window->close();
        window.reset();
        return shown;
    }

    // Run off (the traces stay), Save Data to `name`: its header line and rows.
    std::vector<std::vector<double>> stopAndSaveCsv(const QString& name, std::string& header)
    {
        window->control<QAbstractButton>(ctl::kRun)->click();
        EXPECT_TRUE(waitUntil([&] { return !scope().running(); }));
        const QString csv = path(name);
        EXPECT_TRUE(instrument().saveDataTo(csv));
        std::ifstream in(csv.toStdString());
        std::getline(in, header);
        std::vector<std::vector<double>> rows;
        for (std::string line; std::getline(in, line);) {
            std::vector<double> r;
            std::stringstream ss(line);
            for (std::string f; std::getline(ss, f, ',');) r.push_back(f.empty() ? NAN : std::stod(f));
            rows.push_back(r);
        }
        return rows;
    }
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
        // Between the texts of neighbouring cells of a row (right-aligned)
        // there is at least a space: "2.019 A" and "-202.3 mA" never read as one.
        const auto* grid = qobject_cast<QGridLayout*>(strip->layout());
        for (int row = 1; grid && row < grid->rowCount(); ++row) {
            const QLabel* left = nullptr;
            for (int col = 1; col < grid->columnCount(); ++col) {
                auto* item = grid->itemAtPosition(row, col);
                auto* cell = item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
                if (!cell || !cell->isVisibleTo(strip)) continue;
                if (left) {
                    const int textLeft = cell->geometry().right() - cell->fontMetrics().horizontalAdvance(cell->text());
                    EXPECT_GE(textLeft - left->geometry().right(), cell->fontMetrics().horizontalAdvance(QLatin1Char(' ')))
                        << left->text().toStdString() << " | " << cell->text().toStdString();
                }
                left = cell;
            }
        }
        return shown;
    };
    window->resize(1280, 800);
    const int at1280 = check("1280x800");
    window->resize(1366, 768);
    const int at1366 = check("1366x768");
    std::printf("strip columns shown: %d at 1280x800, %d at 1366x768, strip %d px\n", at1280, at1366,
                strip->width());

    // A style sheet that gives the cells a larger font than the strip's own
    // (as an application style can): the columns are sized for what is drawn.
    const QString sheet = strip->styleSheet();
    strip->setStyleSheet(sheet + QStringLiteral(" QLabel { font-size: 15px; }"));
    QCoreApplication::processEvents();
    window->resize(1280, 800);
    check("style sheet font, 1280x800");
    strip->setStyleSheet(sheet);

    // Twice the font: whole columns go, the period first, Min and Max last.
    QFont big = strip->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    strip->setFont(big);
    EXPECT_LT(check("large font"), static_cast<int>(ScopeInstrument::Columns));
    EXPECT_FALSE(instrument().columnShown(ScopeInstrument::Period));
}

// After bring-up (the data folder's settings applied, the power still off)
// each VALUE/DIV field shows the scale the chart's legend uses.
// What the strip shows and what a headless session's measure() gives come
// from one measurer: the same set-up on the same simulated board (no probe
// noise, the trigger on a coil current fixing the phase), first through the
// window, then through a session of the engine, gives the same figures.
TEST_F(Instrument, HeadlessMeasureGivesTheFiguresTheStripShows)
{
    const StripSnapshot shown = stripForComparison();
    if (HasFatalFailure()) return;
    const auto& strip = shown.figures;
    const auto& sources = shown.sources;
    const auto& outputs = shown.outputs;
    const auto& timeBase = shown.timeBase;
    const auto& rate = shown.rate;
    const double vref = shown.vref, rnf = shown.rnf, io = shown.io;

    zelbo::engine::SessionOptions options;
    options.sim = true;
    options.dataFolder = data.path().toStdString();
    zelbo::engine::Session s(options);
    s.setMode("quarter");
    s.setPin("enable", true);
    s.setPin("cw", true);
    s.setVref(vref);
    s.setRnf(rnf);
    s.powerOn();
    for (int n = 0; n < 4; ++n) {
        s.setSource(n, sources[n] == zelbo::scope::Source::Voltage ? "V" : "I", outputs[n].back() == 'B' ? 1 : 0);
        s.setChannelOn(n, true);
    }
    EXPECT_EQ(s.setTimeBase(timeBase), timeBase);
    EXPECT_EQ(s.setSamplingRate(rate), rate);
    s.setTrigger(true, 1, 0.5, false);
    s.run(2000);
    const auto status = s.status();
    const auto value = [&](const std::string& name) {
        for (const auto& [k, v] : status)
            if (k == name) return v;
        return std::string();
    };
    ASSERT_EQ(std::stod(value("io")), io) << "the set-ups differ";
    for (int n = 0; n < 4; ++n) ASSERT_EQ(value("ch" + std::to_string(n + 1) + "_output"), outputs[n]);
    s.measure(std::chrono::milliseconds(zelbo::test::scaledMs(5000))); // the first sweep after the start
    const auto headless = s.measure(std::chrono::milliseconds(zelbo::test::scaledMs(5000)));
    ASSERT_TRUE(headless.measured);
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE("CH" + std::to_string(n + 1));
        const auto& w = strip[n];
        const auto& h = headless.figures[n];
        EXPECT_EQ(h.samples, w.samples);
        EXPECT_EQ(h.plateaus, w.plateaus);
        // One code of the channel's converter: the sweeps are two sweeps, not
        // one, and may start a sample apart.
        const double code = zelbo::scope::codeResolution(sources[n]);
        const auto same = [&](const char* what, double a, double b, double tolerance) {
            if (std::isnan(a) || std::isnan(b)) {
                EXPECT_EQ(std::isnan(a), std::isnan(b)) << what;
            } else {
                EXPECT_NEAR(a, b, tolerance) << what;
            }
        };
        same("min", h.min, w.min, code);
        same("max", h.max, w.max, code);
        same("p-p", h.peakToPeak, w.peakToPeak, code);
        // An output voltage is chopped: the trigger on a coil current holds
        // the steps' phase, not the chopper's, so its mean, RMS and
        // frequency differ from sweep to sweep whoever measures them.
        if (sources[n] == zelbo::scope::Source::Voltage) continue;
        same("mean", h.mean, w.mean, code);
        same("rms", h.rms, w.rms, code);
        same("frequency", h.frequencyHz, w.frequencyHz, 1e-3 * w.frequencyHz);
        same("period", h.periodUs, w.periodUs, 1e-3 * w.periodUs);
        same("Ipeak", h.peakCurrent, w.peakCurrent, code);
        same("Ipeak error", h.peakErrorPercent, w.peakErrorPercent, code / (io / 1000.0) * 100.0);
        same("step error", h.stepErrorPercent, w.stepErrorPercent, code / (io / 1000.0) * 100.0);
    }
}

// The same strip for a Python test to hold the module's measure() against
// (python/tests/test_window_figures.py runs this case with
// ZELBO_STRIP_FIGURES naming the JSON file to write; without it it is skipped).
TEST_F(Instrument, StripFiguresForThePythonModule)
{
    const char* out = std::getenv("ZELBO_STRIP_FIGURES");
    if (out == nullptr) GTEST_SKIP() << "run by python/tests/test_window_figures.py";
    const StripSnapshot shown = stripForComparison();
    if (HasFatalFailure()) return;
    std::ostringstream j;
    j.precision(17);
    const auto num = [&j](double v) -> std::ostringstream& {
        if (std::isnan(v)) j << "null";
        else j << v;
        return j;
    };
    j << "{\"time_base\":\"" << shown.timeBase << "\",\"rate\":\"" << shown.rate << "\",\"vref\":";
    num(shown.vref) << ",\"rnf\":";
    num(shown.rnf) << ",\"io_ma\":";
    num(shown.io) << ",\"channels\":[";
    for (int n = 0; n < 4; ++n) {
        const auto& m = shown.figures[n];
        j << (n ? "," : "") << "{\"source\":\"" << (shown.sources[n] == zelbo::scope::Source::Voltage ? "V" : "I")
          << "\",\"output\":\"" << shown.outputs[n] << "\",\"samples\":" << m.samples << ",\"plateaus\":" << m.plateaus
          << ",\"code\":" << zelbo::scope::codeResolution(shown.sources[n]);
        const std::pair<const char*, double> figures[] = {
            {"min", m.min}, {"max", m.max}, {"p_p", m.peakToPeak}, {"mean", m.mean}, {"rms", m.rms},
            {"frequency", m.frequencyHz}, {"period", m.periodUs * 1e-6}, {"ipeak", m.peakCurrent},
            {"ipeak_error", m.peakErrorPercent}, {"step_error", m.stepErrorPercent}};
        for (const auto& [name, value] : figures) {
            j << ",\"" << name << "\":";
            num(value);
        }
        j << "}";
    }
    j << "]}\n";
    std::ofstream(out) << j.str();
}

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
    std::string header;
    const auto rows = stopAndSaveCsv("sweep.csv", header);
    EXPECT_EQ(header, "Time (ms),CH1 OUT1A (V),CH2 OUT1B (A),CH3 OUT2A (V),CH4 OUT2B (A)"); // labels default to the outputs
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

// A math channel measured like a channel in a row of its own, sized for its
// unit, and written by Save Data after the channels it is made of.
TEST_F(Instrument, MathChannelsHaveStripRowsAndGoIntoSaveData)
{
    quarterStepCoils();
    if (HasFatalFailure()) return;
    auto& tools = instrument().analysis();
    zelbo::scope::analysis::MathSetups setups{};
    setups[0].on = true;
    setups[0].expression = "CH1 * CH2"; // OUT1A volts times coil current: W
    setups[0].valuePerDiv = 5.0;
    tools.applySetups(setups);
    ASSERT_TRUE(tools.math().on(0));
    EXPECT_TRUE(instrument().rowShown(ScopeInstrument::kRows - 2));
    EXPECT_FALSE(instrument().rowShown(ScopeInstrument::kRows - 1)) << "M2 is off: no row";
    freshSweeps(2);
    freshSweeps(1); // the math channel follows its sweep
    const int m1 = zelbo::scope::kChannels;
    const auto figures = instrument().shownMeasurement(m1);
    EXPECT_GT(figures.samples, 0u);
    EXPECT_TRUE(instrument().figureText(m1, ScopeInstrument::Max).endsWith(QStringLiteral("W")))
        << instrument().figureText(m1, ScopeInstrument::Max).toStdString();
    EXPECT_EQ(instrument().figureText(m1, ScopeInstrument::StepError), "---");
    auto* box = instrument().strip()->findChild<QCheckBox*>(QStringLiteral("measureM1"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisibleTo(instrument().strip()));
    EXPECT_FALSE(instrument().strip()->findChild<QCheckBox*>(QStringLiteral("measureM2"))->isVisibleTo(instrument().strip()));
    // Every shown cell, the math row's included, holds its whole text.
    window->resize(1280, 800);
    QCoreApplication::processEvents();
    for (QLabel* cell : instrument().strip()->findChildren<QLabel*>())
        if (cell->isVisibleTo(instrument().strip())) {
            EXPECT_LE(cell->fontMetrics().horizontalAdvance(cell->text()), cell->contentsRect().width())
                << cell->text().toStdString();
        }

    std::string header;
    const auto rows = stopAndSaveCsv("math.csv", header);
    EXPECT_EQ(header, "Time (ms),CH1 OUT1A (V),CH2 OUT1B (A),CH3 OUT2A (V),CH4 OUT2B (A),M1 (W)");
    ASSERT_EQ(rows.size(), 4096u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 6u) << "row " << i;
        ASSERT_DOUBLE_EQ(rows[i][5], rows[i][1] * rows[i][2]) << "row " << i;
    }

    tools.applySetups({}); // off: the row goes
    EXPECT_FALSE(box->isVisibleTo(instrument().strip()));
}

// The spectrum dock looks for a coil current's fundamental at the step
// clock's electrical frequency (clock / 16 in quarter step), and follows a
// new clock and a new mode.
TEST_F(Instrument, SpectrumDockShowsTheThdAtTheRunningClocksElectricalFrequency)
{
    quarterStepCoils();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(drive().core().clockRunning());
    auto& tools = instrument().analysis();
    tools.setSpectrumShown(true);
    auto* panel = tools.spectrumPanel();
    ASSERT_NE(panel, nullptr);
    panel->setChannel(1); // CH2: coil current
    auto thdAt = [&](double hz) {
        SCOPED_TRACE(hz);
        EXPECT_DOUBLE_EQ(panel->expectedHz(), hz);
        freshSweeps(2);
        const auto& h = panel->harmonics();
        EXPECT_TRUE(h.valid) << h.reason;
        EXPECT_NEAR(h.fundamentalHz, hz, 0.03 * hz);
        EXPECT_TRUE(panel->summaryText().contains(QStringLiteral("THD"))) << panel->summaryText().toStdString();
        return h.thdDb();
    };
    // Enough electrical cycles in a sweep for the harmonics: 625 Hz.
    type(1070, "10k");
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    // The ideal quarter-step staircase: -20 dB.
    EXPECT_NEAR(thdAt(625.0), -20.1, 3.0);
    type(1070, "20k");
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    thdAt(1250.0);
    // Full step: four clock edges a cycle, a square wave's distortion.
    pin(Pin::Mode0, false);
    pin(Pin::Mode1, false);
    ASSERT_TRUE(window->link().waitWriteDone(std::chrono::milliseconds(3000)));
    EXPECT_GT(thdAt(5000.0), -10.0);
    // The voltage channels are not coil currents: the strongest tone.
    panel->setChannel(0);
    window->hooks().chartRefresh();
    EXPECT_FALSE(panel->summaryText().contains(QStringLiteral("electrical")));
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
