#include "common/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

namespace zelbo {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Skips leading blanks and one sign from `i`; true for a minus.
bool skipBlanksAndSign(std::string_view text, std::size_t& i)
{
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return text[i++] == '-';
    return false;
}

// The scale of an SI prefix at `i` (after blanks) and 0 when there is none. A
// prefix letter counts alone or before a unit, not as the start of a word
// ("5 min" is five).
double prefixAt(std::string_view text, std::size_t i)
{
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i >= text.size()) return 0.0;
    double scale = 0.0;
    std::size_t len = 1;
    const char c = text[i];
    if (c == 'k' || c == 'K') scale = 1e3;
    else if (c == 'M') scale = 1e6;
    else if (c == 'm') scale = 1e-3;
    else if (c == 'u') scale = 1e-6;
    else if (text.substr(i, 2) == "\xC2\xB5" || text.substr(i, 2) == "\xCE\xBC") {
        scale = 1e-6;
        len = 2;
    }
    if (scale == 0.0) return 0.0;
    const std::size_t next = i + len;
    if (next >= text.size()) return scale;
    const char n = text[next];
    const bool letter = (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z');
    // Units: V, A, s, Hz, W, ohm; anything else that is not a letter ends it.
    if (!letter || std::string_view("VAsSHhWo").find(n) != std::string_view::npos) return scale;
    return 0.0;
}

} // namespace

std::optional<double> readNumber(std::string_view text, bool prefixes)
{
    std::size_t i = 0;
    const bool negative = skipBlanksAndSign(text, i);
    // The number, with a point for a decimal comma, into a buffer for from_chars.
    std::string body;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) { body += text[i++]; ++digits; }
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        body += '.';
        ++i;
        while (i < text.size() && isDigit(text[i])) { body += text[i++]; ++digits; }
    }
    if (digits == 0) return std::nullopt;
    // An exponent counts only when at least one digit follows it.
    bool tiny = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            tiny = text[i + 1] == '-';
            while (j < text.size() && isDigit(text[j])) ++j;
            body.append(text.substr(i, j - i));
            i = j;
        }
    }
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    else if (ec != std::errc() || ptr == body.data()) value = 0.0;
    if (negative) value = -value;
    if (!prefixes) return value;
    if (const double scale = prefixAt(text, i); scale != 0.0) return value * scale;
    const bool kilo = std::any_of(text.begin(), text.end(), [](char c) { return c == 'k' || c == 'K'; });
    return kilo ? value * 1000.0 : value;
}

double parseLeadingNumber(std::string_view text) { return readNumber(text, false).value_or(0.0); }

double parseNumberK(std::string_view text) { return readNumber(text, true).value_or(0.0); }

int parseLeadingInt(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = skipBlanksAndSign(text, i);
    long long v = 0;
    bool any = false;
    while (i < text.size() && isDigit(text[i])) {
        any = true;
        if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (text[i] - '0');
        ++i;
    }
    if (!any) return 0;
    if (negative) v = -v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

std::string formatFixed(double value, int decimals)
{
    if (!std::isfinite(value)) value = 0.0;
    if (value == 0.0) value = 0.0; // no "-0.00"
    std::array<char, 400> buf{};
    auto [ptr, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                   std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "0";
    std::string s(buf.data(), ptr);
    // printf prints a value that rounds to zero without its minus sign only
    // when it is +0; keep "-0.00" out of the fields all the same.
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

std::string exactText(double value)
{
    if (!std::isfinite(value)) return "0";
    // Plain digits, as a user would type them, shortest.
    std::array<char, 400> buf{};
    auto [ptr, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
    if (ec != std::errc()) return "0";
    return std::string(buf.data(), ptr);
}

std::string formatVolts(double volts) { return formatFixed(volts, 2); }

std::string formatFrequency(double hertz)
{
    if (hertz <= 1000.0) return formatFixed(hertz, 0);
    return formatFixed(hertz / 1000.0, 2) + " k";
}

long long truncTolerant(double value)
{
    if (std::isnan(value)) return 0;
    const double nudged = value + (value >= 0 ? 1e-9 : -1e-9) * std::max(1.0, std::fabs(value));
    constexpr double lim = 9.0e18;
    if (nudged >= lim) return static_cast<long long>(lim);
    if (nudged <= -lim) return -static_cast<long long>(lim);
    return static_cast<long long>(std::trunc(nudged));
}

} // namespace zelbo
