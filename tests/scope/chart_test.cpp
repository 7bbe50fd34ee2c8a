// Line chart state (scaling, zoom, scroll, cursors, readouts) and drawing,
// without a display.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImageReader>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "scope/chart/line_chart.h"
#include "scope/scope_channel.h"
#include "scope/scope_core.h"
#include "tests/scope/fakes.h"

using namespace zelbo::scope;

namespace {

// One application for the whole run, torn down after the last test and
// before the process's static objects go away.
QGuiApplication* gApp = nullptr;

QGuiApplication& app()
{
    static int argc = 1;
    static char arg0[] = "scope_test";
    static char* argv[] = {arg0, nullptr};
    if (!gApp)
        gApp = new QGuiApplication(argc, argv);
    return *gApp;
}

class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete gApp;
        gApp = nullptr;
    }
};
[[maybe_unused]] auto* const gAppEnvironment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

void fill(ScopeChannel& ch, double periodUs, double (*f)(double))
{
    ch.trace.clear();
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i) {
        const double t = i * periodUs;
        ch.trace.push_back({t, f(t)});
    }
}

class ChartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        chart.configureForScope();
        chart.setSize(QSize(1010 + 24, 500 + 49)); // plot 1010 x 500 pixels
        chart.setTimePerDiv(2500, "2.5 ms");
        ch1.colour = 0xFFFF7F00;
        chart.addTrace("CH1", &ch1);
    }
    CLineChart chart;
    ScopeChannel ch1;
};

} // namespace

TEST_F(ChartTest, PlotInsetsAndPerTraceScaling)
{
    const QRect plot = chart.plotRect();
    EXPECT_EQ(plot.left(), 17);
    EXPECT_EQ(plot.top(), 5);
    EXPECT_EQ(chart.size().width() - 1 - plot.right(), 7);
    EXPECT_EQ(chart.size().height() - 1 - plot.bottom(), 44);

    ch1.valuePerDiv = 2000; // 20 V/div
    auto [lo, hi] = chart.traceRange(ch1);
    EXPECT_DOUBLE_EQ(lo, -100.0);
    EXPECT_DOUBLE_EQ(hi, 100.0);
    ch1.verticalPosition = 2; // one division up
    std::tie(lo, hi) = chart.traceRange(ch1);
    EXPECT_DOUBLE_EQ(lo, -120.0);
    EXPECT_DOUBLE_EQ(hi, 80.0);
    EXPECT_DOUBLE_EQ(chart.xEnd(), 25000.0);
}

TEST_F(ChartTest, DragZoomNeedsTenByTenPixels)
{
    const QRect plot = chart.plotRect();
    const QPoint a = plot.topLeft() + QPoint(101, 100);
    chart.leftPress(a);
    chart.leftRelease(a + QPoint(9, 200));
    EXPECT_FALSE(chart.zoomed());
    chart.leftPress(a);
    chart.leftRelease(a + QPoint(200, 9));
    EXPECT_FALSE(chart.zoomed());
    EXPECT_DOUBLE_EQ(chart.xStart(), 0.0);

    // 10 x 10 is enough; dragging backwards works too.
    chart.leftPress(a + QPoint(202, 250));
    chart.mouseMove(a + QPoint(150, 120));
    chart.leftRelease(a);
    ASSERT_TRUE(chart.zoomed());
    const double usPerPx = 25000.0 / plot.width();
    EXPECT_NEAR(chart.xStart(), 101 * usPerPx, 1e-9);
    EXPECT_NEAR(chart.xWidth(), 202 * usPerPx, 1e-9);
    const auto [f0, f1] = chart.verticalZoom();
    EXPECT_NEAR(f0, 1.0 - 350.0 / plot.height(), 1e-9);
    EXPECT_NEAR(f1, 1.0 - 100.0 / plot.height(), 1e-9);
    ch1.valuePerDiv = 2000;
    const auto [lo, hi] = chart.traceRange(ch1);
    EXPECT_NEAR(lo, -100.0 + 200.0 * f0, 1e-9);
    EXPECT_NEAR(hi, -100.0 + 200.0 * f1, 1e-9);

    // A new Run or time base shows the whole sweep again.
    chart.resetScroll();
    EXPECT_FALSE(chart.zoomed());
    EXPECT_DOUBLE_EQ(chart.xEnd(), 25000.0);
}

TEST_F(ChartTest, ScrollingStepsAndReturns)
{
    const double s0 = chart.xStart(), e0 = chart.xEnd();
    chart.scrollLater();
    EXPECT_DOUBLE_EQ(chart.xStart(), s0 + 1250.0);
    chart.scrollEarlier();
    EXPECT_DOUBLE_EQ(chart.xStart(), s0);
    EXPECT_DOUBLE_EQ(chart.xEnd(), e0);

    EXPECT_TRUE(chart.keyPress(Qt::Key_Left)); // Left arrow: later times
    EXPECT_DOUBLE_EQ(chart.xStart(), 1250.0);
    EXPECT_TRUE(chart.keyPress(Qt::Key_Right));
    EXPECT_DOUBLE_EQ(chart.xStart(), 0.0);
    EXPECT_FALSE(chart.keyPress(Qt::Key_Up));
    chart.wheel(120);
    EXPECT_DOUBLE_EQ(chart.xStart(), 1250.0);
    chart.wheel(-120);
    chart.wheel(-120);
    EXPECT_DOUBLE_EQ(chart.xStart(), -1250.0);
}

