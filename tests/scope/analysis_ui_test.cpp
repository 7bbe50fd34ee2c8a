// The analyser's windows on the offscreen platform: the spectrum panel on a
// known staircase, the math channel dialog's checks, the amplitude cursors,
// and the tools installed in a main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

#include <cmath>
#include <numbers>

#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/analysis_tools.h"
#include "tests/scope/fakes.h"

using namespace zelbo::scope;

namespace {

QApplication* gApp = nullptr;

QApplication& app()
{
    static int argc = 1;
    static char arg0[] = "analysis_ui_test";
    static char* argv[] = {arg0, nullptr};
    if (!gApp) gApp = new QApplication(argc, argv);
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

// A full-step coil current: a square wave of 1 A, 16 cycles in the sweep.
void squareWave(ScopeChannel& ch)
{
    ch.unit = "A";
    ch.trace.clear();
    for (std::size_t i = 0; i < kSamplesPerSweep; ++i)
        ch.trace.push_back({double(i) * 6.25, (i / 128) % 2 ? -1.0 : 1.0});
}

} // namespace

TEST(AnalysisUi, SpectrumPanelShowsTheThdOfTheChosenChannelAndACursor)
{
    app();
    ScopeChannel coil;
    squareWave(coil);
    SpectrumPanel panel([&](int i) -> const ScopeChannel* { return i == 2 ? &coil : nullptr; });
    panel.resize(700, 300);
    panel.setChannel(2);
    panel.setWindow(analysis::Window::FlatTop);
    panel.refresh();
    ASSERT_TRUE(panel.harmonics().valid) << panel.harmonics().reason;
    EXPECT_NEAR(panel.harmonics().fundamentalHz, 625.0, 2.0);
    // A square wave over its first 39 harmonics: THD near 47 %.
    EXPECT_NEAR(panel.harmonics().thdPercent(), 47.0, 2.0);
    EXPECT_TRUE(panel.summaryText().contains(QStringLiteral("THD 4")));
    EXPECT_TRUE(panel.summaryText().contains(QStringLiteral("H3  -9.5 dBc"))) << panel.summaryText().toStdString();

    // A click puts the frequency cursor there; a right click takes it away.
    panel.show();
    SpectrumView* view = panel.view();
    const QRect r = view->plotRect();
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(r.left() + r.width() / 2, r.center().y()));
    ASSERT_TRUE(view->cursor());
    EXPECT_NEAR(*view->cursor(), 40000.0, 200.0); // half of 80 kHz
    EXPECT_TRUE(view->cursorText().startsWith(QStringLiteral("f = ")));
    QTest::mouseClick(view, Qt::RightButton, {}, r.center());
    EXPECT_FALSE(view->cursor());
    // A channel that is off: no figures, and it says so.
    panel.setChannel(5);
    panel.refresh();
    EXPECT_EQ(panel.summaryText(), QStringLiteral("No sweep on this channel."));
}

TEST(AnalysisUi, MathDialogShowsTheUnitAndRefusesWhatDoesNotFit)
{
    app();
    analysis::MathChannelSet set;
    const std::array<Source, kChannels> sources = {Source::Voltage, Source::Voltage, Source::Current, Source::Current};
    MathDialog dlg(set, [&] { return sources; });
    dlg.onBox(0)->setChecked(true);
    dlg.expressionEdit(0)->setText(QStringLiteral("CH1 + CH3"));
    EXPECT_EQ(dlg.unitLabel(0)->text(), QStringLiteral("?"));
    EXPECT_FALSE(dlg.apply());
    EXPECT_TRUE(dlg.messageLabel()->text().startsWith(QStringLiteral("M1: Cannot add A to V")));
    EXPECT_FALSE(set.on(0));
    dlg.expressionEdit(0)->setText(QStringLiteral("CH1 * CH3"));
    EXPECT_EQ(dlg.unitLabel(0)->text(), QStringLiteral("W"));
    EXPECT_TRUE(dlg.apply());
    EXPECT_TRUE(dlg.messageLabel()->text().isEmpty());
    EXPECT_TRUE(set.on(0));
    EXPECT_EQ(set.channel(0).unit, "W");
}

TEST(AnalysisUi, ToolsInAMainWindowDrawMathChannelsAndDockTheSpectrum)
{
    app();
    test::FakePort port;
    ScopeCore core(port);
    core.applyDefaults();
    CLineChart chart;
    QMainWindow window;
    auto* central = new QWidget(&window);
    auto* row = new QHBoxLayout(central);
    window.setCentralWidget(central);
    AnalysisTools tools(core, chart);
    tools.install(central, row);
    window.resize(900, 600);
    window.show();

    auto* action = window.findChild<QAction*>(QStringLiteral("spectrumAction"));
    auto* dock = window.findChild<QDockWidget*>(QStringLiteral("spectrumDock"));
    ASSERT_TRUE(action && dock);
    EXPECT_FALSE(dock->isVisible());
    action->trigger();
    EXPECT_TRUE(dock->isVisible());
    EXPECT_TRUE(dock->isFloating());
    EXPECT_TRUE(window.geometry().intersects(dock->geometry())); // placed over the window
    // Closing the dock unticks the menu entry.
    dock->close();
    EXPECT_FALSE(action->isChecked());

    // Math channels set from a file join the chart; a refused one stays off.
    analysis::MathSetups setups{};
    setups[0] = {true, "CH1 - CH2", 2.0, 1, "diff"};
    setups[1] = {true, "CH1 + CH3 +", 1.0, 0, ""};
    tools.applySetups(setups);
    EXPECT_TRUE(chart.hasTrace("M1"));
    EXPECT_FALSE(chart.hasTrace("M2"));
    EXPECT_EQ(tools.math().channel(0).label, "diff");

    // Amplitude cursors on the math channel reach the chart.
    LevelCursorDialog* levels = tools.cursorDialog();
    levels->reload();
    levels->setLevels("M1", true, 1.0, 3.5);
    EXPECT_TRUE(chart.levelCursors("M1").on);
    EXPECT_EQ(levels->deltaText(), QString::fromUtf8("diff \u0394V = 2.500 V"));
    tools.applySetups({});
    EXPECT_FALSE(chart.hasTrace("M1"));
}
