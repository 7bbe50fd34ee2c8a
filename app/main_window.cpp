#include "app/main_window.h"
#include "app/main_tooltips.h"

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>

#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QThread>

#include "app/about_dlg.h"
#include "drive/ui/drive_binder.h"
#include "app/demo_restart.h"
#include "app/language.h"
#include "app/program_features.h"
#include "drive/ui/drive_feature.h"
#include "common/message_service.h"
#include "common/data_folder.h"

using zelbo::MsgAnswer;
using zelbo::MsgButtons;
using zelbo::MsgIcon;

namespace {

std::string caption() { return zelbo::kAppCaption; }

void setCheckedQuietly(QWidget* w, bool checked)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        const QSignalBlocker block(b);
        b->setChecked(checked);
    }
}

} // namespace

CTQ5170xHWPDlg::CTQ5170xHWPDlg(MainWindowSetup setup, QWidget* parent)
    : QMainWindow(parent), setup_(std::move(setup)), messages_(setup_.messages)
{
    Q_ASSERT(messages_);
    setObjectName("CTQ5170xHWPDlg");
    zelbo::engine::EngineOptions options;
    options.link = setup_.link;
    options.thermometerPeriod = std::chrono::milliseconds(kTemperatureMs);
    engine_ = std::make_unique<zelbo::engine::Engine>(*messages_, std::move(options));
    initialise();
}

CTQ5170xHWPDlg::~CTQ5170xHWPDlg()
{
    // A link start still under way may be waiting for this thread: let it
    // finish before the link goes away.
    while (linkWorker_.joinable() && !linkResult_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (linkResult_) break;
        QThread::msleep(5);
    }
    if (linkWorker_.joinable()) linkWorker_.join();
    lockout_.stop();
    chartTimer_.stop();
    // The engine stops its thermometer and the link (its reader, the bridge);
    // the features' reader-thread handlers are then idle and they can go,
    // before the engine's cores they are bound to.
    engine_->releaseLink();
    features_.reset();
    engine_.reset();
}

// ---------------------------------------------------------------- initialisation

