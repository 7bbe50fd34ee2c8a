#include "board/fpga.h"

#include "board/clock_generator.h"
#include "board/dac_block.h"
#include "board/pattern_sequencer.h"
#include "board/scope_front_end.h"
#include "board/stepper_dut.h"
#include "board/thermal_model.h"

#include <algorithm>
#include <cstring>

namespace simboard {

Fpga::Fpga(EventLog& log, BoardClock& clock) : log_(log), clock_(clock)
{
    // Order matters: the DAC latches a write before the DUT reads its
    // outputs; the scope samples a time step before the clock generator
    // moves the DUT through it (it asks the generator where the edges fall),
    // and the clock runs the DUT up to each access.
    auto dac = std::make_unique<DacBlock>(*this);
    dac_ = dac.get();
    blocks_.push_back(std::move(dac));
    auto dut = std::make_unique<StepperDut>(*this);
    dut_ = dut.get();
    blocks_.push_back(std::move(dut));
    auto generator = std::make_unique<ClockGenerator>(*this, *dut_);
    clockGen_ = generator.get();
    auto scope = std::make_unique<ScopeFrontEnd>(*this, *dut_, *clockGen_);
    scope_ = scope.get();
    blocks_.push_back(std::move(scope));
    blocks_.push_back(std::move(generator));
    // After the clock generator: the junction heats with the currents the
    // clock has moved the DUT to.
    auto thermal = std::make_unique<ThermalModel>(*this);
    thermal_ = thermal.get();
    blocks_.push_back(std::move(thermal));
    auto sequencer = std::make_unique<PatternSequencer>(*this);
    sequencer_ = sequencer.get();
    blocks_.push_back(std::move(sequencer));
    powerUp();
}

Fpga::~Fpga() = default;

void Fpga::powerUp()
{
    state_ = FpgaState::Unconfigured;
    hostReady_ = false;
    image_.clear();
    image_.shrink_to_fit();
    queue_.clear();
    dropped_ = 0;
    resetLogic();
}

void Fpga::resetLogic()
{
    regs_.fill(0);
    memories_.clear();
    filling_.fill(0);
    fill_ = 0;
    now_ = clock_.now();
    lastAdvanceNs_ = now_;
    for (auto& b : blocks_) b->reset();
}

void Fpga::pulseNConfig()
{
    state_ = FpgaState::Configuring;
    image_.clear();
    queue_.clear();
    resetLogic();
}

void Fpga::shiftImage(const std::uint8_t* data, std::size_t n, std::uint8_t chunkCode)
{
    if (state_ != FpgaState::Configuring) return; // DCLK is ignored outside configuration
    if (chunkCode == 0x19) {
        finishConfiguration();
        return;
    }
    const std::size_t room = kMaxImageBytes - image_.size();
    image_.insert(image_.end(), data, data + std::min(n, room));
}

void Fpga::finishConfiguration()
{
    if (image_.empty() || failConfiguration) {
        state_ = FpgaState::Failed;
        return;
    }
    state_ = FpgaState::Configured;
    resetLogic();
    if (hostReady_) sendHardwareReady();
}

void Fpga::forceConfigured()
{
    state_ = FpgaState::Configured;
    image_.assign(1, 0xFF);
    queue_.clear();
    resetLogic();
    if (hostReady_) sendHardwareReady();
}

void Fpga::setHostReady(bool level)
{
    const bool rising = level && !hostReady_;
    hostReady_ = level;
    if (rising && state_ == FpgaState::Configured) sendHardwareReady();
}

void Fpga::sendHardwareReady()
{
    if (neverHardwareReady) return;
    emit(kHardwareReady, 0, 0);
    commit();
}

// ---- Command path ----------------------------------------------------------

void Fpga::commandBytes(const std::uint8_t* d, std::size_t n)
{
    if (state_ != FpgaState::Configured) return;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t left = n - i;
        if (left < 4) {
            emit(kBadCommand, 0xFF, static_cast<std::uint8_t>(left));
            break;
        }
        const std::uint8_t type = d[i + 3];
        if (type == 0x00) {
            if (left < 6) {
                emit(kBadCommand, type, static_cast<std::uint8_t>(left));
                break;
            }
            writeRegister(d[i], d[i + 4], d[i + 5]);
            i += 6;
        } else if (type == 0x80) {
            if (left < 5) {
                emit(kBadCommand, type, static_cast<std::uint8_t>(left));
                break;
            }
            readRegister(d[i + 4]);
            i += 5;
        } else if (type == 0x03) {
            if (left < 9) {
                emit(kBadCommand, type, static_cast<std::uint8_t>(left));
                break;
            }
            const std::size_t count = ((std::size_t(d[i + 7]) << 8) | d[i + 8]) + 1;
            if (count > kMaxBlockData || left - 9 < count) {
                // Oversize or cut short: the frame cannot be trusted, nor anything behind it.
                emit(kBadCommand, type, 0);
                break;
            }
            const auto start = static_cast<std::uint16_t>((d[i + 5] << 8) | d[i + 6]);
            blockWrite(d[i + 4], start, d + i + 9, count);
            i += 9 + count;
        } else {
            // Unknown frame type: the rest of the transfer cannot be framed.
            emit(kBadCommand, type, 0);
            break;
        }
    }
    commit();
}