TEST_F(ChartTest, CursorsReadoutsAndTimeDifference)
{
    fill(ch1, 6.25, [](double t) { return t / 1000.0; }); // value = time in ms
    ch1.unit = "V";
    const QRect plot = chart.plotRect();
    const int x = plot.left() + 101; // 2500 us
    chart.leftDoubleClick(QPoint(x, plot.top() + 50));
    ASSERT_TRUE(chart.startCursorOn());
    auto r = chart.readouts(chart.startCursorX());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "CH1: 2.50 V"); // empty label: the key
    EXPECT_EQ(r[0].colour, 0xFFFF7F00u);
    ch1.label = "Coil";
    EXPECT_EQ(chart.readouts(x)[0].text, "Coil: 2.50 V");
    EXPECT_EQ(chart.readouts(plot.left() - 500)[0].text, "Coil: --- V"); // before the sweep

    // The Start cursor follows a left release inside the plot, and goes off outside it.
    chart.leftPress(QPoint(x + 10, 50));
    chart.leftRelease(QPoint(x + 10, 50));
    EXPECT_EQ(chart.startCursorX(), x + 10);

    EXPECT_TRUE(chart.cursorDeltaText().isEmpty());
    chart.rightDoubleClick(QPoint(x + 10 + 202, 60)); // 5000 us later
    ASSERT_TRUE(chart.endCursorOn());
    EXPECT_EQ(chart.cursorDeltaText(), "5.000 ms");
    chart.scrollLater(); // the difference does not depend on where the view starts
    EXPECT_EQ(chart.cursorDeltaText(), "5.000 ms");
    chart.setTimePerDiv(25, "25 µs");
    EXPECT_EQ(chart.cursorDeltaText(), QString::fromUtf8("50.000 µs"));
    chart.setTimePerDiv(2500000, "2.5 s");
    EXPECT_EQ(chart.cursorDeltaText(), "5.000 s");

    chart.rightRelease(QPoint(2, 2));
    EXPECT_FALSE(chart.endCursorOn());
    chart.leftRelease(QPoint(2, 2));
    EXPECT_FALSE(chart.startCursorOn());
}

TEST_F(ChartTest, AmplitudeCursorsShowTheirLevelsAndDifferenceInThePicture)
{
    ch1.valuePerDiv = 2000; // 20 V/div: +-100 V over the plot
    ch1.unit = "V";
    fill(ch1, 6.25, [](double) { return 0.0; });
    chart.setLevelCursors("CH1", {true, 40.0, -20.0});
    EXPECT_EQ(chart.levelDeltaText("CH1"), QString::fromUtf8("CH1 \u0394V = -60.00 V"));
    ch1.unit = "A";
    EXPECT_EQ(chart.levelDeltaText("CH1"), QString::fromUtf8("CH1 \u0394I = -60.00 A"));
    ch1.unit = "V";
    EXPECT_TRUE(chart.levelDeltaText("CH2").isEmpty());

    const QImage img = chart.redraw(true).copy();
    const QRect plot = chart.plotRect();
    auto lineAt = [&](const QImage& im, int y) {
        int hits = 0;
        for (int x = plot.center().x() - 200; x < plot.center().x() + 200; ++x)
            for (int dy = -1; dy <= 1; ++dy) {
                const QColor c = im.pixelColor(x, y + dy);
                if (c.red() - c.blue() > 80) { // the trace's orange, darkened
                    ++hits;
                    break;
                }
            }
        return hits;
    };
    EXPECT_GT(lineAt(img, plot.top() + plot.height() * 3 / 10), 100); // +40 V
    EXPECT_GT(lineAt(img, plot.top() + plot.height() * 6 / 10), 100); // -20 V
    // Off: the lines are gone.
    chart.setLevelCursors("CH1", {});
    EXPECT_LT(lineAt(chart.redraw(true), plot.top() + plot.height() * 3 / 10), 10);
    EXPECT_TRUE(chart.levelDeltaText("CH1").isEmpty());
    // A level that is no number is refused rather than drawn.
    chart.setLevelCursors("CH1", {true, std::nan(""), 1.0});
    EXPECT_FALSE(chart.levelCursors("CH1").on);

    // 1/dt beside the time difference: 5 ms apart is 200 Hz.
    EXPECT_TRUE(chart.cursorInverseText().isEmpty());
    chart.leftDoubleClick(QPoint(plot.left() + 100, plot.top() + 50));
    chart.rightDoubleClick(QPoint(plot.left() + 302, plot.top() + 50));
    EXPECT_EQ(chart.cursorInverseText(), "200.0 Hz");
}

