#pragma once
// A small waitable event, manual or auto reset, with bounded waits.
//
// Manual reset: once set, every wait succeeds until reset() is called.
// Auto reset: a successful wait consumes the signal (exactly one waiter wakes).
// The label names the event in logs and tests ("write-done" ...).

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace zelbo::link {

class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset reset, bool initiallySet = false, std::string label = {});
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();

    // Waits up to `timeout` for the event; true when it was signalled (an
    // auto-reset event is then consumed). A zero time-out only tests it.
    bool wait(std::chrono::milliseconds timeout);
    bool tryWait() { return wait(std::chrono::milliseconds(0)); }

    // Looks at the state without consuming it.
    bool isSet() const;

    Reset resetMode() const { return reset_; }
    const std::string& label() const { return label_; }

private:
    const Reset reset_;
    const std::string label_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

} // namespace zelbo::link
