#include "server/scpi_parser.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

namespace zelbo::server {

namespace {

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upperText(std::string_view s)
{
    std::string u(s);
    for (char& c : u) c = upper(c);
    return u;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

Command fail(Command c, int code)
{
    c.error = code;
    c.errorText = errorText(code);
    return c;
}

// Splits at `sep` outside quoted strings; false when a quote is left open.
bool splitOutsideQuotes(std::string_view s, char sep, std::vector<std::string_view>& parts)
{
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote) {
                // A doubled quote stands for one inside the string.
                if (i + 1 < s.size() && s[i + 1] == quote) ++i;
                else quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == sep) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(s.substr(start));
    return quote == 0;
}

// One mnemonic with its optional numeric suffix; false when it is not one.
bool parseNode(std::string_view text, Node& node)
{
    if (text.empty() || !isAlpha(text.front()) || text.size() > 64) return false;
    std::size_t end = text.size();
    while (end > 0 && isDigit(text[end - 1])) --end;
    for (std::size_t i = 0; i < end; ++i)
        if (!isAlpha(text[i]) && text[i] != '_' && !isDigit(text[i])) return false;
    node.name = upperText(text.substr(0, end));
    node.suffix = -1;
    if (end < text.size()) {
        const std::string_view digits = text.substr(end);
        if (digits.size() > 6) return false;
        int v = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), v);
        node.suffix = v;
    }
    return true;
}

// A decimal number (mantissa, optional exponent), then blanks and an
// optional suffix of letters (or '%').
int parseNumber(std::string_view s, Param& p)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return -121;
    // An exponent only when digits follow the E (so "2E" is not half a number).
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        const std::size_t first = j;
        while (j < s.size() && isDigit(s[j])) ++j;
        if (j > first) i = j;
    }
    std::string_view mantissa = s.substr(0, i);
    if (!mantissa.empty() && mantissa.front() == '+') mantissa.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(mantissa.data(), mantissa.data() + mantissa.size(), v);
    if (r.ec != std::errc() || r.ptr != mantissa.data() + mantissa.size() || !std::isfinite(v)) return -121;
    std::string_view rest = trim(s.substr(i));
    if (rest == "%") rest = "PCT";
    if (rest.size() > 8) return -134; // suffix too long
    for (char c : rest)
        if (!isAlpha(c)) return -121;
    p.kind = Param::Kind::Number;
    p.number = v;
    p.suffix = upperText(rest);
    p.text = std::string(s);
    return 0;
}

// Non-decimal numbers: #H1F, #Q17, #B101.
int parseNonDecimal(std::string_view s, Param& p)
{
    if (s.size() < 3) return -104;
    int base = 0;
    switch (upper(s[1])) {
    case 'H': base = 16; break;
    case 'Q': base = 8; break;
    case 'B': base = 2; break;
    default: return -104; // a block: none of the commands takes one
    }
    const std::string_view digits = s.substr(2);
    if (digits.size() > 16) return -121;
    unsigned long long v = 0;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return -121;
    p.kind = Param::Kind::Number;
    p.number = static_cast<double>(v);
    p.text = std::string(s);
    return 0;
}

int parseString(std::string_view s, Param& p)
{
    const char q = s.front();
    std::string out;
    std::size_t i = 1;
    for (; i < s.size(); ++i) {
        if (s[i] == q) {
            if (i + 1 < s.size() && s[i + 1] == q) {
                out += q;
                ++i;
                continue;
            }
            break;
        }
        out += s[i];
    }
    if (i != s.size() - 1) return -151; // unterminated, or text after the closing quote
    p.kind = Param::Kind::String;
    p.text = std::move(out);
    return 0;
}

int parseParam(std::string_view s, Param& p)
{
    s = trim(s);
    if (s.empty()) return -109;
    const char c = s.front();
    if (c == '"' || c == '\'') return parseString(s, p);
    if (c == '#') return parseNonDecimal(s, p);
    if (isDigit(c) || c == '+' || c == '-' || c == '.') return parseNumber(s, p);
    if (isAlpha(c)) {
        if (s.size() > 64) return -144; // character data too long
        for (char ch : s)
            if (!isAlpha(ch) && !isDigit(ch) && ch != '_') return -101;
        p.kind = Param::Kind::Chars;
        p.text = std::string(s);
        return 0;
    }
    return -101;
}

} // namespace

