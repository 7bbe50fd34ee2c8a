#pragma once
// The device under test: a stepping-motor driver in clock-input mode. Its
// pins, references and supply come from the board DAC and the supply switch;
// each rising edge of its CLK input advances the electrical position by the
// excitation mode's step in the CW/CCW direction, and the coil currents follow
// the position's sine/cosine table scaled by VREF and the sense resistor.
//
// What a probe sees on the driver's pins is kept as a table per electrical
// position, rebuilt whenever an input changes: the winding currents, the
// chopped output voltages from the 24 V motor supply and the supply current.
// Within one position every probe point is a periodic function of the phase
// in the chopping period, a step function with at most three levels, so the
// scope can sample it without any trigonometry or allocation.

#include "board/fpga_block.h"
#include "board/sim_board_test.h"

#include <array>
#include <cstdint>

namespace simboard {

class StepperDut : public FpgaBlock {
public:
    static constexpr int kPositions = 16; // one electrical cycle
    static constexpr int kHome = 2;       // 45 degrees: valid in every mode
    static constexpr double kMotorVolts = 24.0;
    static constexpr double kCoilOhms = 4.0;
    static constexpr double kQuiescentAmps = 0.005;
    // The chopper's fixed-frequency oscillator: every period starts with the
    // bridge on and switches to slow decay once the current is reached.
    static constexpr std::int64_t kChopPeriodNs = 20'000;
    static constexpr double kMinDuty = 0.05; // blanking: the shortest on-time
    // Logic input thresholds in tenths of the supply (CMOS levels).
    static constexpr int kInputHighTenths = 7; // VIH = 0.7 x VDUT
    static constexpr int kInputLowTenths = 3;  // VIL = 0.3 x VDUT

    // The points a scope channel can be connected to.
    enum Probe : int { kOut1A, kOut1B, kOut2A, kOut2B, kCoil1, kCoil2, kIcc, kProbes };

    // One probe point at one position, over one chopping period of phase
    // p (0 <= p < kChopPeriodNs): v0 for p < b1, v1 for b1 <= p < b2, v2 after.
    // Volts for the outputs, amperes for the windings and the supply current.
    struct Waveform {
        double v0 = 0, v1 = 0, v2 = 0;
        std::int64_t b1 = kChopPeriodNs, b2 = kChopPeriodNs;
        double at(std::int64_t phase) const { return phase < b1 ? v0 : (phase < b2 ? v1 : v2); }
    };

    using FpgaBlock::FpgaBlock;

    void reset() override;
    void onWrite(std::uint8_t reg, std::uint8_t value) override;

    // `n` rising edges on CLK.
    void clockEdges(std::uint64_t n);
    void setSense(double ohms, double divisor);
    // The state at board time `nowNs` (the output voltages and supply current
    // are instantaneous, so they depend on the chopping phase).
    DutState state(std::int64_t nowNs) const;

    // The position `edges` more rising edges would reach with the inputs as
    // they are now.
    int positionAfter(std::uint64_t edges) const;
    int position() const { return position_; }
    // Whether clock edges move it now (powered, so the translator runs).
    bool stepping() const { return powered(); }
    const Waveform& waveform(Probe probe, int position) const { return table_[position][probe]; }
    // Changes whenever the table is rebuilt.
    std::uint64_t tableGeneration() const { return generation_; }

private:
    void refreshInputs();
    void rebuildTable();
    bool powered() const { return supplyMv_ > 0 && enable_; }
    int mode() const { return (mode0_ ? 1 : 0) + (mode1_ ? 2 : 0); }
    double amplitude() const;
    bool pin(std::uint8_t channel, bool last) const;

    int supplyMv_ = 0;
    bool ps_ = false, enable_ = false, mode0_ = false, mode1_ = false, cw_ = false;
    int position_ = kHome;
    std::int64_t steps_ = 0;
    double senseOhms_ = 0.2;
    double divisor_ = 5.0;
    std::array<std::array<Waveform, kProbes>, kPositions> table_{};
    std::uint64_t generation_ = 0;
};

} // namespace simboard
