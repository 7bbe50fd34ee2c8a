#include "calora/calibration.h"

#include <cmath>
#include <limits>

namespace calora {

namespace {

// Nearest integer, halves to the even neighbour, independent of the
// floating-point rounding mode the host program may have set.
double roundHalfEven(double v)
{
    const double r = std::round(v); // halves away from zero
    if (std::fabs(r - v) == 0.5 && std::fmod(r, 2.0) != 0.0)
        return r - std::copysign(1.0, v);
    return r;
}

} // namespace

std::optional<std::uint16_t> encodeSetpoint(double t, const Calibration& cal)
{
    double y = cal.a * t * t + cal.b * t + cal.c;
    if (!std::isfinite(y))
        return std::nullopt;
    if (y < 0)
        y += 6553.6;
    const double n = roundHalfEven(std::fabs(10.0 * y));
    if (!std::isfinite(n))
        return std::nullopt;
    // Low 16 bits of the integer n (exact: n is integral, fmod is exact).
    return static_cast<std::uint16_t>(std::fmod(n, 65536.0));
}

double decodeRegister(std::uint16_t v)
{
    double x = v / 10.0;
    if (x > 4000.0)
        x -= 6553.6;
    return x;
}

double invertCalibration(double x, const Calibration& cal)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const double a = cal.a, b = cal.b, c = cal.c;
    if (a == 0.0 || !std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(x))
        return nan;
    const double disc = b * b - 4.0 * a * (c - x);
    if (!(disc >= 0.0))
        return nan;
    const double root = std::sqrt(disc);
    // (root - b) / 2a, the root the calibration is read with. For b > 0 the
    // same value is taken as 2(x - c) / (root + b), which does not lose its
    // digits to cancellation when a is small.
    const double t = (b > 0.0) ? 2.0 * (x - c) / (root + b) : (root - b) / (2.0 * a);
    return std::isfinite(t) ? t : nan;
}

} // namespace calora
