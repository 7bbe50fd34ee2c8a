#include "calora/modbus_rtu.h"

#include <algorithm>

namespace calora {

std::uint16_t crc16(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001U) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

Frame buildRequest(std::uint8_t function, std::uint16_t reg, std::uint16_t valueOrCount)
{
    Frame f{kSlaveAddress,
            function,
            static_cast<std::uint8_t>(reg >> 8),
            static_cast<std::uint8_t>(reg & 0xFF),
            static_cast<std::uint8_t>(valueOrCount >> 8),
            static_cast<std::uint8_t>(valueOrCount & 0xFF),
            0,
            0};
    const std::uint16_t crc = crc16(std::span(f).first(6));
    f[6] = static_cast<std::uint8_t>(crc & 0xFF);
    f[7] = static_cast<std::uint8_t>(crc >> 8);
    return f;
}

bool isEcho(const Frame& request, std::span<const std::uint8_t> reply)
{
    return reply.size() == request.size() && std::equal(request.begin(), request.end(), reply.begin());
}

std::optional<std::uint16_t> parseReadReply(std::span<const std::uint8_t> reply)
{
    if (reply.size() != kReadReplySize)
        return std::nullopt;
    if (reply[0] != kSlaveAddress || reply[1] != kFnReadHolding || reply[2] != 2)
        return std::nullopt;
    const std::uint16_t crc = crc16(reply.first(5));
    if (reply[5] != (crc & 0xFF) || reply[6] != (crc >> 8))
        return std::nullopt;
    return static_cast<std::uint16_t>((reply[3] << 8) | reply[4]);
}

} // namespace calora
