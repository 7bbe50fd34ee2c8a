#pragma once
// The five logic pins of the driver IC, the supply choice that sets their high
// level, the chip entries of the pin panel and the excitation-mode names.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "drive/dac.h"

namespace zelbo::drive {

enum class Pin { Ps = 0, Enable = 1, Mode0 = 2, Mode1 = 3, CwCcw = 4 };
inline constexpr int kPinCount = 5;
inline constexpr std::array<Pin, kPinCount> kPinOrder{Pin::Ps, Pin::Enable, Pin::Mode0, Pin::Mode1,
                                                      Pin::CwCcw};

DacChannel pinChannel(Pin pin);
const char* pinName(Pin pin); // "PS", "ENABLE", "MODE0", "MODE1", "CW/CCW"

enum class Vcc { V3_3, V5_0 };
// DAC code of a High pin: half the supply in millivolts.
std::uint16_t pinHighLevel(Vcc vcc);
// Supply register value: 0xE1 for 3.3 V, 0xE3 for 5.0 V.
std::uint8_t supplyRegisterValue(Vcc vcc);

// A pin DAC write asked for by the pin panel (mirror = true) or by advance
// mode (mirror = false). Mirrored PS writes also move the main window's PS
// indicator.
struct PinDacRequest {
    std::uint8_t channel = 0;
    std::uint32_t code = 0;
    bool mirror = true;
};

// One driver variant of the chip list.
struct ChipEntry {
    int mode = 0;
    std::string name;
    double a = 0.0; // temperature offset, mV
    double b = 1.0; // temperature slope, mV per degree
    std::array<std::string, 4> excitationNames{}; // indexed by 2 * MODE0 + MODE1
};

// The entry the pin panel offers when the chip list is empty.
ChipEntry defaultChip();

// The built-in names, indexed by MODE0 + 2 * MODE1: "Full Step", "Half Step A",
// "Half Step B", "Quarter Step".
const char* builtInExcitationName(bool mode0High, bool mode1High);

// The names a script or program gives the pins: "ps", "enable", "mode0",
// "mode1", "cw" ("cwccw", "cw/ccw"), any case.
std::optional<Pin> pinByName(std::string_view name);
// Excitation mode by name: "full", "half-a" ("half"), "half-b", "quarter".
struct ExcitationPins {
    bool mode0 = false;
    bool mode1 = false;
};
std::optional<ExcitationPins> excitationByName(std::string_view name);

} // namespace zelbo::drive
