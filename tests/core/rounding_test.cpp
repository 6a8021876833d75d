#include "core/rounding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace tolvat {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();

void expect_same(double expected, double actual) {
    EXPECT_EQ(expected, actual);
    EXPECT_EQ(std::signbit(expected), std::signbit(actual)) << expected << " vs " << actual;
}

double plain(DecimalRounding r) {
    EXPECT_FALSE(r.needs_exact);
    return r.value;
}

TEST(Rounding, HalfAwayFromZero) {
    expect_same(3.0, round_half_away_from_zero(2.5));
    expect_same(-3.0, round_half_away_from_zero(-2.5));
    expect_same(1.0, round_half_away_from_zero(0.5));
    expect_same(2.0, round_half_away_from_zero(1.5));
    expect_same(0.0, round_half_away_from_zero(0.49999999999999994));
    expect_same(-0.0, round_half_away_from_zero(-0.49999999999999994));
    expect_same(0.0, round_half_away_from_zero(0.0));
    expect_same(-0.0, round_half_away_from_zero(-0.0));
    expect_same(-0.0, round_half_away_from_zero(-0.2));
    expect_same(2.0, round_half_away_from_zero(2.4999999999999996));
    // Values too large to have a fraction stay as they are.
    for (double big : {4503599627370497.0, 9007199254740993.0, 1e300, -4503599627370497.0}) {
        expect_same(big, round_half_away_from_zero(big));
    }
    expect_same(kInf, round_half_away_from_zero(kInf));
    expect_same(-kInf, round_half_away_from_zero(-kInf));
    EXPECT_TRUE(std::isnan(round_half_away_from_zero(std::nan(""))));
}

TEST(Rounding, PowerOfTenBySquaring) {
    EXPECT_EQ(pow10_int(0), 1.0);
    EXPECT_EQ(pow10_int(1), 10.0);
    EXPECT_EQ(pow10_int(22), 1e22);  // every power up to 22 is exact
    EXPECT_EQ(pow10_int(-1), 1.0 / 10.0);
    EXPECT_EQ(pow10_int(-2), 0.01);
    EXPECT_EQ(pow10_int(308) < kInf, true);
    EXPECT_EQ(pow10_int(309), kInf);
    EXPECT_EQ(pow10_int(-309), 0.0);
    EXPECT_EQ(pow10_int(kMax32), kInf);
    EXPECT_EQ(pow10_int(kMin32), 0.0);
    // Squaring, not a library power: 10^23 by squaring is 1e8 * 1e4 * 1e2 * 10 multiplied up.
    double expected = 1.0;
    double base = 10.0;
    for (unsigned m = 23; m != 0; m >>= 1) {
        if (m & 1u) expected *= base;
        base *= base;
    }
    EXPECT_EQ(pow10_int(23), expected);
    EXPECT_EQ(pow10_int(-23), 1.0 / expected);
}

TEST(Rounding, ToDecimals) {
    expect_same(1.0, plain(round_to_decimals(1.005, 2)));  // 1.005 * 100 is just below 100.5
    expect_same(1200.0, plain(round_to_decimals(1234.0, -2)));
    expect_same(1.01, plain(round_to_decimals(1.0051, 2)));
    expect_same(3.0, plain(round_to_decimals(2.5, 0)));
    expect_same(-3.0, plain(round_to_decimals(-2.5, 0)));
    expect_same(-0.0, plain(round_to_decimals(-0.001, 2)));
    expect_same(-0.0, plain(round_to_decimals(-0.0, 5)));
    expect_same(2000.0, plain(round_to_decimals(1500.0, -3)));
    // Negative digits divide by the scale rather than multiplying by its reciprocal.
    expect_same(round_half_away_from_zero(1234.0 * 0.01) / 0.01, plain(round_to_decimals(1234.0, -2)));
    // Non-finite values come back as they are, whatever the digits.
    for (std::int32_t d : {0, 3, -3, 400, -400, kMax32, kMin32}) {
        expect_same(kInf, plain(round_to_decimals(kInf, d)));
        expect_same(-kInf, plain(round_to_decimals(-kInf, d)));
        EXPECT_TRUE(std::isnan(plain(round_to_decimals(std::nan(""), d))));
    }
}

TEST(Rounding, ToDecimalsOutsideTheFiniteRangeAsksForTheExactPath) {
    struct Case {
        double v;
        std::int32_t d;
    };
    const Case cases[] = {
        {1.5, 309}, {1.5, 400}, {0.0, 400}, {-0.0, kMax32}, {1.5, -309}, {1e300, -400},
        {0.0, kMin32}, {1e300, 10}, {-1e300, 20}, {std::numeric_limits<double>::max(), -308},
    };
    for (const Case& c : cases) {
        const DecimalRounding r = round_to_decimals(c.v, c.d);
        EXPECT_TRUE(r.needs_exact) << c.v << " " << c.d;
        EXPECT_EQ(r.digits, c.d);
    }
    // Still inside: a subnormal scale stays on the formula.
    EXPECT_FALSE(round_to_decimals(1e300, -308).needs_exact);
    EXPECT_FALSE(round_to_decimals(1e-300, 300).needs_exact);
}

TEST(Rounding, SignificantFigures) {
    expect_same(0.00123, plain(round_to_significant_figures(0.0012345, 3)));
    expect_same(-98800.0, plain(round_to_significant_figures(-98765.0, 3)));
    expect_same(120000.0, plain(round_to_significant_figures(123456.0, 2)));
    expect_same(0.005, plain(round_to_significant_figures(0.005, 1)));
    expect_same(1000.0, plain(round_to_significant_figures(999.5, 3)));  // carries into a new digit
    expect_same(0.0, plain(round_to_significant_figures(123.0, 0)));
    expect_same(1.0, plain(round_to_significant_figures(1.0, 17)));
    // Zero keeps its sign, infinities and NaN come back as they are.
    expect_same(0.0, plain(round_to_significant_figures(0.0, 3)));
    expect_same(-0.0, plain(round_to_significant_figures(-0.0, 3)));
    expect_same(kInf, plain(round_to_significant_figures(kInf, 2)));
    expect_same(-kInf, plain(round_to_significant_figures(-kInf, kMin32)));
    EXPECT_TRUE(std::isnan(plain(round_to_significant_figures(std::nan(""), 4))));
}

TEST(Rounding, SignificantFiguresOutsideTheFiniteRangeAsksForTheExactPath) {
    // Tiny values need more decimals than a double scale can hold.
    DecimalRounding r = round_to_significant_figures(1e-300, 10);
    EXPECT_TRUE(r.needs_exact);
    EXPECT_EQ(r.digits, 309);
    r = round_to_significant_figures(5e-324, 1);
    EXPECT_TRUE(r.needs_exact);
    EXPECT_EQ(r.digits, 324);
    // Figure counts near the 32-bit limits: the decimals are counted without wrapping.
    r = round_to_significant_figures(0.05, kMax32);
    EXPECT_TRUE(r.needs_exact);
    EXPECT_EQ(r.digits, static_cast<std::int64_t>(kMax32) + 1);
    r = round_to_significant_figures(5e10, kMin32);
    EXPECT_TRUE(r.needs_exact);
    EXPECT_EQ(r.digits, static_cast<std::int64_t>(kMin32) - 11);
    r = round_to_significant_figures(1e300, 400);
    EXPECT_TRUE(r.needs_exact);
    EXPECT_EQ(r.digits, 99);
}

}  // namespace
}  // namespace tolvat
