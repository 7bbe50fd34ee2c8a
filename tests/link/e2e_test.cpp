// The link end to end: the real bridge library (loaded at run time, as the
// program does) on the simulated board, which the test steers and inspects.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "board/sim_board_test.h"
#include "tests/common/time_scale.h"
#include "tests/link/link_fixture.h"
#include "thermal/thermometer.h"

namespace zelbo::link::test {
namespace {

using namespace std::chrono_literals;
using simboard::LogEvent;

template <class Pred> bool eventually(Pred p, std::chrono::milliseconds limit = 10000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (p())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return p();
}

class EndToEnd : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(200ms);
        // The real library beside the image, as in the program's folder.
        std::error_code ec;
        std::filesystem::create_symlink(programFolder() / kBridgeLibraryName,
                                        folder / kBridgeLibraryName, ec);
        options.bridgeFactory = nullptr;
        options.clock = nullptr; // the board needs its real pauses
        options.timings.hardwareReady = 3000ms;
    }
    void TearDown() override
    {
        if (link)
            zelbo::engine::shutdownLink(*link);
        LinkTest::TearDown();
        board.reset();
    }
    std::vector<LogEvent> registerWrites() const
    {
        std::vector<LogEvent> w;
        for (const auto& e : board.log())
            if (e.kind == LogEvent::Kind::RegisterWrite)
                w.push_back(e);
        return w;
    }
    static std::string text(const std::vector<LogEvent>& events)
    {
        std::string s;
        for (const auto& e : events)
            s += simboard::formatLogEvent(e) + "\n";
        return s;
    }
    simboard::Control board;
};

TEST_F(EndToEnd, FullStartFromABareBoardAndShutdown)
{
    auto& l = make();
    clearDac = ([](CommandPort& p) {
        p.queueWrite(0x70, 0, WriteClass::Scope); // dropped at the first start
        p.queueWrite(0x30, 0x11);
    });
    ASSERT_EQ(start(l), 0) << testing::PrintToString(messages.texts());
    EXPECT_TRUE(board.firmwareRunning());
    EXPECT_EQ(board.fpgaState(), simboard::FpgaState::Configured);
    std::vector<std::uint8_t> image(1025);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(board.fpgaImage(), image);
    EXPECT_TRUE(observer.has("status:Firmware ready"));
    EXPECT_TRUE(observer.has("step:2/3"));
    EXPECT_TRUE(l.active());
    EXPECT_TRUE(l.scopeCommandsAllowed());
    EXPECT_EQ(window.started.load(), 1);
    ASSERT_TRUE(eventually([&] { return board.registerValue(0xF0) == 1; }));

    std::string expected = "W 30 11\nW A0 00\nW A1 02\n";
    for (int r = 0xA2; r <= 0xA7; ++r) {
        char line[16];
        std::snprintf(line, sizeof line, "W %02X 00\n", r);
        expected += line;
    }
    expected += "W A0 01\nW A0 00\nW B0 00\nW F0 01\n";
    EXPECT_EQ(text(registerWrites()), expected);
    EXPECT_EQ(board.blockMemory(0, 0, 3), (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_NE(board.portA() & 0x80, 0);

    board.clearLog();
    ASSERT_TRUE(zelbo::engine::shutdownLink(l));
    EXPECT_FALSE(l.readerRunning());
    std::string traffic;
    for (const auto& e : board.log())
        if (e.kind != LogEvent::Kind::DacLoad)
            traffic += simboard::formatLogEvent(e) + "\n";
    EXPECT_EQ(traffic, "V B5 0001\nW 22 00\nW 23 00\nW 1A 88\nW FF EA\nW FF 15\nW FF AE\nW FF FF\n");
    EXPECT_EQ(board.portA() & 0x80, 0);
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_EQ(closeRequests.load(), 0);
}

TEST_F(EndToEnd, BringUpFailureTable)
{
    const char* noLibrary = "Error: Cannot find DLL file. Please reinstall software.";
    struct Case {
        const char* name;
        std::function<void()> prepare;
        int result;
        const char* message;  // message box, or empty
        const char* progress; // last progress text, or empty
    };
    const Case cases[] = {
        {"missing library", [&] { options.libraryName = "libZelboNoSuchBridge.so"; }, 1, noLibrary, ""},
        {"library lacking an export",
         [&] { options.programFolder = std::filesystem::path(ZELBO_LINK_STUB_DIR) / "no-bulkread"; }, 1,
         noLibrary, ""},
        {"missing image file", [&] { std::filesystem::remove(folder / "Zelbo3.rbf"); }, 1,
         "ERROR: RBF File Error", "FPGA Configuration failed!"},
        {"reset not acknowledged", [&] { board.stallRequest(0xB9); }, 3, "", "FPGA Reset failed!"},
        {"configuration failing", [&] { board.setFailConfiguration(true); }, 1, "",
         "FPGA Configuration failed!"},
    };
    const auto defaults = options;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        link.reset();
        board.reset();
        board.setBusTiming(false);
        board.setTimeoutLimit(200ms);
        options = defaults;
        writeImage(folder, 1025);
        messages.clear();
        observer.clear();
        c.prepare();
        auto& l = make();
        EXPECT_EQ(start(l), c.result);
        if (*c.message) {
            ASSERT_EQ(messages.texts(), (std::vector<std::string>{c.message}));
            const auto m = messages.shown()[0];
            EXPECT_EQ(m.caption, c.message == noLibrary ? kAppCaption : "EEPROM Evaluation System");
            EXPECT_EQ(m.icon, c.message == noLibrary ? MsgIcon::Warning : MsgIcon::Error);
        } else {
            EXPECT_TRUE(messages.shown().empty());
        }
        if (*c.progress) {
            EXPECT_TRUE(observer.has(std::string("text:") + c.progress));
            EXPECT_TRUE(observer.has("status:Not Ready..."));
            EXPECT_EQ(observer.log().back(), "hide");
        } else {
            EXPECT_FALSE(observer.has("hide")); // the progress window stays up
            EXPECT_EQ(l.bridge(), nullptr);
        }
        EXPECT_FALSE(l.active());
        EXPECT_FALSE(l.readerRunning());
        EXPECT_TRUE(zelbo::engine::shutdownLink(l));
    }
}

// A board whose firmware never comes up is not reached at all: bring-up stops
// there with its own message instead of going on to an FPGA error.
TEST_F(EndToEnd, FirmwareThatNeverIdentifiesStopsBeforeTheFpga)
{
    board.setDownloadTakes(false);
    writeImage(folder, 1025);
    auto& l = make();
    EXPECT_EQ(start(l), kBringUpNoBoard);
    EXPECT_EQ(l.deviceHandle(), 0);
    EXPECT_TRUE(observer.has("status:Failed to download firmware"));
    EXPECT_TRUE(observer.has("status:Not Ready..."));
    EXPECT_EQ(observer.log().back(), "hide");
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.texts()[0].find("The simulated board could not be started."), std::string::npos);
    for (const auto& line : observer.log()) EXPECT_EQ(line.find("FPGA"), std::string::npos) << line;
    for (const auto& e : board.log()) EXPECT_NE(e.kind, LogEvent::Kind::BlockWrite);
}

