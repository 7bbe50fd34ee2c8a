#pragma once
// Modbus RTU framing for the two functions the controller is driven with:
// 6 (write single register) and 3 (read holding registers, one at a time).
// Pure functions only, so that the reply parser can be fuzzed and tested
// without a port.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace calora {

inline constexpr std::uint8_t kSlaveAddress = 1;
inline constexpr std::uint8_t kFnReadHolding = 3;
inline constexpr std::uint8_t kFnWriteSingle = 6;

// Request frames are always 8 bytes; a one-register read reply is 7
// (address, function, byte count 2, value high, value low, CRC low, CRC high).
inline constexpr std::size_t kRequestSize = 8;
inline constexpr std::size_t kReadReplySize = 7;

using Frame = std::array<std::uint8_t, kRequestSize>;

// CRC-16 as Modbus RTU defines it: initial 0xFFFF, reflected polynomial 0xA001.
// On the wire it goes low byte first.
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// address, function, register (high, low), value or count (high, low), CRC (low, high).
Frame buildRequest(std::uint8_t function, std::uint16_t reg, std::uint16_t valueOrCount);
inline Frame writeRequest(std::uint16_t reg, std::uint16_t value) { return buildRequest(kFnWriteSingle, reg, value); }
inline Frame readRequest(std::uint16_t reg) { return buildRequest(kFnReadHolding, reg, 1); }

// A write succeeded when the controller echoed the request exactly, CRC included.
bool isEcho(const Frame& request, std::span<const std::uint8_t> reply);

// The register value in a reply to readRequest(): nothing unless the reply is
// exactly one complete frame from slave 1, function 3, byte count 2, with a
// correct CRC. Exception replies, short, long and garbled replies give nothing.
std::optional<std::uint16_t> parseReadReply(std::span<const std::uint8_t> reply);

} // namespace calora
