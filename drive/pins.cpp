#include "drive/pins.h"

#include <cctype>
#include <utility>

namespace zelbo::drive {

DacChannel pinChannel(Pin pin)
{
    switch (pin) {
    case Pin::Ps: return DacChannel::Ps;
    case Pin::Enable: return DacChannel::Enable;
    case Pin::Mode0: return DacChannel::Mode0;
    case Pin::Mode1: return DacChannel::Mode1;
    case Pin::CwCcw: break;
    }
    return DacChannel::CwCcw;
}

const char* pinName(Pin pin)
{
    switch (pin) {
    case Pin::Ps: return "PS";
    case Pin::Enable: return "ENABLE";
    case Pin::Mode0: return "MODE0";
    case Pin::Mode1: return "MODE1";
    case Pin::CwCcw: break;
    }
    return "CW/CCW";
}

std::uint16_t pinHighLevel(Vcc vcc) { return vcc == Vcc::V3_3 ? 1650 : 2500; }

std::uint8_t supplyRegisterValue(Vcc vcc) { return vcc == Vcc::V3_3 ? 0xE1 : 0xE3; }

ChipEntry defaultChip() { return ChipEntry{0, "TQ40000PLXV", 672.29, 2.0836, {}}; }

const char* builtInExcitationName(bool mode0High, bool mode1High)
{
    static const char* const names[4] = {"Full Step", "Half Step A", "Half Step B", "Quarter Step"};
    return names[(mode0High ? 1 : 0) + (mode1High ? 2 : 0)];
}

std::optional<Pin> pinByName(std::string_view name)
{
    static const std::pair<const char*, Pin> pins[] = {
        {"ps", Pin::Ps},       {"enable", Pin::Enable}, {"mode0", Pin::Mode0},  {"mode1", Pin::Mode1},
        {"cw", Pin::CwCcw},    {"cwccw", Pin::CwCcw},   {"cw/ccw", Pin::CwCcw}};
    std::string key;
    for (char c : name) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [n, pin] : pins)
        if (key == n) return pin;
    return std::nullopt;
}

std::optional<ExcitationPins> excitationByName(std::string_view name)
{
    static const std::pair<const char*, ExcitationPins> modes[] = {
        {"full", {false, false}}, {"half-a", {true, false}}, {"half-b", {false, true}},
        {"half", {true, false}},  {"quarter", {true, true}}};
    for (const auto& [n, m] : modes)
        if (name == n) return m;
    return std::nullopt;
}

} // namespace zelbo::drive
