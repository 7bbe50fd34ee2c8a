// Any bytes as a math channel expression and as a math channel file: the
// parser must finish without a crash, a compiled expression must evaluate,
// and a file read must write out and read back the same.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scope/analysis/math_expression.h"
#include "scope/analysis/math_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zelbo::scope::analysis;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first byte picks the channels' units.
    std::array<Unit, 4> units{};
    const std::uint8_t pick = size ? data[0] : 0;
    for (int k = 0; k < 4; ++k) units[static_cast<std::size_t>(k)] = (pick >> k) & 1 ? Unit{0, 1} : Unit{1, 0};
    std::string error;
    if (auto e = MathExpression::parse(text.substr(size ? 1 : 0), units, &error)) {
        (void)e->evaluate({1.0, -2.0, 0.0, 3.5});
        (void)e->unit().text();
    } else if (error.empty()) {
        std::abort(); // a refusal always says why
    }
    const MathSetups once = parseMathFile(text);
    if (parseMathFile(formatMathFile(once)) != once) std::abort();
    return 0;
}
