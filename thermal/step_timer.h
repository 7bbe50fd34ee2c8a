#pragma once
// The monitor's step timer: a one-shot timer that its own worker thread waits
// on (in slices of 50 ms, so that it notices when it is shut down). When it
// expires, the worker calls the expiry function; re-arming or cancelling
// from any thread replaces the pending expiry.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace zelbo::thermal {

class StepTimer {
public:
    // `expired` runs on the worker thread, with no lock held.
    explicit StepTimer(std::function<void()> expired);
    ~StepTimer(); // cancels and joins the worker
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

    void arm(std::chrono::milliseconds after);
    void cancel();
    bool armed() const;

private:
    void run();

    std::function<void()> expired_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<std::chrono::steady_clock::time_point> due_;
    bool quit_ = false;
    std::thread worker_;
};

} // namespace zelbo::thermal
