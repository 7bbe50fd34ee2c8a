// Any bytes as a recording file: the header parser, its JSON reader and the
// record decoder reject or decode them without reading past the buffer.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "scope/record/recording_format.h"

using namespace zelbo::scope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const auto header = recording::parseHeader(bytes);
    if (!header)
        return 0;
    if (header->dataOffset > size || header->recordBytes == 0)
        std::abort();
    // The JSON text, whatever it holds, gives every channel a key.
    const auto info = recording::headerInfo(*header);
    for (const auto& c : info.channels)
        if (c.key.empty())
            std::abort();
    std::size_t at = header->dataOffset;
    for (int records = 0; records < 4 && size - at >= header->recordBytes; ++records, at += header->recordBytes) {
        const auto sweep = recording::decodeRecord(*header, bytes.subspan(at, header->recordBytes));
        if (!sweep)
            continue;
        for (const auto& values : sweep->values)
            if (!values.empty() && values.size() != header->samples)
                std::abort();
    }
    // A record of the wrong length is refused, never read past (after four
    // records the rest may be exactly one more, which decodes).
    if (size > at && size - at != header->recordBytes && recording::decodeRecord(*header, bytes.subspan(at)))
        std::abort();
    return 0;
}
