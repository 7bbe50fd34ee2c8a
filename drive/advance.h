#pragma once
// Advance mode: the DUT's logic pins driven as continuous voltages. Six slider
// panels (PS, ENABLE, MODE0, MODE1, CW/CCW and the spare DAC output that the
// voltage sweep uses), the DUT supply chosen here, and the step clock run
// continuously, one step per "Trigger", or in the board's voltage-sweep mode.
//
// Each panel is a Column with its own limits (MAX follows the supply, STEP and
// MIN as the user sets them) and the main window's rules: a commit clamps into
// MIN..MAX, rounds to the STEP grid and places the slider. A panel value V
// goes to its DAC channel as trunc(V x 0.5 x 1000), half the millivolts, the
// scale of the pin high level.
//
// Not thread-safe: GUI thread only, like DriveCore, which it uses for the
// pins, the supply and the references it restores on leaving.

#include <array>
#include <cstdint>
#include <string>

#include <boost/signals2/signal.hpp>

#include "common/message_service.h"
#include "drive/column.h"
#include "drive/drive_core.h"
#include "common/command_port.h"
#include "common/fpga_registers.h"

namespace zelbo::drive {

inline constexpr const char* kAdvanceOpenQuestion =
    "Opening Advance Mode*. Continue?\n\n*Note that pin settings will be re-configured.";

// The voltage-sweep switch of the clock generator.
inline constexpr std::uint8_t kSweepOn = 128;

class AdvanceCore {
public:
    static constexpr int kPanels = 6;
    static constexpr int kSweepPanel = 5;

    // The clock requests the window sends to the main window.
    enum class ClockKind { Continuous = 0, OneStep = 1, Sweep = 2 };
    // The CLK group's radios.
    enum class ClockMode { Sweep, Continuous, SingleStep };

    AdvanceCore(link::CommandPort& port, MessageService& messages, DriveCore& drive);

    // Fires after every operation that changed what the window shows.
    boost::signals2::signal<void()> changed;
    // A refused or corrected entry in a panel, said on the status bar.
    boost::signals2::signal<void(const std::string&)> entryNote;

    // ---- panels ---------------------------------------------------------------
    // DAC channel of panel k: 135, 129, 131, 128, 130, 132; any other index
    // counts as the spare panel.
    static std::uint8_t panelChannel(int panel);
    static const char* panelLabel(int panel); // "PS" .. "CW/CCW", "SWEEP"
    // trunc(V x 0.5 x 1000), forgiving binary rounding, kept within 0..65535.
    static std::uint16_t dacCode(double volts);

    const Column& panel(int k) const { return panels_[index(k)]; }
    void setValueText(int k, std::string text);
    void setLimitText(int k, Limit which, std::string text);
    // The value field was committed: clamp, grid, slider, then the DAC.
    void commitValue(int k);
    // The slider moved to pos: value (range - pos) x STEP + MIN, then the DAC.
    void sliderMoved(int k, int pos);
    // A limit field was committed: MAX stays within the supply, then as in the
    // main window's columns; the value is committed again.
    void commitLimit(int k, Limit which);
    // The debug trace of the last panel value sent: "%d (%s)\n".
    const std::string& lastTrace() const { return trace_; }

    // ---- supply ---------------------------------------------------------------
    Vcc vdut() const { return vdut_; }
    // "5V" / "3.3V" clicked: the supply register gets 0xE1 | (2 for 5 V). MAX of every
    // panel follows; a panel above the new MAX comes down and is loaded again,
    // so no pin is left above the supply.
    void setVdut(Vcc vcc);

    // ---- clock ----------------------------------------------------------------
    ClockMode clockMode() const { return clockMode_; }
    void setClockMode(ClockMode mode);
    // "Trigger": one more step (single-step mode only).
    void trigger();
    bool sweepPanelEnabled() const { return clockMode_ == ClockMode::Sweep; }
    bool triggerEnabled() const { return clockMode_ == ClockMode::SingleStep; }
    // The main window's handling of a clock request; ignored while inactive.
    void clockRequest(ClockKind kind, int level);

    // ---- opening and leaving ----------------------------------------------------
    bool active() const { return active_; }
    // Asks the opening question; false when the user cancelled.
    bool confirmOpen();
    // Advance mode begins: on the first opening the supply choice and the five
    // pin panels come from the main window (a High pin at the supply's level,
    // clamped into the panel's range); on every opening the supply and the
    // five pin panels are loaded, so the board matches what the window shows.
    void activate();
    // The toggle was unchecked or the window closed: the sweep off, the clock
    // back to continuous, VREF / MTH / CLK committed again, then (inactive)
    // the main window's supply and pins.
    void leave();

private:
    static int index(int k) { return (k >= 0 && k < kPanels) ? k : kSweepPanel; }
    void sendPanel(int k);
    void applyMaxForSupply();
    std::string supplyMaxText() const;

    link::CommandPort& port_;
    MessageService& messages_;
    DriveCore& drive_;
    std::array<Column, kPanels> panels_;
    Vcc vdut_ = Vcc::V5_0;
    ClockMode clockMode_ = ClockMode::Continuous;
    bool active_ = false;
    bool opened_ = false;
    std::string trace_;
};

} // namespace zelbo::drive
