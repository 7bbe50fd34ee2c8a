// The SCPI line parser (and the client allow-list's network parser) on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/net_allow.h"
#include "server/scpi_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto cmds = zelbo::server::parseLine(text);
    if (cmds.size() > zelbo::server::kMaxCommandsPerLine + 1) std::abort();
    for (std::size_t i = 0; i < cmds.size(); ++i) {
        const auto& c = cmds[i];
        // Only the last command may carry an error, and an error has a text.
        if (c.error != 0 && (i + 1 != cmds.size() || c.errorText.empty())) std::abort();
        if (c.error != 0) continue;
        if (c.path.empty() || c.borrowed >= c.path.size() + 1) std::abort();
        if (c.common && c.path.size() != 1) std::abort();
        for (const auto& p : c.params) {
            if (p.kind == zelbo::server::Param::Kind::Number && p.number != p.number) std::abort();
            (void)zelbo::server::suffixScale(p.suffix, "V");
            (void)zelbo::server::keywordMatches("POSitive", p.text);
        }
    }
    (void)zelbo::server::parseNetwork(text);
    return 0;
}
