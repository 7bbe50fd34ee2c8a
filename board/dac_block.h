#pragma once
// The board DAC behind the FPGA and the DUT supply switch.
//
// Each DAC channel is loaded by writing the low and high byte of its code to
// the channel's register pair and then the channel code (128..135) to the
// strobe register 26. Register 1 switches the DUT supply.

#include "board/fpga_block.h"

#include <array>
#include <cstdint>

namespace simboard {

class DacBlock : public FpgaBlock {
public:
    static constexpr std::uint8_t kStrobe = 26;
    static constexpr std::uint8_t kSupply = 1;
    enum Channel : std::uint8_t {
        kMode1 = 128,
        kEnable = 129,
        kCw = 130,
        kMode0 = 131,
        kSpare = 132,
        kVref = 133,
        kMth = 134,
        kPs = 135,
    };

    using FpgaBlock::FpgaBlock;

    void reset() override;
    void onWrite(std::uint8_t reg, std::uint8_t value) override;

    std::uint16_t code(std::uint8_t channel) const
    {
        return channel >= 128 && channel <= 135 ? codes_[channel - 128] : 0;
    }
    int supplyMillivolts() const { return supplyMv_; }

private:
    std::array<std::uint16_t, 8> codes_{};
    int supplyMv_ = 0;
};

} // namespace simboard
