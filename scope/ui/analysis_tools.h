#pragma once
// The analyser's windows over the Qt-free cores of scope/analysis: the
// spectrum view (a dock beside the chart: FFT of any channel or math
// channel, window choice, dB or linear, a frequency cursor, THD and the
// harmonics), the math channel dialog, and the amplitude cursors' dialog.
// `AnalysisTools` owns the math channels (a sweep observer the instrument
// adds to its fan-out) and puts its buttons into the instrument's tool row.

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "scope/analysis/math_channels.h"
#include "scope/analysis/frequency_analysis.h"

class QAction;
class QComboBox;
class QDockWidget;
class QDoubleSpinBox;
class QHBoxLayout;
class QSpinBox;

namespace zelbo::scope {

class CLineChart;
class ScopeCore;

// Draws one spectrum: magnitude in dB (re 1 V or 1 A) or linear against
// frequency, the harmonics marked, and a frequency cursor set by a click.
class SpectrumView : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumView(QWidget* parent = nullptr);
    void setSpectrum(const analysis::Spectrum& spectrum, const QString& unit, const analysis::Harmonics& harmonics);
    void setDb(bool db);
    bool db() const { return db_; }
    // The cursor at `hz` (nothing: off); its readout names the nearest bin.
    void setCursor(std::optional<double> hz);
    std::optional<double> cursor() const { return cursorHz_; }
    QString cursorText() const;
    QRect plotRect() const;
    QSize sizeHint() const override { return {520, 240}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    double yOf(double amplitude, double top) const;
    analysis::Spectrum spectrum_;
    analysis::Harmonics harmonics_;
    QString unit_;
    bool db_ = true;
    std::optional<double> cursorHz_;
};

// The spectrum dock's contents: channel, window and scale choices over the
// view, the THD and harmonic levels beside it. refresh() analyses the
// chosen channel's current trace (every 100 ms with the chart).
class SpectrumPanel : public QWidget {
    Q_OBJECT
public:
    // `channel(i)`: CH1..CH4 for 0..3, M1/M2 for 4/5 (null when off).
    SpectrumPanel(std::function<const ScopeChannel*(int)> channel, QWidget* parent = nullptr);
    void refresh();
    // The coil currents' electrical frequency (0: the strongest tone).
    void setExpectedHz(double hz) { expectedHz_ = hz; }
    double expectedHz() const { return expectedHz_; }
    // Whether entry i (as for `channel`) measures a coil current, whose
    // fundamental is the electrical frequency; without it, any channel in A.
    void setCoilCurrent(std::function<bool(int)> coil) { coil_ = std::move(coil); }
    void setChannel(int index);
    void setWindow(analysis::Window w);
    SpectrumView* view() const { return view_; }
    const analysis::Harmonics& harmonics() const { return harmonics_; }
    QString summaryText() const;

private:
    std::function<const ScopeChannel*(int)> channel_;
    std::function<bool(int)> coil_;
    analysis::SpectrumAnalyser analyser_;
    analysis::Spectrum spectrum_;
    analysis::Harmonics harmonics_;
    std::vector<double> values_;
    double expectedHz_ = 0.0;
    double usedHz_ = 0.0; // the expected frequency the last refresh looked at
    QPointer<QComboBox> channelCombo_, windowCombo_;
    QPointer<QCheckBox> dbBox_;
    QPointer<SpectrumView> view_;
    QPointer<QLabel> summary_;
};

// Two math channels: on, expression, unit (shown as typed), value/div,
// position, label; Apply checks each and says why one is refused.
class MathDialog : public QDialog {
    Q_OBJECT
public:
    MathDialog(analysis::MathChannelSet& set, std::function<std::array<Source, kChannels>()> sources,
               QWidget* parent = nullptr);
    // Applies both rows; false (with the message shown) when one is refused.
    bool apply();
    void load();
    QLineEdit* expressionEdit(int m) const { return rows_[static_cast<std::size_t>(m)].expression; }
    QCheckBox* onBox(int m) const { return rows_[static_cast<std::size_t>(m)].on; }
    QLabel* unitLabel(int m) const { return rows_[static_cast<std::size_t>(m)].unit; }
    QLabel* messageLabel() const { return message_; }

signals:
    void applied();

private:
    struct Row {
        QPointer<QCheckBox> on;
        QPointer<QLineEdit> expression, perDiv, label;
        QPointer<QLabel> unit;
        QPointer<QSpinBox> position;
    };
    void updateUnit(int m);
    analysis::MathChannelSet& set_;
    std::function<std::array<Source, kChannels>()> sources_;
    std::array<Row, analysis::kMathChannels> rows_;
    QPointer<QLabel> message_;
};

// Amplitude cursors: the channel, on/off and the two levels; the
// difference shows here and in the chart.
class LevelCursorDialog : public QDialog {
    Q_OBJECT
public:
    LevelCursorDialog(CLineChart& chart, std::function<std::vector<std::string>()> keys, QWidget* parent = nullptr);
    void setLevels(const std::string& key, bool on, double a, double b);
    QString deltaText() const;
    void reload();

signals:
    // The levels or their channel changed: the chart needs drawing.
    void changed();

private:
    void push();
    CLineChart& chart_;
    std::function<std::vector<std::string>()> keys_;
    QPointer<QComboBox> channel_;
    QPointer<QCheckBox> on_;
    QPointer<QDoubleSpinBox> a_, b_;
    QPointer<QLabel> delta_;
};

class AnalysisTools : public QObject {
    Q_OBJECT
public:
    AnalysisTools(ScopeCore& core, CLineChart& chart, QObject* parent = nullptr);
    ~AnalysisTools() override;

    analysis::MathChannelSet& math() { return math_; }
    // The "Analysis" menu button goes at the end of `toolRow`; the spectrum
    // dock into the main window of `view` (floating at first), the math
    // channels' figures into its status bar.
    void install(QWidget* view, QHBoxLayout* toolRow);
    // With the chart's refresh: the spectrum, the math figures. `fresh`: a
    // sweep came in since the last one (otherwise nothing has changed).
    void refresh(bool fresh = true);
    // Math setups from a file (after a settings file was loaded) and for one.
    void applySetups(const analysis::MathSetups& setups);
    void setSpectrumShown(bool shown);
    void setElectricalHz(double hz);

    SpectrumPanel* spectrumPanel() const { return panel_; }
    MathDialog* mathDialog();
    LevelCursorDialog* cursorDialog();
    QLabel* mathFigures() const { return figures_; }

signals:
    // A math channel was set up, changed or turned off.
    void mathChanged();

private:
    void syncTraces();
    std::array<Source, kChannels> sources() const;
    ScopeCore& core_;
    CLineChart& chart_;
    analysis::MathChannelSet math_;
    QPointer<QWidget> view_;
    QPointer<QDockWidget> dock_;
    QPointer<SpectrumPanel> panel_;
    QPointer<MathDialog> mathDialog_;
    QPointer<LevelCursorDialog> cursorDialog_;
    QPointer<QAction> spectrumAction_;
    bool placed_ = false;
    double electricalHz_ = 0.0; // kept for a panel made later
    double shownHz_ = 0.0;      // the expected frequency the panel last showed
    QPointer<QLabel> figures_;
};

} // namespace zelbo::scope
