#include "board/stepper_dut.h"

#include "board/dac_block.h"
#include "board/fpga.h"

#include <cmath>
#include <numbers>

namespace simboard {
namespace {

// Step per edge, in sixteenths of a cycle, by excitation mode.
constexpr int kStride[4] = {4, 2, 2, 1};

// Coil currents, as fractions of full scale, at `position` in `mode`.
// Full step drives both coils at full current (2-phase); half step A is 1-2
// phase with full current in both coils at the diagonal positions; half step
// B and quarter step follow the sine/cosine table.
void coilFractions(int mode, int position, double& a, double& b)
{
    const double angle = position * (2.0 * std::numbers::pi / StepperDut::kPositions);
    a = std::cos(angle);
    b = std::sin(angle);
    auto unit = [](double x) { return std::abs(x) < 1e-9 ? 0.0 : (x > 0 ? 1.0 : -1.0); };
    if (mode == 0 || (mode == 1 && position % 4 == 2)) {
        a = unit(a);
        b = unit(b);
    }
    if (std::abs(a) < 1e-12) a = 0.0;
    if (std::abs(b) < 1e-12) b = 0.0;
}

} // namespace

void StepperDut::reset()
{
    supplyMv_ = 0;
    ps_ = enable_ = mode0_ = mode1_ = cw_ = false;
    position_ = kHome;
    steps_ = 0;
}

void StepperDut::onWrite(std::uint8_t reg, std::uint8_t value)
{
    (void)value;
    if (reg == DacBlock::kStrobe || reg == DacBlock::kSupply) refreshInputs();
}

bool StepperDut::pin(std::uint8_t channel) const
{
    // A logic input reads high above half the supply; the DAC code is half the
    // pin voltage in millivolts.
    const int pinMv = 2 * int(fpga_.dac().code(channel));
    return supplyMv_ > 0 && 2 * pinMv > supplyMv_;
}

void StepperDut::refreshInputs()
{
    const int supply = fpga_.dac().supplyMillivolts();
    if (supply == 0 && supplyMv_ != 0) {
        position_ = kHome; // power-on reset of the translator
    }
    supplyMv_ = supply;
    ps_ = pin(DacBlock::kPs);
    enable_ = pin(DacBlock::kEnable);
    mode0_ = pin(DacBlock::kMode0);
    mode1_ = pin(DacBlock::kMode1);
    cw_ = pin(DacBlock::kCw);
    // A new mode starts from the nearest position it can hold.
    const int mode = (mode0_ ? 1 : 0) + (mode1_ ? 2 : 0);
    if (mode == 0) position_ = (position_ & ~3) | 2;
    else if (mode < 3) position_ &= ~1;
}

void StepperDut::clockEdges(std::uint64_t n)
{
    if (!powered() || n == 0) return;
    const int mode = (mode0_ ? 1 : 0) + (mode1_ ? 2 : 0);
    const auto cycle = static_cast<std::uint64_t>(kPositions);
    const int advance = static_cast<int>((n % cycle) * std::uint64_t(kStride[mode]) % cycle);
    position_ = (position_ + (cw_ ? advance : kPositions - advance)) % kPositions;
    const auto s = static_cast<std::int64_t>(n);
    steps_ += cw_ ? s : -s;
}

void StepperDut::setSense(double ohms, double divisor)
{
    if (ohms > 0) senseOhms_ = ohms;
    if (divisor > 0) divisor_ = divisor;
}

DutState StepperDut::state() const
{
    DutState s;
    s.powered = powered();
    s.supplyMillivolts = supplyMv_;
    s.ps = ps_;
    s.enable = enable_;
    s.mode0 = mode0_;
    s.mode1 = mode1_;
    s.cw = cw_;
    s.excitation = (mode0_ ? 1 : 0) + (mode1_ ? 2 : 0);
    s.position = position_;
    s.steps = steps_;
    s.vrefVolts = fpga_.dac().code(DacBlock::kVref) / 1000.0;
    s.mthVolts = fpga_.dac().code(DacBlock::kMth) / 1000.0;
    s.senseOhms = senseOhms_;
    s.vrefDivisor = divisor_;
    s.amplitudeAmps = s.vrefVolts / divisor_ / senseOhms_;
    if (s.powered) {
        double a = 0, b = 0;
        coilFractions(s.excitation, position_, a, b);
        s.coilA = a * s.amplitudeAmps;
        s.coilB = b * s.amplitudeAmps;
    }
    return s;
}

} // namespace simboard
