// zelbo-server: the evaluation board as a LAN instrument. One process per
// board speaks SCPI over a raw TCP socket (port 5025). Two threads: this one
// does the network (poll), the board thread runs the commands on the session;
// the session's reader thread is the link's own. Neither waits on the other
// for more than a queue operation, so a client that floods or will not read
// cannot hold the board up: its input is bounded (the socket is not read while
// its queue is full), and so is its output (its lines wait while 256 KiB of
// answers are unread; it is dropped when none has been read for 10 s).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/build_info.h"
#include "common/log.h"
#include "engine/session.h"
#include "server/mdns.h"
#include "server/net_allow.h"
#include "server/scpi_instrument.h"

namespace {

using namespace std::chrono_literals;
using zelbo::server::ScpiInstrument;

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kNoBoard = 3 };

constexpr std::size_t kMaxQueuedLines = 64;         // per client: then its socket is not read
constexpr std::size_t kPauseOutput = 256u << 10;    // per client: its lines wait until it reads
constexpr std::size_t kMaxOutput = 4u << 20;        // per client: then it is dropped
// A client whose answers have waited this long without it reading any is dropped.
constexpr auto kStalledReader = std::chrono::seconds(10);
constexpr std::size_t kMaxClients = 16;

int g_signalPipe[2] = {-1, -1};
std::atomic<bool> g_stop{false};

