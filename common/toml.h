#pragma once
// toml++ (header-only), as every reader of TOML here includes it, and the
// check that must come before it parses outside input.
//
// toml++ 3.3 is not safe on every input:
// - its test for non-ASCII blanks (where the grammar allows blanks) reaches
//   an "unreachable" point for most non-ASCII characters, which is undefined
//   behaviour in an optimised build;
// - it asserts that a key begins with a key character or a quote, which some
//   malformed input breaks (its own error path follows the assertion).
// TOML allows non-ASCII text only inside comments and strings, so text with
// any other non-ASCII byte is refused before toml++ sees it
// (`nonAsciiOutsideStrings`), and the assertion is left to that error path.

#include <cstddef>
#include <string_view>

#ifndef TOML_ASSERT
#define TOML_ASSERT(expr) static_cast<void>(0)
#endif
#include <toml++/toml.h>

namespace zelbo {

// The line (from 1) of the first byte above 0x7F outside a comment or a
// string, 0 when there is none. Unterminated strings and comments run to
// their end as TOML reads them (a single-line one to the line's end).
inline int nonAsciiOutsideStrings(std::string_view text)
{
    int line = 1;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto startsWith = [&](std::size_t at, std::string_view s) { return text.substr(at, s.size()) == s; };
    while (i < n) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == '#') {
            while (i < n && text[i] != '\n') ++i;
        } else if (startsWith(i, "\"\"\"") || startsWith(i, "'''")) {
            const std::string_view close = text.substr(i, 3);
            const bool escapes = close[0] == '"';
            i += 3;
            while (i < n && !startsWith(i, close)) {
                if (text[i] == '\n') ++line;
                if (escapes && text[i] == '\\' && i + 1 < n) {
                    if (text[i + 1] == '\n') ++line;
                    ++i;
                }
                ++i;
            }
            i = i < n ? i + 3 : n;
        } else if (c == '"' || c == '\'') {
            ++i;
            while (i < n && text[i] != c && text[i] != '\n') {
                if (c == '"' && text[i] == '\\' && i + 1 < n && text[i + 1] != '\n') ++i;
                ++i;
            }
            if (i < n && text[i] == c) ++i;
        } else if (static_cast<unsigned char>(c) > 0x7F) {
            return line;
        } else {
            ++i;
        }
    }
    return 0;
}

} // namespace zelbo
