#include "board/scope_front_end.h"

#include "board/clock_generator.h"
#include "board/fpga.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace simboard {
namespace {

constexpr std::int64_t kChop = StepperDut::kChopPeriodNs;
constexpr std::uint32_t kNoiseSeed = 0x5C0FE11Du;

// The converter's code for a value on a span of 2 x half scale:
// 36 V for voltages, 6.22 A for currents.
int toCode(double x, double span)
{
    const double k = x >= 0 ? 511.0 : 512.0;
    const double r = std::round(x * k / span);
    return static_cast<int>(std::clamp(r, -512.0, 511.0));
}

} // namespace

ScopeFrontEnd::ScopeFrontEnd(Fpga& fpga, const StepperDut& dut, const ClockGenerator& clock)
    : FpgaBlock(fpga), dut_(dut), clock_(clock)
{
}

void ScopeFrontEnd::reset()
{
    phase_ = ScopeState::Phase::Stopped;
    control_ = 0;
    lengthLow_ = 0xFF;
    lengthHigh_ = 0x0F;
    divider_ = 0;
    periodNs_ = 4 * kTickNs;
    length_ = kMaxSamples;
    nextNs_ = 0;
    havePrev_ = false;
    prev_ = 0;
    triggerNs_ = -1;
    filled_ = 0;
    uploadChannel_ = 0;
    uploadRecord_ = 0;
    sweeps_ = uploaded_ = 0;
    rng_ = kNoiseSeed;
    codesGeneration_ = ~std::uint64_t(0);
}

// ---- Registers -------------------------------------------------------------

void ScopeFrontEnd::onWrite(std::uint8_t reg, std::uint8_t value)
{
    if (reg < kControl || reg > kConfig + 3) return;
    if (reg == kLengthLow) lengthLow_ = value;
    if (reg == kLengthHigh) lengthHigh_ = value;
    if (reg == kControl) {
        control_ = value;
        // Whatever was under way, including an upload not yet out, is dropped.
        phase_ = ScopeState::Phase::Stopped;
        if ((value & 0x0F) && fpga_.scopeFitted) arm();
        return;
    }
    // New settings while looking for the trigger: look again with them.
    if (phase_ == ScopeState::Phase::WaitingForTrigger) arm();
}

std::optional<std::uint8_t> ScopeFrontEnd::onRead(std::uint8_t reg)
{
    if (reg == kLengthLow) return lengthLow_;
    if (reg == kLengthHigh) return lengthHigh_;
    return std::nullopt;
}

void ScopeFrontEnd::arm()
{
    divider_ = static_cast<std::uint16_t>(fpga_.reg(kDividerLow) | fpga_.reg(kDividerHigh) << 8);
    periodNs_ = (std::int64_t(divider_) + 4) * kTickNs;
    const unsigned requested = ((unsigned(lengthHigh_) & 0x0F) << 8 | lengthLow_) + 1;
    length_ = (requested + kSamplesPerRecord - 1) / kSamplesPerRecord * kSamplesPerRecord;
    phase_ = ScopeState::Phase::WaitingForTrigger;
    nextNs_ = fpga_.nowNs();
    havePrev_ = false;
    filled_ = 0;
}

void ScopeFrontEnd::triggerAt(std::int64_t t)
{
    phase_ = ScopeState::Phase::Acquiring;
    triggerNs_ = t;
    nextNs_ = t;
    filled_ = 0;
}

// ---- Codes -------------------------------------------------------------------

void ScopeFrontEnd::refreshCodes()
{
    if (codesGeneration_ == dut_.tableGeneration()) return;
    codesGeneration_ = dut_.tableGeneration();
    for (int probe = 0; probe < StepperDut::kProbes; ++probe) {
        const bool voltage = probe <= StepperDut::kOut2B;
        // The current input reads the current into OUTxA.
        const double sign = (probe == StepperDut::kCoil1 || probe == StepperDut::kCoil2) ? -1.0 : 1.0;
        const double span = voltage ? 2 * 18.0 : 2 * 3.11;
        for (int p = 0; p < StepperDut::kPositions; ++p) {
            const auto& w = dut_.waveform(static_cast<StepperDut::Probe>(probe), p);
            CodeWave& c = codes_[probe][p];
            c.b1 = std::clamp<std::int64_t>(w.b1, 0, kChop);
            c.b2 = std::clamp<std::int64_t>(w.b2, c.b1, kChop);
            c.c0 = toCode(sign * w.v0, span);
            c.c1 = toCode(sign * w.v1, span);
            c.c2 = toCode(sign * w.v2, span);
            c.lo = std::numeric_limits<int>::max();
            c.hi = std::numeric_limits<int>::min();
            auto hold = [&](bool present, int v) {
                if (!present) return;
                c.lo = std::min(c.lo, v);
                c.hi = std::max(c.hi, v);
            };
            hold(c.b1 > 0, c.c0);
            hold(c.b2 > c.b1, c.c1);
            hold(c.b2 < kChop, c.c2);
        }
    }
}

