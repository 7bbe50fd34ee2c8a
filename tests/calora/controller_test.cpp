// Transactions over a pseudo-terminal against the simulated controller, with
// short time-outs so that silent and short replies cost little.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "calora/controller.h"
#include "calora/serial_port.h"
#include "tests/calora/sim_controller.h"

using calora::MessageKind;
using calora_test::Bytes;
using calora_test::Reply;
using calora_test::SimController;
using namespace std::chrono_literals;

namespace {

struct RecordingReporter final : calora::Reporter {
    std::vector<std::pair<MessageKind, std::string>> seen;
    void report(MessageKind kind, std::string_view text) override { seen.emplace_back(kind, std::string(text)); }
};

const calora::Timing kFast{5ms, 1ms, 10};

class CaloraController : public ::testing::Test {
protected:
    SimController sim;
    RecordingReporter reporter;
    calora::Controller ctl{sim.slavePath(), reporter, kFast};
};

TEST_F(CaloraController, WriteEchoedAtOnceSendsOneCorrectFrame)
{
    EXPECT_TRUE(ctl.writeRegister(0x004E, 0x0110));
    ASSERT_EQ(sim.requests().size(), 1U);
    EXPECT_EQ(sim.requests()[0], calora_test::withCrc({0x01, 0x06, 0x00, 0x4E, 0x01, 0x10}));
    EXPECT_EQ(sim.reg(0x004E), 0x0110);
    EXPECT_EQ(sim.badCrcCount(), 0);
    EXPECT_TRUE(reporter.seen.empty());
}

TEST_F(CaloraController, WriteWithoutExactEchoIsAskedTenTimesThenFails)
{
    const std::vector<std::pair<const char*, SimController::Responder>> controllers = {
        {"wrong echo", [](const Bytes& req, int) { Bytes b = req; b[5] ^= 1; return Reply{b, {}}; }},
        {"echo with a bad CRC", [](const Bytes& req, int) { Bytes b = req; b[7] ^= 0xFF; return Reply{b, {}}; }},
        {"short echo", [](const Bytes& req, int) { return Reply{Bytes(req.begin(), req.begin() + 7), {}}; }},
        {"exception reply", [](const Bytes&, int) { return Reply{calora_test::withCrc({0x01, 0x86, 0x02}), {}}; }},
        {"silence", [](const Bytes&, int) { return Reply{}; }},
    };
    for (const auto& [what, responder] : controllers) {
        sim.clearRequests();
        sim.setResponder(responder);
        EXPECT_FALSE(ctl.writeRegister(0x003A, 1)) << what;
        const auto reqs = sim.requests();
        EXPECT_EQ(reqs.size(), 10U) << what;
        for (const Bytes& r : reqs)
            EXPECT_EQ(r, calora_test::withCrc({0x01, 0x06, 0x00, 0x3A, 0x00, 0x01})) << what;
    }
    EXPECT_EQ(sim.badCrcCount(), 0);
    EXPECT_TRUE(reporter.seen.empty()); // an unanswered write is silent
}

TEST_F(CaloraController, WriteSucceedsOnALaterAttemptAndStopsAsking)
{
    sim.setResponder([&](const Bytes& req, int index) {
        if (index < 3)
            return Reply{Bytes{0x55, 0xAA}, {}};
        return sim.normalReply(req);
    });
    EXPECT_TRUE(ctl.writeRegister(0x0202, 7));
    EXPECT_EQ(sim.requests().size(), 4U);
}

TEST_F(CaloraController, NoiseLeftOverFromOneAttemptDoesNotSpoilTheNext)
{
    // The first answer carries a stray byte in front of the echo: eight bytes
    // are read, one is left behind. It must not shift the next attempt.
    sim.setResponder([&](const Bytes& req, int index) {
        Reply r = sim.normalReply(req);
        if (index == 0)
            r.bytes.insert(r.bytes.begin(), 0x00);
        return r;
    });
    EXPECT_TRUE(ctl.writeRegister(0x0286, 2));
    EXPECT_EQ(sim.requests().size(), 2U);
}

TEST_F(CaloraController, ReadIsOneExchangeAndReturnsTheRegister)
{
    sim.setRegister(0x0000, 40001);
    EXPECT_EQ(ctl.readRegister(0x0000), 40001);
    ASSERT_EQ(sim.requests().size(), 1U);
    EXPECT_EQ(sim.requests()[0], (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

TEST_F(CaloraController, BadReadRepliesGiveNothingAfterOneExchange)
{
    const Bytes good = calora_test::withCrc({0x01, 0x03, 0x02, 0x00, 0xFA});
    Bytes badCrc = good;
    badCrc[5] ^= 0x10;
    const std::vector<std::pair<const char*, Reply>> replies = {
        {"silence", Reply{}},
        {"short", Reply{Bytes(good.begin(), good.begin() + 5), {}}},
        {"bad CRC", Reply{badCrc, {}}},
        {"other slave", Reply{calora_test::withCrc({0x07, 0x03, 0x02, 0x00, 0xFA}), {}}},
        {"other function", Reply{calora_test::withCrc({0x01, 0x04, 0x02, 0x00, 0xFA}), {}}},
        {"byte count", Reply{calora_test::withCrc({0x01, 0x03, 0x01, 0x00, 0xFA}), {}}},
        {"exception", Reply{calora_test::withCrc({0x01, 0x83, 0x02}), {}}},
        {"too late", Reply{good, 200ms}}, // 7 bytes x 5 ms allowed
    };
    for (const auto& [what, reply] : replies) {
        sim.clearRequests();
        sim.setResponder([reply = reply](const Bytes&, int) { return reply; });
        EXPECT_FALSE(ctl.readRegister(0x0002).has_value()) << what;
        EXPECT_EQ(sim.requests().size(), 1U) << what;
    }
    // The late reply of the last case must not be taken for the next answer.
    std::this_thread::sleep_for(250ms);
    sim.setResponder([&](const Bytes& req, int) { return sim.normalReply(req); });
    sim.setRegister(0x0002, 1234);
    EXPECT_EQ(ctl.readRegister(0x0002), 1234);
    EXPECT_TRUE(reporter.seen.empty());
}

TEST_F(CaloraController, PortHeldElsewhereIsNotUsed)
{
    const int other = ::open(sim.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(ctl.writeRegister(0x003A, 0));
    EXPECT_FALSE(ctl.readRegister(0x0000).has_value());
    EXPECT_TRUE(sim.requests().empty());
    ASSERT_EQ(reporter.seen.size(), 2U);
    EXPECT_EQ(reporter.seen[0].first, MessageKind::Plain);
    EXPECT_EQ(reporter.seen[0].second,
              "Cannot open Communication Port.\nPlease quit the application & re-start your PC.");
    ::close(other);

    // Released: the port is usable again, and each transaction gives it back.
    EXPECT_TRUE(ctl.writeRegister(0x003A, 0));
    EXPECT_TRUE(ctl.writeRegister(0x003A, 1));
}

TEST(CaloraPort, MissingDeviceAndNonTerminalAreReported)
{
    RecordingReporter reporter;
    calora::Controller missing("/nonexistent/calora-port", reporter, kFast);
    EXPECT_FALSE(missing.writeRegister(0x003A, 1));
    ASSERT_EQ(reporter.seen.size(), 1U);
    EXPECT_EQ(reporter.seen[0].first, MessageKind::Plain);
    EXPECT_EQ(reporter.seen[0].second,
              "Cannot open Communication Port.\nPlease quit the application & re-start your PC.");

    char path[] = "/tmp/calora-notatty-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    reporter.seen.clear();
    calora::Controller notTty(path, reporter, kFast);
    EXPECT_FALSE(notTty.readRegister(0x0000).has_value());
    ::unlink(path);
    ASSERT_EQ(reporter.seen.size(), 2U);
    EXPECT_EQ(reporter.seen[0].second, "GetCommState Error");
    EXPECT_EQ(reporter.seen[1].second, "Cannot Configure Communication Port");
}

TEST(CaloraPort, Com1IsTtyS0UnlessCaloraPortSaysOtherwise)
{
    const char* old = std::getenv("CALORA_PORT");
    const std::string saved = old ? old : "";
    ::unsetenv("CALORA_PORT");
    EXPECT_EQ(calora::portDevice(), "/dev/ttyS0");
    ::setenv("CALORA_PORT", "", 1);
    EXPECT_EQ(calora::portDevice(), "/dev/ttyS0");
    ::setenv("CALORA_PORT", "/dev/pts/42", 1);
    EXPECT_EQ(calora::portDevice(), "/dev/pts/42");
    if (old)
        ::setenv("CALORA_PORT", saved.c_str(), 1);
    else
        ::unsetenv("CALORA_PORT");
}

} // namespace