extern "C" void noteSignal(int sig)
{
    g_stop = true;
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// The server's own log: connections, refusals, the board. Shown by default.
void logLine(const std::string& line)
{
    zelbo::log::info("zelbo-server: " + line);
}

const char* kUsageText =
    "Usage: zelbo-server [OPTION]...\n"
    "The evaluation board as a SCPI instrument on a raw TCP socket.\n\n"
    "  --board sim|usb[:SERIAL]   the board (default: ZELBO_BOARD decides); SERIAL: a serial number\n"
    "                             or USB path (zelbo-cli list names them)\n"
    "  --port N                   TCP port (default 5025; 0: any free one)\n"
    "  --listen ADDR              address to listen on (default 127.0.0.1)\n"
    "  --allow NET/BITS           a client network to accept (repeatable; default:\n"
    "                             loopback only)\n"
    "  --on-disconnect stop|off|keep\n"
    "                             what a controlling client that goes away leaves:\n"
    "                             clock stopped; clock stopped and power off\n"
    "                             (default); the board as it is\n"
    "  --files DIR                the folder clients' file names are below\n"
    "                             (default: the working directory)\n"
    "  --no-mdns                  do not advertise _scpi-raw._tcp\n"
    "  --log-level LEVEL          error, warning, info (default: connections\n"
    "                             and the board) or debug; or ZELBO_LOG\n"
    "  --scpi-table               print the command tree (Markdown) and exit\n"
    "  --version, --help\n";

// One connection. The network thread owns fd and inbuf; the board thread owns
// state; the rest is shared under Server::m.
struct Conn {
    explicit Conn(int id_, int fd_) : id(id_), fd(fd_), state(id_) {}
    int id;
    int fd;
    std::string peer;
    std::string inbuf;
    bool discarding = false; // inside a line that was too long
    std::deque<std::string> lines;
    std::string out;
    bool gone = false;  // the socket is closed (peer gone, dropped)
    std::chrono::steady_clock::time_point lastSent = std::chrono::steady_clock::now();
    zelbo::server::ClientState state;
};

struct Server {
    std::mutex m;
    std::condition_variable work;
    std::map<int, std::shared_ptr<Conn>> conns;
    int wakeFd[2] = {-1, -1}; // the board thread wakes the network thread
    std::atomic<bool> boardDone{false};

    std::atomic<bool> wakePending{false};

    // One byte in the pipe at a time: the network thread takes every answer
    // queued so far when it wakes.
    void wakeNetwork()
    {
        if (wakePending.exchange(true)) return;
        const char c = 0;
        [[maybe_unused]] const auto n = ::write(wakeFd[1], &c, 1);
    }
};

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// The board thread: lines in, answers out, one client after another.
void boardLoop(Server& srv, ScpiInstrument& inst)
{
    std::size_t turn = 0;
    auto lastPoll = std::chrono::steady_clock::now();
    while (!g_stop) {
        std::shared_ptr<Conn> pick;
        std::string line;
        std::vector<std::shared_ptr<Conn>> gone;
        {
            std::unique_lock lock(srv.m);
            for (auto it = srv.conns.begin(); it != srv.conns.end();) {
                // Once the network thread has closed its socket.
                if (it->second->gone && it->second->fd < 0) {
                    gone.push_back(it->second);
                    it = srv.conns.erase(it);
                } else {
                    ++it;
                }
            }
            if (gone.empty()) {
                // Round robin: the next client with work after the last served.
                std::vector<std::shared_ptr<Conn>> ready;
                for (auto& [id, c] : srv.conns)
                    // A client that does not read its answers gets no more until it does.
                    if (c->out.size() < kPauseOutput && (inst.waiting(c->state) ? !inst.busy() : !c->lines.empty()))
                        ready.push_back(c);
                if (!ready.empty()) {
                    pick = ready[turn++ % ready.size()];
                    if (!inst.waiting(pick->state)) {
                        line = std::move(pick->lines.front());
                        pick->lines.pop_front();
                    }
                } else if (!inst.busy()) {
                    srv.work.wait_for(lock, 50ms);
                    continue;
                }
            }
        }
        for (auto& c : gone) {
            inst.clientGone(c->state);
            logLine("client " + std::to_string(c->id) + " (" + c->peer + ") disconnected");
        }
        if (!gone.empty()) continue;
        // The board's counted run or sequence goes on: each poll waits up to
        // 20 ms for the board's answer, so while clients have lines waiting it
        // is made only every 100 ms.
        if (inst.busy() && (!pick || std::chrono::steady_clock::now() - lastPoll >= 100ms)) {
            inst.poll();
            lastPoll = std::chrono::steady_clock::now();
        }
        if (!pick) continue;
        const bool done = inst.waiting(pick->state) ? inst.resume(pick->state) : inst.execute(pick->state, line);
        if (!done) continue;
        std::string answer = inst.takeResponse(pick->state);
        if (answer.empty()) continue;
        {
            std::lock_guard lock(srv.m);
            if (pick->out.size() + answer.size() > kMaxOutput) {
                pick->out.clear();
                pick->gone = true; // it will not read: dropped
                logLine("client " + std::to_string(pick->id) + " does not read its answers: dropped");
            } else {
                pick->out += answer;
            }
        }
        srv.wakeNetwork();
    }
    srv.boardDone = true;
    srv.wakeNetwork();
}

// Takes what the client sent; false when it has gone.
bool readFrom(Server& srv, Conn& c)
{
    char buf[8192];
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    std::vector<std::string> complete;
    for (ssize_t i = 0; i < n; ++i) {
        const char ch = buf[i];
        if (ch == '\n') {
            if (c.discarding) c.discarding = false;
            else complete.push_back(std::move(c.inbuf));
            c.inbuf.clear();
        } else if (!c.discarding) {
            c.inbuf += ch;
            if (c.inbuf.size() > zelbo::server::kMaxLineLength) {
                // Too long: the line is refused (-363) and skipped to its end.
                complete.push_back(std::string(zelbo::server::kMaxLineLength + 1, ' '));
                c.inbuf.clear();
                c.discarding = true;
            }
        }
    }
    if (!complete.empty()) {
        std::lock_guard lock(srv.m);
        for (auto& l : complete) c.lines.push_back(std::move(l));
        srv.work.notify_one();
    }
    return true;
}

struct Args {
    std::optional<bool> sim;
    std::string serial;
    int port = 5025;
    std::string listen = "127.0.0.1";
    std::vector<zelbo::server::Network> allow;
    zelbo::server::DisconnectPolicy policy = zelbo::server::DisconnectPolicy::Off;
    std::string files = ".";
    bool mdns = true;
};

} // namespace

