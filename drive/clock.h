#pragma once
// The step-clock generator of the board: period and high-time counts on the
// 40 MHz time base, the control register and the counted-run registers.

#include <cstdint>
#include <string_view>

#include "common/command_port.h"
#include "common/fpga_registers.h"

namespace zelbo::drive {

namespace clockreg {
inline constexpr std::uint8_t kControl = reg::kClockControl;
inline constexpr std::uint8_t kPeriod = reg::kClockPeriod;     // four bytes, LSB first
inline constexpr std::uint8_t kHighTime = reg::kClockHighTime; // four bytes, LSB first
inline constexpr std::uint8_t kStepCount = reg::kClockStepCount; // 0 = continuous
inline constexpr std::uint8_t kSecondRun = reg::kSecondRun;
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

// Writes N to 145..148, D to 149..152 and 144 <- 7 (running) or 6.
void writeClockRegisters(link::CommandPort& port, const ClockCounts& counts, bool running);

// Steps field rule: leading integer, 256 and above become 255, below 1 become 1.
int clampSteps(int steps);

} // namespace zelbo::drive
