#pragma once
// The static drive state of the driver IC and the step clock: mode and supply,
// the five pins, the VREF / MTH / CLK columns, the sense-resistor settings and
// the derived output current, the clock-generator controls, and every register
// sequence that brings them to the board.
//
// The core holds the field texts exactly as the windows show them (and as the
// settings file stores them); windows write user edits into it, call the
// commit operations and redraw from it when `changed` fires. Not thread-safe:
// everything runs on the GUI thread, including the handling of read-back
// answers, which the hub forwards there.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "common/message_service.h"
#include "drive/clock.h"
#include "drive/column.h"
#include "drive/dac.h"
#include "drive/pins.h"
#include "common/command_port.h"
#include "common/fpga_registers.h"

namespace zelbo::drive {

// What changed, as bits of the `changed` signal's argument.
namespace aspect {
inline constexpr unsigned kColumns = 0x01; // value texts, limits, sliders
inline constexpr unsigned kRnf = 0x02;     // RNF text, rate text, Io
inline constexpr unsigned kPins = 0x04;    // pin levels, PS indicator, excitation text
inline constexpr unsigned kChips = 0x08;   // chip names, selection, excitation text
inline constexpr unsigned kClock = 0x10;   // run mode, steps, stop level, run toggles, duty
inline constexpr unsigned kMode = 0x20;    // mode, mode label, supply
inline constexpr unsigned kAll = 0x3F;
} // namespace aspect

inline constexpr const char* kModeChangeWarning = "Warning: Changing modes will reset settings.";

// The parts of the program outside the drive that a mode change touches. Every
// member may be left empty.
struct ModeChangeHooks {
    std::function<bool()> scopeRunning;           // is the oscilloscope's "Run" checked?
    std::function<void()> stopScope;              // uncheck "Run" and stop the acquisition
    std::function<void()> startScope;             // check "Run" and start it again
    std::function<void()> resetScopeOutputNames;  // "OUT1A", "OUT1B", "OUT2A", "OUT2B"
    std::function<void()> startThermometer;       // the 1000 ms temperature timer
    std::function<void()> clearChartOrigin;       // the chart's time origin
};

class DriveCore {
public:
    DriveCore(link::CommandPort& port, MessageService& messages);

    // Fires after every operation with the aspects it changed.
    boost::signals2::signal<void(unsigned)> changed;
    // Fires when a committed value field was refused or limited, with the
    // sentence for the status bar.
    boost::signals2::signal<void(const std::string&)> entryNote;

    // ---- mode and supply -------------------------------------------------
    int mode() const { return mode_; }
    // "Stepping Clk-In" in mode 0.
    std::string modeLabel() const;
    // Mode 0 shows the Clk-In controls of the main window and hides the duty
    // row and the fourth slider.
    bool clkInControlsVisible() const { return mode_ == 0; }
    Vcc vcc() const { return vcc_; }
    std::uint16_t pinHighLevel() const { return pinHighLevel_; }

    // Settings restore: mode (0..2; anything else is ignored) and supply,
    // without any board traffic.
    void loadMode(int mode);
    void loadVcc(Vcc vcc);

    // Supply register, then every pin with its level, 50 ms apart.
    void applyVccAndPins();
    // Every pin's DAC channel from the pin levels, in pin order, `gap` apart
    // (the board then matches the radios, whatever text the levels came from).
    void sendPins(std::chrono::milliseconds gap);
    // One pin's DAC channel from its level.
    void sendPin(Pin pin);
    // OK of the mode dialog with the selector's index and supply choice.
    // Returns false when the user cancelled the warning: nothing was changed
    // then, and the selector goes back to mode().
    bool changeMode(int requestedMode, Vcc vcc, const ModeChangeHooks& hooks = {});
    // All pin and reference DAC outputs to 0, the clock off, the scope front
    // end to its idle values.
    void clearDacOutputs() { clearDacOutputs(port_); }
    // The same through another port (the link's start writes it this way).
    void clearDacOutputs(link::CommandPort& port) const;
    // Every drive setting back to its default (no board traffic).
    void reset(const ModeChangeHooks& hooks = {});

