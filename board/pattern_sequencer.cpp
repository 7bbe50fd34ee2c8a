#include "board/pattern_sequencer.h"

#include "board/clock_generator.h"
#include "board/dac_block.h"
#include "board/fpga.h"

#include <algorithm>
#include <cstring>

namespace simboard {

namespace {
constexpr std::int64_t kMs = 1'000'000;
// Low byte register of each DAC channel the sequencer loads.
constexpr std::uint8_t kVrefLow = 23, kMthLow = 21;
constexpr std::uint8_t kMode1Low = 40, kEnableLow = 36, kCwLow = 32, kMode0Low = 38, kPsLow = 34;
} // namespace

void PatternSequencer::reset()
{
    memory_.fill(0);
    rowsApplied_ = 0;
    state_ = State::Idle;
    nextNs_ = kNever;
    pausedLeftNs_ = 0;
    next_ = last_ = 0;
    cycles_ = cyclesDone_ = 0;
    delayNs_ = 0;
    row_ = 0;
    latchedHigh_ = 0;
    inReset_ = false;
}

void PatternSequencer::onBlockWrite(std::uint8_t target, std::uint16_t start, const std::uint8_t* data, std::size_t n)
{
    if (target != kTarget) return;
    const std::size_t records = (n + kRecordSize - 1) / kRecordSize;
    if (start >= kRecords || records > kRecords - start) {
        fpga_.emit(Fpga::kBadCommand, kTarget, 0);
        return;
    }
    std::memcpy(memory_.data() + std::size_t(start) * kRecordSize, data, n);
}

void PatternSequencer::onWrite(std::uint8_t reg, std::uint8_t value)
{
    const std::int64_t now = fpga_.nowNs();
    if (reg == kReset) {
        inReset_ = value != 0;
        if (inReset_) {
            state_ = State::Idle;
            nextNs_ = kNever;
            row_ = 0;
        }
        return;
    }
    if (reg != kControl || inReset_) return;
    if (value == 0x80) {
        if (state_ == State::Paused) {
            state_ = State::Running;
            nextNs_ = now + pausedLeftNs_;
            cycleStartNs_ = std::min(cycleStartNs_, now - kMs); // the pause took time
        } else if (state_ == State::Idle) {
            start(now);
        }
        while (nextNs_ <= now) fire(now); // a record due at once applies at once
    } else if (value == 0xC0) {
        if (state_ == State::Running) {
            pausedLeftNs_ = std::max<std::int64_t>(0, nextNs_ - now);
            state_ = State::Paused;
        }
    } else if (value == 0) {
        state_ = State::Idle;
        nextNs_ = kNever;
    }
}

std::optional<std::uint8_t> PatternSequencer::onRead(std::uint8_t reg)
{
    const auto row = static_cast<std::uint16_t>(row_);
    if (reg == kRowLow) {
        latchedHigh_ = static_cast<std::uint8_t>(row >> 8); // a two-byte read is never torn
        return static_cast<std::uint8_t>(row);
    }
    if (reg == kRowHigh) return latchedHigh_;
    return std::nullopt;
}

void PatternSequencer::start(std::int64_t now)
{
    cycles_ = fpga_.reg(193);
    delayNs_ = std::int64_t(fpga_.reg(194) | fpga_.reg(195) << 8) * kMs;
    last_ = std::min<std::size_t>(std::size_t(fpga_.reg(196) | fpga_.reg(197) << 8), kRecords - 1);
    cyclesDone_ = 0;
    next_ = 0;
    row_ = 0;
    state_ = State::Running;
    cycleStartNs_ = now;
    nextNs_ = now + stepMs(0) * kMs;
}

std::uint16_t PatternSequencer::stepMs(std::size_t record) const
{
    const std::uint8_t* r = memory_.data() + record * kRecordSize;
    return static_cast<std::uint16_t>(r[0] | r[1] << 8);
}

void PatternSequencer::fire(std::int64_t at)
{
    if (state_ != State::Running || at < nextNs_) return;
    if (next_ <= last_) {
        apply(next_);
        ++next_;
        row_ = static_cast<std::int16_t>(next_); // counted from 1: 0 is none yet
        nextNs_ = at + (next_ <= last_ ? stepMs(next_) * kMs : delayNs_);
        return;
    }
    // End of a cycle.
    ++cyclesDone_;
    if (cycles_ != 0 && cyclesDone_ >= cycles_) {
        state_ = State::Idle;
        nextNs_ = kNever;
        row_ = -1;
        fpga_.emit(kPattStop, 0, 0);
        return;
    }
    // A cycle that takes no time at all (one record at 0 ms, no delay) would
    // repeat forever at one instant: give each at least a millisecond.
    const std::int64_t restart = std::max(at, cycleStartNs_ + kMs);
    cycleStartNs_ = restart;
    next_ = 0;
    nextNs_ = restart + stepMs(0) * kMs;
}

void PatternSequencer::write(std::uint8_t reg, std::uint8_t value) { fpga_.sequencerWrite(reg, value, kWriteClass); }

void PatternSequencer::apply(std::size_t record)
{
    ++rowsApplied_;
    const std::uint8_t* r = memory_.data() + record * kRecordSize;
    const std::uint32_t refs = r[2] | r[3] << 8 | std::uint32_t(r[4]) << 16;
    auto load = [&](std::uint8_t low, std::uint8_t channel, std::uint16_t code) {
        write(low, static_cast<std::uint8_t>(code));
        write(static_cast<std::uint8_t>(low + 1), static_cast<std::uint8_t>(code >> 8));
        write(DacBlock::kStrobe, channel);
    };
    load(kVrefLow, DacBlock::kVref, static_cast<std::uint16_t>(refs >> 12 & 0xFFF));
    load(kMthLow, DacBlock::kMth, static_cast<std::uint16_t>(refs & 0xFFF));
    // A pin's DAC output at the supply level reads high.
    const auto hi = static_cast<std::uint16_t>(fpga_.dac().supplyMillivolts() / 2);
    auto pin = [&](std::uint8_t low, std::uint8_t channel, bool level) { load(low, channel, level ? hi : 0); };
    pin(kPsLow, DacBlock::kPs, r[13] & 0x04);
    pin(kEnableLow, DacBlock::kEnable, r[13] & 0x01);
    pin(kMode0Low, DacBlock::kMode0, r[14] & 0x04);
    pin(kMode1Low, DacBlock::kMode1, r[14] & 0x01);
    pin(kCwLow, DacBlock::kCw, r[13] & 0x10);

    for (int i = 0; i < 8; ++i) write(static_cast<std::uint8_t>(145 + i), r[5 + i]);
    const bool period = r[5] | r[6] | r[7] | r[8];
    if (!period) {
        write(ClockGenerator::kControl, 6); // no clock
    } else if (fpga_.clockGenerator().state(fpga_.nowNs()).running) {
        write(ClockGenerator::kControl, 7);
    } else {
        write(ClockGenerator::kSteps, 0);
        write(ClockGenerator::kControl, 0x01);
    }
}

} // namespace simboard