void CTQ5170xHWPDlg::initialise()
{
    const int steps = 5;
    // Icons.
    setWindowIcon(zelboIcon());

    // Menu.
    setup_.progress.update(0, steps, tr("Loading Menu..."));
    setWindowTitle(QString::fromUtf8(zelbo::kAppCaption));
    buildMenu();

    // Status bar.
    buildStatusBar();

    // Chip list.
    if (!loadChipList()) {
        askBeforeClosing_ = false;
        closeAccepted_ = true;
        close();
        return;
    }

    // Chart.
    setup_.progress.update(1, steps, tr("Initializing Chart Window..."));
    buildControls(); // builds the chart area first, then every control group

    // Controls.
    setup_.progress.update(2, steps, tr("Initializing Controls..."));

    // Pin table, child windows, link events.
    setup_.progress.update(3, steps, tr("Initializing Table..."));
    buildPinTable();
    zelbo::app::applyToolTips(*this);
    features_ = std::make_unique<zelbo::app::ProgramFeatures>(*this);

    // Oscilloscope calibration.
    if (hooks_.loadCalibration) hooks_.loadCalibration();

    // Defaults.
    setup_.progress.update(4, steps, tr("Setting Default Values..."));
    if (hooks_.setDefaults) hooks_.setDefaults();

    // The power button waits for the link.
    power_->setEnabled(false);

    // The start message: handled once the event loop runs, that is once
    // the window is on screen.
    if (setup_.startLinkWhenShown) {
        startPosted_ = true;
        QMetaObject::invokeMethod(this, &CTQ5170xHWPDlg::startLink, Qt::QueuedConnection);
    }

    // Chart refresh.
    connect(&chartTimer_, &QTimer::timeout, this, [this] {
        if (hooks_.chartRefresh) hooks_.chartRefresh();
        else if (QWidget* chart = control(ctl::kChart)) chart->update();
    });
    chartTimer_.start(kChartRefreshMs);

    // Duty field.
    panels_.clock->duty->setMaxLength(5);
    panels_.clock->duty->setText(QStringLiteral("50.0"));
    // The drive core keeps the field's text; it redraws the field from it.
    if (features_) features_->setDutyText(QStringLiteral("50.0"));

    // Done; everything waits for power on.
    initialised_ = true;
    applyGroups();
    // Which groups are enabled follows what the instrument is doing; an
    // activity ended from outside says so on the status bar.
    stateFollower_ = engine_->state().changed.connect([this] {
        if (!inPowerSequence_) applyGroups();
    });
    endFollower_ = engine_->activityEnded.connect([this](zelbo::engine::Activity a, zelbo::engine::EndCause c) {
        QString what = QString::fromUtf8(zelbo::engine::activityName(a));
        if (!what.isEmpty()) what[0] = what[0].toUpper();
        setStatusPaneText(0, tr("%1 stopped (%2).").arg(what, QString::fromUtf8(zelbo::engine::endCauseName(c))));
    });

    // Link callbacks.
    zelbo::link::FpgaLink& link = engine_->link();
    link.onPatternStopped(
        [this] { QMetaObject::invokeMethod(this, [this] { patternStopped(); }, Qt::QueuedConnection); });
    engine_->answers().onClockRunEnded(
        [this] { QMetaObject::invokeMethod(this, [this] { clockRunEnded(); }, Qt::QueuedConnection); });
    link.onCommunicationError([this] {
        askBeforeClosing_ = false;
        QMetaObject::invokeMethod(this, [this] { engine_->linkLost(); }, Qt::QueuedConnection);
    });
    link.onRequestClose([this] { QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection); });

    lockout_.setSingleShot(true);
    connect(&lockout_, &QTimer::timeout, this, &CTQ5170xHWPDlg::lockoutExpired);
    // The thermometer's ticks come from the engine's timer and run here, where
    // the "Manual" toggle and the features live.
    engine_->setThermometerDispatch([this](std::function<void()> tick) {
        QMetaObject::invokeMethod(this, std::move(tick), Qt::QueuedConnection);
    });
    engine_->setThermometerReadsClock([this] { return panels_.clock->manual->isChecked(); });
    engine_->setThermometerTick([this] { temperatureTick(); });
}

void CTQ5170xHWPDlg::buildMenu()
{
    QMenuBar* bar = menuBar();
    auto add = [this](QMenu* menu, const QString& text, int id) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QStringLiteral("cmd%1").arg(id));
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
        actions_.insert(id, a);
        return a;
    };

    QMenu* file = bar->addMenu(tr("&File"));
    add(file, tr("&New"), ID_FILE_NEW)->setShortcut(QKeySequence::New);
    add(file, tr("&Open"), ID_FILE_OPEN)->setShortcut(QKeySequence::Open);
    add(file, tr("&Save"), ID_FILE_SAVE)->setShortcut(QKeySequence::Save);
    file->addSeparator();
    addDemoRestart(this, file);
    file->addSeparator();
    add(file, tr("&Exit"), ID_FILE_EXIT);

    QMenu* view = bar->addMenu(tr("&View"));
    add(view, tr("&Dynamic Window"), ID_VIEW_DYNAMIC);
    add(view, tr("&Tj Monitor"), ID_VIEW_TJMONITOR);

    QMenu* tools = bar->addMenu(tr("&Tools"));
    buildLanguageMenu(tools);

    QMenu* help = bar->addMenu(tr("&Help"));
    QMenu* scope = help->addMenu(tr("&Oscilloscope"));
    add(scope, tr("&Calibrate"), ID_HELP_CALIBRATE);
    // F1 asks for help: the About box answers it.
    add(help, tr("&Version Information"), ID_HELP_VERSION)->setShortcut(QKeySequence::HelpContents);
    help->addSeparator();
    // What the window menu's "About" entry offers elsewhere.
    QAction* about = help->addAction(tr("&About Zelbo..."));
    about->setObjectName("cmdAbout");
    connect(about, &QAction::triggered, this, &CTQ5170xHWPDlg::showAbout);
}

