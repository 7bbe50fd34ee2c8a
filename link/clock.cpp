#include "link/clock.h"

#include <thread>

namespace zelbo::link {

namespace {
class RealClock final : public Clock {
public:
    void sleep(std::chrono::milliseconds ms) override
    {
        if (ms.count() > 0)
            std::this_thread::sleep_for(ms);
    }
    TimePoint now() override { return std::chrono::steady_clock::now(); }
};
} // namespace

Clock& realClock()
{
    static RealClock clock;
    return clock;
}

} // namespace zelbo::link
