#pragma once
// How the library tells its user that something went wrong. A shared library
// on Linux cannot assume a desktop, so each message becomes one line on
// standard error, tagged with its kind.

#include <string>
#include <string_view>

namespace calora {

enum class MessageKind { Plain, Warning, Error };

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void report(MessageKind kind, std::string_view text) = 0;
};

// "Calora [warning] <text>" and so on; a line break inside the text is written
// as the two characters \n (a backslash as \\) so that every message is one line.
std::string formatMessageLine(MessageKind kind, std::string_view text);

// Writes each message with one write(2) to file descriptor 2, so that lines
// from several threads or processes do not interleave.
class StderrReporter final : public Reporter {
public:
    void report(MessageKind kind, std::string_view text) override;
};

} // namespace calora