class RunningLink : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        board.startFirmware();
        board.configureFpga();
        options.timings.doneWait = 1000ms;
        auto& l = make();
        ASSERT_EQ(start(l), 0);
        ASSERT_TRUE(l.waitWriteDone(2000ms));
        ASSERT_TRUE(eventually([&] { return board.registerValue(0xF0) == 1; }));
    }
};

TEST_F(RunningLink, WritesAndReadAnswersGoThroughTheReader)
{
    // Owned by the handler as well: the reader thread may still be inside
    // set() when the wait below returns and this test ends.
    struct Seen {
        std::atomic<int> raw{-1};
        thermal::DiodeCodeAnswers codes; // reader thread
        Event whole{Event::Reset::Manual};
    };
    auto seen = std::make_shared<Seen>();
    link->onReadAnswer([seen](std::uint8_t reg, std::uint8_t value) {
        if (const auto code = seen->codes.take(reg, value)) {
            seen->raw = *code;
            seen->whole.set();
        }
    });
    link->queueWrite(0x10, 0x5A);
    link->queueRead(0x65);
    link->queueRead(0x64);
    ASSERT_TRUE(seen->whole.wait(3000ms));
    EXPECT_GE(seen->raw.load(), 0);
    EXPECT_LE(seen->raw.load(), 0xFFF);
    ASSERT_TRUE(link->waitWriteDone(2000ms));
    EXPECT_EQ(board.registerValue(0x10), 0x5A);
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(RunningLink, BoardThatNeverAcceptsCommands)
{
    // The window's flag is cleared before the close request arrives, so it
    // closes without its question.
    std::mutex m;
    std::string order;
    link->onCommunicationError([&] {
        std::lock_guard l(m);
        order += "error ";
        ++commErrors;
    });
    link->onRequestClose([&] {
        std::lock_guard l(m);
        order += "close";
        ++closeRequests;
    });
    const auto polls = board.statusRequests();
    board.setNeverAcceptCommands(true);
    link->queueWrite(0x01, 0xE0);
    ASSERT_TRUE(eventually([&] { return !link->readerRunning(); }, 30000ms));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kCommErrorText}));
    EXPECT_EQ(messages.shown()[0].caption, kCommErrorCaption);
    EXPECT_EQ(messages.shown()[0].icon, MsgIcon::Error);
    EXPECT_FALSE(link->active());
    EXPECT_EQ(commErrors.load(), 1);  // the window drops its closing question
    EXPECT_EQ(closeRequests.load(), 1);
    EXPECT_GT(board.statusRequests() - polls, 3000u);
    {
        std::lock_guard l(m);
        EXPECT_EQ(order, "error close");
    }
    EXPECT_TRUE(link->writeDone().isSet()); // waiters are released

    // Later writes are dropped; a flush from another thread fails at once.
    const auto pending = link->pendingLength();
    link->queueWrite(0x02, 1);
    EXPECT_EQ(link->pendingLength(), pending);
    EXPECT_EQ(link->flushCommands(), pending ? 1 : 0);
    EXPECT_TRUE(zelbo::engine::shutdownLink(*link));
    EXPECT_EQ(messages.shown().size(), 1u);
}

