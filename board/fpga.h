#pragma once
// The board's FPGA: passive-serial configuration from the FX2's port D, then
// the command path (frames from EP4) and the response path (512-byte blocks
// of records queued for EP2), with an 8-bit register file and the
// register-driven blocks that give the registers their meaning.

#include "board/board_clock.h"
#include "board/event_log.h"
#include "board/fpga_block.h"
#include "board/sim_board_test.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

namespace simboard {

class DacBlock;
class StepperDut;
class ClockGenerator;
class ScopeFrontEnd;
class ThermalModel;
class PatternSequencer;

class Fpga {
public:
    static constexpr std::size_t kBlockSize = 512;
    static constexpr std::size_t kMaxQueuedBlocks = 4096;
    static constexpr std::size_t kMaxImageBytes = 16u << 20;
    static constexpr std::size_t kMaxBlockData = 503; // a block frame fills one packet

    // Record codes the board sends.
    static constexpr std::uint8_t kHardwareReady = 0x01;
    static constexpr std::uint8_t kRegisterAnswer = 0x40; // INFO_SCR_READ
    static constexpr std::uint8_t kBadCommand = 0xE0;     // INFO_ERRCMD

    Fpga(EventLog& log, BoardClock& clock);
    ~Fpga();
    Fpga(const Fpga&) = delete;
    Fpga& operator=(const Fpga&) = delete;

    void powerUp();

    // ---- Configuration pins -------------------------------------------------
    void pulseNConfig();
    // Image bits shifted in by the FX2; a packet sent under chunk code 0x19
    // carries the closing clocks that finish the configuration.
    void shiftImage(const std::uint8_t* data, std::size_t n, std::uint8_t chunkCode);
    bool nStatus() const { return state_ != FpgaState::Failed; }
    bool confDone() const { return state_ == FpgaState::Configured; }
    FpgaState state() const { return state_; }
    const std::vector<std::uint8_t>& image() const { return image_; }
    void forceConfigured();
    // The host-ready line (FX2 port A bit 7).
    void setHostReady(bool level);

    // ---- Command path -------------------------------------------------------
    void commandBytes(const std::uint8_t* data, std::size_t n);

    // ---- Response path ------------------------------------------------------
    std::size_t blocksWaiting() const { return queue_.size(); }
    bool popBlock(std::uint8_t* out);
    void pushBlock(const std::uint8_t* data, std::size_t n, bool front = false);
    std::uint64_t droppedBlocks() const { return dropped_; }

    // ---- For blocks ---------------------------------------------------------
    std::uint8_t reg(std::uint8_t r) const { return regs_[r]; }
    void emit(std::uint8_t code, std::uint8_t b4, std::uint8_t b5);
    void emitRecord(const std::uint8_t* record, std::size_t n);
    void commit(); // closes the block being filled and queues it
    // Board time of the access being served (one reading per transfer).
    std::int64_t nowNs() const { return now_; }
    EventLog& log() { return log_; }
    DacBlock& dac() { return *dac_; }
    const DacBlock& dac() const { return *dac_; }
    StepperDut& dut() { return *dut_; }
    const StepperDut& dut() const { return *dut_; }
    const ClockGenerator& clockGenerator() const { return *clockGen_; }
    const ScopeFrontEnd& scope() const { return *scope_; }
    ThermalModel& thermal() { return *thermal_; }
    const ThermalModel& thermal() const { return *thermal_; }
    std::vector<std::uint8_t> memory(std::uint8_t target, std::uint16_t start, std::size_t n) const;
    // A register write of the pattern sequencer: the register file and every
    // block see it as a host write; the log shows it with class `cls`.
    void sequencerWrite(std::uint8_t r, std::uint8_t v, std::uint8_t cls) { writeRegister(cls, r, v); }
    const PatternSequencer& sequencer() const { return *sequencer_; }

    // Runs every block up to board time `nowNs`, the time of the access
    // about to be served.
    void advanceTo(std::int64_t nowNs);

    // Faults.
    bool failConfiguration = false;
    bool neverHardwareReady = false;
    // Board options: a scope front end is fitted (the FX2 reports it on port
    // A bit 1); scope samples carry a little noise.
    bool scopeFitted = true;
    bool probeNoise = true;
    // Front-end zero offsets in sample codes, per channel and per source kind
    // (0 voltage, 1 current, 2 ICC): what an uncalibrated input reads at rest.
    std::array<std::array<int, 3>, 4> inputOffsetCodes = kDefaultScopeInputOffsetCodes;

private:
    void resetLogic();
    void finishConfiguration();
    void sendHardwareReady();
    void writeRegister(std::uint8_t cls, std::uint8_t r, std::uint8_t v);
    void readRegister(std::uint8_t r);
    void blockWrite(std::uint8_t target, std::uint16_t start, const std::uint8_t* data, std::size_t n);

    EventLog& log_;
    BoardClock& clock_;
    FpgaState state_ = FpgaState::Unconfigured;
    bool hostReady_ = false;
    std::vector<std::uint8_t> image_;
    std::array<std::uint8_t, 256> regs_{};
    std::map<std::uint8_t, std::vector<std::uint8_t>> memories_;
    std::array<std::uint8_t, kBlockSize> filling_{};
    std::size_t fill_ = 0;
    std::deque<std::array<std::uint8_t, kBlockSize>> queue_;
    std::uint64_t dropped_ = 0;
    std::int64_t lastAdvanceNs_ = 0;
    std::int64_t now_ = 0;

    std::vector<std::unique_ptr<FpgaBlock>> blocks_;
    DacBlock* dac_ = nullptr;
    StepperDut* dut_ = nullptr;
    ClockGenerator* clockGen_ = nullptr;
    ScopeFrontEnd* scope_ = nullptr;
    ThermalModel* thermal_ = nullptr;
    PatternSequencer* sequencer_ = nullptr;
};

} // namespace simboard
