#include "calora/report.h"

#include <cerrno>
#include <unistd.h>

namespace calora {

std::string formatMessageLine(MessageKind kind, std::string_view text)
{
    std::string line = "Calora [";
    switch (kind) {
    case MessageKind::Plain: line += "plain"; break;
    case MessageKind::Warning: line += "warning"; break;
    case MessageKind::Error: line += "error"; break;
    }
    line += "] ";
    for (char ch : text) {
        switch (ch) {
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        case '\\': line += "\\\\"; break;
        default: line += ch; break;
        }
    }
    line += '\n';
    return line;
}

void StderrReporter::report(MessageKind kind, std::string_view text)
{
    const std::string line = formatMessageLine(kind, text);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return; // nowhere to report to
    }
}

} // namespace calora