std::vector<Command> parseLine(std::string_view line)
{
    std::vector<Command> out;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxLineLength) {
        out.push_back(fail(Command{}, -363));
        return out;
    }
    for (char c : line) {
        // Control characters other than a tab have no place in a line.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
            out.push_back(fail(Command{}, -101));
            return out;
        }
    }
    std::vector<std::string_view> units;
    if (!splitOutsideQuotes(line, ';', units)) {
        out.push_back(fail(Command{}, -151));
        return out;
    }
    std::vector<Node> prefix; // the path the next unit continues from
    for (std::size_t u = 0; u < units.size(); ++u) {
        std::string_view unit = trim(units[u]);
        if (unit.empty()) {
            // "A;;B" or a trailing ";" on a line of several.
            if (units.size() == 1 || u + 1 == units.size()) continue;
            out.push_back(fail(Command{}, -102));
            return out;
        }
        if (out.size() >= kMaxCommandsPerLine) {
            out.push_back(fail(Command{}, -223)); // too much data
            return out;
        }
        Command cmd;
        std::size_t h = 0;
        while (h < unit.size() && !isBlank(unit[h])) ++h;
        std::string_view header = unit.substr(0, h);
        const std::string_view rest = trim(unit.substr(h));
        cmd.header = std::string(header.substr(0, 80));
        if (!header.empty() && header.back() == '?') {
            cmd.query = true;
            header.remove_suffix(1);
        }
        if (header.empty()) {
            out.push_back(fail(std::move(cmd), -102));
            return out;
        }
        if (header.front() == '*') {
            Node n;
            if (!parseNode(header.substr(1), n) || n.suffix >= 0) {
                out.push_back(fail(std::move(cmd), -102));
                return out;
            }
            cmd.common = true;
            cmd.path.push_back(std::move(n));
        } else {
            bool fromRoot = header.front() == ':';
            if (fromRoot) header.remove_prefix(1);
            std::vector<std::string_view> names;
            splitOutsideQuotes(header, ':', names);
            std::vector<Node> nodes;
            for (const auto& name : names) {
                Node n;
                if (!parseNode(name, n)) {
                    out.push_back(fail(std::move(cmd), name.empty() ? -102 : -113));
                    return out;
                }
                nodes.push_back(std::move(n));
            }
            if (!fromRoot && u > 0) {
                cmd.path = prefix;
                cmd.borrowed = prefix.size();
            }
            cmd.path.insert(cmd.path.end(), nodes.begin(), nodes.end());
            prefix.assign(cmd.path.begin(), cmd.path.end() - 1);
        }
        if (!rest.empty()) {
            std::vector<std::string_view> params;
            splitOutsideQuotes(rest, ',', params);
            for (const auto& text : params) {
                Param p;
                if (const int e = parseParam(text, p)) {
                    out.push_back(fail(std::move(cmd), e == -109 ? -102 : e));
                    return out;
                }
                cmd.params.push_back(std::move(p));
            }
        }
        out.push_back(std::move(cmd));
    }
    return out;
}

const char* errorText(int code)
{
    static constexpr std::array<std::pair<int, const char*>, 27> kTexts{{
        {0, "No error"},
        {-100, "Command error"},
        {-101, "Invalid character"},
        {-102, "Syntax error"},
        {-103, "Invalid separator"},
        {-104, "Data type error"},
        {-108, "Parameter not allowed"},
        {-109, "Missing parameter"},
        {-113, "Undefined header"},
        {-114, "Header suffix out of range"},
        {-121, "Invalid character in number"},
        {-131, "Invalid suffix"},
        {-134, "Suffix too long"},
        {-141, "Invalid character data"},
        {-144, "Character data too long"},
        {-151, "Invalid string data"},
        {-200, "Execution error"},
        {-203, "Command protected"},
        {-221, "Settings conflict"},
        {-222, "Data out of range"},
        {-223, "Too much data"},
        {-224, "Illegal parameter value"},
        {-240, "Hardware error"},
        {-256, "File name not found"},
        {-350, "Queue overflow"},
        {-363, "Input buffer overrun"},
        {-410, "Query INTERRUPTED"},
    }};
    for (const auto& [c, t] : kTexts)
        if (c == code) return t;
    return "Command error";
}

std::optional<double> suffixScale(std::string_view suffix, std::string_view unit)
{
    if (suffix.empty()) return 1.0;
    const std::string s = upperText(suffix);
    // Where SCPI reads M as mega rather than milli.
    if (s == "MHZ" && unit == "HZ") return 1e6;
    if (s == "MOHM" && unit == "OHM") return 1e6;
    if (s == "MA" && unit == "A") return 1e-3;
    std::string_view prefix = s;
    if (!unit.empty() && s.size() >= unit.size() && std::string_view(s).substr(s.size() - unit.size()) == unit)
        prefix = std::string_view(s).substr(0, s.size() - unit.size());
    else if (unit == "PCT" || unit.empty())
        return std::nullopt;
    static constexpr std::array<std::pair<std::string_view, double>, 11> kPrefixes{{
        {"", 1.0}, {"EX", 1e18}, {"PE", 1e15}, {"T", 1e12}, {"G", 1e9}, {"MA", 1e6},
        {"K", 1e3}, {"M", 1e-3}, {"U", 1e-6}, {"N", 1e-9}, {"P", 1e-12},
    }};
    for (const auto& [p, scale] : kPrefixes)
        if (p == prefix) return scale;
    return std::nullopt;
}

bool keywordMatches(std::string_view pattern, std::string_view text)
{
    std::string shortForm;
    for (char c : pattern)
        if (!(c >= 'a' && c <= 'z')) shortForm += c;
    const std::string t = upperText(text);
    return t == upperText(pattern) || t == shortForm;
}

} // namespace zelbo::server
