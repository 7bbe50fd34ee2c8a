#include "board/thermal_model.h"

#include "board/fpga.h"
#include "board/stepper_dut.h"

#include <algorithm>
#include <cmath>

namespace simboard {

void ThermalModel::reset()
{
    tj_ = ambient_;
}

void ThermalModel::restoreDefaults()
{
    ambient_ = kDefaultAmbient;
    tau_ = kDefaultTimeConstant;
    a_ = kDefaultDiodeA;
    b_ = kDefaultDiodeB;
    tj_ = ambient_;
}

void ThermalModel::setModel(double ambientCelsius, double timeConstantSeconds)
{
    ambient_ = ambientCelsius;
    tau_ = std::max(0.0, timeConstantSeconds);
    tj_ = ambient_;
}

void ThermalModel::setDiode(double a, double b)
{
    a_ = a;
    b_ = b;
}

double ThermalModel::powerWatts(std::int64_t nowNs) const
{
    const DutState s = fpga_.dut().state(nowNs);
    if (!s.powered) return 0.0;
    return kBridgeOhms * (s.coilA * s.coilA + s.coilB * s.coilB) +
           StepperDut::kQuiescentAmps * StepperDut::kMotorVolts;
}

void ThermalModel::advance(std::int64_t fromNs, std::int64_t toNs)
{
    // The inputs hold still between accesses, so the power over the step is
    // the power now and the first-order response is exact.
    const double target = ambient_ + kKelvinPerWatt * powerWatts(toNs);
    const double dt = double(toNs - fromNs) * 1e-9;
    if (tau_ <= 0.0) {
        tj_ = target;
    } else {
        tj_ = target + (tj_ - target) * std::exp(-dt / tau_);
    }
}

std::uint16_t ThermalModel::code() const
{
    const double vf = a_ - b_ * tj_;
    const double c = std::round(vf / kMillivoltsPerCode);
    return static_cast<std::uint16_t>(std::clamp(c, 0.0, 4095.0));
}

std::optional<std::uint8_t> ThermalModel::onRead(std::uint8_t reg)
{
    if (reg == kCodeLow) return static_cast<std::uint8_t>(code() & 0xFF);
    if (reg == kCodeHigh) return static_cast<std::uint8_t>(code() >> 8);
    return std::nullopt;
}

ThermalState ThermalModel::state(std::int64_t nowNs) const
{
    ThermalState s;
    s.ambientCelsius = ambient_;
    s.timeConstantSeconds = tau_;
    s.junctionCelsius = tj_;
    s.powerWatts = powerWatts(nowNs);
    s.steadyCelsius = ambient_ + kKelvinPerWatt * s.powerWatts;
    s.kelvinPerWatt = kKelvinPerWatt;
    s.bridgeOhms = kBridgeOhms;
    s.code = code();
    s.diodeMillivolts = a_ - b_ * tj_;
    return s;
}

} // namespace simboard
