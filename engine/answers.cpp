#include "engine/answers.h"

#include "drive/clock.h"

namespace zelbo::engine {

namespace {
template <class F> F copyOf(std::mutex& m, const F& f)
{
    std::lock_guard lock(m);
    return f;
}
} // namespace

void Answers::take(std::uint8_t reg, std::uint8_t value)
{
    if (const auto code = diode_.take(reg, value)) {
        if (auto fn = copyOf(mutex_, temperatureFn_))
            fn(*code);
        temperature_.set();
    } else if (drive::clockRunEnded(reg, value)) {
        if (auto fn = copyOf(mutex_, runEndedFn_))
            fn();
    } else if (const auto index = row_.take(reg, value, port_)) {
        if (auto fn = copyOf(mutex_, rowFn_))
            fn(*index);
    }
}

void Answers::onTemperature(std::function<void(std::uint16_t)> fn)
{
    std::lock_guard lock(mutex_);
    temperatureFn_ = std::move(fn);
}

void Answers::onClockRunEnded(std::function<void()> fn)
{
    std::lock_guard lock(mutex_);
    runEndedFn_ = std::move(fn);
}

void Answers::onDynamicIndex(std::function<void(std::int16_t)> fn)
{
    std::lock_guard lock(mutex_);
    rowFn_ = std::move(fn);
}

} // namespace zelbo::engine
