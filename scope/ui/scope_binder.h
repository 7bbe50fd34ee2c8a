#pragma once
// Binds the main window's oscilloscope controls to the acquisition core and
// the chart. The window is reached only through a lookup from control id to
// widget, so the binder works with any form that names its controls by id.
//
// Accepted widget kinds (a missing control is simply skipped):
//  - toggles (channel on/off, TRIGGER, slope, Run, Auto): checkable QAbstractButton;
//  - plain buttons (">" pop-ups, CALIBRATE, save): QAbstractButton;
//  - combos (SOURCE, OUTPUT): QComboBox, filled by the binder;
//  - index controls (V/DIV and SEC/DIV spins, sampling rate, level sliders):
//    QAbstractSlider or QSpinBox;
//  - text fields (V/DIV, SEC/DIV, sampling-rate texts, level edits): QLineEdit or QLabel.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>

#include "scope/ui/channel_dlg.h"
#include "widgets/control_ids.h"

class QWidget;

namespace zelbo {
class MessageService;
}

namespace zelbo::scope {

class ScopeCore;
enum class TriggerMode : int;
enum class TriggerState : int;
class CLineChart;
class ChartView;

// Control ids of the main window's oscilloscope area. Where the window's
// table leaves the exact id of a field open, these are the ids the program's
// window uses; a different form passes its own.
struct ScopeControlIds {
    template <int (*id)(int)> static constexpr std::array<int, 4> four() { return {id(0), id(1), id(2), id(3)}; }
    std::array<int, 4> channelToggle = four<ctl::channelToggle>();
    std::array<int, 4> popupButton = four<ctl::channelPopup>();
    std::array<int, 4> sourceCombo = four<ctl::channelSource>();
    std::array<int, 4> outputCombo = four<ctl::channelOutput>();
    std::array<int, 4> valuePerDivText = four<ctl::valuePerDiv>();
    std::array<int, 4> valuePerDivSpin = four<ctl::valuePerDivSpin>();
    int timeBaseText = ctl::kSecPerDiv;
    int timeBaseSpin = ctl::kSecPerDivSpin;
    int samplingRate = ctl::kSamplingRate; // index control 0..15
    int samplingRateText = 0;              // optional text field (0 = none)
    int triggerButton = ctl::kTriggerOn;
    std::array<int, 4> triggerRadio = four<ctl::triggerChannel>();
    int voltageLevelSlider = ctl::kVoltageLevelSlider;
    int voltageLevelEdit = ctl::kVoltageLevelEdit;
    int currentLevelEdit = ctl::kCurrentLevelEdit;
    int currentLevelSlider = ctl::kCurrentLevelSlider;
    int slopeButton = ctl::kTriggerSlope;
    int runButton = ctl::kRun;
    int calibrateButton = ctl::kCalibrate;
    int saveButton = ctl::kSavePicture;
    int autoCheck = ctl::kAutoRate;
    int autoFrame = 0;                     // optional frame shown while "Auto" is checked (0 = none)
    int triggerMode = ctl::kTriggerMode;   // combo: Auto, Normal, Single
    int triggerState = ctl::kTriggerState; // label: what the acquisition is doing
    int holdoff = ctl::kHoldoff;           // spin box in milliseconds
};

class ScopeBinder : public QObject {
    Q_OBJECT
public:
    // The trigger's mode and state as the window shows them, translated.
    static QString shownText(TriggerMode mode);
    static QString shownText(TriggerState state);
    using Lookup = std::function<QWidget*(int)>;

    // `dialogParent` owns the four channel settings dialogs.
    ScopeBinder(ScopeCore& core, CLineChart& chart, Lookup lookup, QWidget* dialogParent,
                const ScopeControlIds& ids = {}, QObject* parent = nullptr);
    ~ScopeBinder() override;

    // Fills the combos, sets the ranges, connects every control and shows the
    // core's current state. Call once, after the window's controls exist.
    void bind();
    // Shows the core's state in every control again (after defaults or a
    // loaded settings file), without running any handler.
    void refreshFromCore();

    void setChartView(ChartView* view) { view_ = view; }
    void setMessageService(MessageService* messages) { messages_ = messages; }
    CChannelDlg* channelDialog(int n) const { return dialogs_.at(static_cast<std::size_t>(n)); }
    const ScopeControlIds& ids() const { return ids_; }

    // ---- what the main window asks of the oscilloscope --------------------
    // Defaults of a fresh start (four channels on) shown in every control.
    void setDefaults();
    // Run checked / unchecked from outside (power on and off, disabling the
    // channel group): checks the button without a second run of its handler
    // and starts or stops acquisition unless that already happened.
    void startScope();
    void stopScope();
    // Re-sends the trigger state (power on).
    void applyTriggerState();
    // Shows each channel's source choice again, e.g. after enabling a group
    // re-enabled the OUTPUT combos of voltage channels.
    void reapplySourceChoices();
    // The 100 ms refresh: repaints the chart view after a new sweep, shows
    // the trigger state and releases Run when a Single sweep has stopped the
    // acquisition.
    void chartRefresh();
    // Channel pop-ups: keep the visible ones beside their ">" buttons (the
    // window moved), hide them all (the window got the focus), or hide the
    // highest-numbered visible one (a click elsewhere while auto-close is set).
    void placeChannelDialogs();
    void hideChannelDialogs();
    void hideTopChannelDialog();

public slots:
    // Save Waveform: asks for a path and writes the chart as JPEG.
    void saveWaveform();
    // Writes the chart to `path` without asking (the dialog's second half).
    bool saveWaveformTo(const QString& path);

signals:
    // CALIBRATE pressed; calibration itself belongs to the window.
    void calibrateRequested();
    // The chart needs a repaint (settings or interaction changed it).
    void chartChanged();
    // A refused entry or a finished save, for the status bar.
    void entryNote(const QString& text);

private:
    QWidget* w(int id) const;
    void onChannelToggle(int n, bool on);
    void onSource(int n, int index);
    void onOutput(int n, int index);
    void onValuePerDiv(int n, int index);
    void onTimeBase(int index);
    void onSamplingRate(int index);
    void onTrigger(bool on);
    void onTriggerRadio(int t);
    void onSlope(bool minus);
    void onVoltageSlider(int pos);
    void onCurrentSlider(int pos);
    void onVoltageEdit();
    void onCurrentEdit();
    void onRun(bool run);
    void onAuto(bool on);
    void showTriggerMode();
    void onPopup(int n);
    void onDialogSettings(int n, const ChannelSettings& s);

    void showChannel(int n);
    void placeDialog(int n);
    void hideDialog(int n);
    void showHorizontal();
    void showTrigger();
    void changed();

    ScopeCore& core_;
    CLineChart& chart_;
    Lookup lookup_;
    ScopeControlIds ids_;
    QPointer<ChartView> view_;
    MessageService* messages_ = nullptr;
    std::array<CChannelDlg*, 4> dialogs_{};
    QTimer levelTimer_; // applies a slider's trigger level 10 ms after the move
    std::uint64_t paintedSweeps_ = 0; // sweeps converted at the last refresh
    int quietTicks_ = 0;              // refreshes since a sweep came in
};

} // namespace zelbo::scope