void CTQ5170xHWPDlg::buildLanguageMenu(QMenu* tools)
{
    QMenu* menu = tools->addMenu(tr("&Language"));
    menu->setObjectName(QStringLiteral("cmd%1").arg(ID_TOOLS_LANGUAGE));
    languageGroup_ = new QActionGroup(this);
    languageGroup_->setExclusive(true);
    if (!setup_.languages) return;
    const auto list = setup_.languages->available();
    for (int i = 0; i < static_cast<int>(list.size()) && i < 256; ++i) {
        QAction* a = menu->addAction(list[static_cast<std::size_t>(i)].displayName);
        a->setCheckable(true);
        a->setData(list[static_cast<std::size_t>(i)].id);
        a->setObjectName(QStringLiteral("cmd%1").arg(ID_LANGUAGE_FIRST + i));
        a->setChecked(list[static_cast<std::size_t>(i)].id == setup_.languages->current());
        languageGroup_->addAction(a);
        actions_.insert(ID_LANGUAGE_FIRST + i, a);
        connect(a, &QAction::triggered, this, [this, i] { languageChosen(i); });
    }
}

void CTQ5170xHWPDlg::showDataFolderNote(const QString& text)
{
    if (!dataFolderNote_) {
        dataFolderNote_ = new QLabel(statusBar());
        dataFolderNote_->setObjectName(QStringLiteral("dataFolderNote"));
        dataFolderNote_->setStyleSheet(QStringLiteral("color: #a03000;"));
        statusBar()->addPermanentWidget(dataFolderNote_);
    }
    dataFolderNote_->setText(text);
    dataFolderNote_->setToolTip(text);
    setStatusPaneText(0, text);
}

QString CTQ5170xHWPDlg::dataFolderNote() const { return dataFolderNote_ ? dataFolderNote_->text() : QString(); }

void CTQ5170xHWPDlg::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName("id59393");
    bar->setSizeGripEnabled(true);
    for (int i = 0; i < 3; ++i) {
        pane_[i] = new QLabel(bar);
        pane_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        pane_[i]->setFrameShape(QFrame::Panel);
        pane_[i]->setFrameShadow(QFrame::Sunken);
        pane_[i]->setContentsMargins(4, 0, 4, 0);
    }
    pane_[1]->setFixedWidth(150);
    pane_[2]->setMinimumWidth(100);
    pane_[2]->setFixedWidth(160);
    bar->addWidget(pane_[0], 1);
    bar->addPermanentWidget(pane_[1]);
    bar->addPermanentWidget(pane_[2]);

    // Pane 2 hosts the firmware-download progress control while it runs.
    auto* box = new QHBoxLayout(pane_[2]);
    box->setContentsMargins(2, 2, 2, 2);
    downloadBar_ = new QProgressBar(pane_[2]);
    downloadBar_->setObjectName("id1");
    downloadBar_->setRange(0, 100);
    downloadBar_->setTextVisible(false);
    downloadBar_->setMaximumHeight(14);
    downloadBar_->hide();
    box->addWidget(downloadBar_);
}

std::filesystem::path CTQ5170xHWPDlg::dataFolderPath() const
{
    return setup_.dataFolder.empty() ? zelbo::files::dataFolder() : std::filesystem::path(setup_.dataFolder);
}