const ScopeFrontEnd::CodeWave& ScopeFrontEnd::wave(int channel, int position) const
{
    const std::uint8_t cfg = fpga_.reg(static_cast<std::uint8_t>(kConfig + channel));
    int probe = StepperDut::kOut1A + channel;
    if (cfg & 0x10) probe = (cfg & 0x08) ? StepperDut::kIcc : (channel < 2 ? StepperDut::kCoil1 : StepperDut::kCoil2);
    return codes_[probe][position];
}

int ScopeFrontEnd::inputOffset(int channel) const
{
    const std::uint8_t cfg = fpga_.reg(static_cast<std::uint8_t>(kConfig + channel));
    const int kind = (cfg & 0x10) ? ((cfg & 0x08) ? 2 : 1) : 0;
    return fpga_.inputOffsetCodes[static_cast<std::size_t>(channel)][static_cast<std::size_t>(kind)];
}

int ScopeFrontEnd::noise()
{
    // xorshift32: two bits give -1, 0, 0 or +1 code.
    rng_ ^= rng_ << 13;
    rng_ ^= rng_ >> 17;
    rng_ ^= rng_ << 5;
    return int(rng_ & 1) + int((rng_ >> 1) & 1) - 1;
}

// ---- Time ------------------------------------------------------------------------

ScopeFrontEnd::Run ScopeFrontEnd::nextRun(std::int64_t t, std::int64_t toNs, std::uint64_t maxSamples) const
{
    // The clock generator runs after this block in a time step, so the DUT
    // still stands where it stood at the start of the step; the edges the
    // generator has yet to deliver tell where it stands at time t.
    Run r;
    r.t = t;
    std::int64_t end = toNs;
    if (dut_.stepping()) {
        const std::uint64_t k = clock_.pendingEdges(t);
        r.position = dut_.positionAfter(k);
        end = std::min(clock_.pendingEdgeTime(k + 1), toNs); // > t
    } else {
        r.position = dut_.position(); // edges change nothing
    }
    r.n = std::min<std::uint64_t>(std::uint64_t((end - t + periodNs_ - 1) / periodNs_), maxSamples);
    return r;
}

void ScopeFrontEnd::advance(std::int64_t fromNs, std::int64_t toNs)
{
    (void)fromNs; // nextNs_ carries on where the last step stopped
    if (phase_ != ScopeState::Phase::WaitingForTrigger && phase_ != ScopeState::Phase::Acquiring) return;
    refreshCodes();
    if (phase_ == ScopeState::Phase::WaitingForTrigger && !searchTrigger(toNs)) return;
    acquire(toNs);
}

bool ScopeFrontEnd::searchTrigger(std::int64_t toNs)
{
    const int channel = control_ >> 6;
    if (!(fpga_.reg(static_cast<std::uint8_t>(kConfig + channel)) & 0x01)) {
        triggerAt(nextNs_); // not armed: free run
        return true;
    }
    const int code = fpga_.reg(kLevelLow) | (fpga_.reg(kLevelHigh) & 0x7F) << 8;
    // The offset moves every sample; moving the level the other way is the same.
    const int level = code - 0x800 - inputOffset(channel);
    const bool falling = fpga_.reg(kLevelHigh) & 0x80;
    auto crosses = [&](int before, int now) {
        return falling ? (before > level && now <= level) : (before < level && now >= level);
    };
    const std::int64_t step = periodNs_ % kChop;
    // The sampled chopping phase repeats after this many samples.
    const std::uint64_t cycle = step == 0 ? 1 : std::uint64_t(kChop / std::gcd(step, kChop));

    while (nextNs_ < toNs) {
        const Run r = nextRun(nextNs_, toNs, std::numeric_limits<std::uint64_t>::max());
        const CodeWave& w = wave(channel, r.position);
        const bool straddles = falling ? (w.hi > level && w.lo <= level) : (w.lo < level && w.hi >= level);
        std::int64_t phase = r.t % kChop;
        // Within a run only a level between the run's own levels can be
        // crossed, and only within one cycle of the sampled phases; beyond
        // that, only the run's first sample (against the one before) counts.
        const std::uint64_t look = straddles ? std::min(r.n, cycle + 1) : 1;
        for (std::uint64_t j = 0; j < look; ++j) {
            const int c = w.at(phase);
            if (havePrev_ && crosses(prev_, c)) {
                triggerAt(r.t + std::int64_t(j) * periodNs_);
                return true;
            }
            prev_ = c;
            havePrev_ = true;
            phase += step;
            if (phase >= kChop) phase -= kChop;
        }
        if (look < r.n) prev_ = w.at((r.t + std::int64_t(r.n - 1) * periodNs_) % kChop);
        nextNs_ += std::int64_t(r.n) * periodNs_;
    }
    return false;
}

