#pragma once
// The serial port the controller hangs on, held only for one transaction.
// Opening takes the port exclusively (an advisory lock plus the terminal's
// exclusive mode) and sets 9600 baud, 8 data bits, no parity, one stop bit,
// no flow control, raw bytes, DTR and RTS off. Closing releases all of it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "calora/report.h"

namespace calora {

// The device behind the port name the controller is configured with ("com1"):
// $CALORA_PORT when it is set and not empty, /dev/ttyS0 otherwise.
std::string portDevice();

class SerialPort {
public:
    // Opens and configures the device. Every failure is reported with the
    // user-facing messages and gives nothing; the device is then closed again.
    static std::optional<SerialPort> open(const std::string& device, Reporter& reporter);

    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&&) = delete;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort();

    // Writes the bytes one write call each. False when a write fails.
    bool writeEachByte(std::span<const std::uint8_t> bytes);

    // Reads until `into` is full or `total` has passed since the call began;
    // returns how many bytes arrived.
    std::size_t readFor(std::span<std::uint8_t> into, std::chrono::milliseconds total);

    // Drops whatever arrived and has not been read yet.
    void discardInput();

private:
    explicit SerialPort(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace calora
