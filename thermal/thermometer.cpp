#include "thermal/thermometer.h"

#include <cmath>

namespace zelbo::thermal {

double diodeMillivolts(std::uint16_t code)
{
    return code * 0.25641;
}

std::optional<double> junctionCelsius(double vfMillivolts, double a, double b)
{
    if (b == 0.0) return std::nullopt;
    const double tj = (a - vfMillivolts) / b;
    if (!std::isfinite(tj)) return std::nullopt;
    return tj;
}

std::optional<std::uint16_t> DiodeCodeAnswers::take(std::uint8_t reg, std::uint8_t value)
{
    const bool pairedLow = reg == reg::kDiodeCodeLow && highPending_;
    highPending_ = false;
    if (reg == reg::kDiodeCodeHigh) {
        high_ = value & 0x0F;
        highPending_ = true;
    }
    if (!pairedLow)
        return std::nullopt;
    return static_cast<std::uint16_t>(high_ * 256 + value);
}

void Thermometer::setCoefficients(double a, double b)
{
    std::lock_guard lock(mutex_);
    a_ = a;
    b_ = b;
}

Reading Thermometer::convert(std::uint16_t code)
{
    std::lock_guard lock(mutex_);
    Reading r;
    r.code = code & 0x0FFF;
    r.vfMillivolts = diodeMillivolts(r.code);
    if (auto tj = junctionCelsius(r.vfMillivolts, a_, b_)) {
        r.tjCelsius = *tj;
    } else {
        r.tjCelsius = last_ ? last_->tjCelsius : 0.0;
    }
    last_ = r;
    return r;
}

std::optional<Reading> Thermometer::last() const
{
    std::lock_guard lock(mutex_);
    return last_;
}

double Thermometer::tj() const
{
    std::lock_guard lock(mutex_);
    return last_ ? last_->tjCelsius : 0.0;
}

double Thermometer::vf() const
{
    std::lock_guard lock(mutex_);
    return last_ ? last_->vfMillivolts : 0.0;
}

} // namespace zelbo::thermal