void ScopeFrontEnd::acquire(std::int64_t toNs)
{
    while (filled_ < length_ && nextNs_ < toNs) {
        const Run r = nextRun(nextNs_, toNs, length_ - filled_);
        for (int ch = 0; ch < kChannels; ++ch) {
            if (control_ & (1u << ch)) fill(ch, filled_, r);
        }
        filled_ += r.n;
        nextNs_ += std::int64_t(r.n) * periodNs_;
    }
    if (filled_ == length_ && toNs >= triggerNs_ + std::int64_t(length_) * periodNs_) {
        phase_ = ScopeState::Phase::Uploading;
        ++sweeps_;
        uploadChannel_ = 0;
        uploadRecord_ = 0;
    }
}

void ScopeFrontEnd::fill(int channel, std::uint64_t first, const Run& run)
{
    const CodeWave& w = wave(channel, run.position);
    std::int16_t* out = samples_[channel].data() + first;
    const bool noisy = fpga_.probeNoise;
    const int offset = inputOffset(channel);
    auto put = [&](std::uint64_t j, int c) {
        c += offset;
        if (noisy) c += noise();
        out[j] = static_cast<std::int16_t>(std::clamp(c, -512, 511));
    };
    if (w.lo == w.hi) { // one level all period: the coil currents, or an idle output
        for (std::uint64_t j = 0; j < run.n; ++j) put(j, w.lo);
        return;
    }
    const std::int64_t step = periodNs_ % kChop;
    std::int64_t phase = run.t % kChop;
    for (std::uint64_t j = 0; j < run.n; ++j) {
        put(j, w.at(phase));
        phase += step;
        if (phase >= kChop) phase -= kChop;
    }
}

// ---- Upload ------------------------------------------------------------------

void ScopeFrontEnd::service()
{
    while (phase_ == ScopeState::Phase::Uploading && fpga_.blocksWaiting() < kUploadWindow) {
        if (!uploadNext()) {
            ++uploaded_;
            arm(); // the next sweep
        }
    }
}

bool ScopeFrontEnd::uploadNext()
{
    while (uploadChannel_ < kChannels && !(control_ & (1u << uploadChannel_))) ++uploadChannel_;
    if (uploadChannel_ == kChannels) return false;

    std::uint8_t rec[kRecordBytes];
    rec[0] = 0;
    rec[1] = static_cast<std::uint8_t>(kUpload + uploadChannel_);
    rec[2] = rec[3] = 0;
    rec[4] = static_cast<std::uint8_t>((2 * kSamplesPerRecord) >> 8);
    rec[5] = static_cast<std::uint8_t>((2 * kSamplesPerRecord) & 0xFF);
    const std::int16_t* s = samples_[uploadChannel_].data() + std::size_t(uploadRecord_) * kSamplesPerRecord;
    for (unsigned i = 0; i < kSamplesPerRecord; ++i) {
        // Sixteen-bit two's complement, most significant byte first; the
        // host reads the low ten bits.
        const auto u = static_cast<std::uint16_t>(s[i]);
        rec[6 + 2 * i] = static_cast<std::uint8_t>(u >> 8);
        rec[7 + 2 * i] = static_cast<std::uint8_t>(u & 0xFF);
    }
    fpga_.commit(); // an upload opens its block
    fpga_.emitRecord(rec, sizeof rec);

    if (++uploadRecord_ == length_ / kSamplesPerRecord) {
        uploadRecord_ = 0;
        ++uploadChannel_;
        while (uploadChannel_ < kChannels && !(control_ & (1u << uploadChannel_))) ++uploadChannel_;
        if (uploadChannel_ == kChannels) {
            // The sweep-finished record rides behind the last upload.
            fpga_.emit(kSweepFinished, 0, 0);
            fpga_.commit();
            return false;
        }
    }
    fpga_.commit();
    return true;
}

std::optional<std::int64_t> ScopeFrontEnd::uploadDueNs() const
{
    const std::int64_t span = std::int64_t(length_) * periodNs_;
    switch (phase_) {
    case ScopeState::Phase::Acquiring: return triggerNs_ + span;
    case ScopeState::Phase::WaitingForTrigger:
        if (!(fpga_.reg(static_cast<std::uint8_t>(kConfig + (control_ >> 6))) & 0x01)) return nextNs_ + span;
        return std::nullopt;
    default: return std::nullopt;
    }
}

ScopeState ScopeFrontEnd::state() const
{
    ScopeState s;
    s.phase = phase_;
    s.control = control_;
    for (int ch = 0; ch < kChannels; ++ch) s.channelConfig[ch] = fpga_.reg(static_cast<std::uint8_t>(kConfig + ch));
    s.divider = divider_;
    s.samplePeriodNs = periodNs_;
    s.recordLength = length_;
    s.triggerCode = static_cast<std::uint16_t>(fpga_.reg(kLevelLow) | (fpga_.reg(kLevelHigh) & 0x7F) << 8);
    s.fallingSlope = fpga_.reg(kLevelHigh) & 0x80;
    s.triggerArmed = s.channelConfig[control_ >> 6] & 0x01;
    s.sweepsAcquired = sweeps_;
    s.sweepsUploaded = uploaded_;
    s.lastTriggerNs = triggerNs_;
    return s;
}

} // namespace simboard
