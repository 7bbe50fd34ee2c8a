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
    std::array<int, 4> channelToggle{1014, 1015, 1016, 1017};
    std::array<int, 4> popupButton{1018, 1019, 1020, 1021};
    std::array<int, 4> sourceCombo{1168, 1169, 1170, 1171};
    std::array<int, 4> outputCombo{1172, 1173, 1174, 1175};
    std::array<int, 4> valuePerDivText{1080, 1081, 1082, 1083};
    std::array<int, 4> valuePerDivSpin{1085, 1086, 1087, 1088};
    int timeBaseText = 1084;
    int timeBaseSpin = 1089;
    int samplingRate = 1013;      // index control 0..15
    int samplingRateText = 0;     // optional text field (0 = none)
    int triggerButton = 1024;
    std::array<int, 4> triggerRadio{1105, 1106, 1107, 1108};
    int voltageLevelSlider = 1072;
    int voltageLevelEdit = 1073;
    int currentLevelEdit = 1091;
    int currentLevelSlider = 1092;
    int slopeButton = 1027;
    int runButton = 1026;
    int calibrateButton = 1156;
    int saveButton = 1023;
    int autoCheck = 1190;
    int autoFrame = 0;            // optional frame shown while "Auto" is checked (0 = none)
    int triggerMode = 1240;       // combo: Auto, Normal, Single
    int triggerState = 1241;      // label: what the acquisition is doing
    int holdoff = 1242;           // spin box in milliseconds
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
