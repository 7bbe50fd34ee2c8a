#pragma once
// The fixed tables of the oscilloscope front end and the arithmetic that turns
// raw converter codes into volts or amperes and trigger levels into codes.
// Everything here is constexpr or pure so that the GUI thread and the board
// reader thread can share it without locking.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/fpga_registers.h"

namespace zelbo::scope {

inline constexpr int kChannels = 4;
inline constexpr std::size_t kSamplesPerSweep = 4096;
inline constexpr std::size_t kCaptureBytes = 8192; // one channel's capture block

// Channel configuration byte bits.
inline constexpr std::uint8_t kCfgArmed = 0x01;
inline constexpr std::uint8_t kCfgAlwaysOne = 0x04;
inline constexpr std::uint8_t kCfgIcc = 0x08;
inline constexpr std::uint8_t kCfgCurrent = 0x10;

enum class Source : std::uint8_t { Voltage = 0, Current = 1, Icc = 2 };

struct TimeBaseEntry {
    std::string_view text;
    double usPerDiv;
};

struct SampleRateEntry {
    std::string_view text;
    double periodUs;
    std::uint16_t divider; // sample period / 25 ns - 4 (40 MHz sampling clock)
};

struct ScaleEntry {
    std::string_view text;
    double value; // units of 10 mV (or 10 mA) per division
};

inline constexpr std::array<TimeBaseEntry, 25> kTimeBases{{
    {"500 ns", 0.5},      {"1 µs", 1},          {"2.5 µs", 2.5},      {"5 µs", 5},
    {"10 µs", 10},        {"25 µs", 25},        {"50 µs", 50},        {"100 µs", 100},
    {"250 µs", 250},      {"500 µs", 500},      {"1 ms", 1000},       {"2.5 ms", 2500},
    {"5 ms", 5000},       {"10 ms", 10000},     {"25 ms", 25000},     {"50 ms", 50000},
    {"100 ms", 100000},   {"250 ms", 250000},   {"500 ms", 500000},   {"1 s", 1000000},
    {"2.5 s", 2500000},   {"5 s", 5000000},     {"10 s", 10000000},   {"25 s", 25000000},
    {"50 s", 50000000},
}};

// The spin box offers every time base, but the handler keeps the index at or
// below this one: slower time bases exceed what one 4096-sample sweep covers.
inline constexpr int kMaxUsableTimeBase = 15;

// Entry 6 is labelled "150 kHz" but runs with a 6.25 us period (160 kHz):
// the divider has to be an integer and 246 is what the board uses.
inline constexpr std::array<SampleRateEntry, 16> kSampleRates{{
    {"2.5 kHz", 400, 15996}, {"5 kHz", 200, 7996},  {"10 kHz", 100, 3996},  {"25 kHz", 40, 1596},
    {"50 kHz", 20, 796},     {"100 kHz", 10, 396},  {"150 kHz", 6.25, 246}, {"200 kHz", 5, 196},
    {"500 kHz", 2, 76},      {"1 MHz", 1, 36},      {"2 MHz", 0.5, 16},     {"2.5 MHz", 0.4, 12},
    {"4 MHz", 0.25, 6},      {"5 MHz", 0.2, 4},     {"8 MHz", 0.125, 1},    {"10 MHz", 0.1, 0},
}};

inline constexpr std::array<ScaleEntry, 9> kVoltScales{{
    {"100 mV", 10}, {"200 mV", 20}, {"500 mV", 50}, {"1 V", 100}, {"2 V", 200},
    {"5 V", 500},   {"10 V", 1000}, {"20 V", 2000}, {"50 V", 5000},
}};

inline constexpr std::array<ScaleEntry, 7> kCurrentScales{{
    {"100 mA", 10}, {"200 mA", 20}, {"500 mA", 50}, {"1 A", 100}, {"2 A", 200}, {"5 A", 500}, {"10 A", 1000},
}};

// "Auto" links between the two horizontal settings.
inline constexpr std::array<std::uint8_t, 25> kTimeBaseToRate{
    15, 15, 15, 15, 15, 15, 14, 12, 9, 8, 7, 6, 4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
inline constexpr std::array<std::uint8_t, 16> kRateToTimeBase{16, 15, 14, 13, 12, 11, 11, 10,
                                                              9,  8,  7,  7,  7,  6,  6,  5};

// Start-up defaults.
inline constexpr int kDefaultTimeBase = 11;   // "2.5 ms"
inline constexpr int kDefaultSampleRate = 6;  // "150 kHz"
inline constexpr int kDefaultValuePerDiv = 7; // "20 V"

// Full scale of the converter: +-18 V per unit for voltage (x2 = 36 V) and
// +-3.11 A per unit for current and ICC.
inline constexpr double kVoltFullScale = 18.0;
inline constexpr double kAmpFullScale = 3.11;

// Trigger level sliders: positions 0..4096 cover 36 V .. -36 V, and 0..928
// cover 6 A .. -6 A.
inline constexpr int kVoltSliderMax = 4096;
inline constexpr int kAmpSliderMax = 928;
inline constexpr double kVoltSliderStep = 36.0 / 2048.0;
inline constexpr double kAmpSliderStep = 6.0 / 464.0;
inline constexpr double kVoltLevelTop = 36.0;
inline constexpr double kAmpLevelTop = 6.0;

inline constexpr int scaleCount(Source s) { return s == Source::Voltage ? 9 : 7; }
inline constexpr const ScaleEntry& scaleEntry(Source s, int index)
{
    return s == Source::Voltage ? kVoltScales[static_cast<std::size_t>(index)]
                                : kCurrentScales[static_cast<std::size_t>(index)];
}

// Fixed direction sign of a channel measuring a voltage: CH1 and CH3 look at
// an "A" output, CH2 and CH4 at a "B" output.
inline constexpr double fixedDirection(int channel) { return (channel % 2 == 0) ? 1.0 : -1.0; }
inline constexpr int fixedOutput(int channel) { return channel % 2; }

// A table's entry by its text as a script writes it: blanks and case do not
// count, and "u" stands for "µ" ("2.5ms", "10 us", "1 mhz"). -1 when none.
inline std::string tableKey(std::string_view text)
{
    std::string k;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB5) {
            k += 'u';
            ++i;
        } else if (c != ' ') {
            k += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    return k;
}
template <class Table> int indexOfText(const Table& table, std::string_view text)
{
    const std::string key = tableKey(text);
    for (std::size_t i = 0; i < table.size(); ++i)
        if (tableKey(table[i].text) == key) return static_cast<int>(i);
    return -1;
}

// "OUT1A", "OUT1B" for CH1/CH2; "OUT2A", "OUT2B" for CH3/CH4.
std::string outputText(int channel, int outputIndex);
std::string channelKey(int channel); // "CH1".."CH4"
// "Voltage", "Current" or "ICC", as recordings and data exports name a source.
const char* sourceText(Source s);

inline constexpr std::uint8_t sourceBits(Source s)
{
    switch (s) {
    case Source::Voltage: return 0;
    case Source::Current: return kCfgCurrent;
    case Source::Icc: return kCfgCurrent | kCfgIcc;
    }
    return 0;
}

// One 10-bit two's-complement sample from its two bytes (most significant
// first; only bits 0..1 of the first byte count).
inline constexpr int decodeSample(std::uint8_t hi, std::uint8_t lo)
{
    const int u = ((hi & 0x03) << 8) | lo;
    return u >= 512 ? u - 1024 : u;
}

// Converter code to physical value before offsets: positive codes scale by
// 511, negative by 512, so both ends reach full scale exactly.
inline constexpr double scaleRaw(int raw, double fullScale)
{
    const double k = raw < 0 ? 512.0 : 511.0;
    return (2.0 / k) * raw * fullScale;
}

// The longest trigger holdoff accepted, in milliseconds.
inline constexpr double kMaxHoldoffMs = 10000.0;

// Trigger code (12 bits, 0x800 = zero) of a level. `x` is the compared
// quantity (the level, already sign-corrected for a current on a "B"
// output), `offset` the channel's calibration offset. Levels beyond the
// register's range are clamped instead of wrapping.
int triggerCode(double x, double offset, double fullScale);

// "%.3f" without depending on the C locale.
std::string formatLevel(double value);
// A decimal number at the start of `text` (leading blanks allowed); anything
// that is not a finite number reads as 0.
double parseLevel(std::string_view text);

// Trigger slider <-> level.
double sliderToLevel(int position, double top, double step);
int levelToSlider(double level, double top, double step, int maxPosition);

} // namespace zelbo::scope
