#pragma once
// A message service for tests: records every message and answers from a
// queue instead of showing anything.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/message_service.h"

namespace zelbo {

// Records every message and answers from a queue (default: the first button:
// Ok or Yes). Thread-safe.
class RecordingMessageService final : public MessageService {
public:
    using MessageService::show;

    MsgAnswer show(const Message& message) override
    {
        std::lock_guard lock(mutex_);
        shown_.push_back(message);
        if (!answers_.empty()) {
            MsgAnswer a = answers_.front();
            answers_.pop_front();
            return a;
        }
        switch (message.buttons) {
        case MsgButtons::Ok:
        case MsgButtons::OkCancel: return MsgAnswer::Ok;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel: return MsgAnswer::Yes;
        }
        return MsgAnswer::Ok;
    }

    void queueAnswer(MsgAnswer a)
    {
        std::lock_guard lock(mutex_);
        answers_.push_back(a);
    }

    std::vector<Message> shown() const
    {
        std::lock_guard lock(mutex_);
        return shown_;
    }

    std::vector<std::string> texts() const
    {
        std::lock_guard lock(mutex_);
        std::vector<std::string> t;
        for (const auto& m : shown_) t.push_back(m.text);
        return t;
    }

    void clear()
    {
        std::lock_guard lock(mutex_);
        shown_.clear();
        answers_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Message> shown_;
    std::deque<MsgAnswer> answers_;
};

} // namespace zelbo
