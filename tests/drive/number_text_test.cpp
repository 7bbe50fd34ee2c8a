#include "drive/number_text.h"

#include <clocale>
#include <cmath>

#include <gtest/gtest.h>

using namespace zelbo::drive;

TEST(DriveNumberText, ParsesTheLeadingNumberWithTheKRule)
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

TEST(DriveNumberText, FormatsLikeFixedPrintfWhateverTheLocale)
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
