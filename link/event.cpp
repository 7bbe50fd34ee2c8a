#include "link/event.h"

namespace zelbo::link {

Event::Event(Reset reset, bool initiallySet, std::string label)
    : reset_(reset), label_(std::move(label)), signalled_(initiallySet)
{
}

void Event::set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (reset_ == Reset::Manual)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!signalled_ && timeout.count() > 0)
        cv_.wait_for(lock, timeout, [this] { return signalled_; });
    if (!signalled_)
        return false;
    if (reset_ == Reset::Auto)
        signalled_ = false;
    return true;
}

bool Event::isSet() const
{
    std::lock_guard lock(mutex_);
    return signalled_;
}

} // namespace zelbo::link
