#include "common/number_text.h"

#include <clocale>
#include <cmath>
#include <optional>

#include <gtest/gtest.h>

using namespace zelbo;

TEST(NumberText, ParsesTheLeadingNumberWithTheKRule)
{
    EXPECT_DOUBLE_EQ(parseLeadingNumber("  -0.5 V"), -0.5);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("2e3x"), 2000.0);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("2e+"), 2.0); // an exponent needs digits
    for (const char* none : {"", "abc", ".", "-", " e5", "nan", "inf"})
        EXPECT_EQ(parseLeadingNumber(none), 0.0) << none;
    EXPECT_TRUE(std::isinf(parseLeadingNumber("1e999")));
    EXPECT_EQ(parseLeadingNumber("1e-999"), 0.0);

    EXPECT_DOUBLE_EQ(parseNumberK("2k"), 2000.0);
    EXPECT_DOUBLE_EQ(parseNumberK("1.00 k"), 1000.0); // our own display text reads back
    EXPECT_DOUBLE_EQ(parseNumberK("k5"), 0.0);

    EXPECT_EQ(parseLeadingInt(" 12abc"), 12);
    EXPECT_EQ(parseLeadingInt("x1"), 0);
    EXPECT_EQ(parseLeadingInt("99999999999999999999"), 2147483647);
}

// Entry as engineers type it: what each text reads as in a field that takes
// prefixes, and without them; nothing where the text holds no number.
TEST(NumberText, ReadsEntriesWithPrefixesCommasAndRefusesGarbage)
{
    struct Case {
        const char* text;
        std::optional<double> prefixed;
        std::optional<double> plain;
    };
    const Case cases[] = {
        {"500m", 0.5, 500.0},
        {"500 mV", 0.5, 500.0},
        {"1,2", 1.2, 1.2},          // a decimal comma
        {" -1,25 V", -1.25, -1.25},
        {"2k", 2000.0, 2.0},
        {"2 kHz", 2000.0, 2.0},
        {"1.00 k", 1000.0, 1.0},    // our own display text reads back
        {"2K", 2000.0, 2.0},
        {"1M", 1e6, 1.0},
        {"1.5 MHz", 1.5e6, 1.5},
        {"10u", 10e-6, 10.0},
        {"10 \u00b5s", 10e-6, 10.0}, // micro sign
        {"10\u03bcA", 10e-6, 10.0},  // Greek mu
        {"5 min", 5.0, 5.0},         // a word, not a prefix
        {"3 ms", 3e-3, 3.0},
        {"2e3", 2000.0, 2000.0},
        {"2e-3m", 2e-6, 2e-3},
        {"7 parsecs", 7.0, 7.0},     // the leading number; no prefix before "p"
        {"abc", std::nullopt, std::nullopt},
        {"yes", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {",", std::nullopt, std::nullopt},
        {"k5", std::nullopt, std::nullopt},
        {"m", std::nullopt, std::nullopt},
        {"nan", std::nullopt, std::nullopt},
        {"inf", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto p = readNumber(c.text, true);
        const auto q = readNumber(c.text, false);
        ASSERT_EQ(p.has_value(), c.prefixed.has_value());
        ASSERT_EQ(q.has_value(), c.plain.has_value());
        if (p) { EXPECT_NEAR(*p, *c.prefixed, std::abs(*c.prefixed) * 1e-12); }
        if (q) { EXPECT_NEAR(*q, *c.plain, std::abs(*c.plain) * 1e-12); }
    }
    EXPECT_TRUE(std::isinf(*readNumber("1e999k", true)));
    EXPECT_EQ(*readNumber("1e-999", true), 0.0);
}

TEST(NumberText, FormatsLikeFixedPrintfWhateverTheLocale)
{
    const char* old = std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // decimal comma, if installed
    EXPECT_EQ(formatVolts(1.234), "1.23");
    EXPECT_EQ(formatVolts(-0.001), "0.00");
    EXPECT_EQ(formatVolts(NAN), "0.00");
    EXPECT_DOUBLE_EQ(parseLeadingNumber("1.25"), 1.25);
    if (old) std::setlocale(LC_NUMERIC, "C");

    EXPECT_EQ(formatFrequency(1000), "1000");
    EXPECT_EQ(formatFrequency(1010), "1.01 k");
    EXPECT_EQ(formatFrequency(100000), "100.00 k");
}
