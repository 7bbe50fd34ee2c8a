#include "board/chamber_sim.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simboard {

namespace {

constexpr std::uint16_t kRegReading1 = 0x0000;
constexpr std::uint16_t kRegReading2 = 0x0002;
constexpr std::uint16_t kRegRunStop = 0x003A;
constexpr std::uint16_t kRegSetpoint1 = 0x004E;
constexpr std::uint16_t kRegSetpoint2 = 0x005A;
constexpr std::uint16_t kHeldRegisters[] = {0x0034, 0x0036, 0x0202, 0x0242, 0x0248, 0x024E, 0x0286};

// What the chamber can reach; a set point beyond is regulated to the limit.
constexpr double kColdest = -70.0;
constexpr double kHottest = 180.0;
// Board time of one integration step of the air.
constexpr std::int64_t kStepNs = 250'000'000;
// Both requests the controller understands are 8 bytes long.
constexpr std::size_t kRequestBytes = 8;
// A line that has gone quiet this long ends whatever frame was under way
// (Modbus asks for 3.5 characters; a pseudo-terminal has no character time).
constexpr auto kFrameGap = std::chrono::milliseconds(20);

std::uint16_t crc16(const std::uint8_t* p, std::size_t n)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

void appendCrc(std::vector<std::uint8_t>& frame)
{
    const std::uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

std::uint16_t toRegister(double shown)
{
    const double tenths = std::clamp(std::round(shown * 10.0), -32768.0, 32767.0);
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(tenths));
}

double fromRegister(std::uint16_t v)
{
    return static_cast<std::int16_t>(v) / 10.0;
}

} // namespace

// ---- The chamber ----------------------------------------------------------------

double ChamberModel::probeShows(double t)
{
    return kProbeA * t * t + kProbeB * t + kProbeC;
}

double ChamberModel::probeTruth(double y)
{
    // The root of a t^2 + b t + (c - y) near the identity, written so that the
    // small `a` does not cancel the digits away.
    const double disc = kProbeB * kProbeB - 4.0 * kProbeA * (kProbeC - y);
    if (disc < 0.0) return kColdest;
    return 2.0 * (y - kProbeC) / (std::sqrt(disc) + kProbeB);
}

ChamberModel::ChamberModel()
{
    restoreDefaults(kRoomCelsius, 0);
}

void ChamberModel::restoreDefaults(double celsius, std::int64_t nowNs)
{
    regs_.clear();
    for (std::uint16_t r : kHeldRegisters) regs_[r] = 0;
    regs_[kRegRunStop] = 0;
    regs_[kRegSetpoint2] = toRegister(probeShows(celsius));
    rampPerSecond_ = kDefaultRampPerMinute / 60.0;
    lag_ = kDefaultLagSeconds;
    fault_ = ChamberFault::None;
    requests_ = answered_ = 0;
    lastNs_ = nowNs;
    putAt(celsius, nowNs);
}

void ChamberModel::setModel(double rampPerMinute, double lagSeconds)
{
    if (std::isfinite(rampPerMinute) && rampPerMinute > 0.0) rampPerSecond_ = rampPerMinute / 60.0;
    if (std::isfinite(lagSeconds) && lagSeconds >= 0.0) lag_ = lagSeconds;
}

void ChamberModel::putAt(double celsius, std::int64_t nowNs)
{
    advanceTo(nowNs);
    celsius = std::clamp(celsius, kColdest, kHottest);
    ramp_ = air_ = celsius;
    regs_[kRegSetpoint1] = toRegister(probeShows(celsius));
}

double ChamberModel::target() const
{
    if (regs_.at(kRegRunStop) != 0) return kRoomCelsius;
    return std::clamp(probeTruth(fromRegister(regs_.at(kRegSetpoint1))), kColdest, kHottest);
}

void ChamberModel::advanceTo(std::int64_t nowNs)
{
    if (nowNs <= lastNs_) return;
    const double goal = target();
    while (lastNs_ < nowNs) {
        const std::int64_t step = std::min(kStepNs, nowNs - lastNs_);
        const double dt = double(step) * 1e-9;
        const double before = ramp_;
        ramp_ += std::clamp(goal - ramp_, -rampPerSecond_ * dt, rampPerSecond_ * dt);
        // The air chases the middle of the step's ramp.
        const double chase = 0.5 * (before + ramp_);
        air_ = lag_ > 0.0 ? chase + (air_ - chase) * std::exp(-dt / lag_) : ramp_;
        lastNs_ += step;
    }
}

void ChamberModel::setFault(ChamberFault fault)
{
    if (fault == ChamberFault::StuckReading && fault_ != ChamberFault::StuckReading)
        stuckShown_ = fromRegister(toRegister(probeShows(air_)));
    fault_ = fault;
}

std::uint16_t ChamberModel::reading() const
{
    return toRegister(fault_ == ChamberFault::StuckReading ? stuckShown_ : probeShows(air_));
}

