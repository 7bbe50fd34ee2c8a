#pragma once
// The one way the program shows a message box. Cores and the link report to
// the user only through this interface; the program implements it with
// QMessageBox on the GUI thread, tests with RecordingMessageService.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace zelbo {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct Message {
    std::string text;
    std::string caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

// The caption most messages of the program carry.
inline constexpr const char* kAppCaption = "Zelbo Evaluation Software";

class MessageService {
public:
    virtual ~MessageService() = default;
    // Shows the message and blocks until the user answers. May be called from
    // any thread; the implementation moves it to the GUI thread.
    virtual MsgAnswer show(const Message& message) = 0;

    MsgAnswer show(std::string text, std::string caption = kAppCaption,
                   MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok)
    {
        return show(Message{std::move(text), std::move(caption), icon, buttons});
    }
};

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
