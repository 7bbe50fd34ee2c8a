#include "link/response_block.h"

#include <algorithm>

namespace zelbo::link {

namespace {
bool isPlainRecord(std::uint8_t c)
{
    return (c >= code::HardwareReady && c <= code::InfoSweepFin) || c == code::InfoScrRead ||
           (c >= code::InfoErrCmd && c <= code::InfoErrCheck);
}
} // namespace

int walkResponseBlock(const std::uint8_t (&block)[kBlockSize], ResponseSink& sink)
{
    int records = 0;
    std::size_t off = 0;
    while (off + 2 <= kBlockSize) {
        const std::uint8_t c = block[off + 1];
        const bool payload = off + 6 <= kBlockSize; // bytes 4 and 5 lie in the block
        if (isPlainRecord(c)) {
            ++records;
            switch (c) {
            case code::HardwareReady: sink.hardwareReady(); break;
            case code::PattStop: sink.patternStopped(); break;
            case code::InfoSweepFin: sink.sweepFinished(); break;
            case code::InfoScrRead:
                if (payload)
                    sink.registerRead(block[off + 4], block[off + 5]);
                break;
            default: break; // recognised, no action
            }
            off += 6;
            continue;
        }
        if (c >= code::InfoCh0Upload && c <= code::InfoCh0Upload + 3) {
            if (!payload)
                break; // its length is not even in the block
            ++records;
            const std::size_t declared = std::size_t(block[off + 4]) * 256 + block[off + 5];
            const std::size_t start = off + 6;
            const std::size_t n = std::min({declared, kUploadChunk, kBlockSize - start});
            sink.upload(c - code::InfoCh0Upload, block + start, n);
            off = start + declared;
            continue;
        }
        // 0x00, INFO_BUFFER_READ (no defined length) and unknown codes.
        break;
    }
    return records;
}

} // namespace zelbo::link
