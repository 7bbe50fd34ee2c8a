#pragma once
// Recording stand-ins for the command port and the chart.

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/command_port.h"
#include "scope/scope_view.h"

namespace zelbo::scope::test {

struct RegWrite {
    std::uint8_t reg;
    std::uint8_t value;
    link::WriteClass cls;
    bool operator==(const RegWrite&) const = default;
};

class FakePort : public link::CommandPort {
public:
    void queueWrite(std::uint8_t reg, std::uint8_t value, link::WriteClass cls) override
    {
        std::lock_guard lk(m);
        writes.push_back({reg, value, cls});
    }
    void queueWriteQuiet(std::uint8_t reg, std::uint8_t value, link::WriteClass cls) override
    {
        queueWrite(reg, value, cls);
    }
    void queueRead(std::uint8_t) override {}
    void queueBlock(std::uint8_t, std::uint16_t, const std::uint8_t*, std::size_t) override {}
    int flushCommands() override { return 0; }
    bool waitWriteDone(std::chrono::milliseconds) override
    {
        std::lock_guard lk(m);
        ++waits;
        return true;
    }
    link::VendorReply vendorRequest(std::uint8_t, std::uint16_t, int) override { return {}; }
    void pause(std::chrono::milliseconds) override {}

    std::vector<RegWrite> take()
    {
        std::lock_guard lk(m);
        auto w = std::move(writes);
        writes.clear();
        return w;
    }
    // Last value written to a register, if any.
    std::optional<std::uint8_t> last(std::uint8_t reg)
    {
        std::lock_guard lk(m);
        for (auto it = writes.rbegin(); it != writes.rend(); ++it)
            if (it->reg == reg)
                return it->value;
        return std::nullopt;
    }

    std::mutex m;
    std::vector<RegWrite> writes;
    int waits = 0;
};

class FakeView : public ScopeView {
public:
    void setTimePerDiv(double us, const std::string& text) override
    {
        usPerDiv = us;
        timeText = text;
    }
    void resetScroll() override { ++resets; }
    bool hasTrace(const std::string& key) const override { return traces.count(key) != 0; }
    void addTrace(const std::string& key, ScopeChannel* ch) override { traces[key] = ch; }
    void removeTrace(const std::string& key) override { traces.erase(key); }
    void traceSetChanged() override { ++setChanges; }
    void setSlopeIndicator(int s) override { slope = s; }

    double usPerDiv = 0;
    std::string timeText;
    int resets = 0;
    int setChanges = 0;
    int slope = -1;
    std::map<std::string, ScopeChannel*> traces;
};

} // namespace zelbo::scope::test
