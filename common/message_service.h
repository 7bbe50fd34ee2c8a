#pragma once
// The one way the program shows a message box. Cores and the link report to
// the user only through this interface; the program implements it with
// QMessageBox on the GUI thread; tests have a recording fake of their own.

#include <string>

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

} // namespace zelbo