int main(int argc, char** argv)
{
    Args a;
    zelbo::log::setDefaultLevel(zelbo::log::Level::Info);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "zelbo-server: " << arg << " needs a value\n";
                std::exit(kUsage);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsageText;
            return kOk;
        } else if (arg == "--version") {
            std::cout << "zelbo-server " << zelbo::build::kVersion << "\n";
            return kOk;
        } else if (arg == "--scpi-table") {
            std::cout << ScpiInstrument::treeMarkdown();
            return kOk;
        } else if (arg == "--board") {
            const std::string b = value();
            if (b == "sim") a.sim = true;
            else if (b == "usb") a.sim = false;
            else if (b.rfind("usb:", 0) == 0 && b.size() > 4) {
                a.sim = false;
                a.serial = b.substr(4);
            } else {
                std::cerr << "zelbo-server: --board takes sim, usb or usb:SERIAL\n";
                return kUsage;
            }
        } else if (arg == "--port") {
            const std::string p = value();
            char* end = nullptr;
            const long v = std::strtol(p.c_str(), &end, 10);
            if (p.empty() || *end || v < 0 || v > 65535) {
                std::cerr << "zelbo-server: --port takes 0 to 65535\n";
                return kUsage;
            }
            a.port = static_cast<int>(v);
        } else if (arg == "--listen") {
            a.listen = value();
        } else if (arg == "--allow") {
            const std::string n = value();
            const auto net = zelbo::server::parseNetwork(n);
            if (!net) {
                std::cerr << "zelbo-server: --allow takes a network such as 192.168.1.0/24, not \"" << n << "\"\n";
                return kUsage;
            }
            a.allow.push_back(*net);
        } else if (arg == "--on-disconnect") {
            const std::string p = value();
            if (p == "stop") a.policy = zelbo::server::DisconnectPolicy::Stop;
            else if (p == "off") a.policy = zelbo::server::DisconnectPolicy::Off;
            else if (p == "keep") a.policy = zelbo::server::DisconnectPolicy::Keep;
            else {
                std::cerr << "zelbo-server: --on-disconnect takes stop, off or keep\n";
                return kUsage;
            }
        } else if (arg == "--files") {
            a.files = value();
        } else if (arg == "--no-mdns") {
            a.mdns = false;
        } else if (arg == "--log-level") {
            if (!zelbo::log::useOption(value())) {
                std::cerr << "zelbo-server: --log-level takes error, warning, info or debug\n";
                return kUsage;
            }
        } else {
            std::cerr << "zelbo-server: unknown option " << arg << " (see --help)\n";
            return kUsage;
        }
    }
    if (a.allow.empty()) a.allow = zelbo::server::loopbackNetworks();

    // The socket first: a port in use is told before the board is brought up.
    sockaddr_storage addr{};
    socklen_t addrLen = 0;
    if (!zelbo::server::socketAddress(a.listen, a.port, addr, addrLen)) {
        std::cerr << "zelbo-server: --listen takes an IPv4 or IPv6 address, not \"" << a.listen << "\"\n";
        return kUsage;
    }
    const int lfd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (lfd < 0 || ::bind(lfd, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0 || ::listen(lfd, 16) != 0) {
        std::cerr << "zelbo-server: cannot listen on " << a.listen << " port " << a.port << ": " << std::strerror(errno)
                  << "\n";
        return kFailed;
    }
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &addrLen);
    const int port = zelbo::server::portOf(addr);
    setNonBlocking(lfd);

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return kFailed;
    struct sigaction sa {};
    sa.sa_handler = noteSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<zelbo::engine::Session> session;
    try {
        zelbo::engine::SessionOptions so;
        so.sim = a.sim;
        so.usbBoard = a.serial;
        so.interrupted = [] { return g_stop.load(); };
        session = std::make_unique<zelbo::engine::Session>(so);
    } catch (const std::exception& e) {
        std::cerr << "zelbo-server: " << e.what() << "\n";
        return kNoBoard;
    }

    ScpiInstrument::Options io;
    // The board's serial number; a board without one by the path it was chosen by.
    io.identity.serial = !session->serial().empty() ? session->serial()
                         : !a.serial.empty()        ? a.serial
                         : session->board() == "sim" ? "SIM"
                                                     : "0";
    io.identity.firmware = zelbo::build::kVersion;
    io.fileRoot = a.files;
    io.onDisconnect = a.policy;
    io.log = logLine;
    ScpiInstrument inst(*session, io);

    Server srv;
    if (::pipe2(srv.wakeFd, O_CLOEXEC | O_NONBLOCK) != 0) return kFailed;

    zelbo::server::MdnsAdvert mdns;
    if (a.mdns) mdns.start("Zelbo " + io.identity.model + " " + io.identity.serial, port, logLine);

    // The line the tests and scripts wait for.
    std::cout << "listening on " << a.listen << " port " << port << std::endl;
    logLine("listening on " + a.listen + " port " + std::to_string(port) + " (" + session->board() + " board)");

    std::thread board([&] { boardLoop(srv, inst); });

    int nextId = 1;
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Conn>> polled;
    while (!srv.boardDone) {
        fds.clear();
        polled.clear();
        fds.push_back({lfd, POLLIN, 0});
        fds.push_back({g_signalPipe[0], POLLIN, 0});
        fds.push_back({srv.wakeFd[0], POLLIN, 0});
        {
            std::lock_guard lock(srv.m);
            for (auto& [id, c] : srv.conns) {
                if (c->fd < 0) continue;
                if (c->gone) {
                    ::close(c->fd);
                    c->fd = -1;
                    srv.work.notify_one();
                    continue;
                }
                if (!c->out.empty() && std::chrono::steady_clock::now() - c->lastSent > kStalledReader) {
                    logLine("client " + std::to_string(c->id) + " has not read its answers for " +
                            std::to_string(kStalledReader.count()) + " s: dropped");
                    c->gone = true;
                    ::close(c->fd);
                    c->fd = -1;
                    srv.work.notify_one();
                    continue;
                }
                if (c->out.empty()) c->lastSent = std::chrono::steady_clock::now();
                short ev = 0;
                if (c->lines.size() < kMaxQueuedLines) ev |= POLLIN;
                if (!c->out.empty()) ev |= POLLOUT;
                fds.push_back({c->fd, ev, 0});
                polled.push_back(c);
            }
        }
        if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
        if (fds[1].revents) {
            char buf[16];
            while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
            }
            srv.work.notify_all();
        }
        if (fds[2].revents) {
            char buf[256];
            while (::read(srv.wakeFd[0], buf, sizeof buf) > 0) {
            }
            // After the pipe is empty: a wake in between leaves a byte for the next poll.
            srv.wakePending = false;
        }
        if (g_stop) {
            srv.work.notify_all();
            continue; // until the board thread is done
        }
        if (fds[0].revents & POLLIN) {
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            const int fd = ::accept4(lfd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                const std::string who = zelbo::server::addressText(peer);
                std::size_t count = 0;
                {
                    std::lock_guard lock(srv.m);
                    count = srv.conns.size();
                }
                if (!zelbo::server::allowed(a.allow, peer)) {
                    logLine("refused " + who + ": not in the allowed networks");
                    ::close(fd);
                } else if (count >= kMaxClients) {
                    logLine("refused " + who + ": too many clients");
                    ::close(fd);
                } else {
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    auto c = std::make_shared<Conn>(nextId++, fd);
                    c->peer = who;
                    logLine("client " + std::to_string(c->id) + " connected from " + who);
                    std::lock_guard lock(srv.m);
                    srv.conns[c->id] = c;
                }
            }
        }
        for (std::size_t i = 3; i < fds.size(); ++i) {
            Conn& c = *polled[i - 3];
            const short rev = fds[i].revents;
            bool alive = true;
            if (rev & POLLIN) alive = readFrom(srv, c);
            if (alive && (rev & POLLOUT)) {
                std::lock_guard lock(srv.m);
                const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    c.out.erase(0, static_cast<std::size_t>(n));
                    c.lastSent = std::chrono::steady_clock::now();
                }
                else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) alive = false;
            }
            if (alive && (rev & (POLLERR | POLLNVAL))) alive = false;
            if (alive && (rev & POLLHUP) && !(rev & POLLIN)) alive = false;
            if (!alive) {
                std::lock_guard lock(srv.m);
                c.gone = true;
                ::close(c.fd);
                c.fd = -1;
                srv.work.notify_one();
            }
        }
    }
    g_stop = true;
    srv.work.notify_all();
    board.join();
    mdns.stop();
    logLine("shutting down: clock stopped, power off");
    inst.shutdown();
    {
        std::lock_guard lock(srv.m);
        for (auto& [id, c] : srv.conns)
            if (c->fd >= 0) ::close(c->fd);
        srv.conns.clear();
    }
    ::close(lfd);
    try {
        session->close();
    } catch (const std::exception& e) {
        logLine(e.what());
        return kFailed;
    }
    return kOk;
}
