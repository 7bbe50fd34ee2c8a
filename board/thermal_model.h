#pragma once
// The DUT's junction temperature and the FPGA's temperature ADC.
//
// The driver dissipates the coil currents in its output bridges (one high
// and one low switch of on-resistance kBridgeOhms in series per winding)
// plus its quiescent current from the motor supply. The junction follows
// ambient plus thermal resistance times that power with one first-order time
// constant. The die's diode gives Vf = A - B x Tj millivolts, which the ADC
// digitises at 0.25641 mV per code, 12 bits: bits 0..7 answer a read of 0x64,
// bits 8..11 a read of 0x65, each converted when it is read.

#include "board/fpga_block.h"
#include "board/sim_board_test.h"

#include <cstdint>
#include <optional>

namespace simboard {

class ChamberModel;

class ThermalModel : public FpgaBlock {
public:
    static constexpr std::uint8_t kCodeLow = 0x64;
    static constexpr std::uint8_t kCodeHigh = 0x65;
    static constexpr double kMillivoltsPerCode = 0.25641;
    static constexpr double kBridgeOhms = 1.0;        // high plus low switch
    static constexpr double kKelvinPerWatt = 30.0;    // junction to ambient
    static constexpr double kDefaultAmbient = 25.0;
    static constexpr double kDefaultTimeConstant = 20.0; // seconds
    static constexpr double kDefaultDiodeA = 672.29;  // mV at 0 degrees
    static constexpr double kDefaultDiodeB = 2.0836;  // mV per degree

    using FpgaBlock::FpgaBlock;

    // A new configuration starts with the die at ambient.
    void reset() override;
    std::optional<std::uint8_t> onRead(std::uint8_t reg) override;
    void advance(std::int64_t fromNs, std::int64_t toNs) override;

    // Board reset: the default ambient, time constant and diode.
    void restoreDefaults();
    // Also puts the die at the new ambient.
    void setModel(double ambientCelsius, double timeConstantSeconds);
    void setDiode(double a, double b);
    // The chamber whose air is the ambient from now on (nullptr: a fixed one).
    void setAmbientSource(ChamberModel* chamber);
    ThermalState state(std::int64_t nowNs) const;

private:
    double powerWatts(std::int64_t nowNs) const;
    std::uint16_t code() const;

    double ambient_ = kDefaultAmbient;
    double tau_ = kDefaultTimeConstant;
    double a_ = kDefaultDiodeA;
    double b_ = kDefaultDiodeB;
    double tj_ = kDefaultAmbient;
    ChamberModel* chamber_ = nullptr;
};

} // namespace simboard
