#pragma once
// Number entry and number display of the fields and the files that hold them.
//
// Entry reads a number as engineers type it: a leading decimal number with a
// point or a comma as its decimal point, then, where a field takes them, an
// SI prefix (m, u or \u00b5, k, M) standing alone or before a unit ("500m",
// "2 kHz", "10 \u00b5s"). A "k" anywhere in such a field still multiplies by
// 1000 as it always has. Text that holds no number is no number: callers
// refuse it rather than read it as 0. Parsing and formatting never depend
// on the process locale: the GUI sets LC_NUMERIC from the environment, and
// a German desktop must still read "1.25".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelbo {

// The number the text starts with (after blanks), scaled by its SI prefix
// when `prefixes` is set; nothing when the text does not start with one.
// Too large a value gives +/-infinity, too small 0.
std::optional<double> readNumber(std::string_view text, bool prefixes);

// Leading decimal number of the text (optional blanks, sign, digits, point,
// digits, exponent; a comma counts as the point). "nan", "inf" and hex forms
// are not numbers here; text without a number gives 0 (files and cells that
// have always read so).
double parseLeadingNumber(std::string_view text);

// readNumber with prefixes, 0 without a number.
double parseNumberK(std::string_view text);

// Leading decimal integer (optional blanks and sign), saturated to the int
// range; 0 when the text does not start with one.
int parseLeadingInt(std::string_view text);

// printf-style fixed formatting ("%.<decimals>f"), locale-free. Non-finite
// values are shown as "0" with the requested decimals.
std::string formatFixed(double value, int decimals);

// The shortest plain-decimal text that parses back to exactly `value`
// (locale-free, no exponent; "0" for a non-finite one).
std::string exactText(double value);

// Reference voltage text: "%.2f".
std::string formatVolts(double volts);

// Clock frequency text: "%.0f" up to 1000 Hz, "%.2f k" of kHz above.
std::string formatFrequency(double hertz);

// Truncation toward zero that forgives binary rounding error: 0.29 / 0.01 is
// 28.999999999999996 in doubles and must still give 29. Saturates to the int
// range; NaN gives 0.
long long truncTolerant(double value);

} // namespace zelbo
