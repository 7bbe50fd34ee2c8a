#include "app/program_features.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QStatusBar>
#include <QTableWidget>

#include "app/dynamic_feature.h"
#include "app/calibration_feature.h"
#include "app/main_window.h"
#include "common/message_service.h"
#include "drive/clock.h"
#include "drive/sweep.h"
#include "engine/chips.h"
#include "app/settings_feature.h"
#include "app/style.h"
#include "drive/ui/drive_feature.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/instrument.h"
#include "scope/ui/channel_popup_follower.h"
#include "scope/ui/scope_binder.h"
#include "thermal/ui/thermal_feature.h"
#include "widgets/file_places.h"
#include "widgets/meter_wnd.h"

namespace zelbo::app {

namespace {

bool checked(QWidget* w)
{
    auto* b = qobject_cast<QAbstractButton*>(w);
    return b && b->isChecked();
}

} // namespace

ProgramFeatures::ProgramFeatures(CTQ5170xHWPDlg& window)
    : QObject(nullptr), window_(window)
{
    wireScope();
    wireDrive();
    wireThermal();
    dynamic_ = std::make_unique<DynamicFeature>(window_, *drive_, [this] { return scopeCore_->controlValue(); });
    settings_ = std::make_unique<SettingsFeature>(window_, *this);
    calibration_ = std::make_unique<CalibrationFeature>(window_, *this);
    wireHooks();
    wireLink();
}

ProgramFeatures::~ProgramFeatures()
{
    // The window's hooks point here: drop them first. (The link's handlers
    // do too; the window stops the link's reader before this goes.)
    window_.hooks() = FeatureHooks{};
    ui::setChipNameSource({});
    calibration_.reset();
    settings_.reset();
    // The chart view draws the chart, the binder and the dialogs hold the
    // cores: they go before what they refer to.
    instrument_.reset();
    delete view_.data();
    dynamic_.reset();
    scopeBinder_.reset();
    delete thermal_.data();
    delete drive_.data();
    scopeCore_->setView(nullptr);
    chart_.reset();
}

// ---------------------------------------------------------------- oscilloscope

void ProgramFeatures::wireScope()
{
    auto lookup = [this](int id) { return window_.control(id); };
    scopeCore_ = &window_.engine().scope();
    chart_ = std::make_unique<scope::CLineChart>();
    chart_->configureForScope();
    scopeCore_->setView(chart_.get());

    scopeBinder_ = std::make_unique<scope::ScopeBinder>(*scopeCore_, *chart_, lookup, &window_);
    scopeBinder_->setMessageService(&window_.messages());
    auto* view = new scope::ChartView(*chart_);
    view->setObjectName(QStringLiteral("chartView"));
    if (window_.replaceControl(ctl::kChart, view)) {
        view_ = view;
        scopeBinder_->setChartView(view);
    } else {
        delete view;
    }
    scopeBinder_->bind();
    instrument_ = std::make_unique<scope::ScopeInstrument>(*scopeCore_, *chart_, &window_.messages());
    instrument_->install(view_.data(), window_.statusBar());
    connect(instrument_.get(), &scope::ScopeInstrument::note, &window_,
            [this](const QString& text) { window_.setStatusPaneText(0, text); });
    // The channel pop-ups move with the window and close on a click beside them.
    new scope::ChannelPopupFollower(window_, *scopeBinder_);
    // The window repaints the chart every 100 ms (its chart-refresh hook).
    connect(scopeBinder_.get(), &scope::ScopeBinder::chartChanged, this, [this] {
        if (view_) view_->update();
        showChannelColours();
    });
    // CALIBRATE starts calibration as it stands: with "Run" on it refuses
    // (the menu item stops "Run" first).
    connect(scopeBinder_.get(), &scope::ScopeBinder::entryNote, &window_,
            [this](const QString& text) { window_.setStatusPaneText(0, text); });
    connect(scopeBinder_.get(), &scope::ScopeBinder::calibrateRequested, &window_,
            [this] { calibration_->start(); });
}

void ProgramFeatures::showChannelColours()
{
    const auto& toggles = scopeBinder_->ids().channelToggle;
    for (int n = 0; n < scope::kChannels; ++n) {
        auto* b = qobject_cast<QAbstractButton*>(window_.control(toggles[static_cast<std::size_t>(n)]));
        const QColor c = QColor::fromRgba(scopeCore_->channel(n).colour);
        if (!b || b->property("traceColour").value<QColor>() == c) continue;
        b->setProperty("traceColour", c);
        b->setIcon(colourSwatch(c));
    }
}

void ProgramFeatures::setDutyText(const QString& text)
{
    drive_->core().setDutyText(text.toStdString());
    drive_->binder().refresh(drive::aspect::kClock);
}

void ProgramFeatures::setCalibrationOffsets(const scope::CalibrationOffsets& offsets)
{
    scopeCore_->setCalibrationOffsets(offsets);
}

// ---------------------------------------------------------------- drive

void ProgramFeatures::wireDrive()
{
    drive_ = new drive::DriveFeature(window_.engine().drive(), window_.link(), window_.messages(),
                                     [this](int id) { return window_.control(id); }, &window_);
    drive::ModeChangeHooks modeHooks;
    modeHooks.scopeRunning = [this] { return checked(window_.control(scopeBinder_->ids().runButton)); };
    modeHooks.stopScope = [this] { scopeBinder_->stopScope(); };
    modeHooks.startScope = [this] { scopeBinder_->startScope(); };
    // The OUTPUT combos always carry the output names; showing the source
    // choices again puts them back.
    modeHooks.resetScopeOutputNames = [this] { scopeBinder_->reapplySourceChoices(); };
    modeHooks.startThermometer = [this] { window_.startTemperatureTimer(); };
    modeHooks.clearChartOrigin = [this] {
        chart_->resetScroll();
        if (view_) view_->update();
    };
    drive_->setModeChangeHooks(modeHooks);
    modeHooks_ = modeHooks;
    feedChipList();
    wireActivities();

    // The window's drive mode is the core's.
    modeFollower_ = drive_->core().changed.connect([this](unsigned aspects) {
        if (aspects & drive::aspect::kMode) window_.setMode(drive_->core().mode());
    });
    window_.setMode(drive_->core().mode());

    // The measurements know the set Io and the excitation mode; the
    // spectrum the step clock while it runs (its electrical frequency).
    auto feedInstrument = [this] {
        const auto& core = drive_->core();
        const int mode = (core.pinHigh(drive::Pin::Mode0) ? 1 : 0) + (core.pinHigh(drive::Pin::Mode1) ? 2 : 0);
        const double clockHz = core.clockRunning() ? drive::generatorFrequency(core.clockFrequency()) : 0.0;
        instrument_->setDrive(core.io() / 1000.0, static_cast<scope::Excitation>(mode), clockHz);
    };
    instrumentFollower_ = drive_->core().changed.connect([feedInstrument](unsigned) { feedInstrument(); });
    // A refused or limited entry in VREF, MTH or CLK is said on the status bar.
    entryNotes_ = drive_->core().entryNote.connect([this](const std::string& note) {
        const QString t = QString::fromStdString(note);
        QMetaObject::invokeMethod(&window_, [this, t] { window_.setStatusPaneText(0, t); }, Qt::AutoConnection);
    });
    // Files the dialogs propose are named after the chip driven.
    ui::setChipNameSource([this] { return QString::fromStdString(drive_->core().selectedChipName()); });
    advanceNotes_ = drive_->advance().core().entryNote.connect(
        [this](const std::string& note) { window_.setStatusPaneText(0, QString::fromStdString(note)); });
    feedInstrument();

    // The pin table opens the pin panel.
    if (auto* table = window_.control<QTableWidget>(drive::DriveControlIds{}.pinTable)) {
        table->setToolTip(tr("Double-click to set the pins"));
        connect(table, &QTableWidget::cellDoubleClicked, this, [this] { showPinPanel(); });
    }
}

void ProgramFeatures::wireActivities()
{
    engine::InstrumentState& state = window_.engine().state();
    // A SWEEP run is an activity from "Start" to its end; ended from
    // outside, register 160 goes off. (Counted runs are the engine's.)
    drive::SweepCore& sweep = drive_->sweep().core();
    sweepFollower_ = sweep.changed.connect([this, &state, &sweep] {
        if (sweep.running() && state.idle()) {
            state.begin(engine::Activity::SweepRun, [this](engine::EndCause cause) {
                drive::SweepCore& s = drive_->sweep().core();
                if (cause == engine::EndCause::LinkLost) s.forget();
                else s.stop();
                return true;
            });
        } else if (!sweep.running()) {
            state.finished(engine::Activity::SweepRun);
        }
    });
    // Advance mode: opened through the state, left by its toggle, its
    // window, or from outside.
    drive_->advance().setGate(
        [this, &state] {
            if (auto why = state.begin(engine::Activity::AdvanceMode, [this](engine::EndCause) {
                    drive_->advance().setActive(false);
                    return true;
                })) {
                window_.messages().show(*why, kAppCaption, MsgIcon::Information);
                return false;
            }
            return true;
        },
        [&state] { state.finished(engine::Activity::AdvanceMode); });
}

void ProgramFeatures::feedChipList()
{
    drive_->setChipList(engine::driveChips(window_.chipList()));
}

void ProgramFeatures::rerunModeChange()
{
    drive::DriveCore& core = drive_->core();
    core.changeMode(core.mode(), core.vcc(), modeHooks_);
}

void ProgramFeatures::showPinPanel()
{
    drive_->showPinPanel();
}

// ---------------------------------------------------------------- window hooks

void ProgramFeatures::wireHooks()
{
    FeatureHooks& h = window_.hooks();
    h.setDefaults = [this] {
        drive_->setDefaults();
        scopeBinder_->setDefaults();
        showChannelColours();
    };
    h.applySupplyAndPins = [this] { drive_->applySupplyAndPins(); };
    h.psLowSelected = [this] { return drive_->psLowSelected(); };
    h.startClock = [this] { drive_->startClock(); };
    h.stopClock = [this] { drive_->stopClock(); };
    h.modeDialogVisible = [this] { return drive_->modeDialogVisible(); };
    h.showModeDialog = [this] { drive_->showModeDialog(); };
    h.hideFloatingWindows = [this] {
        scopeBinder_->hideChannelDialogs();
        drive_->advance().leaveIfActive();
        dynamic_->finishVisible();
        thermal_->stopMonitor(true);
    };
    h.showDynamicWindow = [this] { return dynamic_->show(); };
    h.startScope = [this] { scopeBinder_->startScope(); };
    h.stopScope = [this] { scopeBinder_->stopScope(); };
    h.applyTriggerState = [this] { scopeBinder_->applyTriggerState(); };
    h.reapplySourceChoices = [this] { scopeBinder_->reapplySourceChoices(); };
    h.chartRefresh = [this] {
        scopeBinder_->chartRefresh();
        instrument_->refresh();
    };
    h.openSettings = [this] { settings_->open(); };
    h.saveSettings = [this] { settings_->save(); };
    h.loadLastSettings = [this] { settings_->loadDefault(); };
    h.calibrate = [this] { calibration_->start(); };
    h.loadCalibration = [this] { calibration_->loadFile(); };
    h.saveCalibration = [this] { calibration_->saveFile(); };
}

// ---------------------------------------------------------------- link

void ProgramFeatures::wireLink()
{
    window_.engine().wireAcquisition();
}

// ---------------------------------------------------------------- thermometer, Tj monitor

void ProgramFeatures::wireThermal()
{
    drive::DriveCore& core = drive_->core();
    thermal::ThermalHost host;
    host.poweredOn = [this] { return window_.powerOn(); };
    host.mode = [this] { return window_.mode(); };
    host.chipName = [this] {
        QString name;
        window_.requestChipName(&name);
        return name.toStdString();
    };
    host.chipCoefficients = [&core] { return std::pair{core.chipA(), core.chipB()}; };
    host.vref = [&core] { return core.vref(); };
    host.applyVref = [&core](const std::string& text) {
        core.setValueText(drive::ColumnId::Vref, text);
        core.commitValue(drive::ColumnId::Vref);
    };
    host.applyMth = [&core](const std::string& text) {
        core.setValueText(drive::ColumnId::Mth, text);
        core.commitValue(drive::ColumnId::Mth);
    };
    host.setStepPins = [&core](bool ps, bool mode0, bool mode1) {
        constexpr std::uint32_t kLevel = 2500;
        const std::pair<drive::DacChannel, bool> pins[] = {
            {drive::DacChannel::Ps, ps}, {drive::DacChannel::Mode0, mode0}, {drive::DacChannel::Mode1, mode1}};
        for (const auto& [channel, high] : pins)
            core.handlePinDacRequest({static_cast<std::uint8_t>(channel), high ? kLevel : 0u, true});
    };
    // A run is the instrument's activity: the drive groups go off with the
    // state, and power off, a mode change, closing or a settings file stop it
    // (what was logged stays; the board is left to whoever ended it).
    host.beginRun = [this]() -> std::optional<std::string> {
        return window_.engine().state().begin(engine::Activity::MonitorRun, [this](engine::EndCause) {
            thermal_->stopMonitor(false);
            return true;
        });
    };
    host.runEnded = [this] { window_.engine().state().finished(engine::Activity::MonitorRun); };
    host.pause = [this](std::chrono::milliseconds ms) { window_.link().pause(ms); };
    host.statusNote = [this](const std::string& note) { window_.setStatusPaneText(0, QString::fromStdString(note)); };
    thermal_ = new thermal::ThermalFeature(window_.messages(), window_.engine().thermometer(),
                                           window_.engine().temperatureLog(), std::move(host), &window_);

    auto* gauge = new CMeterWnd;
    gauge->setAccessibleName(tr("THERMOMETER"));
    if (window_.replaceControl(ctl::kThermometer, gauge)) thermal_->setGauge(gauge);
    else delete gauge;

    // Reader thread: a whole diode code.
    window_.engine().answers().onTemperature([t = thermal_.data()](std::uint16_t code) { t->onDiodeCode(code); });
    FeatureHooks& h = window_.hooks();
    h.showTjMonitor = [this] { thermal_->showMonitor(); };
    h.temperatureTick = [this] { thermal_->tick(); };
}

} // namespace zelbo::app