bool CTQ5170xHWPDlg::loadChipList()
{
    const std::filesystem::path folder = dataFolderPath();
    std::string error;
    if (!setup_.defaultChipList.empty() && !zelbo::files::ensureDataFolder(folder, setup_.defaultChipList, &error))
        qWarning("%s", error.c_str());
    const std::filesystem::path chipFile = folder / zelbo::files::kChipFileName;
    std::error_code ec;
    // Nothing there (the folder could not be made or seeded): the built-in
    // list. Something there that cannot be read is still refused below.
    const bool absent = !std::filesystem::exists(std::filesystem::symlink_status(chipFile, ec));
    if (absent && !setup_.defaultChipList.empty()) {
        // A data folder that cannot be made or written: the program runs on
        // the chip list it carries, and says so where it stays in view.
        std::istringstream builtIn(setup_.defaultChipList);
        chipList_.read(builtIn, *messages_);
        showDataFolderNote(tr("Data folder %1 cannot be written (%2): running on the built-in chip list; "
                              "settings and calibration are not saved.")
                               .arg(QString::fromStdString(folder.string()),
                                    QString::fromStdString(error.empty() ? "no chip list there" : error)));
    } else {
        if (chipList_.load(chipFile, *messages_) != 0) return false;
        if (::access(folder.c_str(), W_OK) != 0)
            showDataFolderNote(tr("Data folder %1 is read-only: settings and calibration are not saved.")
                                   .arg(QString::fromStdString(folder.string())));
    }
    const auto names = chipList_.fillNames(mode_);
    if (!names.empty()) chipList_.applySelected(names.front());
    return true;
}

// ---------------------------------------------------------------- controls

QWidget* CTQ5170xHWPDlg::control(int id) const { return controls_.value(id, nullptr); }

QAction* CTQ5170xHWPDlg::action(int command) const { return actions_.value(command, nullptr); }

QWidget* CTQ5170xHWPDlg::replaceControl(int id, QWidget* replacement)
{
    QWidget* old = control(id);
    if (!old || !replacement || old == replacement) return nullptr;
    QWidget* parent = old->parentWidget();
    replacement->setParent(parent);
    replacement->setObjectName(old->objectName());
    replacement->setEnabled(old->isEnabled());
    replacement->setSizePolicy(old->sizePolicy());
    replacement->setMinimumSize(old->minimumSize());
    bool placed = false;
    if (parent && parent->layout()) {
        QLayoutItem* item = parent->layout()->replaceWidget(old, replacement, Qt::FindChildrenRecursively);
        placed = item != nullptr;
        delete item;
    }
    if (!placed) replacement->setGeometry(old->geometry());
    replacement->setVisible(!old->isHidden());
    controls_.insert(id, replacement);
    old->hide();
    old->deleteLater();
    return replacement;
}

void CTQ5170xHWPDlg::addGroupMember(int group, int id) { groups_[group].append(id); }

void CTQ5170xHWPDlg::applyGroups()
{
    const int mask = static_cast<int>(engine_->state().enabledGroups());
    const int all = AllGroups | GroupSweep;
    const int was = appliedGroups_ < 0 ? (mask ^ all) : appliedGroups_;
    appliedGroups_ = mask;
    // Only the groups that change: enabling the oscilloscope settings
    // re-applies the source choices, which the board hears.
    if (const int off = was & ~mask & all) enableGroups(off, false);
    if (const int on = mask & ~was & all) enableGroups(on, true);
    // Inside the CLK group the run mode and the steps follow the clock.
    if (features_) features_->drive().binder().refresh(zelbo::drive::aspect::kClock);
}

void CTQ5170xHWPDlg::enableGroups(int mask, bool enable)
{
    if ((mask & GroupScopeChannels) && !enable && panels_.acquisition->run->isChecked()) {
        setCheckedQuietly(panels_.acquisition->run, false);
        if (hooks_.stopScope) hooks_.stopScope();
    }
    for (int bit = 0x01; bit <= 0x40; bit <<= 1) {
        if (!(mask & bit)) continue;
        for (int id : groups_.value(bit))
            if (QWidget* w = control(id)) w->setEnabled(enable);
    }
    if ((mask & GroupScopeSettings) && enable && hooks_.reapplySourceChoices) hooks_.reapplySourceChoices();
}

// ---------------------------------------------------------------- commands

void CTQ5170xHWPDlg::onCommand(int command)
{
    switch (command) {
    case ID_FILE_NEW: fileNew(); return;
    case ID_FILE_OPEN:
        if (hooks_.openSettings) hooks_.openSettings();
        return;
    case ID_FILE_SAVE:
        if (hooks_.saveSettings) hooks_.saveSettings();
        return;
    case ID_FILE_EXIT: close(); return;
    case ID_VIEW_DYNAMIC: viewDynamicWindow(); return;
    case ID_VIEW_TJMONITOR:
        if (hooks_.showTjMonitor) hooks_.showTjMonitor();
        return;
    case ID_HELP_CALIBRATE: helpCalibrate(); return;
    case ID_HELP_VERSION: showAbout(); return;
    default:
        if (command >= ID_LANGUAGE_FIRST && command < ID_LANGUAGE_FIRST + 256) {
            languageChosen(command - ID_LANGUAGE_FIRST);
        }
        return;
    }
}

