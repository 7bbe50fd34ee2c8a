#pragma once
// The device under test: a stepping-motor driver in clock-input mode. Its
// pins, references and supply come from the board DAC and the supply switch;
// each rising edge of its CLK input advances the electrical position by the
// excitation mode's step in the CW/CCW direction, and the coil currents follow
// the position's sine/cosine table scaled by VREF and the sense resistor.

#include "board/fpga_block.h"
#include "board/sim_board_test.h"

#include <cstdint>

namespace simboard {

class StepperDut : public FpgaBlock {
public:
    static constexpr int kPositions = 16; // one electrical cycle
    static constexpr int kHome = 2;       // 45 degrees: valid in every mode

    using FpgaBlock::FpgaBlock;

    void reset() override;
    void onWrite(std::uint8_t reg, std::uint8_t value) override;

    // `n` rising edges on CLK.
    void clockEdges(std::uint64_t n);
    void setSense(double ohms, double divisor);
    DutState state() const;

private:
    void refreshInputs();
    bool powered() const { return supplyMv_ > 0 && enable_; }
    bool pin(std::uint8_t channel) const;

    int supplyMv_ = 0;
    bool ps_ = false, enable_ = false, mode0_ = false, mode1_ = false, cw_ = false;
    int position_ = kHome;
    std::int64_t steps_ = 0;
    double senseOhms_ = 0.2;
    double divisor_ = 5.0;
};

} // namespace simboard
