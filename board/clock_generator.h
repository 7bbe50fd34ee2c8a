#pragma once
// The step-clock generator on the FPGA's 40 MHz time base.
//
//   144      control: bit 0 run, bit 7 rest high after a counted run.
//            0x01 / 0x81 start a run (step count from 153), 0 stops it.
//            Bits 1-2 set (6 or 7) load a new period and high time: 6 also
//            stops the clock, 7 leaves it as it is. Reads back the run bit.
//   145-148  period count N, least significant byte first: N + 1 ticks
//   149-152  high-time count D: ticks high at the end of each period
//   153      steps of a counted run (0: run continuously); a run of one
//            step with no period loaded makes its edge at once (single step)
//   154      bit 7: the CLK line's level while the generator is stopped
//
// Each period starts low and rises D ticks before its end, so a run's first
// rising edge comes one low time after the start. A counted run ends at the
// end of its last period and the line rests at the stop level.

#include "board/fpga_block.h"
#include "board/sim_board_test.h"

#include <cstdint>

namespace simboard {

class StepperDut;

class ClockGenerator : public FpgaBlock {
public:
    static constexpr std::int64_t kTickNs = 25; // 40 MHz
    static constexpr std::uint8_t kControl = 144;
    static constexpr std::uint8_t kSteps = 153;
    static constexpr std::uint8_t kLevel = 154;

    ClockGenerator(Fpga& fpga, StepperDut& dut) : FpgaBlock(fpga), dut_(dut) {}

    void reset() override;
    void onWrite(std::uint8_t reg, std::uint8_t value) override;
    std::optional<std::uint8_t> onRead(std::uint8_t reg) override;
    void advance(std::int64_t fromNs, std::int64_t toNs) override;

    ClockGeneratorState state(std::int64_t nowNs) const;

    // For blocks that run before the generator in a time step and need the
    // DUT's position inside it: the rising edges still to come after the
    // last advance, at or before board time t, and the time of the n-th
    // (n >= 1) of them (INT64_MAX when the run makes no such edge).
    std::uint64_t pendingEdges(std::int64_t t) const
    {
        const std::uint64_t n = edgesUpTo(t);
        return n > runEdges_ ? n - runEdges_ : 0;
    }
    std::int64_t pendingEdgeTime(std::uint64_t n) const;

private:
    void loadPeriod();
    void start(std::int64_t now);
    void stop(bool level);
    void edges(std::uint64_t n);
    // Rising edges of the current run at or before time t.
    std::uint64_t edgesUpTo(std::int64_t t) const;
    bool generating() const { return running_ && periodNs_ > 0 && highNs_ > 0; }

    StepperDut& dut_;
    std::uint32_t period_ = 0;
    std::uint32_t high_ = 0;
    std::int64_t periodNs_ = 0;
    std::int64_t highNs_ = 0;
    bool running_ = false;
    bool counted_ = false;
    bool stopHigh_ = false;
    std::uint8_t control_ = 0;
    std::int64_t startNs_ = 0;      // start of the current run (or of its last period change)
    std::uint64_t runEdges_ = 0;    // edges since startNs_
    std::uint32_t stepsLeft_ = 0;   // counted run, from startNs_ on
    bool restLevel_ = false;        // the line while stopped
    bool manualLevel_ = false;      // register 154 bit 7
    std::uint64_t risingEdges_ = 0;
};

} // namespace simboard
