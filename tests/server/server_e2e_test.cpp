// The built zelbo-server on the simulated board, through raw sockets: what a
// misbehaving or competing client can and cannot do to it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/time_scale.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string slurp(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The last value the simulated board's log shows written to a register.
std::string lastWrite(const fs::path& log, const std::string& reg)
{
    std::istringstream in(slurp(log));
    std::string line, last;
    while (std::getline(in, line))
        if (line.rfind("W " + reg + " ", 0) == 0) last = line.substr(5);
    return last;
}

class Client {
public:
    // Connects to the port, from `from` when given.
    explicit Client(int port, const char* from = nullptr)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from) {
            sockaddr_in src{};
            src.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &src.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&src), sizeof src);
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() { close(); }
    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool connected() const { return connected_; }
    void send(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    // One answer line, without its terminator; "<closed>" or "<timeout>".
    std::string line(std::chrono::milliseconds timeout = 10s)
    {
        const auto end = Clock::now() + timeout * zelbo::test::timeScale();
        for (;;) {
            if (const auto nl = buf_.find('\n'); nl != std::string::npos) {
                std::string l = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return l;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return "<timeout>";
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char b[65536];
            const ssize_t n = ::recv(fd_, b, sizeof b, 0);
            if (n <= 0) return "<closed>";
            buf_.append(b, static_cast<std::size_t>(n));
        }
    }
    std::string query(const std::string& q)
    {
        send(q + "\n");
        return line();
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string buf_;
};

class Server : public ::testing::Test {
protected:
    fs::path dir;
    fs::path log;
    pid_t pid = -1;
    int port = 0;

    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("zelbo-server-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        log = dir / "board.log";
    }
    void TearDown() override
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(dir);
    }

    // Starts the server on the simulated board; its port from its first line.
    void start(std::vector<std::string> args = {}, bool mdns = false)
    {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::unsetenv("ZELBO_BOARD");
            ::setenv("ZELBO_BOARD_LOG", log.c_str(), 1);
            ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
            ::dup2(out[1], 1);
            ::close(out[0]);
            const int err = ::open((dir / "server.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            std::vector<std::string> all = {"./zelbo-server", "--board", "sim", "--port", "0", "--files", dir.string()};
            if (!mdns) all.push_back("--no-mdns");
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : all) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv("./zelbo-server", argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string text;
        char c;
        while (text.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1) text += c;
        ::close(out[0]);
        const auto at = text.find(" port ");
        ASSERT_NE(at, std::string::npos) << text << slurp(dir / "server.err");
        port = std::stoi(text.substr(at + 6));
    }

    // Waits for the server to end; its exit code, -1 when it had to be killed.
    int wait(std::chrono::seconds limit = 20s)
    {
        int status = 0;
        const auto end = Clock::now() + limit * zelbo::test::timeScale();
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > end) return -1;
            std::this_thread::sleep_for(20ms);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }

    // Waits until the board log's last write to `reg` is `value`.
    bool boardShows(const std::string& reg, const std::string& value, std::chrono::seconds limit = 10s)
    {
        const auto end = Clock::now() + limit * zelbo::test::timeScale();
        while (Clock::now() < end) {
            if (lastWrite(log, reg) == value) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
};

TEST_F(Server, MalformedBytesOverlongLinesAndFloodsAreErrorsInTheQueueNeverACrash)
{
    start();
    Client c(port);
    ASSERT_TRUE(c.connected());
    // Random bytes (NULs, control characters, lone quotes, '#' blocks).
    std::mt19937 rng(34);
    std::string junk;
    for (int i = 0; i < 20000; ++i) junk += static_cast<char>(rng() & 0xFF);
    c.send(junk + "\n");
    EXPECT_NE(c.query("SYST:ERR:COUN?"), "0");
    c.send("*CLS\n");
    // A line far over the limit, then a flood of queries sent before any answer is read.
    c.send(std::string(100000, 'A') + "\n");
    std::string flood;
    for (int i = 0; i < 3000; ++i) flood += "VREF?\n";
    c.send(flood);
    int answers = 0;
    for (int i = 0; i < 3000; ++i) answers += c.line() == "0" ? 1 : 0;
    EXPECT_EQ(answers, 3000);
    EXPECT_EQ(c.query("*IDN?").substr(0, 22), "Zelbo,TQ5170x-EVB,SIM,");
    // The overrun and the junk's errors are in the queue, the overrun by its number.
    bool overrun = false;
    for (int i = 0; i < 40; ++i) {
        const std::string e = c.query("SYST:ERR?");
        if (e.rfind("-363,", 0) == 0) overrun = true;
        if (e.rfind("0,", 0) == 0) break;
    }
    EXPECT_TRUE(overrun);
    EXPECT_EQ(c.query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(Server, AClientThatNeverReadsHoldsNobodyElseUp)
{
    start();
    Client blind(port);
    std::string flood;
    for (int i = 0; i < 2000; ++i) flood += "*IDN?\n";
    // Far more answers than it will ever read; its socket fills, then ours.
    std::thread sender([&] {
        for (int k = 0; k < 200; ++k) blind.send(flood);
    });
    std::this_thread::sleep_for(500ms);
    Client other(port);
    const auto t0 = Clock::now();
    EXPECT_EQ(other.query("*IDN?").substr(0, 6), "Zelbo,");
    EXPECT_EQ(other.query("POW ON,NOCL;*OPC?"), "1");
    EXPECT_LT(Clock::now() - t0, 3s * zelbo::test::timeScale());
    blind.close(); // ends the sender's blocked send
    sender.join();
}

TEST_F(Server, TheErrorQueueIsBoundedAndEndsInQueueOverflow)
{
    start();
    Client c(port);
    for (int i = 0; i < 50; ++i) c.send("NO:SUCH:HEADER\n");
    EXPECT_EQ(c.query("SYST:ERR:COUN?"), "32");
    EXPECT_EQ(c.query("*STB?"), "4"); // error queue not empty
    EXPECT_EQ(c.query("SYST:ERR?").substr(0, 5), "-113,");
    for (int i = 0; i < 30; ++i) c.query("SYST:ERR?");
    EXPECT_EQ(c.query("SYST:ERR?"), "-350,\"Queue overflow\"");
    EXPECT_EQ(c.query("SYST:ERR?"), "0,\"No error\"");
    // A command error sets bit 5 of the event status register; *ESR? clears it.
    c.send("BAD\n");
    EXPECT_EQ(c.query("*ESR?"), "32");
    EXPECT_EQ(c.query("*ESR?"), "0");
    // Errors are the client's own.
    Client other(port);
    EXPECT_EQ(other.query("SYST:ERR:COUN?"), "0");
}

TEST_F(Server, ASecondClientIsRefusedControlWhileTheFirstHoldsTheLockButMayQuery)
{
    start();
    Client a(port), b(port);
    EXPECT_EQ(a.query("SYST:LOCK:REQ?"), "1");
    EXPECT_EQ(b.query("SYST:LOCK:REQ?"), "0");
    EXPECT_EQ(b.query("SYST:LOCK:OWN?"), "OTHER");
    a.send("POW ON;:VREF 1.5\n");
    b.send("VREF 0.5\n");
    EXPECT_EQ(b.query("VREF?"), "1.5");
    EXPECT_EQ(b.query("SYST:ERR?").substr(0, 5), "-203,");
    EXPECT_EQ(a.query("SYST:ERR?"), "0,\"No error\"");
    // Released, the other may take it.
    a.send("SYST:LOCK:REL\n");
    EXPECT_EQ(b.query("SYST:LOCK?"), "1");
    b.send("VREF 0.5\n");
    EXPECT_EQ(a.query("VREF?"), "0.5");
    // The holder going away frees the lock, once the server has seen it go:
    // a line from another client may be served before the hang-up is.
    b.close();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(zelbo::test::scaledMs(5000));
    std::string got;
    while ((got = a.query("SYST:LOCK?")) != "1" && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(got, "1");
}

TEST_F(Server, OpcWaitsForACountedRunWhileOtherClientsAreStillServed)
{
    start();
    Client a(port), b(port);
    a.send("POW ON;:CLOC:FREQ 1kHz;RUN 400;*OPC?;:CLOC:RUNN?\n");
    // The other client is answered while the first one's line waits.
    EXPECT_EQ(b.query("*IDN?").substr(0, 6), "Zelbo,");
    EXPECT_EQ(a.line(), "1;0");
    EXPECT_EQ(a.query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(Server, AControllingClientThatGoesAwayLeavesTheBoardAsThePolicySays)
{
    struct Case {
        const char* policy;
        const char* clock; // register 144 afterwards
        bool powerOff;     // register 1 <- E0
    };
    for (const Case& k : {Case{"off", "00", true}, Case{"stop", "00", false}, Case{"keep", "01", false}}) {
        SCOPED_TRACE(k.policy);
        start({"--on-disconnect", k.policy});
        {
            Client a(port);
            EXPECT_EQ(a.query("POW ON;:CLOC:FREQ 2kHz;RUN;RUNN?"), "1");
        }
        EXPECT_TRUE(boardShows("90", k.clock));
        if (k.powerOff) {
            EXPECT_TRUE(boardShows("01", "E0"));
        }
        // A client that only asked changes nothing.
        Client b(port);
        EXPECT_EQ(b.query("POW?"), k.powerOff ? "0" : "1");
        b.close();
        ::kill(pid, SIGTERM);
        EXPECT_EQ(wait(), 0);
        EXPECT_NE(slurp(dir / "server.err").find("gone"), std::string::npos);
        fs::remove(log);
    }
}

TEST_F(Server, ConnectionsFromOutsideTheAllowedNetworksAreRefusedAtAccept)
{
    start({"--allow", "127.0.0.1/32"});
    Client outside(port, "127.0.0.2");
    ASSERT_TRUE(outside.connected()); // the kernel accepts; the server closes it at once
    EXPECT_EQ(outside.query("*IDN?"), "<closed>");
    Client inside(port, "127.0.0.1");
    EXPECT_EQ(inside.query("*IDN?").substr(0, 6), "Zelbo,");
    EXPECT_NE(slurp(dir / "server.err").find("refused 127.0.0.2"), std::string::npos);
}

TEST_F(Server, MdnsSaysInOneLineWhetherItAdvertisesAndTheServerCarriesOnEitherWay)
{
    start({}, true);
    Client a(port);
    EXPECT_EQ(a.query("*IDN?").substr(0, 6), "Zelbo,");
    // Without a daemon the line comes before the port; with one, once Avahi answers.
    std::string err;
    for (int i = 0; i < 100 && err.find("mDNS: ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
        err = slurp(dir / "server.err");
    }
    const auto first = err.find("mDNS: ");
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("mDNS: ", first + 1), std::string::npos) << err;
    ::kill(pid, SIGTERM);
    EXPECT_EQ(wait(), 0);
}

TEST_F(Server, SigtermStopsTheClockPowersOffAndEndsCleanly)
{
    start();
    Client a(port);
    EXPECT_EQ(a.query("POW ON;:CLOC:RUN;RUNN?"), "1");
    a.send("CLOC:RUN 255;*OPC?\n"); // a line waiting on the board when the signal comes
    ::kill(pid, SIGTERM);
    EXPECT_EQ(wait(), 0);
    EXPECT_EQ(lastWrite(log, "90"), "00");
    EXPECT_EQ(lastWrite(log, "01"), "E0");
}

TEST_F(Server, FileNamesStayBelowTheFileFolder)
{
    start();
    Client a(port);
    a.send("MMEM:STOR:STAT \"../escape.set\";:SYST:ERR?\n");
    EXPECT_EQ(a.line().substr(0, 5), "-256,");
    a.send("MMEM:STOR:STAT \"/tmp/escape.set\"\n");
    EXPECT_EQ(a.query("SYST:ERR?").substr(0, 5), "-256,");
    a.send("MMEM:STOR:STAT \"ok.set\"\n");
    EXPECT_EQ(a.query("SYST:ERR?"), "0,\"No error\"");
    EXPECT_TRUE(fs::exists(dir / "ok.set"));
    EXPECT_FALSE(fs::exists(dir.parent_path() / "escape.set"));
}

} // namespace