TEST_F(ChartTest, LegendTexts)
{
    ch1.label = "OUT1A_long";
    ch1.valuePerDivText = "20 V";
    EXPECT_EQ(CLineChart::legendText("CH1", ch1), "OUT1A: 20 V");
    ch1.label.clear();
    EXPECT_EQ(CLineChart::legendText("CH1", ch1), "CH1: 20 V");
    EXPECT_EQ(chart.timeLegendText(), "TIME : 2.5 ms");
}

TEST_F(ChartTest, DrawsTracesWhereTheScaleSaysAndExportsAJpeg)
{
    ch1.valuePerDiv = 2000;
    fill(ch1, 6.25, [](double) { return 40.0; }); // two divisions above zero
    const QImage& img = chart.redraw(true);
    ASSERT_EQ(img.size(), chart.size());
    const QRect plot = chart.plotRect();
    const int y = plot.top() + plot.height() * 3 / 10; // 40 V of +-100 V
    int hits = 0;
    for (int x = plot.left() + 20; x < plot.right() - 20; x += 37) {
        for (int dy = -1; dy <= 1; ++dy) {
            const QColor c = img.pixelColor(x, y + dy);
            if (c.red() - c.blue() > 100) { // orange, blended or not
                ++hits;
                break;
            }
        }
    }
    EXPECT_GT(hits, 20);
    // Frame colour three pixels outside the plot.
    EXPECT_EQ(img.pixelColor(plot.left() - 3, plot.center().y()).rgb() & 0xFFFFFF, 0x191970u);

    QTemporaryDir dir;
    const QString path = dir.filePath("TQ5170.jpeg");
    ASSERT_TRUE(chart.saveJpeg(path));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage back = reader.read();
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.size(), chart.size());
    EXPECT_FALSE(chart.saveJpeg(dir.filePath("missing/folder/x.jpeg")));
}

// A time base longer than one sweep: the part the sweep does not reach is
// hatched and says so, the rest is drawn as ever; a sweep that fills the
// screen leaves no such mark.
TEST_F(ChartTest, TheTimeBeyondTheSweepIsMarkedNotYetAcquired)
{
    const QRect plot = chart.plotRect();
    auto background = [&](const QImage& img, int x) {
        int plain = 0;
        for (int y = plot.top() + 3; y < plot.bottom() - 3; ++y)
            plain += qGray(img.pixel(x, y)) > 242 ? 1 : 0; // the plot's near-white ground
        return plain;
    };
    fill(ch1, 6.25, [](double) { return 0.0; }); // 25.6 ms
    EXPECT_DOUBLE_EQ(chart.acquiredUntilUs(), 4096 * 6.25);
    const QImage full = chart.redraw(true).copy();
    const int lateX = plot.left() + plot.width() * 9 / 10 + 3; // between grid lines
    EXPECT_GT(background(full, lateX), plot.height() / 2) << "a whole screen of sweep: nothing marked";

    chart.setTimePerDiv(10000, "10 ms"); // 100 ms: a quarter of the screen holds the sweep
    const QImage& img = chart.redraw(true);
    EXPECT_LT(background(img, lateX), plot.height() / 4) << "hatched";
    const int earlyX = plot.left() + plot.width() / 10 - 3;
    EXPECT_GT(background(img, earlyX), plot.height() / 2) << "the acquired part is as before";
    EXPECT_FALSE(CLineChart::notAcquiredText().isEmpty());

    ch1.trace.clear(); // nothing acquired at all: nothing to mark either
    EXPECT_EQ(chart.acquiredUntilUs(), 0.0);
    EXPECT_GT(background(chart.redraw(true), lateX), plot.height() / 2);
}

TEST(ChartWithCoreTest, DrawsWhileTheReaderSwapsSweepsIn)
{
    app();
    test::FakePort port;
    ScopeCore core(port);
    CLineChart chart;
    chart.configureForScope();
    chart.setSize(QSize(640, 360));
    core.setView(&chart);
    core.applyDefaults();
    core.setRunning(true);
    std::array<std::vector<std::uint8_t>, kChannels> bytes;
    CaptureAreas areas;
    for (std::size_t n = 0; n < kChannels; ++n) {
        bytes[n].assign(kCaptureBytes, 0);
        for (std::size_t i = 0; i < kSamplesPerSweep; ++i)
            bytes[n][2 * i + 1] = static_cast<std::uint8_t>(i * (n + 1));
        areas[n] = std::span<const std::uint8_t>(bytes[n]);
    }
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load())
            core.processSweep(areas, {});
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int frames = 0;
    while ((frames < 30 || core.sweepsConverted() < 30) && std::chrono::steady_clock::now() < deadline) {
        chart.redraw();
        chart.setStartCursor(true, chart.plotRect().left() + frames % 200);
        EXPECT_EQ(chart.readouts(chart.startCursorX()).size(), 4u);
        ++frames;
    }
    stop = true;
    reader.join();
    EXPECT_GE(core.sweepsConverted(), 30u);
    EXPECT_GE(frames, 30);
}
