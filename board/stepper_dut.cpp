#include "board/stepper_dut.h"

#include "board/dac_block.h"
#include "board/fpga.h"

#include <algorithm>
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
    rebuildTable();
}

void StepperDut::onWrite(std::uint8_t reg, std::uint8_t value)
{
    (void)value;
    if (reg == DacBlock::kStrobe || reg == DacBlock::kSupply) refreshInputs();
}

bool StepperDut::pin(std::uint8_t channel, bool last) const
{
    // The DAC code is half the pin voltage in millivolts. A logic input reads
    // high above VIH = 0.7 x VDUT and low below VIL = 0.3 x VDUT; in between
    // it keeps the state it had. Unpowered, every input reads low.
    if (supplyMv_ <= 0) return false;
    const int pinMv = 2 * int(fpga_.dac().code(channel));
    if (10 * pinMv > kInputHighTenths * supplyMv_) return true;
    if (10 * pinMv < kInputLowTenths * supplyMv_) return false;
    return last;
}

void StepperDut::refreshInputs()
{
    const int supply = fpga_.dac().supplyMillivolts();
    if (supply == 0 && supplyMv_ != 0) {
        position_ = kHome; // power-on reset of the translator
    }
    supplyMv_ = supply;
    ps_ = pin(DacBlock::kPs, ps_);
    enable_ = pin(DacBlock::kEnable, enable_);
    mode0_ = pin(DacBlock::kMode0, mode0_);
    mode1_ = pin(DacBlock::kMode1, mode1_);
    cw_ = pin(DacBlock::kCw, cw_);
    // A new mode starts from the nearest position it can hold.
    const int m = mode();
    if (m == 0) position_ = (position_ & ~3) | 2;
    else if (m < 3) position_ &= ~1;
    rebuildTable();
}

int StepperDut::positionAfter(std::uint64_t edges) const
{
    if (!powered() || edges == 0) return position_;
    const auto cycle = static_cast<std::uint64_t>(kPositions);
    const int advance = static_cast<int>((edges % cycle) * std::uint64_t(kStride[mode()]) % cycle);
    return (position_ + (cw_ ? advance : kPositions - advance)) % kPositions;
}

void StepperDut::clockEdges(std::uint64_t n)
{
    if (!powered() || n == 0) return;
    position_ = positionAfter(n);
    const auto s = static_cast<std::int64_t>(n);
    steps_ += cw_ ? s : -s;
}

void StepperDut::setSense(double ohms, double divisor)
{
    if (ohms > 0) senseOhms_ = ohms;
    if (divisor > 0) divisor_ = divisor;
    rebuildTable();
}

double StepperDut::amplitude() const
{
    return fpga_.dac().code(DacBlock::kVref) / 1000.0 / divisor_ / senseOhms_;
}

void StepperDut::rebuildTable()
{
    ++generation_;
    const bool on = powered();
    const double amp = amplitude();
    for (int p = 0; p < kPositions; ++p) {
        auto& row = table_[p];
        row.fill(Waveform{});
        if (!on) continue; // outputs off: no current, the outputs read 0 V
        double fa = 0, fb = 0;
        coilFractions(mode(), p, fa, fb);
        const double current[2] = {fa * amp, fb * amp};
        std::int64_t onNs[2] = {0, 0};
        for (int w = 0; w < 2; ++w) {
            const double i = current[w];
            Waveform& coil = row[kCoil1 + w];
            coil.v0 = coil.v1 = coil.v2 = i;
            if (i == 0.0) continue; // both outputs held low
            // The on-time that keeps the current up against the winding's
            // resistance, at least the blanking time, at most the whole period.
            const double duty = std::clamp(std::abs(i) * kCoilOhms / kMotorVolts, kMinDuty, 1.0);
            onNs[w] = std::llround(duty * double(kChopPeriodNs));
            // Positive current flows out of OUTxA: OUTxA chops, OUTxB stays low.
            Waveform& driven = row[(i > 0 ? kOut1A : kOut1B) + 2 * w];
            driven.v0 = kMotorVolts;
            driven.b1 = driven.b2 = onNs[w];
        }
        // The supply delivers each winding's current while its bridge is on.
        Waveform& icc = row[kIcc];
        const double a0 = std::abs(current[0]), a1 = std::abs(current[1]);
        const bool firstShorter = onNs[0] <= onNs[1];
        icc.b1 = std::min(onNs[0], onNs[1]);
        icc.b2 = std::max(onNs[0], onNs[1]);
        icc.v0 = kQuiescentAmps + a0 + a1;
        icc.v1 = kQuiescentAmps + (firstShorter ? a1 : a0);
        icc.v2 = kQuiescentAmps;
        if (icc.b1 == icc.b2) icc.v1 = icc.v2;
    }
}

DutState StepperDut::state(std::int64_t nowNs) const
{
    DutState s;
    s.powered = powered();
    s.supplyMillivolts = supplyMv_;
    s.ps = ps_;
    s.enable = enable_;
    s.mode0 = mode0_;
    s.mode1 = mode1_;
    s.cw = cw_;
    s.excitation = mode();
    s.position = position_;
    s.steps = steps_;
    s.vrefVolts = fpga_.dac().code(DacBlock::kVref) / 1000.0;
    s.mthVolts = fpga_.dac().code(DacBlock::kMth) / 1000.0;
    s.senseOhms = senseOhms_;
    s.vrefDivisor = divisor_;
    s.amplitudeAmps = s.vrefVolts / divisor_ / senseOhms_;
    s.motorVolts = kMotorVolts;
    s.chopPeriodNs = kChopPeriodNs;
    const auto& row = table_[position_];
    s.coilA = row[kCoil1].v0;
    s.coilB = row[kCoil2].v0;
    auto duty = [&](Probe a, Probe b) {
        const Waveform& w = row[a].v0 > 0 ? row[a] : row[b];
        return w.v0 > 0 ? double(w.b1) / double(kChopPeriodNs) : 0.0;
    };
    s.duty1 = duty(kOut1A, kOut1B);
    s.duty2 = duty(kOut2A, kOut2B);
    const std::int64_t phase = nowNs >= 0 ? nowNs % kChopPeriodNs : 0;
    s.out1a = row[kOut1A].at(phase);
    s.out1b = row[kOut1B].at(phase);
    s.out2a = row[kOut2A].at(phase);
    s.out2b = row[kOut2B].at(phase);
    s.iccAmps = row[kIcc].at(phase);
    s.iccMeanAmps = s.powered ? kQuiescentAmps + std::abs(s.coilA) * s.duty1 + std::abs(s.coilB) * s.duty2 : 0.0;
    return s;
}

} // namespace simboard