void Fpga::writeRegister(std::uint8_t cls, std::uint8_t r, std::uint8_t v)
{
    regs_[r] = v;
    LogEvent e;
    e.kind = LogEvent::Kind::RegisterWrite;
    e.timeNs = now_;
    e.code = r;
    e.writeClass = cls;
    e.value = v;
    log_.add(e);
    for (auto& b : blocks_) b->onWrite(r, v);
}

void Fpga::readRegister(std::uint8_t r)
{
    std::uint8_t v = regs_[r];
    for (auto& b : blocks_) {
        if (auto answer = b->onRead(r)) {
            v = *answer;
            break;
        }
    }
    emit(kRegisterAnswer, r, v);
}

void Fpga::blockWrite(std::uint8_t target, std::uint16_t start, const std::uint8_t* data, std::size_t n)
{
    LogEvent e;
    e.kind = LogEvent::Kind::BlockWrite;
    e.timeNs = now_;
    e.code = target;
    e.value = start;
    e.count = static_cast<std::uint16_t>(n);
    log_.add(e);
    auto& mem = memories_[target];
    if (mem.empty()) mem.resize(0x10000);
    const std::size_t fit = std::min<std::size_t>(n, 0x10000 - start); // no wrap past the top
    std::memcpy(mem.data() + start, data, fit);
    for (auto& b : blocks_) b->onBlockWrite(target, start, data, n);
}

std::vector<std::uint8_t> Fpga::memory(std::uint8_t target, std::uint16_t start, std::size_t n) const
{
    std::vector<std::uint8_t> out(std::min<std::size_t>(n, 0x10000 - start), 0);
    auto it = memories_.find(target);
    if (it != memories_.end()) std::copy_n(it->second.begin() + start, out.size(), out.begin());
    return out;
}

// ---- Response path ---------------------------------------------------------

void Fpga::emit(std::uint8_t code, std::uint8_t b4, std::uint8_t b5)
{
    const std::uint8_t r[6] = {0, code, 0, 0, b4, b5};
    emitRecord(r, sizeof r);
}

void Fpga::emitRecord(const std::uint8_t* record, std::size_t n)
{
    n = std::min(n, kBlockSize);
    if (fill_ + n > kBlockSize) commit();
    std::memcpy(filling_.data() + fill_, record, n);
    fill_ += n;
}

void Fpga::commit()
{
    if (fill_ == 0) return;
    pushBlock(filling_.data(), fill_);
    filling_.fill(0);
    fill_ = 0;
}

void Fpga::pushBlock(const std::uint8_t* data, std::size_t n, bool front)
{
    if (queue_.size() >= kMaxQueuedBlocks) {
        ++dropped_;
        return;
    }
    std::array<std::uint8_t, kBlockSize> b{};
    std::memcpy(b.data(), data, std::min(n, kBlockSize));
    if (front) {
        queue_.push_front(b);
    } else {
        queue_.push_back(b);
    }
}

bool Fpga::popBlock(std::uint8_t* out)
{
    if (queue_.empty()) return false;
    std::memcpy(out, queue_.front().data(), kBlockSize);
    queue_.pop_front();
    return true;
}

void Fpga::advanceTo(std::int64_t nowNs)
{
    now_ = nowNs;
    if (nowNs > lastAdvanceNs_) {
        const std::int64_t from = lastAdvanceNs_;
        lastAdvanceNs_ = nowNs;
        if (state_ != FpgaState::Configured) return;
        // The sequencer switches the drive at exact times: run everything up
        // to each switching time first, then let it switch there.
        std::int64_t t = from;
        for (std::int64_t at = sequencer_->nextEventNs(); at <= nowNs; at = sequencer_->nextEventNs()) {
            at = std::max(at, t);
            if (at > t) for (auto& b : blocks_) b->advance(t, at);
            t = at;
            now_ = at;
            sequencer_->fire(at);
        }
        now_ = nowNs;
        if (nowNs > t) for (auto& b : blocks_) b->advance(t, nowNs);
        commit();
    }
    if (state_ != FpgaState::Configured) return;
    for (auto& b : blocks_) b->service();
    commit();
}

} // namespace simboard
