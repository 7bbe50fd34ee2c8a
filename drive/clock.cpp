#include "drive/clock.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace zelbo::drive {

int effectiveDuty(std::string_view dutyText)
{
    const int d = std::clamp(parseLeadingInt(dutyText), 0, 100);
    return d == 0 ? 50 : d;
}

ClockCounts clockCounts(double f, int dutyPercent)
{
    ClockCounts c;
    // A negative frequency (only a hand-edited settings file can bring one)
    // is no clock at all; a very low one saturates the 32-bit counter.
    if (!std::isfinite(f) || !(f > 0.0)) return c;
    const double n = std::trunc(kClockTimeBaseHz / f - 1.0);
    c.period = n >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(std::max(0.0, n));
    if (c.period != 0) {
        const auto d = static_cast<std::uint64_t>(std::clamp(dutyPercent, 0, 100));
        // Integer arithmetic: d / 100 * N without binary rounding error.
        c.highTime = static_cast<std::uint32_t>(d * c.period / 100u);
    }
    return c;
}

double generatorFrequency(double hertz)
{
    const std::uint32_t n = clockCounts(hertz, 50).period;
    if (n == 0) return 0.0;
    double f = kClockTimeBaseHz / (static_cast<double>(n) + 1.0);
    // 40 MHz / f - 1 may come out a hair under N in doubles.
    for (int i = 0; i < 16 && clockCounts(f, 50).period != n; ++i) f = std::nextafter(f, 0.0);
    return f;
}

void writeClockRegisters(link::CommandPort& port, const ClockCounts& counts, bool running)
{
    for (int i = 0; i < 4; ++i)
        port.queueWrite(static_cast<std::uint8_t>(reg::kClockPeriod + i),
                        static_cast<std::uint8_t>(counts.period >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        port.queueWrite(static_cast<std::uint8_t>(reg::kClockHighTime + i),
                        static_cast<std::uint8_t>(counts.highTime >> (8 * i)));
    port.queueWrite(reg::kClockControl,
                    running ? clockreg::kPeriodRunning : clockreg::kPeriodStopped);
}

int clampSteps(int steps) { return std::clamp(steps, 1, 255); }

} // namespace zelbo::drive
