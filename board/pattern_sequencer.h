#pragma once
// The FPGA's pattern sequencer: plays a table of drive set-ups from its
// pattern memory at their times, without the host.
//
//   target 5  pattern memory: 256 records of 15 bytes, block start address =
//             first record index; a block reaching past record 255 is
//             refused with INFO_ERRCMD
//   192       control: 0x80 run (or continue), 0xC0 pause, 0 stop
//   193       cycles (0 = endless)
//   194, 195  repeat delay between cycles in ms, LSB first
//   196, 197  index of the last record, LSB first
//   198, 199  the record applied last, counted from 1 (0: none yet in this
//             run; read back, LSB first; a read of 198 latches 199). 0xFFFF
//             once the run has ended.
//   200       1 holds the sequencer in reset (stopped, row 0)
//
// A record: bytes 0-1 ms after the previous record (the first: after the
// start of its cycle), 2-4 VREF code << 12 | MTH code (mV), 5-8 clock period
// count, 9-12 high-time count, 13 CW/CCW << 4 | PS << 2 | ENABLE, 14 MODE0 << 2
// | MODE1. Applying one loads VREF, MTH and the pins into the DAC and the
// counts into the clock generator, as the host's own writes would (logged as
// register writes of class kWriteClass). A cycle lasts until the repeat delay
// after its last record; after the last cycle the sequencer stops, reports
// the end marker and sends PATTSTOP.
//
// The FPGA steps board time to each switching time (nextEventNs) and calls
// fire() there, so every block sees the change at its exact time.

#include "board/fpga_block.h"

#include <array>
#include <cstdint>
#include <limits>

namespace simboard {

class PatternSequencer : public FpgaBlock {
public:
    static constexpr std::uint8_t kTarget = 5;
    static constexpr std::size_t kRecords = 256;
    static constexpr std::size_t kRecordSize = 15;
    static constexpr std::uint8_t kControl = 192;
    static constexpr std::uint8_t kRowLow = 198;
    static constexpr std::uint8_t kRowHigh = 199;
    static constexpr std::uint8_t kReset = 200;
    static constexpr std::uint8_t kPattStop = 0x05;
    static constexpr std::uint8_t kWriteClass = 2; // log class of the sequencer's own writes
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    using FpgaBlock::FpgaBlock;
    void reset() override;
    void onWrite(std::uint8_t reg, std::uint8_t value) override;
    std::optional<std::uint8_t> onRead(std::uint8_t reg) override;
    void onBlockWrite(std::uint8_t target, std::uint16_t start, const std::uint8_t* data, std::size_t n) override;

    std::int64_t nextEventNs() const { return state_ == State::Running ? nextNs_ : kNever; }
    void fire(std::int64_t atNs);

    bool running() const { return state_ == State::Running; }
    bool paused() const { return state_ == State::Paused; }
    std::int16_t currentRow() const { return row_; }
    // Records applied since the FPGA was configured, over every run and cycle.
    std::uint64_t rowsApplied() const { return rowsApplied_; }

private:
    enum class State { Idle, Running, Paused };
    std::uint16_t stepMs(std::size_t record) const;
    void apply(std::size_t record);
    void start(std::int64_t now);
    void write(std::uint8_t reg, std::uint8_t value);

    std::array<std::uint8_t, kRecords * kRecordSize> memory_{};
    State state_ = State::Idle;
    std::int64_t nextNs_ = kNever;
    std::int64_t pausedLeftNs_ = 0;
    std::int64_t cycleStartNs_ = 0;
    std::size_t next_ = 0;       // record to apply next; past the last: end of cycle
    std::size_t last_ = 0;
    unsigned cycles_ = 0, cyclesDone_ = 0;
    std::int64_t delayNs_ = 0;
    std::int16_t row_ = 0;
    std::uint8_t latchedHigh_ = 0;
    bool inReset_ = false;
    std::uint64_t rowsApplied_ = 0;
};

} // namespace simboard