std::vector<std::uint8_t> ChamberModel::answer(const std::uint8_t* f, std::int64_t nowNs)
{
    advanceTo(nowNs);
    const std::uint8_t function = f[1];
    const std::uint16_t reg = static_cast<std::uint16_t>(f[2] << 8 | f[3]);
    const std::uint16_t value = static_cast<std::uint16_t>(f[4] << 8 | f[5]);
    auto exception = [&](std::uint8_t code) {
        std::vector<std::uint8_t> r{kSlave, static_cast<std::uint8_t>(function | 0x80), code};
        appendCrc(r);
        return r;
    };
    if (function == 3) {
        if (value < 1 || value > 125) return exception(3);
        std::vector<std::uint8_t> r{kSlave, 3, static_cast<std::uint8_t>(2 * value)};
        for (unsigned i = 0; i < value; ++i) {
            const auto at = static_cast<std::uint16_t>(reg + i);
            std::uint16_t v = 0;
            if (at == kRegReading1 || at == kRegReading2)
                v = reading();
            else if (auto it = regs_.find(at); it != regs_.end())
                v = it->second;
            else
                return exception(2);
            r.push_back(static_cast<std::uint8_t>(v >> 8));
            r.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
        appendCrc(r);
        return r;
    }
    if (function == 6) {
        auto it = regs_.find(reg);
        if (it == regs_.end()) return exception(2);
        if (reg == kRegRunStop && value > 1) return exception(3);
        it->second = value;
        return {f, f + kRequestBytes}; // the echo
    }
    return exception(1);
}

std::vector<std::uint8_t> ChamberModel::serve(std::vector<std::uint8_t>& pending, std::int64_t nowNs)
{
    std::vector<std::uint8_t> out;
    std::size_t at = 0;
    while (pending.size() - at >= kRequestBytes) {
        const std::uint8_t* f = pending.data() + at;
        const std::uint16_t crc = static_cast<std::uint16_t>(f[6] | f[7] << 8);
        if (crc16(f, 6) != crc) {
            ++at; // not a frame here: look one byte on
            continue;
        }
        at += kRequestBytes;
        if (f[0] != kSlave) continue; // another slave's, or a broadcast we do not take
        ++requests_;
        if (fault_ == ChamberFault::NoAnswer) continue;
        std::vector<std::uint8_t> reply = answer(f, nowNs);
        if (fault_ == ChamberFault::Garbled) reply[reply.size() / 2] ^= 0x5A;
        ++answered_;
        out.insert(out.end(), reply.begin(), reply.end());
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
    return out;
}

ChamberState ChamberModel::state() const
{
    ChamberState s;
    s.setpointCelsius = std::clamp(probeTruth(fromRegister(regs_.at(kRegSetpoint1))), kColdest, kHottest);
    s.airCelsius = air_;
    s.shownCelsius = fromRegister(reading());
    s.running = regs_.at(kRegRunStop) == 0;
    s.rampPerMinute = rampPerSecond_ * 60.0;
    s.lagSeconds = lag_;
    s.fault = fault_;
    s.requests = requests_;
    s.answered = answered_;
    return s;
}

// ---- The line -----------------------------------------------------------------

ChamberPort::ChamberPort(Handler handle) : handle_(std::move(handle))
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
        return;
    }
    holder_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (holder_ < 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    // Raw from the start: nothing echoed or translated before the host sets
    // the line up itself.
    termios tio{};
    if (::tcgetattr(holder_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B9600);
        ::tcsetattr(holder_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
    thread_ = std::thread([this] { run(); });
}

ChamberPort::~ChamberPort()
{
    if (thread_.joinable()) {
        const char c = 0;
        (void)!::write(wake_[1], &c, 1);
        thread_.join();
    }
    for (int fd : {master_, holder_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

void ChamberPort::run()
{
    using steady = std::chrono::steady_clock;
    std::vector<std::uint8_t> pending;
    steady::time_point lastByte{};
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, static_cast<int>(kFrameGap.count()));
        if (n < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (n > 0 && (fds[0].revents & POLLIN)) {
            std::uint8_t buf[256];
            const ssize_t got = ::read(master_, buf, sizeof buf);
            if (got > 0) {
                if (!pending.empty() && steady::now() - lastByte > kFrameGap) pending.clear();
                pending.insert(pending.end(), buf, buf + got);
                lastByte = steady::now();
                std::vector<std::uint8_t> reply = handle_(pending);
                std::size_t done = 0;
                while (done < reply.size()) {
                    const ssize_t w = ::write(master_, reply.data() + done, reply.size() - done);
                    if (w > 0)
                        done += static_cast<std::size_t>(w);
                    else if (w < 0 && (errno == EAGAIN || errno == EINTR))
                        ::usleep(1000);
                    else
                        break;
                }
            }
        } else if (n > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            ::usleep(10'000); // nobody on the line; the holder makes this rare
        }
        if (!pending.empty() && steady::now() - lastByte > kFrameGap) pending.clear();
    }
}

} // namespace simboard
