#pragma once
// A command port that goes nowhere: for driving a feature core where no board
// is wanted and nothing needs recording (benchmarks, fuzz targets).

#include "common/command_port.h"

namespace zelbo::link {

class NullCommandPort final : public CommandPort {
public:
    void queueWrite(std::uint8_t, std::uint8_t, WriteClass) override {}
    void queueWriteQuiet(std::uint8_t, std::uint8_t, WriteClass) override {}
    void queueRead(std::uint8_t) override {}
    void queueBlock(std::uint8_t, std::uint16_t, const std::uint8_t*, std::size_t) override {}
    int flushCommands() override { return 0; }
    bool waitWriteDone(std::chrono::milliseconds) override { return true; }
    VendorReply vendorRequest(std::uint8_t, std::uint16_t, int) override { return {}; }
    void pause(std::chrono::milliseconds) override {}
};

} // namespace zelbo::link
