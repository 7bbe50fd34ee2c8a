// The command language on any bytes: parse, then check every command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto r = zelbo::cli::parseScript(text);
    if (!r.error.empty() && !r.commands.empty() && r.commands.size() > size) std::abort();
    for (const auto& c : r.commands) {
        if (c.words.empty()) std::abort();
        const auto checked = zelbo::cli::checkCommand(c);
        if (!checked.step && checked.error.empty()) std::abort();
        if (checked.step && checked.step->steps && (*checked.step->steps < 1 || *checked.step->steps > 255)) std::abort();
    }
    return 0;
}
