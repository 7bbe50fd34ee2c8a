#pragma once
// A CommandPort that records everything the drive sends, in order, as text:
// "W(reg,value)" ("W(reg,value,scope)" for the scope class), "R(reg)", "Wait",
// "Pause(ms)".

#include <string>
#include <utility>
#include <vector>

#include "common/command_port.h"

namespace zelbo::drive::test {

using Trace = std::vector<std::string>;
using Writes = std::vector<std::pair<int, int>>;

class FakePort final : public link::CommandPort {
public:
    void queueWrite(std::uint8_t reg, std::uint8_t value, link::WriteClass cls) override
    {
        ops.push_back("W(" + std::to_string(reg) + "," + std::to_string(value) +
                      (cls == link::WriteClass::Scope ? ",scope)" : ")"));
        written.emplace_back(reg, value);
    }
    void queueWriteQuiet(std::uint8_t reg, std::uint8_t value, link::WriteClass cls) override
    {
        queueWrite(reg, value, cls);
    }
    void queueRead(std::uint8_t reg) override { ops.push_back("R(" + std::to_string(reg) + ")"); }
    void queueBlock(std::uint8_t, std::uint16_t, const std::uint8_t*, std::size_t) override {}
    int flushCommands() override { return 0; }
    bool waitWriteDone(std::chrono::milliseconds) override
    {
        ops.push_back("Wait");
        return true;
    }
    link::VendorReply vendorRequest(std::uint8_t, std::uint16_t, int) override { return {}; }
    void pause(std::chrono::milliseconds ms) override { ops.push_back("Pause(" + std::to_string(ms.count()) + ")"); }

    const Writes& writes() const { return written; }
    void clear()
    {
        ops.clear();
        written.clear();
    }

    Trace ops;
    Writes written;
};

} // namespace zelbo::drive::test
