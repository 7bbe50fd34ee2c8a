// Arbitrary bytes as the controller's answer: the read-reply parser, the
// write-echo check and the scaling of whatever value comes out must neither
// crash nor read outside the bytes given.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "calora/calibration.h"
#include "calora/modbus_rtu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> reply(data, size);

    if (const auto v = calora::parseReadReply(reply)) {
        // Only a complete, correct frame gets this far.
        if (size != calora::kReadReplySize || data[0] != 1 || data[1] != 3 || data[2] != 2)
            std::abort();
        const double x = calora::decodeRegister(*v);
        if (!(x > -2553.6 - 1e-9 && x <= 4000.0))
            std::abort();
        const double t = calora::invertCalibration(x, calora::Calibration{});
        if (!std::isfinite(t))
            std::abort(); // the initial calibration has a real root over the whole range
    }

    // The same bytes as the echo of a write, against a request built from them.
    if (size >= 4) {
        const std::uint16_t reg = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
        const std::uint16_t value = static_cast<std::uint16_t>((data[2] << 8) | data[3]);
        const calora::Frame request = calora::writeRequest(reg, value);
        const bool echo = calora::isEcho(request, reply.subspan(4));
        if (echo != (size == 12 && calora::crc16(reply.subspan(4, 6)) == ((data[10]) | (data[11] << 8)) &&
                     data[4] == 1 && data[5] == 6 && data[6] == data[0] && data[7] == data[1] &&
                     data[8] == data[2] && data[9] == data[3]))
            std::abort();
    }

    // Any 16-bit value scales without trapping, whatever the coefficients.
    if (size >= 2 + 3 * sizeof(double)) {
        double coeff[3];
        for (int i = 0; i < 3; ++i) {
            std::uint64_t bits = 0;
            for (std::size_t k = 0; k < sizeof(double); ++k)
                bits = (bits << 8) | data[2 + static_cast<std::size_t>(i) * sizeof(double) + k];
            std::memcpy(&coeff[i], &bits, sizeof(double));
        }
        const calora::Calibration cal{coeff[0], coeff[1], coeff[2]};
        const std::uint16_t v = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
        (void)calora::invertCalibration(calora::decodeRegister(v), cal);
        (void)calora::encodeSetpoint(coeff[0], cal);
    }
    return 0;
}
