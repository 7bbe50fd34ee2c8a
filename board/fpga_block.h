#pragma once
// A register-driven block of the FPGA design (DAC interface, clock generator,
// pattern sequencer, temperature ADC, scope front end) or a part of the board
// the FPGA drives (the device under test). The FPGA hands every register write,
// read request and block write to its blocks, and lets them run up to the
// current board time before each access, so a block is written as a plain
// state machine over board time. Blocks answer through the FPGA: response
// records (Fpga::emit), register read values (onRead), log entries.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace simboard {

class Fpga;

class FpgaBlock {
public:
    explicit FpgaBlock(Fpga& fpga) : fpga_(fpga) {}
    virtual ~FpgaBlock() = default;
    FpgaBlock(const FpgaBlock&) = delete;
    FpgaBlock& operator=(const FpgaBlock&) = delete;

    // The FPGA lost or gained its configuration: back to the power-up state.
    virtual void reset() {}
    // A register write; the register file already holds the new value.
    virtual void onWrite(std::uint8_t reg, std::uint8_t value)
    {
        (void)reg;
        (void)value;
    }
    // A read request: the value to answer, or nullopt for the register file's.
    virtual std::optional<std::uint8_t> onRead(std::uint8_t reg)
    {
        (void)reg;
        return std::nullopt;
    }
    virtual void onBlockWrite(std::uint8_t target, std::uint16_t start, const std::uint8_t* data,
                              std::size_t n)
    {
        (void)target;
        (void)start;
        (void)data;
        (void)n;
    }
    // Runs the block from board time `fromNs` to `toNs`.
    virtual void advance(std::int64_t fromNs, std::int64_t toNs)
    {
        (void)fromNs;
        (void)toNs;
    }
    // Called on every access after the time step (also when no time has
    // passed), for work paced by the host rather than by time: handing more
    // response records to EP2 as the host reads them.
    virtual void service() {}

protected:
    Fpga& fpga_;
};

} // namespace simboard
