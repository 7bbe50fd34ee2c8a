#include "drive/dac.h"

namespace zelbo::drive {

std::optional<DacRegisters> dacRegisters(std::uint8_t channel)
{
    switch (static_cast<DacChannel>(channel)) {
    case DacChannel::Mode1: return DacRegisters{reg::kDacMode1Low, reg::kDacMode1High};
    case DacChannel::Enable: return DacRegisters{reg::kDacEnableLow, reg::kDacEnableHigh};
    case DacChannel::CwCcw: return DacRegisters{reg::kDacCwCcwLow, reg::kDacCwCcwHigh};
    case DacChannel::Mode0: return DacRegisters{reg::kDacMode0Low, reg::kDacMode0High};
    case DacChannel::Spare: return DacRegisters{reg::kDacSpareLow, reg::kDacSpareHigh};
    case DacChannel::Vref: return DacRegisters{reg::kDacVrefLow, reg::kDacVrefHigh};
    case DacChannel::Mth: return DacRegisters{reg::kDacMthLow, reg::kDacMthHigh};
    case DacChannel::Ps: return DacRegisters{reg::kDacPsLow, reg::kDacPsHigh};
    }
    return std::nullopt;
}

bool loadDacChannel(link::CommandPort& port, std::uint8_t channel, std::uint16_t code)
{
    const auto regs = dacRegisters(channel);
    if (!regs) return false;
    port.queueWrite(regs->low, static_cast<std::uint8_t>(code & 0xFF));
    port.queueWrite(regs->high, static_cast<std::uint8_t>(code >> 8));
    port.queueWrite(reg::kDacStrobe, channel);
    return true;
}

} // namespace zelbo::drive
