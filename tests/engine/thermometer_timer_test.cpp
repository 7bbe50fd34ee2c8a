// The thermometer's timer thread against a recording port: its period, a
// prompt stop, restarts and the hand-over to a front end's own thread. Every
// wait is on a condition with a generous bound; only lower bounds of time are
// asserted (a loaded machine may tick late, never early).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/fpga_registers.h"
#include "engine/thermometer_timer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zelbo::engine::ThermometerTimer;
namespace reg = zelbo::reg;

constexpr auto kBound = 10s;

// Records the reads with their time and thread; everything else is ignored.
class ReadPort final : public zelbo::CommandPort {
public:
    struct Read {
        std::uint8_t reg;
        Clock::time_point at;
        std::thread::id thread;
    };
    void queueWrite(std::uint8_t, std::uint8_t, zelbo::WriteClass) override {}
    void queueWriteQuiet(std::uint8_t, std::uint8_t, zelbo::WriteClass) override {}
    void queueRead(std::uint8_t r) override
    {
        std::lock_guard lock(mutex_);
        reads_.push_back({r, Clock::now(), std::this_thread::get_id()});
        changed_.notify_all();
    }
    void queueBlock(std::uint8_t, std::uint16_t, const std::uint8_t*, std::size_t) override {}
    int flushCommands() override { return 0; }
    bool waitWriteDone(std::chrono::milliseconds) override { return true; }
    zelbo::VendorReply vendorRequest(std::uint8_t, std::uint16_t, int) override { return {}; }
    void pause(std::chrono::milliseconds) override {}

    // Waits until at least n reads have come; false after the bound.
    bool waitReads(std::size_t n)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return reads_.size() >= n; });
    }
    std::vector<Read> reads() const
    {
        std::lock_guard lock(mutex_);
        return reads_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Read> reads_;
};

TEST(ThermometerTimer, TicksEveryPeriodAfterStartWithTheDiodeCodeAndTheClockWhenAsked)
{
    ReadPort port;
    std::atomic<bool> readClock{false};
    std::atomic<int> after{0};
    ThermometerTimer timer(port, 40ms); // after what its callbacks use: it goes first
    timer.setReadsClock([&] { return readClock.load(); });
    timer.setAfterTick([&] { ++after; });
    EXPECT_FALSE(timer.running());

    const auto started = Clock::now();
    timer.start();
    EXPECT_TRUE(timer.running());
    ASSERT_TRUE(port.waitReads(4)); // two ticks
    readClock = true;
    ASSERT_TRUE(port.waitReads(9)); // and at least one with the clock read
    timer.stop();

    const auto reads = port.reads();
    EXPECT_GE(reads[0].at - started, 40ms) << "a start waits one whole period";
    EXPECT_GE(reads[2].at - reads[0].at, 40ms) << "ticks are a period apart";
    EXPECT_EQ(reads[0].reg, reg::kDiodeCodeHigh);
    EXPECT_EQ(reads[1].reg, reg::kDiodeCodeLow);
    EXPECT_NE(reads[0].thread, std::this_thread::get_id()) << "without a dispatcher the timer thread reads";
    bool sawClock = false;
    for (std::size_t i = 0; i + 2 < reads.size(); ++i)
        if (reads[i].reg == reg::kDiodeCodeHigh && reads[i + 1].reg == reg::kDiodeCodeLow &&
            reads[i + 2].reg == reg::kClockControl)
            sawClock = true;
    EXPECT_TRUE(sawClock) << "the clock control read follows the diode code";
    EXPECT_GE(after.load(), 2);
}

TEST(ThermometerTimer, StopIsPromptAndTheThreadJoinsEvenMidPeriod)
{
    ReadPort port;
    auto timer = std::make_unique<ThermometerTimer>(port, std::chrono::hours(1));
    timer->start();
    timer->stop();
    EXPECT_FALSE(timer->running());
    timer->start(); // destroyed while waiting out an hour
    auto gone = std::async(std::launch::async, [&] { timer.reset(); });
    ASSERT_EQ(gone.wait_for(kBound), std::future_status::ready) << "the destructor must not wait out the period";
    EXPECT_TRUE(port.reads().empty());
}

TEST(ThermometerTimer, ARestartBeginsAWholePeriodAndTicksAgainAfterAStop)
{
    ReadPort port;
    ThermometerTimer timer(port, 60ms);
    timer.start();
    ASSERT_TRUE(port.waitReads(2));
    timer.stop();
    const std::size_t before = port.reads().size();

    const auto restarted = Clock::now();
    timer.start();
    ASSERT_TRUE(port.waitReads(before + 2));
    EXPECT_GE(port.reads()[before].at - restarted, 60ms);

    // A start while running also begins anew.
    timer.start();
    const auto again = Clock::now();
    const std::size_t n = port.reads().size();
    ASSERT_TRUE(port.waitReads(n + 2));
    const auto reads = port.reads();
    for (std::size_t i = n; i < reads.size(); ++i)
        if (reads[i].at < again) ADD_FAILURE() << "a read before the restart's period";
    EXPECT_GE(reads[n].at - again, 0ms);
}

TEST(ThermometerTimer, ADispatcherRunsTheTickOnItsOwnThreadAndAStoppedTimerSkipsIt)
{
    ReadPort port;
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::function<void()>> queue; // ticks left here are dropped, never run
    ThermometerTimer timer(port, 20ms);
    timer.setDispatch([&](std::function<void()> tick) {
        std::lock_guard lock(m);
        queue.push_back(std::move(tick));
        cv.notify_all();
    });
    timer.setReadsClock([] { return true; });
    auto next = [&]() -> std::function<void()> {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, kBound, [&] { return !queue.empty(); })) return {};
        auto f = std::move(queue.front());
        queue.pop_front();
        return f;
    };

    timer.start();
    auto tick = next();
    ASSERT_TRUE(tick);
    EXPECT_TRUE(port.reads().empty()) << "nothing is read until the front end runs the tick";
    tick();
    const auto reads = port.reads();
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[2].reg, reg::kClockControl);
    for (const auto& r : reads) EXPECT_EQ(r.thread, std::this_thread::get_id());

    // A tick handed over just before a stop is dropped when it finally runs.
    auto late = next();
    ASSERT_TRUE(late);
    timer.stop();
    late();
    EXPECT_EQ(port.reads().size(), 3u);
}

TEST(ThermometerTimer, AnExplicitTickReadsOnTheCallingThread)
{
    ReadPort port;
    ThermometerTimer timer(port, std::chrono::hours(1));
    timer.tick();
    const auto reads = port.reads();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].thread, std::this_thread::get_id());
}

} // namespace
