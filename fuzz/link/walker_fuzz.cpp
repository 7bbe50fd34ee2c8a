// Arbitrary bytes as a 512-byte response block (short inputs are zero-padded,
// long ones cut): the walk must stay inside the block, report uploads of at
// most one chunk taken from inside the block, and end.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/response_block.h"

namespace {

struct CheckingSink final : zelbo::link::ResponseSink {
    const std::uint8_t* begin = nullptr;
    int events = 0;
    void hardwareReady() override { ++events; }
    void patternStopped() override { ++events; }
    void sweepFinished() override { ++events; }
    void registerRead(std::uint8_t, std::uint8_t) override { ++events; }
    void upload(int channel, const std::uint8_t* data, std::size_t n) override
    {
        ++events;
        if (channel < 0 || channel > 3 || n > zelbo::link::kUploadChunk)
            std::abort();
        if (data < begin + 6 || data + n > begin + zelbo::link::kBlockSize)
            std::abort();
        volatile std::uint8_t sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            sum = static_cast<std::uint8_t>(sum + data[i]);
        (void)sum;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t block[zelbo::link::kBlockSize] = {};
    std::memcpy(block, data, size < sizeof block ? size : sizeof block);
    CheckingSink sink;
    sink.begin = block;
    const int records = zelbo::link::walkResponseBlock(block, sink);
    // Every record takes at least six bytes.
    if (records < 0 || records > static_cast<int>(zelbo::link::kBlockSize / 6) + 1 ||
        sink.events > records)
        std::abort();
    return 0;
}
