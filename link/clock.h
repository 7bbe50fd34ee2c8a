#pragma once
// The one source of time for the link's sequences: the short pauses between
// register writes, the 1.5 s message pause of bring-up, the bound of the
// configuration polling. The program uses realClock(); tests use a clock that
// records the pauses and returns at once.

#include <chrono>

namespace zelbo::link {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual void sleep(std::chrono::milliseconds ms) = 0;
    virtual TimePoint now() = 0;
};

// Sleeps for real; steady clock.
Clock& realClock();

} // namespace zelbo::link
