#pragma once
// The board DAC that drives the five logic pins of the driver IC and its two
// analogue references. A channel is loaded with three register writes: the
// low byte of its 16-bit code, the high byte, then the channel code to the
// strobe register.

#include <cstdint>
#include <optional>

#include "common/command_port.h"
#include "common/fpga_registers.h"

namespace zelbo::drive {

enum class DacChannel : std::uint8_t {
    Mode1 = 128,
    Enable = 129,
    CwCcw = 130,
    Mode0 = 131,
    Spare = 132,
    Vref = 133,
    Mth = 134,
    Ps = 135,
};

struct DacRegisters {
    std::uint8_t low;
    std::uint8_t high;
};

// The low/high code registers of a channel code; nothing for a byte that is
// not one of the eight channels.
std::optional<DacRegisters> dacRegisters(std::uint8_t channel);

// Writes low byte, high byte and strobe. A byte that is no channel is not
// sent (false): strobing an unknown code would load whatever the FPGA makes
// of it.
bool loadDacChannel(link::CommandPort& port, std::uint8_t channel, std::uint16_t code);
inline bool loadDacChannel(link::CommandPort& port, DacChannel channel, std::uint16_t code)
{
    return loadDacChannel(port, static_cast<std::uint8_t>(channel), code);
}

} // namespace zelbo::drive
