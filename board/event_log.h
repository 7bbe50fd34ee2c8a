#pragma once
// The board's ordered record of what the host did to it: register writes, DAC
// loads, vendor requests and block writes, each with the board time. Kept in
// memory (bounded) for tests and, when a file is named, appended to it as text
// one line per event and flushed as it goes, so a person can watch a running
// program with `tail -f`.

#include "board/sim_board_test.h"

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace simboard {

class EventLog {
public:
    static constexpr std::size_t kCapacity = 262144;

    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void add(const LogEvent& e);
    std::vector<LogEvent> events() const { return {events_.begin(), events_.end()}; }
    void clear() { events_.clear(); }
    // Opens `path` for appending; "" closes. False when it cannot be opened.
    bool setFile(const std::string& path);

private:
    std::deque<LogEvent> events_;
    std::FILE* file_ = nullptr;
};

} // namespace simboard
