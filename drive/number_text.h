#pragma once
// Number entry and number display of the drive fields.
//
// Fields are parsed like the C library's atof (leading decimal number, the
// rest ignored, nothing parses as 0) and, for the reference and clock
// columns, a "k" anywhere in the text multiplies by 1000. Parsing and
// formatting never depend on the process locale: the GUI sets LC_NUMERIC
// from the environment, and a German desktop must still read "1.25".

#include <cstdint>
#include <string>
#include <string_view>

namespace zelbo::drive {

// Leading decimal number of the text (optional blanks, sign, digits, point,
// digits, exponent). "nan", "inf" and hex forms are not numbers here. A value
// too large for a double becomes +/-infinity, a too small one 0.
double parseLeadingNumber(std::string_view text);

// parseLeadingNumber, times 1000 when the lower-cased text holds a "k".
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

} // namespace zelbo::drive
