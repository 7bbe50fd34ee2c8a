#include "calora/controller.h"

#include <array>
#include <thread>

#include "calora/modbus_rtu.h"
#include "calora/serial_port.h"

namespace calora {

bool Controller::writeRegister(std::uint16_t reg, std::uint16_t value)
{
    std::optional<SerialPort> port = SerialPort::open(device_, reporter_);
    if (!port)
        return false;
    const Frame request = writeRequest(reg, value);
    std::array<std::uint8_t, kRequestSize> reply{};
    for (int attempt = 0; attempt < timing_.writeAttempts; ++attempt) {
        // Whatever a previous attempt left behind (a late or overlong answer)
        // must not be taken for this attempt's echo.
        port->discardInput();
        if (!port->writeEachByte(request))
            continue;
        std::this_thread::sleep_for(timing_.settle);
        const std::size_t got = port->readFor(reply, timing_.perByte * static_cast<int>(kRequestSize));
        if (isEcho(request, std::span(reply).first(got)))
            return true;
    }
    return false;
}

std::optional<std::uint16_t> Controller::readRegister(std::uint16_t reg)
{
    std::optional<SerialPort> port = SerialPort::open(device_, reporter_);
    if (!port)
        return std::nullopt;
    const Frame request = readRequest(reg);
    if (!port->writeEachByte(request))
        return std::nullopt;
    std::this_thread::sleep_for(timing_.settle);
    std::array<std::uint8_t, kReadReplySize> reply{};
    const std::size_t got = port->readFor(reply, timing_.perByte * static_cast<int>(kReadReplySize));
    return parseReadReply(std::span(reply).first(got));
}

} // namespace calora
