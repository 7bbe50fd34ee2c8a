#pragma once
// The FPGA's four-channel sampling front end.
//
//   0x70      acquisition control: bits 0..3 channels 1..4 enabled, bits 6..7
//             trigger channel. Any write abandons the sweep in progress
//             (including the part of its upload not yet handed to EP2); a
//             value with channel bits starts a new one at once, a value
//             without them stops acquisition.
//   0x72/73   sampling divider, low byte first: one sample every
//             (divider + 4) ticks of the 40 MHz clock
//   0x74/75   record length - 1, low byte first (12 bits; power-up 0x0FFF).
//             Taken in whole records of 128 samples, at most 4096.
//   0x76/77   trigger level: a 12-bit code, 0x800 meaning sample code 0;
//             0x77 bit 7 selects the falling edge
//   0x78..7B  channel configuration of channels 1..4: bit 0 trigger armed,
//             bit 4 current-type source, bit 3 (with bit 4) ICC
//
// Channel n probes the output OUT1A, OUT1B, OUT2A, OUT2B (n = 1..4) as a
// voltage; as a current, channels 1 and 2 see winding 1 and channels 3 and 4
// winding 2, through a sense amplifier that reads the current flowing into
// OUTxA (so the current out of OUTxA reads negative); ICC is the motor supply
// current on any channel. Codes are 10-bit two's complement: a voltage v reads
// v x K / 36 and a current i reads i x K / 6.22, K = 511 for values >= 0 and
// 512 below, rounded and clamped to -512..511. Each channel adds its own
// zero offset of a few codes per source kind (Control::setScopeInputOffsets),
// as a real front end does until it is calibrated.
//
// A sweep: the divider and record length are taken when the trigger search
// starts (a write to 0x72..0x7B while searching restarts the search with the
// new settings). With the trigger channel's bit 0 set, the sweep starts at
// the first sample whose code reaches the level after one below it (rising),
// or falls to it after one above (falling); otherwise at once. It is complete
// when its record length of sample periods has passed since its first
// sample. Each enabled channel then goes out as records of 128 samples (code
// 0x50 + channel, length 256, each opening its 512-byte block), followed by
// the sweep-finished record 0x09, and the next trigger search starts.
//
// Uploads are handed to EP2 only as the host reads: at most kUploadWindow
// blocks wait at a time. A host that does not read holds the sweep; the
// front end acquires nothing new until the upload is out, so no sweep is ever
// dropped half-way and the response queue never grows.

#include "board/fpga_block.h"
#include "board/sim_board_test.h"
#include "board/stepper_dut.h"

#include <array>
#include <cstdint>

namespace simboard {

class ClockGenerator;

class ScopeFrontEnd : public FpgaBlock {
public:
    static constexpr std::uint8_t kControl = 0x70;
    static constexpr std::uint8_t kDividerLow = 0x72;
    static constexpr std::uint8_t kDividerHigh = 0x73;
    static constexpr std::uint8_t kLengthLow = 0x74;
    static constexpr std::uint8_t kLengthHigh = 0x75;
    static constexpr std::uint8_t kLevelLow = 0x76;
    static constexpr std::uint8_t kLevelHigh = 0x77;
    static constexpr std::uint8_t kConfig = 0x78; // 0x78..0x7B
    static constexpr int kChannels = 4;
    static constexpr unsigned kMaxSamples = 4096;
    static constexpr unsigned kSamplesPerRecord = 128;
    static constexpr std::size_t kRecordBytes = 6 + 2 * kSamplesPerRecord;
    static constexpr std::uint8_t kUpload = 0x50;       // + channel
    static constexpr std::uint8_t kSweepFinished = 0x09;
    static constexpr std::size_t kUploadWindow = 8;
    static constexpr std::int64_t kTickNs = 25;

    ScopeFrontEnd(Fpga& fpga, const StepperDut& dut, const ClockGenerator& clock);

    void reset() override;
    void onWrite(std::uint8_t reg, std::uint8_t value) override;
    std::optional<std::uint8_t> onRead(std::uint8_t reg) override;
    void advance(std::int64_t fromNs, std::int64_t toNs) override;
    void service() override;

    ScopeState state() const;
    bool running() const { return phase_ != ScopeState::Phase::Stopped; }
    // Board time at which the next upload is sure to have started, if known:
    // the end of the sweep being taken, or of a free-running one about to
    // start; unknown while waiting for a trigger, uploading or stopped.
    std::optional<std::int64_t> uploadDueNs() const;

private:
    // One probe point at one position in sample codes (see StepperDut::Waveform).
    struct CodeWave {
        std::int64_t b1 = 0, b2 = 0;
        int c0 = 0, c1 = 0, c2 = 0;
        int lo = 0, hi = 0; // the smallest and largest level the period holds
        int at(std::int64_t phase) const { return phase < b1 ? c0 : (phase < b2 ? c1 : c2); }
    };
    // Consecutive samples that all see one DUT position.
    struct Run {
        std::int64_t t = 0; // first sample
        std::uint64_t n = 0;
        int position = 0;
    };

    void arm();
    void triggerAt(std::int64_t t);
    bool searchTrigger(std::int64_t toNs);
    void acquire(std::int64_t toNs);
    void fill(int channel, std::uint64_t first, const Run& run);
    Run nextRun(std::int64_t t, std::int64_t toNs, std::uint64_t maxSamples) const;
    void refreshCodes();
    const CodeWave& wave(int channel, int position) const;
    bool uploadNext(); // false when nothing is left to hand over
    int noise();
    int inputOffset(int channel) const; // the front end's zero offset in codes

    const StepperDut& dut_;
    const ClockGenerator& clock_;

    ScopeState::Phase phase_ = ScopeState::Phase::Stopped;
    std::uint8_t control_ = 0;
    std::uint8_t lengthLow_ = 0xFF, lengthHigh_ = 0x0F;
    std::uint16_t divider_ = 0;
    std::int64_t periodNs_ = 4 * kTickNs;
    unsigned length_ = kMaxSamples;

    std::int64_t nextNs_ = 0; // time of the next sample to take
    bool havePrev_ = false;   // trigger search: the sample before nextNs_
    int prev_ = 0;
    std::int64_t triggerNs_ = -1;
    std::uint64_t filled_ = 0;
    std::array<std::array<std::int16_t, kMaxSamples>, kChannels> samples_{};

    int uploadChannel_ = 0;
    unsigned uploadRecord_ = 0;
    std::uint64_t sweeps_ = 0, uploaded_ = 0;

    std::uint32_t rng_ = 1;
    std::uint64_t codesGeneration_ = ~std::uint64_t(0);
    std::array<std::array<CodeWave, StepperDut::kPositions>, StepperDut::kProbes> codes_{};
};

} // namespace simboard
