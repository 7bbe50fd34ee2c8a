// The command language on any bytes: parse, then check every command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/script.h"
#include "drive/clock.h"
#include "drive/column.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto r = zelbo::cli::parseScript(text);
    if (!r.error.empty() && !r.commands.empty() && r.commands.size() > size) std::abort();
    for (const auto& c : r.commands) {
        if (c.words.empty()) std::abort();
        const auto checked = zelbo::cli::checkCommand(c);
        if (!checked.step && checked.error.empty()) std::abort();
        if (!checked.step) continue;
        const auto& s = *checked.step;
        if (s.steps && (*s.steps < 1 || *s.steps > zelbo::drive::kMaxCountedSteps)) std::abort();
        // What the check lets through, the session takes.
        using K = zelbo::cli::Step::Kind;
        using zelbo::drive::ColumnId;
        if (s.kind == K::SetVref && !zelbo::drive::rangeError(ColumnId::Vref, s.value).empty()) std::abort();
        if (s.kind == K::SetMth && !zelbo::drive::rangeError(ColumnId::Mth, s.value).empty()) std::abort();
        if (s.kind == K::Run && !zelbo::drive::rangeError(ColumnId::Clk, s.value).empty()) std::abort();
    }
    return 0;
}
