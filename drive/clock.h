#pragma once
// The step-clock generator of the board: period and high-time counts on the
// 40 MHz time base, the control register and the counted-run registers.

#include <cstdint>
#include <string_view>

#include "common/command_port.h"
#include "common/fpga_registers.h"

namespace zelbo::drive {

// Values of the clock control and period registers.
namespace clockreg {
inline constexpr std::uint8_t kRun = 0x01;
inline constexpr std::uint8_t kRunStopHigh = 0x81;
inline constexpr std::uint8_t kPeriodRunning = 7; // written with the period
inline constexpr std::uint8_t kPeriodStopped = 6;
} // namespace clockreg

inline constexpr double kClockTimeBaseHz = 40'000'000.0;

struct ClockCounts {
    std::uint32_t period = 0;   // N
    std::uint32_t highTime = 0; // D
};

// Duty in percent from the "Duty" field: its leading integer, 0 counting as
// 50. Values outside 0..100 are brought inside (a high time longer than the
// period, or a negative one, means nothing to the generator).
int effectiveDuty(std::string_view dutyText);

// N = trunc(40 MHz / f - 1) (0 for f = 0 or no frequency), D = trunc(d / 100 * N).
ClockCounts clockCounts(double frequencyHz, int dutyPercent);

// The slowest clock a front end may ask for: N stays within 32 bits down to
// about 0.0094 Hz. The fastest is the CLK column's top (100 kHz).
inline constexpr double kClockMinHz = 0.01;
// The longest counted run a front end chains from the board's runs of at
// most 255 steps.
inline constexpr long long kMaxCountedSteps = 1'000'000'000;

// The frequency the generator makes for a request of `hertz`: 40 MHz / (N + 1)
// with N from clockCounts, as the largest double not above it whose own N is
// the same (so that storing it and computing N again gives the same period).
// 0 when N would be 0 (no clock).
double generatorFrequency(double hertz);

// Writes N to the period registers, D to the high-time registers (each four
// bytes, LSB first) and the control register 7 (running) or 6.
void writeClockRegisters(link::CommandPort& port, const ClockCounts& counts, bool running);

// Whether a register answer tells that a counted run has ended: the control
// register read back with its run bit clear.
inline bool clockRunEnded(std::uint8_t reg, std::uint8_t value)
{
    return reg == reg::kClockControl && (value & clockreg::kRun) == 0;
}

// Steps field rule: leading integer, 256 and above become 255, below 1 become 1.
int clampSteps(int steps);

} // namespace zelbo::drive
