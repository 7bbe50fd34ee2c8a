// The main window without a board: its controls, groups, menus and events.
#include <map>

#include <QAbstractButton>
#include <QLineEdit>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSlider>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QSettings>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/app.h"
#include "app/dlg_progress.h"
#include "app/language.h"
#include "app/main_window.h"
#include "widgets/spin_button.h"
#include "app/main_tooltips.h"
#include "app/calibration_feature.h"
#include "app/dynamic_feature.h"
#include "app/program_features.h"
#include "app/settings_feature.h"
#include "thermal/ui/thermal_feature.h"
#include "scope/scope_core.h"
#include "tests/common/recording_message_service.h"

namespace {

const char* kChips = "#Chipname\tA\tB\tMode\nC1\t600\t2\t0\ta\tb\tc\td\nC2\t610\t2.1\t1\ta\tb\tc\td\n";

struct Window : ::testing::Test {
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir data;
    std::unique_ptr<CTQ5170xHWPDlg> w;

    MainWindowSetup setup()
    {
        MainWindowSetup s;
        s.messages = &messages;
        s.progress = ProgressReporter(&progress);
        s.dataFolder = data.path().toStdString();
        s.defaultChipList = kChips;
        s.startLinkWhenShown = false;
        return s;
    }
    void SetUp() override { w = std::make_unique<CTQ5170xHWPDlg>(setup()); }
    void TearDown() override
    {
        messages.queueAnswer(zelbo::MsgAnswer::Ok);
        w->close();
        w.reset();
    }
    // The control's own enable flag (a control inside a disabled frame is
    // disabled too, whatever its own flag says).
    bool enabled(int id) const { return !w->control(id)->testAttribute(Qt::WA_ForceDisabled); }
};

// The groups of enableGroups(), bit by bit (ids that exist in this window).
const std::map<int, std::vector<int>> kGroups = {
    {0x01, {ctl::channelToggle(0), ctl::channelToggle(1), ctl::channelToggle(2), ctl::channelToggle(3),
            ctl::channelPopup(0), ctl::channelPopup(1), ctl::channelPopup(2), ctl::channelPopup(3),
            ctl::channelOutput(0), ctl::channelOutput(1), ctl::channelOutput(2), ctl::channelOutput(3)}},
    {0x02, {ctl::valuePerDiv(0), ctl::valuePerDiv(1), ctl::valuePerDiv(2), ctl::valuePerDiv(3), ctl::kSecPerDiv,
            ctl::valuePerDivSpin(0), ctl::valuePerDivSpin(1), ctl::valuePerDivSpin(2), ctl::valuePerDivSpin(3),
            ctl::kSecPerDivSpin, ctl::channelSource(0), ctl::channelSource(1), ctl::channelSource(2),
            ctl::channelSource(3), ctl::kTriggerOn, ctl::kSavePicture, ctl::kRun, ctl::kCurrentLevelEdit,
            ctl::kCurrentLevelSlider, ctl::kCalibrate}},
    {0x04, {ctl::kVrefSlider, ctl::kMthSlider, ctl::kClkSlider, ctl::kDutySlider, ctl::kPsSlider, ctl::kMthEdit,
            ctl::kVrefEdit, ctl::kClkEdit, ctl::kIo, ctl::kVrefMax, ctl::kVrefMin, ctl::kVrefStep, ctl::kMthMax,
            ctl::kMthMin, ctl::kMthStep, ctl::kClkMax, ctl::kClkMin, ctl::kClkStep}},
    {0x08, {ctl::kModeName, ctl::kModeChange}},
    {0x10, {ctl::kRnfRate, ctl::kRnfEdit, ctl::kRnfRateSpin}},
    {0x20, {ctl::kClkStart, ctl::kClkGroup, ctl::kContinuous, ctl::kManual, ctl::kDutyEdit}},
};

} // namespace

TEST_F(Window, InitialisesInOrderWithItsFiveStepsAndWaitsForPowerOn)
{
    ASSERT_TRUE(w->initialised());
    EXPECT_EQ(w->windowTitle(), "Zelbo Evaluation Software");
    EXPECT_EQ(progress.statusText(), "Setting Default Values...");
    EXPECT_EQ(progress.position(), 80); // step 4 of 5
    EXPECT_FALSE(w->control(ctl::kPower)->isEnabled());
    for (const auto& [bit, ids] : kGroups)
        for (int id : ids) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_EQ(w->control<QLineEdit>(ctl::kDutyEdit)->text(), "50.0");
    EXPECT_EQ(w->control<QLineEdit>(ctl::kDutyEdit)->maxLength(), 5);
    QString chip;
    EXPECT_EQ(w->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "C1"); // the first chip of mode 0
}