void CTQ5170xHWPDlg::fileNew()
{
    setCheckedQuietly(power_, false);
    powerButtonClicked(false);
}

void CTQ5170xHWPDlg::viewDynamicWindow()
{
    if (!powerOn()) {
        messages_->show(tr("Please power on software first.").toStdString(), caption(), MsgIcon::Information);
        return;
    }
    if (mode_ != 0) {
        messages_->show(tr("This option is available in Clk-In mode or Pre-Driver only.").toStdString(), caption(),
                        MsgIcon::Information);
        return;
    }
    if (hooks_.showDynamicWindow) hooks_.showDynamicWindow();
}

void CTQ5170xHWPDlg::helpCalibrate()
{
    if (!hooks_.calibrate) return;
    // Refused before "Run" is touched while another activity runs.
    if (auto why = engine_->state().refusal(zelbo::engine::Activity::Calibration)) {
        messages_->show(*why, caption(), MsgIcon::Information);
        return;
    }
    if (panels_.acquisition->run->isChecked()) {
        setCheckedQuietly(panels_.acquisition->run, false);
        if (hooks_.stopScope) hooks_.stopScope();
    }
    sleepMs(500);
    hooks_.calibrate();
}

void CTQ5170xHWPDlg::changeMode()
{
    // Whatever runs ends first (an open dynamic window asks; No keeps it).
    if (!engine_->endActivity(zelbo::engine::EndCause::ModeChange)) return;
    if (hooks_.hideFloatingWindows) hooks_.hideFloatingWindows();
    if (hooks_.modeDialogVisible && hooks_.modeDialogVisible()) return;
    if (hooks_.showModeDialog) hooks_.showModeDialog();
}

void CTQ5170xHWPDlg::languageChosen(int index)
{
    if (!setup_.languages) return;
    const auto list = setup_.languages->available();
    if (index < 0 || index >= static_cast<int>(list.size())) return;
    const int id = list[static_cast<std::size_t>(index)].id;
    QSettings().setValue(QStringLiteral("LanguageId"), id);
    const QString text = setup_.languages->translate(id, "CTQ5170xHWPDlg", "Please restart Zelbo.");
    messages_->show(text.toStdString(), caption(), MsgIcon::Information);
}

void CTQ5170xHWPDlg::showAbout()
{
    CAboutDlg* dlg = about_.data();
    if (!dlg) {
        dlg = new CAboutDlg(this);
        about_ = dlg;
    }
    dlg->open();
    dlg->raise();
}

// ---------------------------------------------------------------- power

bool CTQ5170xHWPDlg::powerOn() const { return power_ && power_->isChecked(); }

void CTQ5170xHWPDlg::powerButtonClicked(bool checked)
{
    // Lock-out: the button cannot be pressed again for 1.5 s.
    power_->setEnabled(false);
    panels_.power->switchLabel->setEnabled(false);
    lockout_.start(kPowerLockoutMs);

    // onwards: the engine's sequence, with the window's steps, which
    // enable and disable the groups where the sequence has them.
    inPowerSequence_ = true;
    if (checked) engine_->powerOn(*this);
    else engine_->powerOff(*this);
    inPowerSequence_ = false;
    applyGroups();
}

void CTQ5170xHWPDlg::switchedOn()
{
    power_->setText(tr("OFF"));
    applyGroups();
}

void CTQ5170xHWPDlg::applySupplyAndPins()
{
    if (hooks_.applySupplyAndPins) hooks_.applySupplyAndPins();
}

