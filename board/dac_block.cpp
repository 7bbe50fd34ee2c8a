#include "board/dac_block.h"

#include "board/fpga.h"

namespace simboard {
namespace {

// Low-byte register of each channel 128..135; the high byte follows it.
constexpr std::uint8_t kLowRegister[8] = {40, 36, 32, 38, 42, 23, 21, 34};

} // namespace

void DacBlock::reset()
{
    codes_.fill(0);
    supplyMv_ = 0;
}

void DacBlock::onWrite(std::uint8_t reg, std::uint8_t value)
{
    if (reg == kSupply) {
        switch (value) {
        case 0xE0: supplyMv_ = 0; break;
        case 0xE1: supplyMv_ = 3300; break;
        case 0xE3: supplyMv_ = 5000; break;
        default: break; // not a supply setting: the switch keeps its state
        }
        return;
    }
    if (reg != kStrobe || value < 128 || value > 135) return;
    const std::uint8_t lo = kLowRegister[value - 128];
    const auto code = static_cast<std::uint16_t>(fpga_.reg(lo) | (fpga_.reg(static_cast<std::uint8_t>(lo + 1)) << 8));
    codes_[value - 128] = code;
    LogEvent e;
    e.kind = LogEvent::Kind::DacLoad;
    e.timeNs = fpga_.nowNs();
    e.code = value;
    e.value = code;
    fpga_.log().add(e);
}

} // namespace simboard
