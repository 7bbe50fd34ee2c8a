// The main window's tooltips: for every control that writes to the board,
// what it sets, its unit and its range.

#include <QCoreApplication>

#include "app/main_tooltips.h"

#include "app/main_window.h"

namespace {

struct Tip {
    int id;
    const char* text;
    int channel; // 1..4 for the "%1" of a channel control, else 0
};

// QT_TRANSLATE_NOOP: the texts are translated where they are applied.
const Tip kTips[] = {
    {ctl::kPower, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Switches the driver IC's supply on or off; on also starts the step clock and the oscilloscope."), 0},
    {ctl::kModeChange, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Changes the drive mode of the chip (resets the references and the clock)."), 0},
    {ctl::kVrefSlider, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "VREF: the reference voltage that sets the coil current, in V, from MIN to MAX (at most 0 to 3 V)."), 0},
    {ctl::kVrefEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "VREF in V, 0 to 3 V within MIN and MAX. Takes \"500m\" and a decimal comma; text without a number is refused."), 0},
    {ctl::kMthSlider, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "MTH: the decay threshold voltage, in V, from MIN to MAX (at most 0 to 3.5 V)."), 0},
    {ctl::kMthEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "MTH in V, 0 to 3.5 V within MIN and MAX. Takes \"500m\" and a decimal comma; text without a number is refused."), 0},
    {ctl::kClkSlider, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CLK: the step clock frequency, in Hz, from MIN to MAX (at most 100 kHz)."), 0},
    {ctl::kClkEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CLK in Hz, up to 100 kHz within MIN and MAX; \"2k\" is 2 kHz. Text without a number is refused."), 0},
    {ctl::kVrefMax, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "VREF MAX: the top of the VREF slider and sweep, in V, 0 to 3 V."), 0},
    {ctl::kVrefMin, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "VREF MIN: the bottom of the VREF slider and sweep, in V, 0 V to MAX."), 0},
    {ctl::kVrefStep, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "VREF STEP: one notch of the VREF slider and sweep, in V, 0.01 V to MAX - MIN."), 0},
    {ctl::kMthMax, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "MTH MAX: the top of the MTH slider and sweep, in V, 0 to 3.5 V."), 0},
    {ctl::kMthMin, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "MTH MIN: the bottom of the MTH slider and sweep, in V, 0 V to MAX."), 0},
    {ctl::kMthStep, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "MTH STEP: one notch of the MTH slider and sweep, in V, 0.01 V to MAX - MIN."), 0},
    {ctl::kClkMax, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CLK MAX: the top of the CLK slider and sweep, in Hz, up to 100 kHz."), 0},
    {ctl::kClkMin, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CLK MIN: the bottom of the CLK slider and sweep, in Hz, 0 Hz to MAX."), 0},
    {ctl::kClkStep, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CLK STEP: one notch of the CLK slider and sweep, in Hz, 10 Hz to MAX - MIN."), 0},
    {ctl::kSweepDown, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Sweep: one STEP down from the present values."), 0},
    {ctl::kSweepStart, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Sweep: steps VREF, MTH and CLK from MIN to MAX by STEP, or stops."), 0},
    {ctl::kSweepUp, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Sweep: one STEP up from the present values."), 0},
    {ctl::kRnfEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "RNF: the board's current-sense resistor, in ohm, 0.01 to 1 ohm; Io is VREF / RNF / rate."), 0},
    {ctl::kRnfRateSpin, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "RNF exchange rate: the chip's VREF divider, 1 / 10 to 1 / 1."), 0},
    {ctl::kContinuous, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "The step clock runs until stopped."), 0},
    {ctl::kManual, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "The step clock runs the number of steps in Steps, then stops."), 0},
    {ctl::kStepsEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Steps of a manual run, 1 to 255."), 0},
    {ctl::kStopLevel, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "The level the clock line is left at when a manual run ends: H (high) or L (low)."), 0},
    {ctl::kClkStart, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Starts or stops the step clock."), 0},
    {ctl::kDutyEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Duty cycle of the step clock, in %, 1 to 100 (0 gives 50 %)."), 0},
    {ctl::kDutySet, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Sends the duty cycle to the clock generator."), 0},
    {ctl::kChannelToggle, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Acquires and shows CH%1."), 1},
    {ctl::kChannelPopup, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CH%1 settings: name, colour and position (-5 to 5 divisions)."), 1},
    {ctl::kChannelSource, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "What CH%1 measures: a voltage (V), the coil current (A) or the supply current ICC (A)."), 1},
    {ctl::kChannelOutput, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "The driver output CH%1 is connected to."), 1},
    {ctl::kValuePerDivSpin, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "CH%1 scale per division: 100 mV to 50 V for a voltage, 100 mA to 10 A for a current."), 1},
    {ctl::kSecPerDivSpin, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Time per division, 500 ns to 50 ms."), 0},
    {ctl::kSamplingRate, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Sampling rate of the oscilloscope, 2.5 kHz to 10 MHz."), 0},
    {ctl::kAutoRate, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Keeps the sampling rate matched to the time per division."), 0},
    {ctl::kTriggerOn, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Trigger on: a sweep starts when the trigger channel crosses the level; off: free running."), 0},
    {ctl::kTriggerSlope, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Trigger slope: + on a rising edge, - on a falling edge."), 0},
    {ctl::kTriggerChannel, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Triggers on CH%1."), 1},
    {ctl::kVoltageLevelSlider, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Trigger level for a voltage channel, in V, -36 to 36 V."), 0},
    {ctl::kVoltageLevelEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Trigger level for a voltage channel, in V, -36 to 36 V; text without a number is refused."), 0},
    {ctl::kCurrentLevelSlider, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Trigger level for a current channel, in A, -6 to 6 A."), 0},
    {ctl::kCurrentLevelEdit, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Trigger level for a current channel, in A, -6 to 6 A; text without a number is refused."), 0},
    {ctl::kRun, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Starts or stops the acquisition."), 0},
    {ctl::kCalibrate, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Measures the zero offsets of the four channels (the acquisition must be stopped)."), 0},
    {ctl::kSavePicture, QT_TRANSLATE_NOOP("CTQ5170xHWPDlg", "Saves the chart as a JPEG picture."), 0},
};

} // namespace

namespace zelbo::app {

QList<int> boardControlIds()
{
    QList<int> ids;
    for (const Tip& t : kTips) {
        if (t.channel == 0) ids.append(t.id);
        else
            for (int ch = 0; ch < 4; ++ch) ids.append(t.id + ch);
    }
    return ids;
}

void applyToolTips(CTQ5170xHWPDlg& window)
{
    for (const Tip& t : kTips) {
        const QString text = QCoreApplication::translate("CTQ5170xHWPDlg", t.text);
        if (t.channel == 0) {
            if (QWidget* w = window.control(t.id)) w->setToolTip(text);
            continue;
        }
        for (int ch = 0; ch < 4; ++ch)
            if (QWidget* w = window.control(t.id + ch)) w->setToolTip(text.arg(ch + 1));
    }
}

} // namespace zelbo::app