    // ---- pins ------------------------------------------------------------
    bool pinHigh(Pin pin) const { return pins_[static_cast<int>(pin)]; }
    // "0"/"1" per pin in the order PS, ENABLE, MODE0, MODE1, CW/CCW.
    std::string pinStateText() const;
    // A pin radio or pin slider of the pin panel: loads the pin's DAC channel.
    void setPin(Pin pin, bool high);
    // A pin DAC write from the pin panel or from advance mode.
    void handlePinDacRequest(const PinDacRequest& request);
    // The main window's PS indicator (follows mirrored PS writes).
    bool psIndicatorHigh() const { return psIndicator_; }
    // Settings restore: exactly five characters, each digit above 0 is High.
    // Anything else leaves the pins alone (false). No board traffic.
    bool loadPinStateText(std::string_view text);

    // ---- chips and excitation mode ---------------------------------------
    // The chip list in file order (the default chip stands in for an empty one).
    void setChipList(std::vector<ChipEntry> chips);
    const std::vector<ChipEntry>& chipList() const { return chips_; }
    // Fill the "Chip Name" list with the chips of a mode and select the first.
    void fillChipNames(int mode);
    const std::vector<std::string>& chipNames() const { return chipNames_; }
    int selectedChipIndex() const { return selectedChip_; }
    std::string selectedChipName() const;
    // Select a name of the list and take its coefficients.
    void selectChip(int index);
    double chipA() const { return chipA_; }
    double chipB() const { return chipB_; }
    std::string excitationText() const;

    // ---- VREF / MTH / CLK columns ------------------------------------------
    const Column& column(ColumnId id) const { return columns_[static_cast<int>(id)]; }
    // Field edits (no effect until committed).
    void setValueText(ColumnId id, std::string text);
    void setLimitText(ColumnId id, Limit which, std::string text);
    // The value field lost focus: clamp, grid, slider, text, DAC / clock.
    void commitValue(ColumnId id);
    // The column's slider moved to pos.
    void sliderMoved(ColumnId id, int pos);
    // A limit field lost focus: correct it, re-range, re-commit the value.
    void commitLimit(ColumnId id, Limit which);
    // Value fields from the slider positions (after a reset).
    void refreshClockDisplay();
    double vref() const { return vref_; }
    double clockFrequency() const { return column(ColumnId::Clk).value(); }
    // Settings restore of the value texts: VREF and clock frequency follow the
    // leading number of their text; no board traffic.
    void loadValueText(ColumnId id, std::string text);
    // A front end without sliders (the session) sets what the hardware can
    // make rather than a grid value: the text and value as given, no clamp,
    // no grid, no slider move, then the DAC or clock registers as a commit
    // writes them. The caller brings `v` to the DAC code or the generator's
    // period first.
    void setExactValue(ColumnId id, double v);
    // Commit VREF, MTH and CLK again (each followed by a 50 ms pause), so the
    // board gets the values the fields show.
    void recommitValues();
    // DAC code of a reference voltage: its millivolts, truncated.
    static std::uint16_t referenceCode(double volts);

    // ---- sense resistor ----------------------------------------------------
    const std::string& rnfText() const { return rnfText_; }
    double rnfValue() const { return rnf_; }
    void setRnfText(std::string text) { rnfText_ = std::move(text); }
    // Settings restore: the text as stored, the value its leading number.
    void loadRnfText(std::string text);
    // 0.01..1.00 ohm, "%0.2f", Io recomputed.
    void commitRnf();
    int rateIndex() const { return rateIndex_; }
    int rateDivisor() const { return 10 - rateIndex_; }
    const std::string& rateText() const { return rateText_; }
    // The spin button moved to index (kept within 0..9).
    void setRateIndex(int index);
    // Settings restore: the text is shown; an exact table text also selects
    // its index and divisor (true).
    bool loadRateText(std::string text);
    static const char* rateTextOf(int index);
    double io() const { return io_; }           // mA
    const std::string& ioText() const { return ioText_; } // "%.0f m"

