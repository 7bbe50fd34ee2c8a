#pragma once
// The FPGA's response blocks: every bulk read brings exactly 512 bytes holding
// a sequence of records from offset 0. A record is
//   byte 0 (not interpreted), byte 1 code, bytes 2..3 (not interpreted),
//   bytes 4..5 payload,
// six bytes long except the upload records 0x50..0x53, which carry
// L = byte 4 * 256 + byte 5 sample bytes after their six-byte head.
// Code 0x00, every unknown code and INFO_BUFFER_READ (whose length is not
// defined) end the block; so does reaching offset 512.

#include <cstddef>
#include <cstdint>

namespace zelbo::link {

inline constexpr std::size_t kBlockSize = 512;
// One upload record moves one 256-byte chunk of a channel's capture area.
inline constexpr std::size_t kUploadChunk = 256;

namespace code {
inline constexpr std::uint8_t HardwareReady = 0x01;
inline constexpr std::uint8_t PllReconfig = 0x02;
inline constexpr std::uint8_t InfoDacWrite = 0x03;
inline constexpr std::uint8_t PattStart = 0x04;
inline constexpr std::uint8_t PattStop = 0x05;
inline constexpr std::uint8_t PattFin = 0x06;
inline constexpr std::uint8_t InfoFlush = 0x07;
inline constexpr std::uint8_t NcoreConfig = 0x08;
inline constexpr std::uint8_t InfoSweepFin = 0x09;
inline constexpr std::uint8_t InfoScrRead = 0x40;
inline constexpr std::uint8_t InfoBufferRead = 0x41;
inline constexpr std::uint8_t InfoCh0Upload = 0x50; // .. 0x53
inline constexpr std::uint8_t InfoErrCmd = 0xE0;    // .. 0xE9: recognised, no action
inline constexpr std::uint8_t InfoErrCheck = 0xE9;
} // namespace code

// What a walk finds, in block order.
class ResponseSink {
public:
    virtual ~ResponseSink() = default;
    virtual void hardwareReady() = 0;
    virtual void patternStopped() = 0;
    virtual void sweepFinished() = 0;
    virtual void registerRead(std::uint8_t reg, std::uint8_t value) = 0;
    // `data` holds `n` (<= 256) sample bytes of the record's own payload; fewer
    // than 256 when the record declares fewer or the block ends first.
    virtual void upload(int channel, const std::uint8_t* data, std::size_t n) = 0;
};

// Walks one 512-byte block and reports its records to `sink`. Returns the
// number of records acted on or recognised. Never reads outside the block.
int walkResponseBlock(const std::uint8_t (&block)[kBlockSize], ResponseSink& sink);

} // namespace zelbo::link
