#pragma once
// The features the main window hosts, wired to it and to the board link: the
// drive (pins, references, sense resistor, step clock, with the pin panel and
// the mode dialog) and the oscilloscope (acquisition core, line chart, chart
// view and the binder of its controls).
//
// The window creates this once its controls exist; it assigns the window's
// feature hooks and the link's handlers. Destroy it only after the link's
// reader has stopped: the sweep handler runs on the reader thread.

#include <memory>

#include <QObject>
#include <QPointer>

#include <boost/signals2/connection.hpp>

#include "drive/ui/drive_feature.h"
#include "link/fpga_link.h"
#include "scope/scope_channel.h"
#include "scope/ui/chart_view.h"
#include "thermal/ui/thermal_feature.h"

class CTQ5170xHWPDlg;

namespace zelbo::scope {
class ScopeCore;
class CLineChart;
class ScopeBinder;
class ScopeInstrument;
} // namespace zelbo::scope

namespace zelbo::app {

class DynamicFeature;
class SettingsFeature;
class CalibrationFeature;

class ProgramFeatures : public QObject {
    Q_OBJECT
public:
    explicit ProgramFeatures(CTQ5170xHWPDlg& window);
    ~ProgramFeatures() override;

    drive::DriveFeature& drive() { return *drive_; }
    DynamicFeature& dynamic() { return *dynamic_; }
    scope::ScopeCore& scopeCore() { return *scopeCore_; }
    scope::CLineChart& chart() { return *chart_; }
    scope::ChartView* chartView() const { return view_.data(); }
    scope::ScopeBinder& scopeBinder() { return *scopeBinder_; }
    scope::ScopeInstrument& instrument() { return *instrument_; }
    scope::ScopeInstrument* instrumentIfMade() { return instrument_.get(); }
    thermal::ThermalFeature& thermal() { return *thermal_; }
    SettingsFeature& settings() { return *settings_; }
    CalibrationFeature& calibration() { return *calibration_; }
    // The mode-change handling for the current mode (a loaded settings file).
    void rerunModeChange();

    // Offsets the sweep conversion and the trigger setup use (zeros until a
    // calibration has been loaded).
    void setCalibrationOffsets(const scope::CalibrationOffsets& offsets);

    // The pin panel, beside the window.
    void showPinPanel();
    // The channel buttons' swatches in their traces' colours.
    void showChannelColours();
    // The duty field's text, as the drive core keeps it.
    void setDutyText(const QString& text);

private:
    void wireDrive();
    void wireScope();
    void wireHooks();
    void wireLink();
    void wireThermal();
    void wireActivities();
    void feedChipList();

    CTQ5170xHWPDlg& window_;
    scope::ScopeCore* scopeCore_ = nullptr; // the engine's
    std::unique_ptr<scope::CLineChart> chart_;
    std::unique_ptr<scope::ScopeBinder> scopeBinder_;
    std::unique_ptr<scope::ScopeInstrument> instrument_; // measurements, XY view, export, recording
    QPointer<scope::ChartView> view_;
    QPointer<drive::DriveFeature> drive_; // a child of the window
    QPointer<thermal::ThermalFeature> thermal_; // a child of the window
    std::unique_ptr<DynamicFeature> dynamic_;
    boost::signals2::scoped_connection modeFollower_;
    boost::signals2::scoped_connection instrumentFollower_;
    boost::signals2::scoped_connection entryNotes_;
    boost::signals2::scoped_connection advanceNotes_;
    boost::signals2::scoped_connection sweepFollower_;
    drive::ModeChangeHooks modeHooks_;
    std::unique_ptr<SettingsFeature> settings_;
    std::unique_ptr<CalibrationFeature> calibration_;
};

} // namespace zelbo::app
