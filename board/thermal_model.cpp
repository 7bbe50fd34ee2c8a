#include "board/thermal_model.h"

#include "board/chamber_sim.h"
#include "board/fpga.h"
#include "board/stepper_dut.h"

#include <algorithm>
#include <cmath>

namespace simboard {

void ThermalModel::reset()
{
    if (chamber_) ambient_ = chamber_->air();
    tj_ = ambient_;
}

void ThermalModel::setAmbientSource(ChamberModel* chamber)
{
    chamber_ = chamber;
    if (chamber_) ambient_ = chamber_->air();
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
    const double heating = kKelvinPerWatt * powerWatts(toNs);
    if (chamber_) {
        // The chamber's air moves under the junction: follow it in steps short
        // against both time constants.
        constexpr std::int64_t kStepNs = 250'000'000;
        for (std::int64_t t = fromNs; t < toNs;) {
            const std::int64_t next = std::min(toNs, t + kStepNs);
            chamber_->advanceTo(next);
            ambient_ = chamber_->air();
            const double target = ambient_ + heating;
            tj_ = tau_ <= 0.0 ? target : target + (tj_ - target) * std::exp(-double(next - t) * 1e-9 / tau_);
            t = next;
        }
        return;
    }
    const double target = ambient_ + heating;
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
    s.ambientCelsius = chamber_ ? chamber_->air() : ambient_;
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
