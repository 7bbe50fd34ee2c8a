#pragma once
// A CommandPort that records everything the drive sends, in order.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "link/command_port.h"

namespace zelbo::drive::test {

struct Op {
    enum Kind { Write, Read, Wait, Pause } kind;
    std::uint8_t reg = 0;
    std::uint8_t value = 0;
    link::WriteClass cls = link::WriteClass::Ordinary;
    long ms = 0;

    bool operator==(const Op&) const = default;
};

inline Op W(std::uint8_t reg, std::uint8_t value, link::WriteClass cls = link::WriteClass::Ordinary)
{
    return Op{Op::Write, reg, value, cls, 0};
}
inline Op R(std::uint8_t reg) { return Op{Op::Read, reg, 0, link::WriteClass::Ordinary, 0}; }
inline Op Wait() { return Op{Op::Wait, 0, 0, link::WriteClass::Ordinary, 5000}; }
inline Op Pause(long ms) { return Op{Op::Pause, 0, 0, link::WriteClass::Ordinary, ms}; }

inline std::string describe(const Op& op)
{
    switch (op.kind) {
    case Op::Write:
        return "W(" + std::to_string(op.reg) + "," + std::to_string(op.value) +
               (op.cls == link::WriteClass::Scope ? ",scope)" : ")");
    case Op::Read: return "R(" + std::to_string(op.reg) + ")";
    case Op::Wait: return "Wait";
    case Op::Pause: return "Pause(" + std::to_string(op.ms) + ")";
    }
    return "?";
}

class FakePort final : public link::CommandPort {
public:
    void queueWrite(std::uint8_t reg, std::uint8_t value, link::WriteClass cls) override
    {
        ops.push_back(W(reg, value, cls));
    }
    void queueWriteQuiet(std::uint8_t reg, std::uint8_t value, link::WriteClass cls) override
    {
        ops.push_back(W(reg, value, cls));
    }
    void queueRead(std::uint8_t reg) override { ops.push_back(R(reg)); }
    void queueBlock(std::uint8_t, std::uint16_t, const std::uint8_t*, std::size_t) override {}
    int flushCommands() override { return 0; }
    bool waitWriteDone(std::chrono::milliseconds timeout) override
    {
        ops.push_back(Op{Op::Wait, 0, 0, link::WriteClass::Ordinary, static_cast<long>(timeout.count())});
        return true;
    }
    link::VendorReply vendorRequest(std::uint8_t, std::uint16_t, int) override { return {}; }
    void pause(std::chrono::milliseconds ms) override
    {
        ops.push_back(Pause(static_cast<long>(ms.count())));
    }

    // Register writes only, as (register, value) pairs.
    std::vector<std::pair<int, int>> writes() const
    {
        std::vector<std::pair<int, int>> w;
        for (const auto& op : ops)
            if (op.kind == Op::Write) w.emplace_back(op.reg, op.value);
        return w;
    }
    std::vector<std::string> trace() const
    {
        std::vector<std::string> t;
        for (const auto& op : ops) t.push_back(describe(op));
        return t;
    }
    void clear() { ops.clear(); }

    std::vector<Op> ops;
};

inline std::vector<std::string> traceOf(const std::vector<Op>& ops)
{
    std::vector<std::string> t;
    for (const auto& op : ops) t.push_back(describe(op));
    return t;
}

} // namespace zelbo::drive::test
