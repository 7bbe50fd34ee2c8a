#pragma once
// The main window's panels: each a group box that builds its controls and
// keeps them as members, so that the window reaches `clock->start` instead of
// looking a control up. Every control is also enrolled under its id
// (widgets/control_ids.h), because the features' binders, the tooltips and
// the tests find controls by id, and in the window's enable groups.
//
// The panels translate in the window's context: their texts are the window's.

#include <array>
#include <initializer_list>

#include <QCoreApplication>
#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTableWidget;
class QToolButton;
class SpinButton;

namespace zelbo::app {

// Where a panel's controls go: under their ids, and into enable groups.
class ControlSite {
public:
    virtual void enrol(int id, QWidget* control) = 0;
    virtual void addGroupMember(int group, int id) = 0;
    void addGroupMembers(int group, std::initializer_list<int> ids)
    {
        for (int id : ids) addGroupMember(group, id);
    }

protected:
    ~ControlSite() = default;
};

class PowerPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit PowerPanel(ControlSite& site);
    QLabel* switchLabel;
    QPushButton* power; // ON / OFF
    QLabel* modeLabel;
    QLabel* modeName;
    QPushButton* change;
};

// VREF, MTH and CLK (column 0, 1, 2), Io and the sense resistor.
class ReferencesPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit ReferencesPanel(ControlSite& site);
    std::array<QSlider*, 3> slider;
    std::array<QLineEdit*, 3> edit;
    QLineEdit* io;
    QLineEdit* rnf;
    QLineEdit* rate;
    SpinButton* rateSpin;
};

// The limits of each column (rows MAX, MIN, STEP) and the sweep's run row.
class SweepPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit SweepPanel(ControlSite& site);
    std::array<std::array<QLineEdit*, 3>, 3> limit; // [column][row]
    QPushButton* down;
    QPushButton* start;
    QPushButton* up;
};

class ClockPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit ClockPanel(ControlSite& site);
    QRadioButton* continuous;
    QRadioButton* manual;
    QLabel* stepsLabel;
    QLineEdit* steps;
    QLabel* stopLabel;
    QPushButton* stopLevel; // H / L
    QPushButton* start;
    QLineEdit* duty;
    QPushButton* dutySet;
    QSlider* dutySlider; // hidden: Clk-In mode sets the duty in its field
};

class ChannelsPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit ChannelsPanel(ControlSite& site);
    std::array<QPushButton*, 4> toggle;
    std::array<QToolButton*, 4> popup;
    std::array<QComboBox*, 4> source;
    std::array<QComboBox*, 4> output;
    std::array<QLineEdit*, 4> valuePerDiv;
    std::array<SpinButton*, 4> valuePerDivSpin;
};

class TimeBasePanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit TimeBasePanel(ControlSite& site);
    QLineEdit* secPerDiv;
    SpinButton* secPerDivSpin;
    QSlider* samplingRate;
    QCheckBox* autoRate;
};

class TriggerPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit TriggerPanel(ControlSite& site);
    QPushButton* on;
    QPushButton* slope;
    std::array<QRadioButton*, 4> channel;
    QSlider* voltageLevelSlider;
    QLineEdit* voltageLevel;
    QSlider* currentLevelSlider;
    QLineEdit* currentLevel;
    QComboBox* mode;
    QLabel* state;
    QDoubleSpinBox* holdoff;
};

class AcquisitionPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit AcquisitionPanel(ControlSite& site);
    QPushButton* run;
    QPushButton* calibrate;
    QPushButton* savePicture;
};

// Built empty with the window; its table comes with the initialisation step
// that builds it (fill()).
class PinsPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    PinsPanel();
    void fill(ControlSite& site);
    QTableWidget* table = nullptr;
    QPushButton* setPins = nullptr; // opens the pin panel
    QRadioButton* psLow = nullptr;  // the PS indicator, hidden
    QRadioButton* psHigh = nullptr;
    QSlider* psSlider = nullptr;
};

class ThermometerPanel : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(CTQ5170xHWPDlg)
public:
    explicit ThermometerPanel(ControlSite& site);
};

struct MainPanels {
    PowerPanel* power = nullptr;
    ReferencesPanel* references = nullptr;
    SweepPanel* sweep = nullptr;
    ClockPanel* clock = nullptr;
    ChannelsPanel* channels = nullptr;
    TimeBasePanel* timeBase = nullptr;
    TriggerPanel* trigger = nullptr;
    AcquisitionPanel* acquisition = nullptr;
    PinsPanel* pins = nullptr;
    ThermometerPanel* thermometer = nullptr;
};

} // namespace zelbo::app