    // ---- step clock --------------------------------------------------------
    bool manual() const { return manual_; }
    void setManual(bool manual);                  // "Continuous" / "Manual" clicked
    const std::string& stepsText() const { return stepsText_; }
    // Every edit of "Steps:": returns the text the field must show.
    const std::string& editSteps(std::string text);
    bool stopHigh() const { return stopHigh_; }
    const char* stopLevelCaption() const { return stopHigh_ ? "H" : "L"; }
    void setStopHigh(bool high);
    bool clockRunning() const { return clockRunning_; }
    const char* clockRunCaption() const { return clockRunning_ ? "Stop" : "Start"; }
    // The CLK "Start" toggle, now checked (start) or unchecked (stop).
    void setClockRunning(bool run);
    bool secondRunning() const { return secondRunning_; }
    const char* secondRunCaption() const { return secondRunning_ ? "Stop" : "Start"; }
    void setSecondRunning(bool run);
    // The board ended that run: the toggle goes off, nothing is written.
    void secondRunEnded();
    // Enabled states of the clock group's controls.
    bool runModeEnabled() const { return !clockRunning_; }
    bool stepsEnabled() const { return manual_ && !clockRunning_; }
    bool stepsLabelsEnabled() const { return manual_; }

    const std::string& dutyText() const { return dutyText_; }
    // The text as typed; the last one that held a number is what a refused
    // commit goes back to.
    void setDutyText(std::string text);
    // The duty field lost focus: duty slider, text, clock registers.
    void commitDuty();
    int dutySliderMax() const { return 1000; }
    int dutySliderPosition() const { return dutyPos_; }
    int dutyPageStep() const { return 50; }

    // N and D from the clock frequency and duty, to the period and high-time
    // registers, and the control register.
    void sendClockRegisters();
    // Thermometer tick: while "Manual" is checked, ask for register 0x90.
    // Returns whether a read was queued.
    bool requestClockState();
    // Answer of register 0x90: bit 0 clear ends a counted run. Returns whether
    // the run toggle went off.
    bool onClockControlRead(std::uint8_t value);

    // Settings restore of the clock rows (no board traffic): run mode 0 / 1
    // (others ignored), steps text as stored, stop level 0 = L, else H.
    void loadRunMode(int value);
    void loadStepsText(std::string text);
    void loadStopLevel(int value);

private:
    void notify(unsigned aspects) { changed(aspects); }
    void recomputeIo();
    void resetState();
    void applyReferenceEffects(ColumnId id, double v);

    link::CommandPort& port_;
    MessageService& messages_;

    int mode_ = 0;
    Vcc vcc_ = Vcc::V5_0;
    std::uint16_t pinHighLevel_ = 2500;
    std::array<bool, kPinCount> pins_{};
    bool psIndicator_ = false;

    std::vector<ChipEntry> chips_;
    std::vector<std::string> chipNames_;
    int selectedChip_ = -1;
    double chipA_ = 0.0;
    double chipB_ = 1.0;

    std::array<Column, 3> columns_{Column(ColumnId::Vref), Column(ColumnId::Mth), Column(ColumnId::Clk)};
    double vref_ = 0.0;

    std::string rnfText_;
    double rnf_ = 0.2;
    int rateIndex_ = 5;
    std::string rateText_;
    double io_ = 0.0;
    std::string ioText_;

    bool manual_ = false;
    std::string stepsText_ = "1";
    bool stopHigh_ = false;
    bool clockRunning_ = false;
    bool secondRunning_ = false;
    std::string dutyText_ = "50.0";
    std::string dutyGood_ = "50.0";
    int dutyPos_ = 500;
};

} // namespace zelbo::drive
