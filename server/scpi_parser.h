#pragma once
// The SCPI command language of zelbo-server, without a board: a line of
// program message units (separated by ';') becomes a list of commands, each
// a header path, a query flag and its parameters. Any bytes are taken; what
// is not SCPI becomes an error number and text in the command, never an
// exception. Matching headers against the command tree and converting
// parameters to values is the instrument's; the helpers for it are here.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelbo::server {

// A longer line is refused whole (-363 "Input buffer overrun").
inline constexpr std::size_t kMaxLineLength = 4096;
// Commands one line may carry; the rest of a longer line is refused.
inline constexpr std::size_t kMaxCommandsPerLine = 64;

// One node of a header: the mnemonic upper-cased, and its numeric suffix
// ("CHANnel2" -> "CHANNEL", 2; -1 when none was written).
struct Node {
    std::string name;
    int suffix = -1;
};

struct Param {
    enum class Kind { Number, Chars, String };
    Kind kind = Kind::Chars;
    std::string text;   // as written (strings: the content, quotes undone)
    double number = 0;  // Number
    std::string suffix; // Number: the unit suffix upper-cased ("MV", "KHZ"), or empty
};

struct Command {
    bool common = false;   // "*IDN?" and the like: path holds one node, the name without '*'
    bool query = false;
    std::vector<Node> path; // the full path, the borrowed prefix first
    std::size_t borrowed = 0; // nodes of `path` taken from the command before (SCPI's path rule)
    std::vector<Param> params;
    std::string header;     // the header as written, for messages
    // Nonzero: this unit could not be parsed; the line's later units are
    // dropped and the error goes to the queue.
    int error = 0;
    std::string errorText;
};

// Splits and parses one line (without its terminator; a trailing CR is
// ignored). Parsing stops at the first unit in error, which is the last one
// returned.
std::vector<Command> parseLine(std::string_view line);

// The SCPI error texts of the numbers the server uses.
const char* errorText(int code);

// The multiplier a numeric parameter's suffix stands for when the command
// expects `unit` ("V", "A", "HZ", "S", "OHM", "PCT" or "" for a plain
// number): "MV" with "V" is 1e-3, "KHZ" with "HZ" 1e3, "MHZ" 1e6, "MA" with
// "A" 1e-3; a bare multiplier ("2K", "500M") is taken too. Empty suffix: 1.
std::optional<double> suffixScale(std::string_view suffix, std::string_view unit);

// Character data against a SCPI keyword pattern ("POSitive"): the long form
// or the short form (its upper-case part), any case.
bool keywordMatches(std::string_view pattern, std::string_view text);

} // namespace zelbo::server
