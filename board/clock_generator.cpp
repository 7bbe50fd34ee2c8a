#include "board/clock_generator.h"

#include "board/fpga.h"
#include "board/stepper_dut.h"

#include <algorithm>
#include <limits>

namespace simboard {

void ClockGenerator::reset()
{
    period_ = high_ = 0;
    periodNs_ = highNs_ = 0;
    running_ = counted_ = stopHigh_ = false;
    control_ = 0;
    startNs_ = 0;
    runEdges_ = 0;
    stepsLeft_ = 0;
    restLevel_ = manualLevel_ = false;
    risingEdges_ = 0;
}

void ClockGenerator::loadPeriod()
{
    auto word = [&](std::uint8_t r) {
        return std::uint32_t(fpga_.reg(r)) | std::uint32_t(fpga_.reg(std::uint8_t(r + 1))) << 8 |
               std::uint32_t(fpga_.reg(std::uint8_t(r + 2))) << 16 | std::uint32_t(fpga_.reg(std::uint8_t(r + 3))) << 24;
    };
    period_ = word(145);
    high_ = word(149);
    if (period_ == 0) {
        periodNs_ = highNs_ = 0; // no clock at all
        return;
    }
    periodNs_ = (std::int64_t(period_) + 1) * kTickNs;
    // At least one tick low in each period, or there would be no edge.
    highNs_ = std::int64_t(std::min(high_, period_)) * kTickNs;
}

void ClockGenerator::onWrite(std::uint8_t reg, std::uint8_t value)
{
    const std::int64_t now = fpga_.nowNs();
    if (reg == kLevel) {
        const bool level = value & 0x80;
        if (level && !manualLevel_ && !running_ && !restLevel_) edges(1);
        manualLevel_ = level;
        if (!running_) restLevel_ = level;
        return;
    }
    if (reg != kControl) return;
    control_ = value;
    if ((value & 0x06) == 0x06) {
        // New period and high time; a running clock carries on with them.
        if (!(value & 0x01)) {
            loadPeriod();
            if (running_) stop(manualLevel_);
            return;
        }
        if (running_) {
            if (counted_) stepsLeft_ -= static_cast<std::uint32_t>(std::min<std::uint64_t>(runEdges_, stepsLeft_));
            loadPeriod();
            startNs_ = now;
            runEdges_ = 0;
        } else {
            loadPeriod();
        }
        return;
    }
    if (value & 0x01) {
        stopHigh_ = value & 0x80;
        loadPeriod();
        start(now);
    } else if (running_) {
        stop(manualLevel_);
    }
}

void ClockGenerator::start(std::int64_t now)
{
    running_ = true;
    stepsLeft_ = fpga_.reg(kSteps);
    counted_ = stepsLeft_ != 0;
    startNs_ = now;
    runEdges_ = 0;
    // A single-step request (advance mode) needs no time base: with no period
    // loaded its one edge comes at once.
    if (counted_ && stepsLeft_ == 1 && periodNs_ == 0) {
        edges(1);
        stop(stopHigh_);
    }
}

void ClockGenerator::stop(bool level)
{
    running_ = false;
    counted_ = false;
    stepsLeft_ = 0;
    restLevel_ = level;
}

std::optional<std::uint8_t> ClockGenerator::onRead(std::uint8_t reg)
{
    if (reg != kControl) return std::nullopt;
    return static_cast<std::uint8_t>((control_ & 0xFE) | (running_ ? 0x01 : 0x00));
}

std::uint64_t ClockGenerator::edgesUpTo(std::int64_t t) const
{
    if (!generating()) return 0;
    const std::int64_t first = startNs_ + periodNs_ - highNs_;
    if (t < first) return 0;
    std::uint64_t n = std::uint64_t((t - first) / periodNs_) + 1;
    if (counted_) n = std::min<std::uint64_t>(n, stepsLeft_);
    return n;
}

std::int64_t ClockGenerator::pendingEdgeTime(std::uint64_t n) const
{
    constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    if (!running_ || !generating() || n == 0) return kNever;
    const std::uint64_t k = runEdges_ + n; // 1-based edge number within the run
    if (counted_ && k > stepsLeft_) return kNever;
    return startNs_ + periodNs_ - highNs_ + std::int64_t(k - 1) * periodNs_;
}

void ClockGenerator::edges(std::uint64_t n)
{
    risingEdges_ += n;
    dut_.clockEdges(n);
}

void ClockGenerator::advance(std::int64_t fromNs, std::int64_t toNs)
{
    (void)fromNs;
    if (!running_) return;
    const std::uint64_t total = edgesUpTo(toNs);
    if (total > runEdges_) {
        edges(total - runEdges_);
        runEdges_ = total;
    }
    if (counted_ && generating() && toNs >= startNs_ + std::int64_t(stepsLeft_) * periodNs_) stop(stopHigh_);
}

ClockGeneratorState ClockGenerator::state(std::int64_t nowNs) const
{
    ClockGeneratorState s;
    s.running = running_;
    s.counted = counted_;
    s.stopHigh = stopHigh_;
    s.period = period_;
    s.highTime = high_;
    s.stepsLeft = counted_ ? stepsLeft_ - static_cast<std::uint32_t>(std::min<std::uint64_t>(runEdges_, stepsLeft_)) : 0;
    s.risingEdges = risingEdges_;
    if (!running_) {
        s.level = restLevel_;
    } else if (generating()) {
        const std::int64_t phase = (nowNs - startNs_) % periodNs_;
        s.level = phase >= periodNs_ - highNs_;
    }
    return s;
}

} // namespace simboard
