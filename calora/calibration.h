#pragma once
// Temperature scaling between degrees Celsius and the controller's registers.
// The registers hold tenths of a degree, negative values in two's complement;
// on top of that a quadratic calibration y = a*t*t + b*t + c maps the caller's
// temperature t to the controller's y, and reading inverts it.

#include <cstdint>
#include <optional>

namespace calora {

struct Calibration {
    double a = 6e-06;
    double b = 0.9959;
    double c = 2.3287;
};

// The register value for a setpoint t: y = a*t*t + b*t + c, y < 0 becomes
// y + 6553.6, then |10*y| to the nearest integer (halves to even), low 16 bits.
// Nothing when t or y is not finite: such a value has no register encoding.
std::optional<std::uint16_t> encodeSetpoint(double t, const Calibration& cal);

// The controller's temperature in degrees: v / 10, values above 4000.0
// taken as negative (x - 6553.6).
double decodeRegister(std::uint16_t v);

// The root t of a*t*t + b*t + c = x that the calibration's positive square
// root gives. NaN when a = 0, when the root is not real, or when any input is
// not finite.
double invertCalibration(double x, const Calibration& cal);

} // namespace calora
