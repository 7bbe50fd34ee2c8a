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

class QWidget;

namespace zelbo::drive {

// The control ids the binder looks up. Limit rows are MAX, MIN, STEP.
struct DriveControlIds {
    int slider[3] = {1005, 1006, 1007};    // VREF, MTH, CLK (vertical)
    int valueEdit[3] = {1069, 1068, 1070}; // VREF, MTH, CLK
    int limitEdit[3][3] = {{1159, 1160, 1161}, {1162, 1163, 1164}, {1165, 1166, 1167}};
    int io = 1071;
    int rnfEdit = 1097;
    int rateField = 1096;
    int rateSpin = 1090;       // QSpinBox or any QAbstractSlider (SpinButton), range 0..9
    int clkGroup = 1126;
    int continuous = 1127;
    int manual = 1128;
    int stepsLabel = 1129;
    int stepsEdit = 1130;
    int stopLabel = 1131;
    int stopToggle = 1132;
    int clkStart = 1045;
    int duty = 1152;
    int dutySet = 1046;
    int dutySlider = 1008;     // the fourth slider, hidden in Clk-In mode
    int secondStart = 1104;    // the other "Start" toggle (register 160)
    int modeName = 1028;
    int psLow = 1176;          // PS indicator: radio pair and
    int psHigh = 1177;
    int psSlider = 1009;       // two-position slider (0 Low, 1 High)
    int pinTable = 1051;       // QTableWidget: pin names, levels in column 1
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
