#pragma once
// The calls the main window makes into features that bind themselves to it
// (drive, clock, oscilloscope, calibration, settings, temperature monitor).
// A feature assigns the hooks it serves; an empty hook is skipped (the
// program binds every one; tests leave some empty).
// Every hook runs on the GUI thread.

#include <functional>

namespace zelbo::app {

struct FeatureHooks {
    // Initialisation.
    std::function<void()> loadCalibration;  // "init.clb" from the data folder
    std::function<void()> setDefaults;      // drive reset and oscilloscope defaults
    std::function<void()> saveCalibration;  // on close, while the link is active
    std::function<void()> loadLastSettings; // after link start, from "TQ5170x.set"

    // Power button, power on.
    std::function<void()> applySupplyAndPins;
    std::function<void()> startScope;        // after "Run" has been checked
    std::function<void()> applyTriggerState;
    std::function<bool()> psLowSelected;     // the clock-input dialog's PS "Low" choice
    std::function<void()> startClock;        // after the CLK "Start" toggle has been checked
    // Power off, and disabling groups.
    std::function<void()> stopClock;         // after the CLK "Start" toggle has been unchecked
    std::function<void()> stopScope;         // after "Run" has been unchecked
    std::function<void()> reapplySourceChoices;

    // Timers.
    std::function<void()> chartRefresh;      // every 100 ms
    std::function<void()> temperatureTick;   // every 1000 ms while powered on (after the reads)

    // Menu commands and buttons.
    std::function<void()> openSettings;      // File > Open (ends the running activity before it loads)
    std::function<void()> saveSettings;      // File > Save
    std::function<bool()> showDynamicWindow; // View > Dynamic Window, after its guard; true when shown
    std::function<void()> showTjMonitor;     // View > Tj Monitor
    std::function<void()> calibrate;         // Help > Oscilloscope > Calibrate, after "Run" stopped
    std::function<void()> hideFloatingWindows; // "Change": before the mode dialog
    std::function<bool()> modeDialogVisible;
    std::function<void()> showModeDialog;    // "Change"
};

} // namespace zelbo::app
