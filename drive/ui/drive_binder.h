#pragma once
// Binds the main window's drive controls (the VREF / MTH / CLK columns and
// their limit fields, the sense-resistor rows, the CLK group, the mode label
// and the PS indicator) to the drive core. Controls are found by id through a
// lookup function, so the binder works on the main window and on any test form;
// a control the lookup does not return is skipped.
//
// User actions go to the core; the widgets are redrawn from the core whenever
// it reports a change, with their signals blocked so that a redraw never runs
// change handling again.

#include <cstdint>
#include <functional>

#include <QObject>
#include <QPointer>

#include <boost/signals2/connection.hpp>

#include "drive/drive_core.h"
#include "widgets/control_ids.h"

class QWidget;

namespace zelbo::drive {

// The control ids the binder looks up. Limit rows are MAX, MIN, STEP.
struct DriveControlIds {
    int slider[3] = {ctl::kVrefSlider, ctl::kMthSlider, ctl::kClkSlider};    // VREF, MTH, CLK (vertical)
    int valueEdit[3] = {ctl::kVrefEdit, ctl::kMthEdit, ctl::kClkEdit}; // VREF, MTH, CLK
    int limitEdit[3][3] = {{ctl::kVrefMax, ctl::kVrefMin, ctl::kVrefStep}, {ctl::kMthMax, ctl::kMthMin, ctl::kMthStep}, {ctl::kClkMax, ctl::kClkMin, ctl::kClkStep}};
    int io = ctl::kIo;
    int rnfEdit = ctl::kRnfEdit;
    int rateField = ctl::kRnfRate;
    int rateSpin = ctl::kRnfRateSpin;       // QSpinBox or any QAbstractSlider (SpinButton), range 0..9
    int clkGroup = ctl::kClkGroup;
    int continuous = ctl::kContinuous;
    int manual = ctl::kManual;
    int stepsLabel = ctl::kStepsLabel;
    int stepsEdit = ctl::kStepsEdit;
    int stopLabel = ctl::kStopLabel;
    int stopToggle = ctl::kStopLevel;
    int clkStart = ctl::kClkStart;
    int duty = ctl::kDutyEdit;
    int dutySet = ctl::kDutySet;
    int dutySlider = ctl::kDutySlider;     // the fourth slider, hidden in Clk-In mode
    int secondStart = ctl::kSweepStart;    // the other "Start" toggle (register 160)
    int modeName = ctl::kModeName;
    int psLow = ctl::kPsLow;          // PS indicator: radio pair and
    int psHigh = ctl::kPsHigh;
    int psSlider = ctl::kPsSlider;       // two-position slider (0 Low, 1 High)
    int pinTable = ctl::kPinTable;       // QTableWidget: pin names, levels in column 1
};

class DriveBinder : public QObject {
    Q_OBJECT
public:
    using Lookup = std::function<QWidget*(int)>;

    DriveBinder(DriveCore& core, Lookup lookup, DriveControlIds ids = {}, QObject* parent = nullptr);

    // Redraws the bound controls from the core.
    void refresh(unsigned aspects = aspect::kAll);

    // ---- calls from the main window -----------------------------------------
    // Power on / off: the window has already set the CLK "Start" toggle.
    void startClock();
    void stopClock();
    // Answer of register 0x90 (on the GUI thread): ends a counted run.
    void clockControlRead(std::uint8_t value);
    // The board reported the end of the run started by the second toggle.
    void secondRunEnded();

private:
    QWidget* w(int id) const;
    void bindColumn(ColumnId col);
    void bindClock();
    void bindSenseResistor();
    void refreshColumns();
    void refreshSenseResistor();
    void refreshClock();
    void refreshMode();
    void refreshPins();

    DriveCore& core_;
    Lookup lookup_;
    DriveControlIds ids_;
    boost::signals2::scoped_connection coreConnection_;
};

} // namespace zelbo::drive
