// The binder on the program's own main window: every oscilloscope control is
// found under its id and has a kind the binder drives.

#include <gtest/gtest.h>

#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/dlg_progress.h"
#include "app/main_window.h"
#include "tests/common/recording_message_service.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/scope_binder.h"
#include "tests/scope/fakes.h"
#include "widgets/control_ids.h"

using namespace zelbo::scope;
namespace ctl = zelbo::ctl;

namespace {

QApplication* gApp = nullptr;

void app()
{
    static int argc = 1;
    static char arg0[] = "scope_main_window_test";
    static char* argv[] = {arg0, nullptr};
    if (!gApp)
        gApp = new QApplication(argc, argv);
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

const char* kChips = "#Chipname\tA\tB\tMode\nC1\t600\t2\t0\ta\tb\tc\td\n";

} // namespace

TEST(ScopeOnMainWindow, BindsEveryControlAndSwapsTheChartIn)
{
    app();
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    MainWindowSetup setup;
    setup.messages = &messages;
    setup.progress = ProgressReporter(&progress);
    setup.dataFolder = data.path().toStdString();
    setup.defaultChipList = kChips;
    setup.startLinkWhenShown = false;
    auto w = std::make_unique<CTQ5170xHWPDlg>(setup);

    test::FakePort port;
    ScopeCore core(port);
    CLineChart chart;
    chart.configureForScope();
    core.setView(&chart);
    ScopeBinder binder(core, chart, [&](int id) { return w->control(id); }, w.get());
    auto* view = new ChartView(chart);
    ASSERT_TRUE(w->replaceControl(ctl::kChart, view));
    EXPECT_EQ(w->control(ctl::kChart), view);
    binder.setChartView(view);
    binder.bind();
    binder.setDefaults();

    const ScopeControlIds ids;
    for (int n = 0; n < 4; ++n) {
        const auto i = static_cast<std::size_t>(n);
        EXPECT_TRUE(qobject_cast<QAbstractButton*>(w->control(ids.channelToggle[i]))->isChecked());
        EXPECT_EQ(qobject_cast<QComboBox*>(w->control(ids.sourceCombo[i]))->count(), 3);
        EXPECT_EQ(qobject_cast<QComboBox*>(w->control(ids.outputCombo[i]))->currentIndex(), n % 2);
        EXPECT_EQ(qobject_cast<QLineEdit*>(w->control(ids.valuePerDivText[i]))->text(), "20 V");
        EXPECT_NE(qobject_cast<QAbstractSlider*>(w->control(ids.valuePerDivSpin[i])), nullptr);
    }
    for (int id : {ids.timeBaseSpin, ids.samplingRate, ids.voltageLevelSlider, ids.currentLevelSlider})
        EXPECT_NE(qobject_cast<QAbstractSlider*>(w->control(id)), nullptr) << id;
    for (int id : {ids.timeBaseText, ids.voltageLevelEdit, ids.currentLevelEdit})
        EXPECT_NE(qobject_cast<QLineEdit*>(w->control(id)), nullptr) << id;
    for (int id : {ids.triggerButton, ids.slopeButton, ids.runButton, ids.calibrateButton, ids.saveButton,
                   ids.autoCheck, ids.triggerRadio[0], ids.popupButton[0]})
        EXPECT_NE(qobject_cast<QAbstractButton*>(w->control(id)), nullptr) << id;

    EXPECT_EQ(qobject_cast<QLineEdit*>(w->control(ctl::kSecPerDiv))->text(), "2.5 ms");
    qobject_cast<QAbstractSlider*>(w->control(ctl::kSecPerDivSpin))->setValue(20);
    EXPECT_EQ(qobject_cast<QLineEdit*>(w->control(ctl::kSecPerDiv))->text(), "2.5 s");
    EXPECT_EQ(qobject_cast<QAbstractSlider*>(w->control(ctl::kSecPerDivSpin))->value(), 15);
    qobject_cast<QAbstractSlider*>(w->control(ctl::kSamplingRate))->setValue(0);
    EXPECT_EQ(port.last(0x72), 0x7C);
    EXPECT_EQ(port.last(0x73), 0x3E);
    w->enableGroups(0x3F, true); // as power on does
    binder.reapplySourceChoices();
    EXPECT_FALSE(w->control(ctl::kChannelOutput)->isEnabled()); // voltage: fixed output
    qobject_cast<QAbstractButton*>(w->control(ctl::kTriggerOn))->click();
    EXPECT_EQ(qobject_cast<QAbstractButton*>(w->control(ctl::kTriggerOn))->text(), "OFF");
    EXPECT_EQ(port.last(0x77), 0x08);

    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    w->close();
    w.reset();
}
