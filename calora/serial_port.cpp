#include "calora/serial_port.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace calora {

namespace {

constexpr const char* kCannotOpen = "Cannot open Communication Port.\nPlease quit the application & re-start your PC.";
constexpr const char* kCannotConfigurePort = "Cannot Configure Communication Port";
constexpr const char* kCannotConfigureTimeouts = "Cannot Configure Communication Timeouts";

void closeQuietly(int fd)
{
    // Leave exclusive mode first: the terminal may outlive this descriptor
    // (another process holds it open), and the next transaction must be able
    // to open it again.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd); // also drops the advisory lock
}

} // namespace

std::string portDevice()
{
    const char* env = std::getenv("CALORA_PORT");
    if (env != nullptr && *env != '\0')
        return env;
    return "/dev/ttyS0";
}

std::optional<SerialPort> SerialPort::open(const std::string& device, Reporter& reporter)
{
    // Non-blocking only for the open itself: a port without carrier must not
    // hang here.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reporter.report(MessageKind::Plain, kCannotOpen);
        return std::nullopt;
    }
    // Held by another transaction, here or in another program: same answer as
    // a port that is not there.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        reporter.report(MessageKind::Plain, kCannotOpen);
        return std::nullopt;
    }
    // A terminal another program has put into exclusive mode is in use, even
    // if we were let in (root is). Otherwise take exclusive mode ourselves;
    // on anything that is not a terminal this fails, and tcgetattr says so.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        ::close(fd);
        reporter.report(MessageKind::Plain, kCannotOpen);
        return std::nullopt;
    }
    ::ioctl(fd, TIOCEXCL);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        closeQuietly(fd);
        reporter.report(MessageKind::Plain, "GetCommState Error");
        reporter.report(MessageKind::Plain, kCannotConfigurePort);
        return std::nullopt;
    }
    // Raw 8N1 at 9600 baud, no parity check, no software or hardware flow
    // control, no stripping or translation of any byte; other flags as found.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        closeQuietly(fd);
        reporter.report(MessageKind::Plain, "SetCommState Error");
        reporter.report(MessageKind::Plain, kCannotConfigurePort);
        return std::nullopt;
    }
    // DTR and RTS off. Pseudo-terminals have no modem lines; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);

    // Time-outs: reads return at once with what is there; the per-byte
    // deadline is kept by readFor() with poll().
    termios timeouts{};
    if (::tcgetattr(fd, &timeouts) != 0) {
        closeQuietly(fd);
        reporter.report(MessageKind::Plain, kCannotConfigureTimeouts);
        return std::nullopt;
    }
    timeouts.c_cc[VMIN] = 0;
    timeouts.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &timeouts) != 0) {
        closeQuietly(fd);
        reporter.report(MessageKind::Plain, "StCommTimeouts function failed");
        reporter.report(MessageKind::Plain, kCannotConfigureTimeouts);
        return std::nullopt;
    }
    // Nothing from before this transaction belongs to it.
    ::tcflush(fd, TCIOFLUSH);
    return SerialPort(fd);
}

SerialPort::SerialPort(SerialPort&& other) noexcept : fd_(other.fd_)
{
    other.fd_ = -1;
}

SerialPort::~SerialPort()
{
    if (fd_ >= 0)
        closeQuietly(fd_);
}

bool SerialPort::writeEachByte(std::span<const std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes) {
        for (;;) {
            const ssize_t n = ::write(fd_, &b, 1);
            if (n == 1)
                break;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) { // still non-blocking: wait for room, briefly
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, 1000) > 0 && (p.revents & POLLOUT) != 0)
                    continue;
            }
            return false;
        }
    }
    return true;
}

std::size_t SerialPort::readFor(std::span<std::uint8_t> into, std::chrono::milliseconds total)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + total;
    std::size_t got = 0;
    while (got < into.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0)
            break;
        if ((p.revents & POLLIN) == 0)
            break; // hang-up or error with nothing to read: no more bytes will come
        const ssize_t n = ::read(fd_, into.data() + got, into.size() - got);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (n == 0 && (p.revents & (POLLHUP | POLLERR)) != 0)
            break;
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    return got;
}

void SerialPort::discardInput()
{
    ::tcflush(fd_, TCIFLUSH);
}

} // namespace calora
