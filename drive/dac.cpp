#include "drive/dac.h"

namespace zelbo::drive {

std::optional<DacRegisters> dacRegisters(std::uint8_t channel)
{
    switch (static_cast<DacChannel>(channel)) {
    case DacChannel::Mode1: return DacRegisters{40, 41};
    case DacChannel::Enable: return DacRegisters{36, 37};
    case DacChannel::CwCcw: return DacRegisters{32, 33};
    case DacChannel::Mode0: return DacRegisters{38, 39};
    case DacChannel::Spare: return DacRegisters{42, 43};
    case DacChannel::Vref: return DacRegisters{23, 24};
    case DacChannel::Mth: return DacRegisters{21, 22};
    case DacChannel::Ps: return DacRegisters{34, 35};
    }
    return std::nullopt;
}

bool loadDacChannel(link::CommandPort& port, std::uint8_t channel, std::uint16_t code)
{
    const auto regs = dacRegisters(channel);
    if (!regs) return false;
    port.queueWrite(regs->low, static_cast<std::uint8_t>(code & 0xFF));
    port.queueWrite(regs->high, static_cast<std::uint8_t>(code >> 8));
    port.queueWrite(kDacStrobeRegister, channel);
    return true;
}

} // namespace zelbo::drive
