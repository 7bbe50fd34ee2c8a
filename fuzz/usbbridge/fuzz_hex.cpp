// Fuzzes the Intel HEX reader that takes a "fx2fw.hex" from beside the library.

#include "usbbridge/firmware.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> table;
    std::string error;
    const bool ok = usbbridge::parseIntelHex(std::string_view(reinterpret_cast<const char*>(data), size), table, error);
    if (ok) {
        // A table is whole records, data records of at most 16 bytes, and one end record last.
        if (table.empty() || table.size() % usbbridge::kImageRecordSize != 0) __builtin_trap();
        const std::size_t n = table.size() / usbbridge::kImageRecordSize;
        for (std::size_t i = 0; i < n; ++i) {
            const usbbridge::ImageRecordView r = usbbridge::imageRecord(table.data(), i);
            if (r.length > 16 || (r.type == 1) != (i + 1 == n)) __builtin_trap();
        }
    }
    return 0;
}
