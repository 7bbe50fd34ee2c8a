#include "board/event_log.h"

#include <cinttypes>

namespace simboard {

std::string formatLogEvent(const LogEvent& e)
{
    char line[32];
    switch (e.kind) {
    case LogEvent::Kind::RegisterWrite:
        std::snprintf(line, sizeof line, "W %02X %02X", e.code, e.value & 0xFFu);
        break;
    case LogEvent::Kind::DacLoad:
        std::snprintf(line, sizeof line, "D %02X %04X", e.code, e.value);
        break;
    case LogEvent::Kind::VendorRequest:
        std::snprintf(line, sizeof line, "V %02X %04X", e.code, e.value);
        break;
    case LogEvent::Kind::BlockWrite:
        std::snprintf(line, sizeof line, "B %02X %04X %04X", e.code, e.value, e.count);
        break;
    }
    return line;
}

EventLog::~EventLog()
{
    setFile("");
}

void EventLog::add(const LogEvent& e)
{
    if (events_.size() >= kCapacity) events_.pop_front();
    events_.push_back(e);
    if (file_) {
        const std::string line = formatLogEvent(e);
        std::fprintf(file_, "%s\n", line.c_str());
        std::fflush(file_);
    }
}

bool EventLog::setFile(const std::string& path)
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

} // namespace simboard
