#include "app/program_features.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QTableWidget>

#include "app/calibration_feature.h"
#include "app/main_window.h"
#include "app/settings_feature.h"
#include "app/style.h"
#include "drive/ui/drive_feature.h"
#include "scope/chart/line_chart.h"
#include "scope/scope_core.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/scope_binder.h"

namespace zelbo::app {

namespace {

bool checked(QWidget* w)
{
    auto* b = qobject_cast<QAbstractButton*>(w);
    return b && b->isChecked();
}

} // namespace

ProgramFeatures::ProgramFeatures(CTQ5170xHWPDlg& window)
    : QObject(nullptr), window_(window), snapshot_(std::make_unique<link::FpgaLink::CaptureSnapshot>())
{
    wireScope();
    wireDrive();
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
    calibration_.reset();
    settings_.reset();
    // The chart view draws the chart, the binder and the dialogs hold the
    // cores: they go before what they refer to.
    delete view_.data();
    scopeBinder_.reset();
    delete drive_.data();
    scopeCore_->setView(nullptr);
    chart_.reset();
    scopeCore_.reset();
}

// ---------------------------------------------------------------- oscilloscope

void ProgramFeatures::wireScope()
{
    auto lookup = [this](int id) { return window_.control(id); };
    scopeCore_ = std::make_unique<scope::ScopeCore>(window_.link());
    chart_ = std::make_unique<scope::CLineChart>();
    chart_->configureForScope();
    scopeCore_->setView(chart_.get());

    scopeBinder_ = std::make_unique<scope::ScopeBinder>(*scopeCore_, *chart_, lookup, &window_);
    scopeBinder_->setMessageService(&window_.messages());
    auto* view = new scope::ChartView(*chart_);
    view->setObjectName(QStringLiteral("chartView"));
    if (window_.replaceControl(1042, view)) {
        view_ = view;
        scopeBinder_->setChartView(view);
    } else {
        delete view;
    }
    scopeBinder_->bind();
    // The window repaints the chart every 100 ms (its chart-refresh hook).
    connect(scopeBinder_.get(), &scope::ScopeBinder::chartChanged, this, [this] {
        if (view_) view_->update();
        showChannelColours();
    });
    // CALIBRATE starts calibration as it stands: with "Run" on it refuses
    // (the menu item stops "Run" first).
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
    drive_ = new drive::DriveFeature(window_.link(), window_.messages(),
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

    // The window's drive mode is the core's.
    modeFollower_ = drive_->core().changed.connect([this](unsigned aspects) {
        if (aspects & drive::aspect::kMode) window_.setMode(drive_->core().mode());
    });
    window_.setMode(drive_->core().mode());

    // The pin table opens the pin panel.
    if (auto* table = window_.control<QTableWidget>(drive::DriveControlIds{}.pinTable)) {
        table->setToolTip(tr("Double-click to set the pins"));
        connect(table, &QTableWidget::cellDoubleClicked, this, [this] { showPinPanel(); });
    }
}

void ProgramFeatures::feedChipList()
{
    std::vector<drive::ChipEntry> chips;
    for (const files::ChipEntry& e : window_.chipList().entries()) {
        drive::ChipEntry c;
        c.mode = e.mode;
        c.name = e.name;
        c.a = e.a;
        c.b = e.b;
        c.excitationNames = e.excitation;
        chips.push_back(std::move(c));
    }
    drive_->setChipList(std::move(chips));
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
    h.hideFloatingWindows = [this] { scopeBinder_->hideChannelDialogs(); };
    h.startScope = [this] { scopeBinder_->startScope(); };
    h.stopScope = [this] { scopeBinder_->stopScope(); };
    h.applyTriggerState = [this] { scopeBinder_->applyTriggerState(); };
    h.reapplySourceChoices = [this] { scopeBinder_->reapplySourceChoices(); };
    h.chartRefresh = [this] { scopeBinder_->chartRefresh(); };
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
    link::FpgaLink& link = window_.link();
    scopeCore_->setArmRequest([&link] { link.armScope(); });
    // Reader thread: the arm and the sweep conversion.
    link.onScopeArm([this, &link] {
        link.clearCaptures();
        scopeCore_->arm();
    });
    link.onSweep([this, &link] {
        link.copyCaptures(*snapshot_);
        scope::CaptureAreas areas;
        for (std::size_t n = 0; n < scope::kChannels; ++n)
            areas[n] = std::span<const std::uint8_t>((*snapshot_)[n]);
        link.resetCaptureIndices(scopeCore_->processSweep(areas, scopeCore_->calibrationOffsets()));
    });
    // Link start: the clearing sequence through the port it passes.
    link.onClearDacOutputs([this](link::CommandPort& port) { drive_->core().clearDacOutputs(port); });
}

} // namespace zelbo::app
