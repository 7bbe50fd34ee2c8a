#pragma once
// The thermometer's tick: every period while started, the diode code (high
// nibble, then low byte) and, when asked, the clock control register, whose
// answer ends a counted run. Its own thread waits on a condition variable, so
// no event loop is needed; a front end with a thread of its own hands the due
// tick there through a dispatcher.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "common/command_port.h"

namespace zelbo::engine {

class ThermometerTimer {
public:
    ThermometerTimer(CommandPort& port, std::chrono::milliseconds period);
    ~ThermometerTimer(); // the thread ends (a tick under way finishes first)
    ThermometerTimer(const ThermometerTimer&) = delete;
    ThermometerTimer& operator=(const ThermometerTimer&) = delete;

    // Asked on every tick whether to read the clock control register too.
    void setReadsClock(std::function<bool()> readClock);
    // Runs after the reads, on the thread the tick runs on.
    void setAfterTick(std::function<void()> afterTick);
    // Where a due tick runs: null runs it on the timer thread; otherwise it
    // is handed over and runs only if the timer is still started by then.
    void setDispatch(std::function<void(std::function<void()>)> dispatch);

    // A start (or restart) begins a whole period; stop() takes effect at once.
    void start();
    void stop();
    bool running() const;
    // One tick now, on the calling thread.
    void tick();

private:
    void loop();

    CommandPort& port_;
    const std::chrono::milliseconds period_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool run_ = false;   // ticking
    bool quit_ = false;  // the thread ends
    std::uint64_t epoch_ = 0; // every start and stop begins anew
    std::function<bool()> readClock_;
    std::function<void()> afterTick_;
    std::function<void(std::function<void()>)> dispatch_;
    std::thread thread_; // last: starts once the rest is set up
};

} // namespace zelbo::engine