TEST_F(Window, EveryControlOfTheLayoutIsThereUnderItsId)
{
    std::vector<int> ids = {ctl::kPower, ctl::kSwitchLabel, ctl::kModeLabel, ctl::kModeName, ctl::kModeChange,
                            ctl::kPinTable, ctl::kPsLow, ctl::kPsHigh, ctl::kStepsLabel, ctl::kStepsEdit,
                            ctl::kStopLabel, ctl::kStopLevel, ctl::kDutySet, ctl::kSweepStart, ctl::kSweepDown,
                            ctl::kSweepUp, ctl::kChart, ctl::kSamplingRate, ctl::kAutoRate, ctl::kTriggerSlope,
                            ctl::kVoltageLevelSlider, ctl::kVoltageLevelEdit, ctl::triggerChannel(0),
                            ctl::triggerChannel(1), ctl::triggerChannel(2), ctl::triggerChannel(3),
                            ctl::kThermometerGroup, ctl::kThermometer};
    for (const auto& [bit, group] : kGroups) ids.insert(ids.end(), group.begin(), group.end());
    for (int id : ids) {
        QWidget* c = w->control(id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(c->objectName(), QStringLiteral("id%1").arg(id));
    }
    EXPECT_EQ(w->control(9999), nullptr);

    // What the window reaches as a panel's member is what the binders find
    // under the id: a member enrolled under another control's id would bind
    // the field to the wrong board setting.
    const zelbo::app::MainPanels& p = w->panels();
    const std::vector<std::pair<QWidget*, int>> members = {
        {p.power->power, ctl::kPower}, {p.power->switchLabel, ctl::kSwitchLabel}, {p.power->change, ctl::kModeChange},
        {p.references->edit[0], ctl::kVrefEdit}, {p.references->edit[1], ctl::kMthEdit},
        {p.references->edit[2], ctl::kClkEdit}, {p.references->slider[1], ctl::kMthSlider},
        {p.references->rnf, ctl::kRnfEdit}, {p.references->rateSpin, ctl::kRnfRateSpin},
        {p.sweep->limit[0][0], ctl::kVrefMax}, {p.sweep->limit[1][2], ctl::kMthStep},
        {p.sweep->limit[2][1], ctl::kClkMin}, {p.sweep->start, ctl::kSweepStart},
        {p.clock, ctl::kClkGroup}, {p.clock->start, ctl::kClkStart}, {p.clock->manual, ctl::kManual},
        {p.clock->steps, ctl::kStepsEdit}, {p.clock->stopLevel, ctl::kStopLevel}, {p.clock->duty, ctl::kDutyEdit},
        {p.channels->source[2], ctl::channelSource(2)}, {p.channels->valuePerDivSpin[3], ctl::valuePerDivSpin(3)},
        {p.timeBase->secPerDiv, ctl::kSecPerDiv}, {p.timeBase->samplingRate, ctl::kSamplingRate},
        {p.trigger->channel[3], ctl::triggerChannel(3)}, {p.trigger->currentLevel, ctl::kCurrentLevelEdit},
        {p.trigger->holdoff, ctl::kHoldoff}, {p.acquisition->run, ctl::kRun},
        {p.acquisition->calibrate, ctl::kCalibrate}, {p.pins->table, ctl::kPinTable}, {p.pins->psHigh, ctl::kPsHigh},
        {p.thermometer, ctl::kThermometerGroup},
    };
    for (const auto& [member, id] : members) EXPECT_EQ(member, w->control(id)) << id;
}

TEST_F(Window, EnableGroupsSwitchesExactlyTheGroupsOfItsMask)
{
    // The window's part alone: the oscilloscope re-disables what its source
    // choices rule out (tested with the program).
    w->hooks().reapplySourceChoices = nullptr;
    for (const auto& [bit, ids] : kGroups) {
        w->enableGroups(0x3F, false);
        w->enableGroups(bit, true);
        for (const auto& [other, otherIds] : kGroups)
            for (int id : otherIds) EXPECT_EQ(enabled(id), other == bit) << "bit " << bit << " id " << id;
    }
}

TEST_F(Window, DisablingTheChannelsStopsARunningScopeAndEnablingSettingsReappliesSources)
{
    int stopped = 0, reapplied = 0;
    w->hooks().stopScope = [&] { ++stopped; };
    w->hooks().reapplySourceChoices = [&] { ++reapplied; };
    w->enableGroups(0x3F, true);
    EXPECT_EQ(reapplied, 1);
    w->control<QAbstractButton>(ctl::kRun)->setChecked(true);
    w->enableGroups(0x02, false); // settings only: Run stays
    EXPECT_TRUE(w->control<QAbstractButton>(ctl::kRun)->isChecked());
    EXPECT_EQ(stopped, 0);
    w->enableGroups(0x01, false);
    EXPECT_FALSE(w->control<QAbstractButton>(ctl::kRun)->isChecked());
    EXPECT_EQ(stopped, 1);
    w->enableGroups(0x01, false); // not running any more
    EXPECT_EQ(stopped, 1);
}

TEST_F(Window, AChartSwapsInWhereThePlaceholderStood)
{
    w->resize(1280, 800);
    w->show();
    QApplication::processEvents();
    QWidget* old = w->control(ctl::kChart);
    const QRect where = old->geometry();
    auto* chart = new QWidget;
    EXPECT_EQ(w->replaceControl(ctl::kChart, chart), chart);
    QApplication::processEvents();
    EXPECT_EQ(w->control(ctl::kChart), chart);
    EXPECT_EQ(chart->objectName(), "id1042");
    EXPECT_EQ(chart->geometry(), where);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_EQ(w->replaceControl(4242, new QWidget(chart)), nullptr);
}

TEST_F(Window, BoardEventsAndTheGroupsThatFollowTheState)
{
    w->calibrationEnded();
    EXPECT_TRUE(w->control(ctl::kPower)->isEnabled());
    EXPECT_EQ(w->statusPaneText(0), "Ready...");

    auto* sweep = w->control<QAbstractButton>(ctl::kSweepStart);
    sweep->setChecked(true);
    sweep->setText("Stop");
    w->patternStopped();
    EXPECT_FALSE(sweep->isChecked());
    EXPECT_EQ(sweep->text(), "Start");

    // Unpowered, the groups stay off whatever asks for them.
    w->hooks().reapplySourceChoices = nullptr;
    w->applyGroups();
    for (const auto& [bit, ids] : kGroups)
        for (int id : ids) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_FALSE(enabled(ctl::kSweepStart)) << "the SWEEP row writes to the board too";

    // Powered, every group comes on with the state.
    w->engine().state().setPowered(true);
    for (const auto& [bit, ids] : kGroups)
        for (int id : ids) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(enabled(ctl::kSweepStart));
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(Window, DynamicWindowGuardChecksPowerThenMode)
{
    w->onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    ASSERT_EQ(messages.texts(), std::vector<std::string>{"Please power on software first."});

    // Powered on (no board: the writes are dropped) in another mode.
    w->calibrationEnded();
    QTest::mouseClick(w->control(ctl::kPower), Qt::LeftButton);
    ASSERT_TRUE(w->powerOn());
    w->setMode(1);
    messages.clear();
    w->onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    ASSERT_EQ(messages.texts(), std::vector<std::string>{"This option is available in Clk-In mode or Pre-Driver only."});

    w->setMode(0);
    int shown = 0;
    w->hooks().showDynamicWindow = [&] { return ++shown > 0; };
    messages.clear();
    w->onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(Window, LanguageMenuStoresTheChoiceAndAsksForARestartInThatLanguage)
{
    zelbo::app::LanguageSelector languages(QCoreApplication::applicationDirPath());
    auto s = setup();
    s.languages = &languages;
    TearDown();
    w = std::make_unique<CTQ5170xHWPDlg>(std::move(s));
    messages.clear();

    QAction* first = w->action(CTQ5170xHWPDlg::ID_LANGUAGE_FIRST);
    QAction* second = w->action(CTQ5170xHWPDlg::ID_LANGUAGE_FIRST + 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(first->isChecked()); // the language in use
    EXPECT_EQ(second->text(), "Deutsch");

    second->trigger();
    EXPECT_EQ(QSettings().value("LanguageId").toInt(), zelbo::app::languageId(QLocale::German));
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_EQ(messages.shown()[0].text, "Bitte starten Sie Zelbo neu.");
    EXPECT_EQ(messages.shown()[0].icon, zelbo::MsgIcon::Information);
    // The running program keeps its language.
    EXPECT_EQ(w->action(CTQ5170xHWPDlg::ID_FILE_NEW)->text(), "&New");
    QSettings().remove("LanguageId");
}

TEST_F(Window, ClosingWithoutALinkAsksAndCancelKeepsIt)
{
    messages.queueAnswer(zelbo::MsgAnswer::Cancel);
    EXPECT_FALSE(w->close());
    EXPECT_FALSE(w->closing());
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(w->closing());
    EXPECT_EQ(messages.texts().size(), 2u);
}

// The window is a view on the engine: its features bind the engine's cores,
// so what a core does through the engine shows in the window.
TEST_F(Window, TheFeaturesAreViewsOnTheEnginesCores)
{
    auto* features = w->features();
    ASSERT_NE(features, nullptr);
    zelbo::engine::Engine& engine = w->engine();
    EXPECT_EQ(&features->drive().core(), &engine.drive());
    EXPECT_EQ(&features->scopeCore(), &engine.scope());
    EXPECT_EQ(&features->settings().core(), &engine.settings());
    EXPECT_EQ(&features->calibration().core(), &engine.calibration());
    EXPECT_EQ(&features->dynamic().host(), &engine.sequence());
    EXPECT_EQ(&features->thermal().thermometer(), &engine.thermometer());
    EXPECT_EQ(&features->thermal().log(), &engine.temperatureLog());

    engine.drive().loadMode(1);
    EXPECT_EQ(w->mode(), 1);
    engine.drive().loadMode(0);
    EXPECT_EQ(w->mode(), 0);
}

TEST_F(Window, HostsTheDriveAndTheOscilloscope)
{
    w->resize(1280, 800);
    w->show();
    QApplication::processEvents();
    auto* features = w->features();
    ASSERT_NE(features, nullptr);
    // The chart view stands where the placeholder stood.
    EXPECT_EQ(w->control(ctl::kChart), features->chartView());
    EXPECT_TRUE(features->chartView()->isVisible());

    // One chip list: the window's chip name is the pin panel's selection, of
    // the chips of the window's mode.
    auto& panel = features->drive().pinPanel();
    ASSERT_EQ(panel.chipNameList()->count(), 1);
    EXPECT_EQ(panel.chipNameList()->currentText(), "C1");
    QString chip;
    EXPECT_EQ(w->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "C1");
    features->drive().core().loadMode(1);
    EXPECT_EQ(w->mode(), 1);
    features->drive().core().fillChipNames(1);
    EXPECT_EQ(w->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "C2");

    // The pin panel opens from the PINS group: its button, or a double-click
    // on the table.
    EXPECT_FALSE(panel.isVisible());
    QTest::mouseClick(w->findChild<QPushButton*>("pinPanelButton"), Qt::LeftButton);
    EXPECT_TRUE(panel.isVisible());
    panel.hide();
    auto* table = w->control<QTableWidget>(ctl::kPinTable);
    const QRect cell = table->visualItemRect(table->item(2, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(panel.isVisible());
    // A pin set there shows in the window's table.
    panel.highRadio(zelbo::drive::Pin::Mode0)->click();
    EXPECT_EQ(table->item(2, 1)->text(), "High");

    // The channel buttons carry their traces' colours.
    for (int n = 0; n < 4; ++n) {
        const QColor c = w->control(ctl::channelToggle(0) + n)->property("traceColour").value<QColor>();
        EXPECT_EQ(c.rgba(), features->scopeCore().channel(n).colour) << n;
    }
}

// A data folder that cannot be made (its parent is a regular file, which holds
// even for root): the window comes up on the built-in chip list, shows no
// message box and names the folder and the reason in the status bar.
TEST(WindowDataFolder, UnwritableFolderRunsOnTheBuiltInChipListAndSaysWhere)
{
    zelbo::RecordingMessageService messages;
    CDlgProgress progress;
    QTemporaryDir tmp;
    const QString blocker = tmp.filePath("not-a-folder");
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    MainWindowSetup s;
    s.messages = &messages;
    s.progress = ProgressReporter(&progress);
    s.dataFolder = (blocker + "/Velmar/TQ5170x").toStdString();
    s.defaultChipList = kChips;
    s.startLinkWhenShown = false;
    auto w = std::make_unique<CTQ5170xHWPDlg>(s);
    ASSERT_TRUE(w->initialised());
    EXPECT_TRUE(messages.shown().empty());
    QString chip;
    EXPECT_EQ(w->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "C1");
    EXPECT_TRUE(w->dataFolderNote().contains(QString::fromStdString(s.dataFolder))) << w->dataFolderNote().toStdString();
    EXPECT_TRUE(w->dataFolderNote().contains("built-in chip list"));
    auto* label = w->findChild<QLabel*>("dataFolderNote");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), w->dataFolderNote());
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    w->close();
}

TEST_F(Window, AWritableDataFolderSaysNothing)
{
    EXPECT_TRUE(w->dataFolderNote().isEmpty());
}

// The window fits a 1366x768 laptop screen with a title bar and a panel.
TEST_F(Window, FitsALaptopScreen)
{
    const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
    std::printf("main window minimum: %dx%d\n", least.width(), least.height());
    EXPECT_LE(least.width(), 1360);
    EXPECT_LE(least.height(), 700);
    // It opens at 1280 x 800 where there is room, and on a 1366 x 768 laptop
    // (a 30-pixel panel) below a title bar.
    EXPECT_EQ(CTQ5170xHWPApp::openingSize({1920, 1160}, least), QSize(1280, 800));
    const QSize laptop = CTQ5170xHWPApp::openingSize({1366, 738}, least);
    EXPECT_EQ(laptop.width(), 1280);
    EXPECT_LE(laptop.height(), 700);
    EXPECT_GE(laptop.height(), least.height());
}

// Every control that writes to the board says what it sets (found through
// the window's own lookup, so a renumbered control is caught).
TEST_F(Window, EveryControlThatWritesToTheBoardSaysWhatItSets)
{
    const QList<int> ids = zelbo::app::boardControlIds();
    EXPECT_GE(ids.size(), 60);
    for (int id : ids) {
        QWidget* c = w->control(id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_FALSE(c->toolTip().trimmed().isEmpty()) << id;
        EXPECT_FALSE(c->toolTip().contains("%1")) << id;
    }
    EXPECT_TRUE(w->control(ctl::kVrefEdit)->toolTip().contains("3 V"));
    EXPECT_TRUE(w->control(ctl::channelSource(3))->toolTip().contains("CH4"));
}

// Refusals of the fields and the outcome of a save reach the status bar; a
// failed save gives the system's reason.
TEST_F(Window, RefusedEntriesAndSavesAreSaidOnTheStatusBar)
{
    auto commit = [&](int id, const QString& text) {
        auto* e = w->control<QLineEdit>(id);
        e->setText(text);
        emit e->editingFinished();
        return e->text();
    };
    EXPECT_EQ(commit(ctl::kVrefMax, "abc"), "3.00");
    EXPECT_EQ(w->statusPaneText(0), "VREF MAX: \"abc\" is not a number; kept 3.00.");
    EXPECT_EQ(commit(ctl::kRnfEdit, "zero"), "0.20");
    EXPECT_TRUE(w->statusPaneText(0).startsWith("RNF: \"zero\""));
    const QString level = w->control<QLineEdit>(ctl::kVoltageLevelEdit)->text();
    EXPECT_EQ(commit(ctl::kVoltageLevelEdit, "high"), level);
    EXPECT_TRUE(w->statusPaneText(0).startsWith("Trigger level: \"high\""));

    QTemporaryDir dir;
    const QString good = dir.filePath("bench.set");
    QString target = good;
    w->features()->settings().setPrompts([&] { return target; }, {});
    w->onCommand(CTQ5170xHWPDlg::ID_FILE_SAVE);
    EXPECT_TRUE(QFile::exists(good));
    EXPECT_EQ(w->statusPaneText(0), "Settings saved to " + good);
    target = dir.filePath("no/such/folder/bench.set");
    messages.queueAnswer(zelbo::MsgAnswer::Ok);
    w->onCommand(CTQ5170xHWPDlg::ID_FILE_SAVE);
    EXPECT_TRUE(w->statusPaneText(0).startsWith("Settings not saved: "));
    EXPECT_TRUE(w->statusPaneText(0).contains("No such file or directory"));
}
