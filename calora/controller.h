#pragma once
// One Modbus transaction with the temperature controller per call: open the
// port, exchange, close. Writes are repeated until the controller echoes the
// request exactly (10 attempts); a read is one exchange.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "calora/report.h"

namespace calora {

struct Timing {
    // Time allowed per byte the reply is expected to have, counted from the
    // start of the read: 800 ms for a write echo, 700 ms for a read reply.
    std::chrono::milliseconds perByte{100};
    // Pause between sending a request and starting to read the reply.
    std::chrono::milliseconds settle{5};
    int writeAttempts = 10;
};

class Controller {
public:
    Controller(std::string device, Reporter& reporter, Timing timing = {})
        : device_(std::move(device)), reporter_(reporter), timing_(timing)
    {
    }

    // Function 6. True when the controller echoed the request.
    bool writeRegister(std::uint16_t reg, std::uint16_t value);

    // Function 3, one register. Nothing when the port cannot be used or no
    // valid reply arrived.
    std::optional<std::uint16_t> readRegister(std::uint16_t reg);

private:
    std::string device_;
    Reporter& reporter_;
    Timing timing_;
};

} // namespace calora
