// Number entry on any bytes: no crash, no read past the input, never NaN, and
// a field that takes prefixes reads the same number as one that does not,
// scaled by one prefix at most.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto plain = zelbo::readNumber(text, false);
    const auto prefixed = zelbo::readNumber(text, true);
    if (plain.has_value() != prefixed.has_value()) std::abort();
    if (!plain) return 0;
    if (std::isnan(*plain) || std::isnan(*prefixed)) std::abort();
    if (std::isnormal(*plain) && std::isnormal(*prefixed)) {
        const double ratio = *prefixed / *plain;
        bool known = false;
        for (double s : {1.0, 1e3, 1e6, 1e-3, 1e-6})
            known = known || std::abs(ratio - s) <= s * 1e-9;
        if (!known) std::abort();
    }
    (void)zelbo::parseLeadingInt(text);
    return 0;
}
