#include "thermal/step_timer.h"

namespace zelbo::thermal {

StepTimer::StepTimer(std::function<void()> expired) : expired_(std::move(expired)), worker_([this] { run(); }) {}

StepTimer::~StepTimer()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        due_.reset();
    }
    cv_.notify_all();
    worker_.join();
}

void StepTimer::arm(std::chrono::milliseconds after)
{
    {
        std::lock_guard lock(mutex_);
        due_ = std::chrono::steady_clock::now() + after;
    }
    cv_.notify_all();
}

void StepTimer::cancel()
{
    {
        std::lock_guard lock(mutex_);
        due_.reset();
    }
    cv_.notify_all();
}

bool StepTimer::armed() const
{
    std::lock_guard lock(mutex_);
    return due_.has_value();
}

void StepTimer::run()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const auto now = std::chrono::steady_clock::now();
        if (due_ && *due_ <= now) {
            due_.reset();
            lock.unlock();
            expired_();
            lock.lock();
            continue;
        }
        auto until = now + std::chrono::milliseconds(50);
        if (due_ && *due_ < until) until = *due_;
        cv_.wait_until(lock, until);
    }
}

} // namespace zelbo::thermal
