// Transactions over a pseudo-terminal against the simulated controller, with
// short time-outs so that silent and short replies cost little.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "calora/controller.h"
#include "calora/serial_port.h"
#include "tests/calora/sim_controller.h"

using calora_test::Bytes;
using calora_test::Reply;
using calora_test::withCrc;
using namespace std::chrono_literals;

namespace {

struct Recorder final : calora::Reporter {
    std::vector<std::string> seen;
    void report(calora::MessageKind, std::string_view text) override { seen.emplace_back(text); }
};

const std::string kCannotOpen = "Cannot open Communication Port.\nPlease quit the application & re-start your PC.";

class CaloraController : public ::testing::Test {
protected:
    calora_test::SimController sim;
    Recorder rec;
    calora::Controller ctl{sim.slavePath(), rec, calora::Timing{10ms, 1ms, 10}};
};

TEST_F(CaloraController, WriteWithoutExactEchoIsAskedTenTimesThenFails)
{
    const std::vector<Reply> answers = {
        {withCrc({0x01, 0x06, 0x00, 0x3A, 0x00, 0x00}), {}}, // echo of another value
        {Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x01, 0x68, 0x08}, {}}, // bad CRC
        {Bytes{0x01, 0x06, 0x00, 0x3A, 0x00, 0x01, 0x68}, {}},       // short
        {withCrc({0x01, 0x86, 0x02}), {}},                           // exception
        {},                                                          // silence
    };
    for (const Reply& answer : answers) {
        sim.clearRequests();
        sim.setResponder([answer](const Bytes&, int) { return answer; });
        EXPECT_FALSE(ctl.writeRegister(0x003A, 1));
        EXPECT_EQ(sim.requests(), std::vector<Bytes>(10, withCrc({0x01, 0x06, 0x00, 0x3A, 0x00, 0x01})));
    }
    EXPECT_EQ(sim.badCrcCount(), 0);
    EXPECT_TRUE(rec.seen.empty()); // an unanswered write is silent
}

TEST_F(CaloraController, NoiseFromOneAttemptDoesNotSpoilTheNext)
{
    // The first answer is the echo behind a stray byte: eight bytes are read,
    // one stays behind and must not shift the second attempt's echo.
    sim.setResponder([&](const Bytes& req, int index) {
        Reply r = sim.normalReply(req);
        if (index == 0)
            r.bytes.insert(r.bytes.begin(), 0x00);
        return r;
    });
    EXPECT_TRUE(ctl.writeRegister(0x0286, 2));
    EXPECT_EQ(sim.requests().size(), 2U);
    EXPECT_EQ(sim.reg(0x0286), 2);
}

TEST_F(CaloraController, ReadIsOneExchangeAndBadRepliesGiveNothing)
{
    sim.setRegister(0x0002, 40001);
    EXPECT_EQ(ctl.readRegister(0x0002), 40001);
    const Bytes good = withCrc({0x01, 0x03, 0x02, 0x00, 0xFA});
    Bytes badCrc = good;
    badCrc[5] ^= 0x10;
    for (const Reply& answer : {Reply{}, Reply{Bytes(good.begin(), good.begin() + 5), {}}, Reply{badCrc, {}},
                                Reply{withCrc({0x01, 0x83, 0x02}), {}}, Reply{good, 300ms} /* too late */}) {
        sim.setResponder([answer](const Bytes&, int) { return answer; });
        EXPECT_FALSE(ctl.readRegister(0x0002).has_value());
    }
    EXPECT_EQ(sim.requests().size(), 6U);
    // The late reply must not be taken for the next transaction's answer.
    std::this_thread::sleep_for(350ms);
    sim.setResponder([&](const Bytes& req, int) { return sim.normalReply(req); });
    sim.setRegister(0x0002, 1234);
    EXPECT_EQ(ctl.readRegister(0x0002), 1234);
    EXPECT_TRUE(rec.seen.empty());
}

TEST_F(CaloraController, PortHeldElsewhereIsNotUsedAndIsGivenBackAfterEachCall)
{
    const int other = ::open(sim.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0); // another transaction
    EXPECT_FALSE(ctl.writeRegister(0x003A, 0));
    ::flock(other, LOCK_UN);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0); // another program's exclusive mode
    EXPECT_FALSE(ctl.readRegister(0x0000).has_value());
    ::ioctl(other, TIOCNXCL);
    ::close(other);
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_EQ(rec.seen, std::vector<std::string>(2, kCannotOpen));

    EXPECT_TRUE(ctl.writeRegister(0x003A, 0));
    EXPECT_TRUE(ctl.writeRegister(0x003A, 1));
}

TEST(CaloraPort, MissingDeviceAndNonTerminalAreReported)
{
    Recorder rec;
    EXPECT_FALSE(calora::Controller("/nonexistent/calora-port", rec).writeRegister(0x003A, 1));
    EXPECT_EQ(rec.seen, std::vector<std::string>{kCannotOpen});

    char path[] = "/tmp/calora-notatty-XXXXXX";
    ::close(::mkstemp(path));
    rec.seen.clear();
    EXPECT_FALSE(calora::Controller(path, rec).readRegister(0x0000).has_value());
    ::unlink(path);
    EXPECT_EQ(rec.seen, (std::vector<std::string>{"GetCommState Error", "Cannot Configure Communication Port"}));
}

TEST(CaloraPort, Com1IsTtyS0UnlessCaloraPortSaysOtherwise)
{
    ::unsetenv("CALORA_PORT");
    EXPECT_EQ(calora::portDevice(), "/dev/ttyS0");
    ::setenv("CALORA_PORT", "", 1);
    EXPECT_EQ(calora::portDevice(), "/dev/ttyS0");
    ::setenv("CALORA_PORT", "/dev/pts/42", 1);
    EXPECT_EQ(calora::portDevice(), "/dev/pts/42");
    ::unsetenv("CALORA_PORT");
}

} // namespace
