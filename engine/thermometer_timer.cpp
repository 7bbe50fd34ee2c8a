#include "engine/thermometer_timer.h"

#include "common/fpga_registers.h"

namespace zelbo::engine {

ThermometerTimer::ThermometerTimer(CommandPort& port, std::chrono::milliseconds period)
    : port_(port), period_(period), thread_([this] { loop(); })
{
}

ThermometerTimer::~ThermometerTimer()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        run_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ThermometerTimer::setReadsClock(std::function<bool()> readClock)
{
    std::lock_guard lock(mutex_);
    readClock_ = std::move(readClock);
}

void ThermometerTimer::setAfterTick(std::function<void()> afterTick)
{
    std::lock_guard lock(mutex_);
    afterTick_ = std::move(afterTick);
}

void ThermometerTimer::setDispatch(std::function<void(std::function<void()>)> dispatch)
{
    std::lock_guard lock(mutex_);
    dispatch_ = std::move(dispatch);
}

void ThermometerTimer::start()
{
    {
        std::lock_guard lock(mutex_);
        run_ = true;
        ++epoch_;
    }
    wake_.notify_all();
}

void ThermometerTimer::stop()
{
    {
        std::lock_guard lock(mutex_);
        run_ = false;
        ++epoch_;
    }
    wake_.notify_all();
}

bool ThermometerTimer::running() const
{
    std::lock_guard lock(mutex_);
    return run_;
}

void ThermometerTimer::tick()
{
    std::function<bool()> readClock;
    std::function<void()> afterTick;
    {
        std::lock_guard lock(mutex_);
        readClock = readClock_;
        afterTick = afterTick_;
    }
    port_.queueRead(reg::kDiodeCodeHigh);
    port_.queueRead(reg::kDiodeCodeLow);
    if (readClock && readClock()) port_.queueRead(reg::kClockControl);
    if (afterTick) afterTick();
}

void ThermometerTimer::loop()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!run_) {
            wake_.wait(lock, [this] { return quit_ || run_; });
            continue;
        }
        // A (re)start begins a whole period, as a restarted timer does.
        const std::uint64_t epoch = epoch_;
        const auto due = std::chrono::steady_clock::now() + period_;
        if (wake_.wait_until(lock, due, [&] { return quit_ || epoch_ != epoch; })) continue;
        auto dispatch = dispatch_;
        lock.unlock();
        if (dispatch)
            dispatch([this] {
                if (running()) tick();
            });
        else
            tick();
        lock.lock();
    }
}

} // namespace zelbo::engine
