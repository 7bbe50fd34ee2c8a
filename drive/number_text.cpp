#include "drive/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <climits>
#include <cmath>
#include <limits>

namespace zelbo::drive {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

} // namespace

double parseLeadingNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) { ++i; ++digits; }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) { ++i; ++digits; }
    }
    if (digits == 0) return 0.0;
    // An exponent counts only when at least one digit follows it.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) ++j;
            i = j;
        }
    }
    double value = 0.0;
    const char* first = text.data() + start;
    const char* last = text.data() + i;
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Decide between overflow and underflow from the exponent's sign.
        const std::string_view body(first, static_cast<std::size_t>(last - first));
        const auto e = body.find_first_of("eE");
        const bool tiny = e != std::string_view::npos && e + 1 < body.size() && body[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc() || ptr == first) {
        value = 0.0;
    }
    return negative ? -value : value;
}

double parseNumberK(std::string_view text)
{
    double v = parseLeadingNumber(text);
    const bool kilo = std::any_of(text.begin(), text.end(),
                                  [](char c) { return c == 'k' || c == 'K'; });
    return kilo ? v * 1000.0 : v;
}

int parseLeadingInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
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

} // namespace zelbo::drive
