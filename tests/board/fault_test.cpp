// Injected faults, the bus-timing model, time-outs and concurrent callers.

#include "board_fixture.h"

#include <atomic>
#include <thread>

namespace boardtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Waits (bounded) until n transfers wait on the board, so that what the test
// does next reaches a transfer that is really waiting.
bool waitersReach(simboard::Control& ctl, std::size_t n)
{
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (ctl.waitingTransfers() < n) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST_F(BoardTest, StalledRequestsRecoverAfterTheirCount)
{
    bringUp();
    ctl.stallRequest(0xBA, 2);
    EXPECT_EQ(vendor(0xBA, 0, 2).result, Result::Stall);
    EXPECT_EQ(vendor(0xBA, 0, 2).result, Result::Stall);
    EXPECT_EQ(vendor(0xBA, 0, 2).result, Result::Ok);
    ctl.stallRequest(0xFD);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(vendor(0xFD, 1, 6).result, Result::Stall);
    ctl.clearStalls();
    EXPECT_EQ(vendor(0xFD, 1, 6).result, Result::Ok);

    ctl.failControlTransfers(1);
    EXPECT_EQ(vendor(0xBB).result, Result::Error);
    EXPECT_EQ(vendor(0xBB).result, Result::Ok);
}

TEST_F(BoardTest, FailedAndTimedOutBulkTransfersLoseOnlyThemselves)
{
    bringUp();
    ctl.failBulkWrites(1);
    EXPECT_EQ(bulkOut(writeFrame(5, 1)), Result::Error);
    EXPECT_EQ(ctl.registerValue(5), 0) << "a failed write delivers nothing";
    ctl.timeoutBulkWrites(1);
    EXPECT_EQ(bulkOut(writeFrame(5, 2)), Result::Timeout);
    EXPECT_EQ(ctl.registerValue(5), 0);
    EXPECT_EQ(bulkOut(writeFrame(5, 3)), Result::Ok);
    EXPECT_EQ(ctl.registerValue(5), 3);

    bulkOut(readFrame(5));
    ctl.failBulkReads(1);
    ctl.timeoutBulkReads(1);
    EXPECT_TRUE(readBlock().empty());
    EXPECT_TRUE(readBlock().empty());
    const auto records = drain();
    ASSERT_EQ(records.size(), 1u) << "the block waits for the next good read";
    EXPECT_EQ(records[0][2], 3);

    // Reading with nothing waiting, or into a buffer too small, fails without losing data.
    std::uint8_t small[64];
    EXPECT_EQ(board.bulkIn(0x82, small, sizeof small, 10).result, Result::Timeout);
    bulkOut(readFrame(5));
    EXPECT_EQ(board.bulkIn(0x82, small, sizeof small, 10).result, Result::Error);
    EXPECT_EQ(drain().size(), 1u);
    EXPECT_EQ(board.bulkIn(0x86, small, sizeof small, 10).result, Result::Timeout);
    EXPECT_EQ(board.bulkOut(0x82, small, sizeof small, 10).result, Result::Error);
}

TEST_F(BoardTest, BoardThatNeverAcceptsCommands)
{
    bringUp();
    ctl.setNeverAcceptCommands(true);
    const auto s = status();
    EXPECT_EQ(s[1] & 0x04, 0) << "EP4 never empty";
    EXPECT_EQ(s[3] & 0x04, 0);
    EXPECT_EQ(bulkOut(writeFrame(7, 7), 10), Result::Timeout);
    EXPECT_EQ(ctl.registerValue(7), 0);
}

TEST_F(BoardTest, BoardThatNeverSaysReady)
{
    ctl.setNeverSendHardwareReady(true);
    downloadFirmware();
    configure(Bytes(10, 1));
    vendor(0xB5, 0);
    EXPECT_TRUE(drain().empty());
    bulkOut(writeFrame(8, 8));
    EXPECT_EQ(ctl.registerValue(8), 8) << "commands still work";
}

TEST_F(BoardTest, GarbageBlocksComeFirst)
{
    bringUp();
    bulkOut(readFrame(1));
    ctl.sendGarbageBlocks(2);
    EXPECT_EQ(ctl.blocksWaiting(), 3u);
    const auto g = readBlock();
    ASSERT_EQ(g.size(), 512u);
    EXPECT_NE(g, Bytes(512, 0));
    readBlock();
    const auto real = readBlock();
    ASSERT_EQ(real.size(), 512u);
    EXPECT_EQ(real[1], 0x40);

    ctl.queueResponseBlock({0, 0x09, 0, 0, 0, 0});
    const auto own = readBlock();
    ASSERT_EQ(own.size(), 512u);
    EXPECT_EQ(own[1], 0x09);
}

TEST_F(BoardTest, VanishingBoardAnswersNothingAndComesBackBare)
{
    bringUp();
    ctl.setTimeoutLimit(std::nullopt);
    Result waiter = Result::Ok;
    std::thread t([&] {
        std::uint8_t b[512];
        waiter = board.bulkIn(0x82, b, sizeof b, 0).result; // waits without limit
    });
    EXPECT_TRUE(waitersReach(ctl, 1));
    ctl.setPresent(false);
    t.join();
    EXPECT_EQ(waiter, Result::NoDevice);
    EXPECT_FALSE(board.present());
    EXPECT_EQ(vendor(0xFD, 1, 6).result, Result::NoDevice);
    EXPECT_EQ(bulkOut({1}), Result::NoDevice);
    EXPECT_EQ(descriptor(0x0100).result, Result::NoDevice);

    ctl.setPresent(true);
    EXPECT_TRUE(board.present());
    EXPECT_FALSE(ctl.firmwareRunning()) << "plugged in again: a bare FX2";
    EXPECT_EQ(ctl.fpgaState(), simboard::FpgaState::Unconfigured);
}

TEST_F(BoardTest, AbortEndsAWaitingTransfer)
{
    bringUp();
    ctl.setTimeoutLimit(std::nullopt);
    Result waiter = Result::Ok;
    std::thread t([&] {
        std::uint8_t b[512];
        waiter = board.bulkIn(0x82, b, sizeof b, 0).result;
    });
    EXPECT_TRUE(waitersReach(ctl, 1));
    board.abortEndpoint(0x82);
    t.join();
    EXPECT_EQ(waiter, Result::Error);
}

TEST_F(BoardTest, WaitingReadIsAnsweredWhenABlockArrives)
{
    bringUp();
    ctl.setTimeoutLimit(std::nullopt);
    simboard::Transfer got{};
    std::thread t([&] {
        std::uint8_t b[512];
        got = board.bulkIn(0x82, b, sizeof b, 5000);
    });
    EXPECT_TRUE(waitersReach(ctl, 1));
    bulkOut(readFrame(3));
    t.join();
    EXPECT_EQ(got.result, Result::Ok);
    EXPECT_EQ(got.length, 512u);
    EXPECT_EQ(ctl.waitingTransfers(), 0u);
}

TEST_F(BoardTest, TimeOutsLastTheirTimeAndCanBeCapped)
{
    bringUp();
    ctl.setTimeoutLimit(std::nullopt);
    std::uint8_t b[512];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(board.bulkIn(0x82, b, sizeof b, 30).result, Result::Timeout);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 30ms);
    EXPECT_LT(took, 1000ms);

    ctl.setTimeoutLimit(2ms);
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(board.bulkIn(0x82, b, sizeof b, 10000).result, Result::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);

    // In virtual time the time-out passes at once, on the board's clock.
    ctl.setVirtualTime(true);
    const auto v0 = ctl.nowNs();
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(board.bulkIn(0x82, b, sizeof b, 10000).result, Result::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
    EXPECT_EQ(ctl.nowNs() - v0, 10'000'000'000);
}

TEST_F(BoardTest, BusTimingModelCostsWhatTheBusCosts)
{
    bringUp();
    ctl.setVirtualTime(true);
    ctl.setBusTiming(true);
    auto t0 = ctl.nowNs();
    vendor(0xFD, 1, 6);
    const auto control = ctl.nowNs() - t0;
    EXPECT_GE(control, 125'000);
    EXPECT_LT(control, 250'000);

    t0 = ctl.nowNs();
    Bytes frames;
    while (frames.size() + 6 <= 512) frames = cat({frames, writeFrame(9, 1)});
    frames.resize(512, 0);
    bulkOut(frames);
    const auto bulk = ctl.nowNs() - t0;
    EXPECT_GT(bulk, 8'000);
    EXPECT_LT(bulk, 12'000) << "one 512-byte packet at 480 Mbit/s";

    ctl.setBusTiming(false);
    t0 = ctl.nowNs();
    vendor(0xFD, 1, 6);
    EXPECT_EQ(ctl.nowNs(), t0);

    // In real time the caller is held for the cost.
    ctl.setVirtualTime(false);
    simboard::BusTiming slow;
    slow.controlBase = 3ms;
    ctl.setBusTiming(slow);
    const auto r0 = std::chrono::steady_clock::now();
    vendor(0xBB);
    EXPECT_GE(std::chrono::steady_clock::now() - r0, 3ms);
}

TEST_F(BoardTest, RealTimeTransfersShareOneBus)
{
    // Two callers at once cannot both have the bus: their transfers queue, so
    // together they take at least the sum of their costs.
    bringUp();
    ctl.setVirtualTime(false);
    simboard::BusTiming slow;
    slow.controlBase = 2ms;
    ctl.setBusTiming(slow);
    constexpr int kEach = 20;
    const auto t0 = std::chrono::steady_clock::now();
    std::thread other([&] { for (int i = 0; i < kEach; ++i) vendor(0xBB); });
    for (int i = 0; i < kEach; ++i) vendor(0xBB);
    other.join();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 2 * kEach * 2ms - 1ms);
    ctl.setBusTiming(false);
}

TEST_F(BoardTest, ConcurrentCallersKeepTheBoardConsistent)
{
    bringUp();
    ctl.setTimeoutLimit(std::nullopt);
    constexpr int kWrites = 300;
    std::atomic<bool> done{false};
    std::atomic<int> answers{0};
    // One thread polls and reads like the link's reader, one writes, one inspects.
    std::thread reader([&] {
        while (!done || answers < kWrites) {
            std::array<std::uint8_t, 6> s{};
            board.control(UsbSetup{0xC0, 0xFD, 1, 0xBEEF, 6}, s.data(), 100);
            if (!s[0]) continue;
            std::uint8_t b[512];
            if (board.bulkIn(0x82, b, sizeof b, 100).result != Result::Ok) continue;
            for (std::size_t off = 0; off + 6 <= 512 && b[off + 1]; off += 6) answers += b[off + 1] == 0x40;
        }
    });
    std::thread inspector([&] {
        while (!done) {
            (void)ctl.registerValue(42);
            (void)ctl.log().size();
        }
    });
    for (int i = 0; i < kWrites; ++i) {
        const auto frames = cat({writeFrame(42, std::uint8_t(i)), readFrame(42)});
        ASSERT_EQ(board.bulkOut(0x04, frames.data(), frames.size(), 1000).result, Result::Ok);
    }
    done = true;
    reader.join();
    inspector.join();
    EXPECT_EQ(answers, kWrites);
    EXPECT_EQ(ctl.registerValue(42), std::uint8_t(kWrites - 1));
}

} // namespace
} // namespace boardtest
