#include "acquisition/DisplayFormat.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct FormatCase {
    const char* Pattern;
    double Value;
    const char* Expected;
};

const FormatCase Cases[] = {
    {"0.000", 1250.0, "1250.000"},
    {"0.", 1250.4, "1250"},
    {"0.", 1250.5, "1251"},
    {"0.", 0.5, "1"},
    {"0.", -2.5, "-3"},
    {"0.", 0.4, "0"},
    {"0.0", 1000.0, "1000.0"},
    {"0.000", 1000.0, "1000.000"},
    {"0.000", 999.9996, "1000.000"},
    {"0.000", 0.0005, "0.001"},
    {"0.000", -0.0004, "0.000"},
    {"0.000", -0.0, "0.000"},
    {"0.000", -12.3456, "-12.346"},
    {"0.0000", 0.125, "0.1250"},
    {"0.00", 0.005, "0.01"},
    {"0.00", 0.0049, "0.00"},
    {"0.0000000000", 1.0 / 3.0, "0.3333333333"},
    {"0.0000000000", 123456.789, "123456.7890000000"},
    {"0.0", 1e-300, "0.0"},
    {"0.0", 12345678901234567890.0, "12345678901234567200.0"},
    {"0.0000", std::numeric_limits<double>::quiet_NaN(), "NAN"},
    {"0.0000", -std::numeric_limits<double>::infinity(), "-INF"},
};

TEST(DisplayFormatTest, FixedDecimalsRoundHalfAwayFromZeroWithPoint) {
    for (const FormatCase& c : Cases)
        EXPECT_EQ(FormatFloat(c.Pattern, c.Value).toStdString(), c.Expected) << c.Pattern << " " << c.Value;
}

TEST(DisplayFormatTest, DecimalsAreTheZerosAfterThePoint) {
    EXPECT_EQ(PatternDecimals("0."), 0);
    EXPECT_EQ(PatternDecimals("0"), 0);
    EXPECT_EQ(PatternDecimals("0.0"), 1);
    EXPECT_EQ(PatternDecimals("0.0000000000"), 10);
}

} // namespace
