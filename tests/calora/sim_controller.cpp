#include "tests/calora/sim_controller.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace calora_test {

namespace {

std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int k = 0; k < 8; ++k)
            v = (v & 1) ? (v >> 1) ^ 0xA001 : v >> 1;
        t[i] = static_cast<std::uint16_t>(v);
    }
    return t;
}

void writeAll(int fd, const Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EINTR || errno == EAGAIN))
            ::usleep(1000);
        else
            return;
    }
}

} // namespace

std::uint16_t referenceCrc(const std::uint8_t* data, std::size_t size)
{
    static const auto table = makeCrcTable();
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

Bytes withCrc(Bytes bytes)
{
    const std::uint16_t crc = referenceCrc(bytes.data(), bytes.size());
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    return bytes;
}

SimController::SimController()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("ptsname_r");
    slavePath_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Holding the slave open keeps the master from seeing a hang-up between
    // the library's transactions; raw, so nothing is echoed or translated
    // before the library configures the port itself.
    slaveHolder_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveHolder_ < 0)
        throw std::runtime_error("cannot open the slave side");
    termios tio{};
    ::tcgetattr(slaveHolder_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveHolder_, TCSANOW, &tio);
    responder_ = [this](const Bytes& request, int) { return normalReply(request); };
    thread_ = std::thread([this] { run(); });
}

SimController::~SimController()
{
    stop_ = true;
    thread_.join();
    ::close(slaveHolder_);
    ::close(master_);
}

void SimController::setResponder(Responder responder)
{
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

Reply SimController::normalReply(const Bytes& request)
{
    const std::uint16_t reg = static_cast<std::uint16_t>((request[2] << 8) | request[3]);
    const std::uint16_t value = static_cast<std::uint16_t>((request[4] << 8) | request[5]);
    std::lock_guard lock(mutex_);
    if (request[0] != 1)
        return {};
    if (request[1] == 6) {
        registers_[reg] = value;
        return {request, {}};
    }
    if (request[1] == 3 && value == 1) {
        const std::uint16_t v = registers_.count(reg) ? registers_[reg] : 0;
        return {withCrc({1, 3, 2, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xFF)}), {}};
    }
    return {withCrc({1, static_cast<std::uint8_t>(request[1] | 0x80), 1}), {}}; // illegal function
}

void SimController::setRegister(std::uint16_t r, std::uint16_t value)
{
    std::lock_guard lock(mutex_);
    registers_[r] = value;
}

std::uint16_t SimController::reg(std::uint16_t r) const
{
    std::lock_guard lock(mutex_);
    const auto it = registers_.find(r);
    return it == registers_.end() ? 0 : it->second;
}

std::vector<Bytes> SimController::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void SimController::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void SimController::run()
{
    Bytes pending;
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0)
            continue;
        std::uint8_t buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            continue;
        pending.insert(pending.end(), buf, buf + n);
        while (pending.size() >= 8) {
            const Bytes request(pending.begin(), pending.begin() + 8);
            pending.erase(pending.begin(), pending.begin() + 8);
            const std::uint16_t crc = referenceCrc(request.data(), 6);
            if (request[6] != (crc & 0xFF) || request[7] != (crc >> 8))
                ++badCrc_;
            Responder responder;
            int index = 0;
            {
                std::lock_guard lock(mutex_);
                index = static_cast<int>(requests_.size());
                requests_.push_back(request);
                responder = responder_;
            }
            const Reply reply = responder(request, index);
            if (reply.delay.count() > 0)
                std::this_thread::sleep_for(reply.delay);
            writeAll(master_, reply.bytes);
        }
    }
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    char path[] = "/tmp/calora-stderr-XXXXXX";
    file_ = ::mkstemp(path);
    if (file_ < 0)
        throw std::runtime_error("mkstemp");
    ::unlink(path);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(file_, STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    restore();
    if (file_ >= 0)
        ::close(file_);
}

void StderrCapture::restore()
{
    if (saved_ >= 0) {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
}

std::vector<std::string> StderrCapture::lines()
{
    restore();
    std::string all;
    char buf[512];
    ssize_t n;
    for (off_t at = 0; (n = ::pread(file_, buf, sizeof buf, at)) > 0; at += n)
        all.append(buf, static_cast<std::size_t>(n));
    std::vector<std::string> out;
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace calora_test
