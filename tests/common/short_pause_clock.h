#pragma once
// A clock whose pauses last a tenth of what the program asks: the pauses
// between register writes, the settings' stage pauses and the window's own
// waits are there for real hardware, and most end-to-end tests are about what
// reaches the board, not about how long the program waits in between. Tests
// that are about the pauses themselves keep the real clock.

#include <chrono>
#include <thread>

#include "link/clock.h"

namespace zelbo::test {

class ShortPauseClock final : public link::Clock {
public:
    void sleep(std::chrono::milliseconds ms) override
    {
        if (ms.count() > 0) std::this_thread::sleep_for(ms / 10);
    }
    TimePoint now() override { return std::chrono::steady_clock::now(); }
};

inline link::Clock& shortPauseClock()
{
    static ShortPauseClock clock;
    return clock;
}

} // namespace zelbo::test