TEST_F(RunningLink, FailingBulkWrite)
{
    board.failBulkWrites(1);
    link->queueWrite(0x01, 0xE0);
    ASSERT_TRUE(eventually([&] { return !link->readerRunning(); }));
    EXPECT_EQ(closeRequests.load(), 1);
    EXPECT_TRUE(messages.shown().empty()); // the window asks before it closes
    EXPECT_EQ(link->pendingLength(), 0u);  // the failed bytes are discarded
    EXPECT_TRUE(link->writeDone().isSet());
    // The shutdown traffic still reaches the board, sent without the reader.
    EXPECT_TRUE(zelbo::engine::shutdownLink(*link));
    EXPECT_EQ(board.registerValue(0x1A), 0x88);
}

TEST_F(RunningLink, BoardVanishesMidRun)
{
    board.setPresent(false);
    link->queueWrite(0x01, 0xE0);
    link->queueRead(0x65);
    ASSERT_TRUE(eventually([&] { return !link->readerRunning(); }, 30000ms));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kCommErrorText}));
    EXPECT_FALSE(link->active());
    EXPECT_EQ(commErrors.load(), 1);
    EXPECT_EQ(closeRequests.load(), 1);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(zelbo::engine::shutdownLink(*link));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST_F(EndToEnd, NoHardwareReady)
{
    board.setNeverSendHardwareReady(true);
    options.timings.hardwareReady = 500ms;
    auto& l = make();
    EXPECT_EQ(start(l), -1);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kNoHardwareReadyText}));
    EXPECT_FALSE(l.active());
    EXPECT_TRUE(zelbo::engine::shutdownLink(l));
}

// Idle, the reader asks for the board's status ever less often; whatever the
// host starts (a write, the scope's timer) still goes out at once.
TEST_F(EndToEnd, IdleReaderBacksOffAndTheHostWakesIt)
{
    board.startFirmware();
    board.configureFpga();
    options.timings.doneWait = 1000ms;
    options.timings.idleBackoffAfter = 100ms;
    auto& l = make();
    ASSERT_EQ(start(l), 0);
    ASSERT_TRUE(l.waitWriteDone(2000ms));
    std::this_thread::sleep_for(600ms); // 100 ms at full rate, then 2, 4 .. 50 ms waits

    auto polls = board.statusRequests();
    std::this_thread::sleep_for(1000ms);
    const auto idlePolls = board.statusRequests() - polls;
    EXPECT_LT(idlePolls, 60u) << "about 20 a second at the longest wait, 1000 at full rate";
    EXPECT_GT(idlePolls, 5u) << "the board is still looked at";

    // A write goes out at once, not at the end of the wait.
    const auto t0 = std::chrono::steady_clock::now();
    l.queueWrite(0x10, 0x33);
    ASSERT_TRUE(l.waitWriteDone(2000ms));
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(board.registerValue(0x10), 0x33);
    EXPECT_LT(took, std::chrono::milliseconds(zelbo::test::scaledMs(40)));

    // The scope's timer runs on the reader, never before its time.
    std::atomic<std::int64_t> firedAt{0};
    l.onScopeTimer([&] { firedAt = std::chrono::steady_clock::now().time_since_epoch().count(); });
    std::this_thread::sleep_for(600ms);
    const auto due = std::chrono::steady_clock::now() + 30ms;
    l.scheduleScopeTimer(due);
    ASSERT_TRUE(eventually([&] { return firedAt.load() != 0; }, 2000ms));
    EXPECT_GE(firedAt.load(), due.time_since_epoch().count());
    EXPECT_LT(firedAt.load(), (due + std::chrono::milliseconds(zelbo::test::scaledMs(40))).time_since_epoch().count());
    EXPECT_TRUE(zelbo::engine::shutdownLink(l));
    EXPECT_TRUE(messages.shown().empty());
}

} // namespace
} // namespace zelbo::link::test
