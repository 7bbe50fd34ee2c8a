#pragma once
// The oscilloscope as a measuring instrument: the measurement strip under the
// chart, the microstep levels over it, the XY view in its place, "Save
// Data..." and "Record". The numbers come from the Qt-free measurer and
// recorder, which see every sweep on the reader thread; this class only
// shows them and turns the controls into calls.

#include <QObject>
#include <QPointer>

#include <array>
#include <memory>

#include "scope/analysis/math_file.h"
#include "scope/measure/sweep_measurer.h"
#include "scope/record/sweep_recorder.h"
#include "scope/ui/chart_view.h"
#include "scope/ui/xy_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace zelbo {
class MessageService;
}

namespace zelbo::scope {

class AnalysisTools;
class CLineChart;
class ScopeCore;

class ScopeInstrument : public QObject {
    Q_OBJECT
public:
    // Installs itself as the core's sweep observer: make it before the reader runs.
    ScopeInstrument(ScopeCore& core, CLineChart& chart, MessageService* messages, QObject* parent = nullptr);
    ~ScopeInstrument() override;

    // Puts the tool row, the measurement strip and the XY view into the
    // layout that holds `view`, and the levels over it. `status` (optional)
    // receives the recording's progress label.
    void install(ChartView* view, QWidget* statusBar = nullptr);

    // The drive's set coil current and excitation mode, and the step clock
    // while it runs (0 when stopped): the spectrum looks for the coil
    // currents' fundamental at the electrical frequency they give.
    void setDrive(double ioAmps, Excitation excitation, double stepClockHz = 0.0);
    // Every 100 ms: the strip, the XY view, the overlay, the recording status.
    void refresh();

    // ---- what the controls do (also for tests) ------------------------------
    void setMeasurementShown(int n, bool shown);
    void setLevelsShown(bool shown);
    void setXyMode(bool on);
    bool xyMode() const { return xyMode_; }
    // The pair XY draws. Until the user picks one, switching XY on takes
    // the first two channels that measure a coil current.
    void setXyChannels(int x, int y);
    // "Save Data...": asks for a path; CSV or JSON by the chosen filter.
    void saveData();
    bool saveDataTo(const QString& path);
    // "Record": asks for a path and starts, or stops.
    void toggleRecording(bool on);
    bool startRecordingTo(const QString& path, double maxSeconds = 0, std::uint64_t maxBytes = 0);
    void stopRecording();

    SweepMeasurer& measurer() { return measurer_; }
    // Math channels, spectrum and amplitude cursors.
    AnalysisTools& analysis() { return *analysis_; }
    SweepRecorder& recorder() { return recorder_; }
    // The strip's rows: CH1..CH4, then M1 and M2 (shown while the math
    // channel is on).
    static constexpr int kRows = kChannels + analysis::kMathChannels;
    // The figures shown for row n (the zoomed part of the sweep when zoomed).
    Measurement shownMeasurement(int n) const { return shown_.at(static_cast<std::size_t>(n)); }
    // Whether row n is in the strip now (a math row only while its channel is on).
    bool rowShown(int n) const;
    QString figureText(int n, int column) const;
    QString recordingStatusText() const;

    QWidget* toolRow() const { return tools_; }
    QWidget* strip() const { return strip_; }
    XyView* xyView() const { return xy_; }
    QAbstractButton* recordButton() const;
    QAbstractButton* saveDataButton() const;

    // The columns of the strip.
    enum Column { Min, Max, PeakToPeak, Mean, Rms, Frequency, Period, Peak, PeakError, StepError, Columns };

    // Whether column c has room in the strip now; columns without room are
    // left out whole, least important first, never cut.
    bool columnShown(int c) const { return columnShown_.at(static_cast<std::size_t>(c)); }

signals:
    void recordingFinished(const QString& message);
    // A save done or refused, for the status bar.
    void note(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool hasSweep() const;
    void refuseEmptySave();
    void buildTools(QWidget* parent);
    void buildStrip(QWidget* parent);
    void updateStrip();
    void fitStrip();
    void finishRecording(const RecordStatus& status, bool told);
    std::vector<double> levelValues() const;

    ScopeCore& core_;
    CLineChart& chart_;
    MessageService* messages_;
    SweepMeasurer measurer_;
    SweepRecorder recorder_;
    SweepFanOut fanOut_;
    std::unique_ptr<AnalysisTools> analysis_;

    QPointer<ChartView> view_;
    QPointer<QWidget> tools_, strip_;
    QPointer<XyView> xy_;
    QPointer<LevelsOverlay> overlay_;
    QPointer<QLabel> status_;
    QPointer<QPushButton> record_, saveData_;
    QPointer<QCheckBox> levelsBox_, xyBox_;
    QPointer<QComboBox> xCombo_, yCombo_;
    QPointer<QSpinBox> minutes_, megabytes_;
    std::array<QPointer<QCheckBox>, kRows> rowBox_{};
    std::array<std::array<QPointer<QLabel>, Columns>, kRows> cells_{};
    std::array<QPointer<QLabel>, Columns> titles_{};
    std::array<bool, Columns> columnShown_{};
    std::array<Measurement, kRows> shown_{};
    std::array<bool, kRows> measure_{true, true, true, true, true, true};
    std::string rowUnit(int n) const;
    const ScopeChannel* rowChannel(int n) const;
    QStringList unitsShown_; // the units the strip's columns are sized for
    std::uint64_t refreshedSweeps_ = 0;     // sweeps converted at the last refresh
    std::array<double, 3> refreshedPart_{}; // zoomed, start, end of the chart then
    int quietTicks_ = 0;                    // refreshes since then
    bool levels_ = false;
    bool xyMode_ = false;
    bool xyChosen_ = false; // the user picked the XY pair
    bool recording_ = false;
    double ioAmps_ = 0.0;
    double stepClockHz_ = 0.0;
    Excitation excitation_ = Excitation::QuarterStep;
    QString recordPath_;
};

} // namespace zelbo::scope