void CTQ5170xHWPDlg::startScope()
{
    setCheckedQuietly(panels_.acquisition->run, true);
    if (hooks_.startScope) hooks_.startScope();
    if (hooks_.applyTriggerState) hooks_.applyTriggerState();
}

bool CTQ5170xHWPDlg::psLow() const { return hooks_.psLowSelected && hooks_.psLowSelected(); }

void CTQ5170xHWPDlg::startClock()
{
    setCheckedQuietly(panels_.clock->start, true);
    if (hooks_.startClock) hooks_.startClock();
}

void CTQ5170xHWPDlg::stopClock()
{
    setCheckedQuietly(panels_.clock->start, false);
    if (hooks_.stopClock) hooks_.stopClock();
}

void CTQ5170xHWPDlg::switchedOff() { power_->setText(tr("ON")); }

void CTQ5170xHWPDlg::controlsOff() { applyGroups(); }

void CTQ5170xHWPDlg::waitWritesSent() { engine_->waitWritesSent(); }

void CTQ5170xHWPDlg::reapplyPowerState()
{
    const bool wasFree = power_->isEnabled() && !lockout_.isActive();
    powerButtonClicked(powerOn());
    if (wasFree) lockoutExpired();
}

void CTQ5170xHWPDlg::lockoutExpired()
{
    lockout_.stop();
    power_->setEnabled(true);
    panels_.power->switchLabel->setEnabled(true);
}

void CTQ5170xHWPDlg::temperatureTick()
{
    // After the engine's reads of this tick.
    if (hooks_.temperatureTick) hooks_.temperatureTick();
}

void CTQ5170xHWPDlg::startTemperatureTimer() { engine_->startThermometer(); }

void CTQ5170xHWPDlg::showPinPanel()
{
    if (features_) features_->showPinPanel();
}

void CTQ5170xHWPDlg::clockRunEnded()
{
    // The drive core owns the run state; its binder redraws the clock group.
    if (features_) {
        features_->drive().clockControlRead(0);
        return;
    }
    setCheckedQuietly(panels_.clock->start, false);
    panels_.clock->start->setText(tr("Start"));
    const zelbo::app::ClockPanel& clock = *panels_.clock;
    clock.continuous->setEnabled(true);
    clock.manual->setEnabled(true);
    if (clock.manual->isChecked()) {
        clock.steps->setEnabled(true);
        clock.stopLevel->setEnabled(true);
    }
}

void CTQ5170xHWPDlg::calibrationEnded()
{
    power_->setEnabled(true);
    setStatusPaneText(0, tr("Ready..."));
}

void CTQ5170xHWPDlg::patternStopped()
{
    if (features_) {
        features_->drive().secondRunEnded();
        return;
    }
    setCheckedQuietly(panels_.sweep->start, false);
    panels_.sweep->start->setText(tr("Start"));
}

// ---------------------------------------------------------------- status bar

QString CTQ5170xHWPDlg::statusPaneText(int pane) const
{
    return pane >= 0 && pane < 3 && pane_[pane] ? pane_[pane]->text() : QString();
}

void CTQ5170xHWPDlg::setStatusPaneText(int pane, const QString& text)
{
    if (pane >= 0 && pane < 3 && pane_[pane] && pane_[pane]->text() != text) pane_[pane]->setText(text);
}

int CTQ5170xHWPDlg::requestChipName(QString* out) const
{
    if (!out) return -1;
    if (features_ && chipList_.loaded()) {
        *out = QString::fromStdString(features_->drive().core().selectedChipName());
        return 0;
    }
    const auto name = chipList_.chipName();
    if (!name) return -1;
    *out = QString::fromStdString(*name);
    return 0;
}

// ---------------------------------------------------------------- link start

void CTQ5170xHWPDlg::startLink()
{
    if (linkWorker_.joinable() || linkResult_ || closing_) return;
    // Bring-up blocks for seconds: it runs on its own thread while this one
    // keeps painting the progress window.
    linkWorker_ = std::thread([this] {
        const int result = engine_->start(*this, *this);
        QMetaObject::invokeMethod(this, [this, result] { linkStartDone(result); }, Qt::QueuedConnection);
    });
}

