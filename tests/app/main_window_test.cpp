// The main window without a board: its controls, groups, menus and events.
#include <map>

#include <QAbstractButton>
#include <QLineEdit>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QSettings>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/dlg_progress.h"
#include "app/language.h"
#include "app/main_window.h"
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
    {0x01, {1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1172, 1173, 1174, 1175}},
    {0x02, {1080, 1081, 1082, 1083, 1084, 1085, 1086, 1087, 1088, 1089, 1168, 1169, 1170, 1171, 1024, 1023, 1026,
            1091, 1092, 1156}},
    {0x04, {1005, 1006, 1007, 1008, 1009, 1068, 1069, 1070, 1071, 1159, 1160, 1161, 1162, 1163, 1164, 1165, 1166,
            1167}},
    {0x08, {1028, 1043}},
    {0x10, {1096, 1097, 1090}},
    {0x20, {1045, 1126, 1127, 1128, 1152}},
};

} // namespace

TEST_F(Window, InitialisesInOrderWithItsFiveStepsAndWaitsForPowerOn)
{
    ASSERT_TRUE(w->initialised());
    EXPECT_EQ(w->windowTitle(), "Zelbo Evaluation Software");
    EXPECT_EQ(progress.statusText(), "Setting Default Values...");
    EXPECT_EQ(progress.position(), 80); // step 4 of 5
    EXPECT_FALSE(w->control(1025)->isEnabled());
    for (const auto& [bit, ids] : kGroups)
        for (int id : ids) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_EQ(w->control<QLineEdit>(1152)->text(), "50.0");
    EXPECT_EQ(w->control<QLineEdit>(1152)->maxLength(), 5);
    QString chip;
    EXPECT_EQ(w->requestChipName(&chip), 0);
    EXPECT_EQ(chip, "C1"); // the first chip of mode 0
}

TEST_F(Window, EveryControlOfTheLayoutIsThereUnderItsId)
{
    std::vector<int> ids = {1025, 1109, 1074, 1028, 1043, 1051, 1176, 1177, 1129, 1130, 1131, 1132, 1046, 1104,
                            1143, 1144, 1042, 1013, 1190, 1027, 1072, 1073, 1105, 1106, 1107, 1108, 1234, 1032};
    for (const auto& [bit, group] : kGroups) ids.insert(ids.end(), group.begin(), group.end());
    for (int id : ids) {
        QWidget* c = w->control(id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(c->objectName(), QStringLiteral("id%1").arg(id));
    }
    EXPECT_EQ(w->control(9999), nullptr);
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
    w->control<QAbstractButton>(1026)->setChecked(true);
    w->enableGroups(0x02, false); // settings only: Run stays
    EXPECT_TRUE(w->control<QAbstractButton>(1026)->isChecked());
    EXPECT_EQ(stopped, 0);
    w->enableGroups(0x01, false);
    EXPECT_FALSE(w->control<QAbstractButton>(1026)->isChecked());
    EXPECT_EQ(stopped, 1);
    w->enableGroups(0x01, false); // not running any more
    EXPECT_EQ(stopped, 1);
}

TEST_F(Window, AChartSwapsInWhereThePlaceholderStood)
{
    w->resize(1280, 800);
    w->show();
    QApplication::processEvents();
    QWidget* old = w->control(1042);
    const QRect where = old->geometry();
    auto* chart = new QWidget;
    EXPECT_EQ(w->replaceControl(1042, chart), chart);
    QApplication::processEvents();
    EXPECT_EQ(w->control(1042), chart);
    EXPECT_EQ(chart->objectName(), "id1042");
    EXPECT_EQ(chart->geometry(), where);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_EQ(w->replaceControl(4242, new QWidget(chart)), nullptr);
}

TEST_F(Window, BoardEventsAndTheGroupsThatFollowTheState)
{
    w->calibrationEnded();
    EXPECT_TRUE(w->control(1025)->isEnabled());
    EXPECT_EQ(w->statusPaneText(0), "Ready...");

    auto* sweep = w->control<QAbstractButton>(1104);
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
    EXPECT_FALSE(enabled(1104)) << "the SWEEP row writes to the board too";

    // Powered, every group comes on with the state.
    w->engine().state().setPowered(true);
    for (const auto& [bit, ids] : kGroups)
        for (int id : ids) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(enabled(1104));
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(Window, DynamicWindowGuardChecksPowerThenMode)
{
    w->onCommand(CTQ5170xHWPDlg::ID_VIEW_DYNAMIC);
    ASSERT_EQ(messages.texts(), std::vector<std::string>{"Please power on software first."});

    // Powered on (no board: the writes are dropped) in another mode.
    w->calibrationEnded();
    QTest::mouseClick(w->control(1025), Qt::LeftButton);
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
    EXPECT_EQ(w->control(1042), features->chartView());
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
    auto* table = w->control<QTableWidget>(1051);
    const QRect cell = table->visualItemRect(table->item(2, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(panel.isVisible());
    // A pin set there shows in the window's table.
    panel.highRadio(zelbo::drive::Pin::Mode0)->click();
    EXPECT_EQ(table->item(2, 1)->text(), "High");

    // The channel buttons carry their traces' colours.
    for (int n = 0; n < 4; ++n) {
        const QColor c = w->control(1014 + n)->property("traceColour").value<QColor>();
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
    EXPECT_TRUE(w->control(1069)->toolTip().contains("3 V"));
    EXPECT_TRUE(w->control(1171)->toolTip().contains("CH4"));
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
    EXPECT_EQ(commit(1159, "abc"), "3.00");
    EXPECT_EQ(w->statusPaneText(0), "VREF MAX: \"abc\" is not a number; kept 3.00.");
    EXPECT_EQ(commit(1097, "zero"), "0.20");
    EXPECT_TRUE(w->statusPaneText(0).startsWith("RNF: \"zero\""));
    const QString level = w->control<QLineEdit>(1073)->text();
    EXPECT_EQ(commit(1073, "high"), level);
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