void CTQ5170xHWPDlg::linkStartDone(int result)
{
    if (linkWorker_.joinable()) linkWorker_.join();
    linkResult_ = result;
    engine_->linkStarted(result == 0);
    // Some failed bring-ups leave the progress window up; it must not stay in
    // front of a window the user can still work with.
    setup_.progress.hide();
    emit linkStartFinished(result);
    if (result == zelbo::link::kBringUpStartDemo) restartInDemoMode();
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void CTQ5170xHWPDlg::runOnGui(std::function<void()> fn, bool wait)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    if (!wait) {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
        return;
    }
    // Done (or dropped with the window): either way the promise ends the wait.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    QMetaObject::invokeMethod(
        this, [done, fn = std::move(fn)] {
            fn();
            done->set_value();
        },
        Qt::QueuedConnection);
    try {
        finished.get();
    } catch (const std::future_error&) {
    }
}

void CTQ5170xHWPDlg::statusText(const std::string& text)
{
    const QString t = QCoreApplication::translate("BringUp", text.c_str());
    runOnGui([this, t] { setStatusPaneText(0, t); }, false);
}

void CTQ5170xHWPDlg::progressShow() { setup_.progress.show(); }

void CTQ5170xHWPDlg::progressText(const std::string& text)
{
    setup_.progress.text(QCoreApplication::translate("BringUp", text.c_str()));
}

void CTQ5170xHWPDlg::progressStep(int step, int steps) { setup_.progress.update(step, steps); }

void CTQ5170xHWPDlg::progressHide() { setup_.progress.hide(); }

void CTQ5170xHWPDlg::downloadProgressControl(bool visible)
{
    runOnGui(
        [this, visible] {
            downloadBar_->setValue(0);
            downloadBar_->setVisible(visible);
        },
        false);
}

void CTQ5170xHWPDlg::linkStarted()
{
    // On the link-start thread: the window's part runs on the GUI thread, and
    // the link start goes on once it is done.
    runOnGui(
        [this] {
            power_->setEnabled(true);
            if (hooks_.loadLastSettings) hooks_.loadLastSettings();
            // Last: loading the settings moves the focus through the fields
            // it fills, and Space must power on, not move a slider.
            power_->setFocus();
        },
        true);
}

// ---------------------------------------------------------------- closing

void CTQ5170xHWPDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape never close the window.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: event->accept(); return;
    default: QMainWindow::keyPressEvent(event);
    }
}

// The link's clock, so that the pauses of the window and of the link are one
// kind of time (tests shorten both together).
void CTQ5170xHWPDlg::sleepMs(int ms) { link().pause(std::chrono::milliseconds(ms)); }

void CTQ5170xHWPDlg::closeEvent(QCloseEvent* event)
{
    if (closeAccepted_) {
        event->accept();
        return;
    }
    if (linkWorker_.joinable()) {
        // The board is still being brought up: close once that has finished.
        closePending_ = true;
        event->ignore();
        return;
    }
    if (askBeforeClosing_) {
        if (messages_->show(tr("Closing software. Continue?").toStdString(), caption(), MsgIcon::Question,
                            MsgButtons::OkCancel) == MsgAnswer::Cancel) {
            event->ignore();
            return;
        }
        // Whatever runs ends before the board is switched off.
        engine_->endActivity(zelbo::engine::EndCause::Closing);
        if (powerOn()) {
            setCheckedQuietly(power_, false);
            powerButtonClicked(false);
            sleepMs(500);
        }
    } else {
        // A lost board (or a start that never finished): nothing is written.
        engine_->endActivity(zelbo::engine::EndCause::LinkLost);
    }
    if (link().active()) waitWritesSent();
    closing_ = true;
    // Shutdown traffic while the link is active, then the reader stops.
    engine_->shutdown();
    // A calibration is kept even when the link was lost on the way.
    if (hooks_.saveCalibration) hooks_.saveCalibration();
    lockout_.stop();
    chartTimer_.stop();
    closeAccepted_ = true;
    event->accept();
}
