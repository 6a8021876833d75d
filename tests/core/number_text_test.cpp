#include "core/number_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

namespace tolvat {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumberText, Rules) {
    EXPECT_EQ(number_text(5.0), "5");
    EXPECT_EQ(number_text(-12.0), "-12");
    EXPECT_EQ(number_text(0.25), "0.25");
    EXPECT_EQ(number_text(1e-7), "0.0000001");
    EXPECT_EQ(number_text(1e20), "1" + std::string(20, '0'));
    EXPECT_EQ(number_text(1e21), "1" + std::string(21, '0'));
    EXPECT_EQ(number_text(123.456), "123.456");
    EXPECT_EQ(number_text(-0.001), "-0.001");
    EXPECT_EQ(number_text(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(number_text(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(number_text(9007199254740993.0), "9007199254740992");
    EXPECT_EQ(number_text(0.0), "0");
    EXPECT_EQ(number_text(-0.0), "-0");
    EXPECT_EQ(number_text(std::nan("")), "NaN");
    EXPECT_EQ(number_text(-std::nan("")), "NaN");
    EXPECT_EQ(number_text(kInf), "inf");
    EXPECT_EQ(number_text(-kInf), "-inf");
    EXPECT_EQ(number_text(5e-324), "0." + std::string(323, '0') + "5");
    const std::string max = number_text(std::numeric_limits<double>::max());
    EXPECT_EQ(max.size(), 309u);
    EXPECT_EQ(max.substr(0, 17), "17976931348623157");
    EXPECT_EQ(max.find_first_not_of('0', 17), std::string::npos);
}

TEST(NumberText, AppendsToExistingText) {
    std::string out = "value ";
    append_number_text(out, 2.5);
    append_number_text(out, -kInf);
    EXPECT_EQ(out, "value 2.5-inf");
}

TEST(NumberText, WritesIntoAFixedBufferOnlyWhenItFits) {
    char out[32];
    for (double v : {5.0, -12.0, 0.25, 1e-7, 0.1 + 0.2, -0.0, 9007199254740993.0, 1e20, kInf, std::nan("")}) {
        const std::size_t n = number_text_into(out, sizeof out, v);
        EXPECT_EQ(std::string(out, n), number_text(v));
    }
    // Too long for the room: nothing is claimed, whatever was written.
    EXPECT_EQ(number_text_into(out, sizeof out, 1e40), 0u);
    EXPECT_EQ(number_text_into(out, sizeof out, 5e-324), 0u);
    EXPECT_EQ(number_text_into(out, 2, -12.0), 0u);
    EXPECT_EQ(number_text_into(out, 3, -12.0), 3u);
}

// The library's own shortest positional form is an independent source of the same text for values
// below 2^53 (above, it writes every digit of the exact value, where ours pads the shortest digits
// with zeros). Short decimals of every length up to ten places (the few-decimals way and the values
// just past it), their neighbours one unit in the last place away, and spread bit patterns.
TEST(NumberText, MatchesTheLibrarysShortestFixedForm) {
    auto reference = [](double v) {
        char text[400];
        const std::to_chars_result r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
        return std::string(text, r.ptr);
    };
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::size_t checked = 0;
    auto check = [&](double v) {
        ASSERT_EQ(number_text(v), reference(v)) << std::bit_cast<std::uint64_t>(v);
        ++checked;
    };
    for (int k = 0; k <= 10; ++k) {
        for (int i = 0; i < 4000; ++i) {
            const double t = static_cast<double>(next() % 100000000000ull >> (i % 40));
            const double v = (i % 2 ? -t : t) / std::pow(10.0, k);
            if (!(std::fabs(v) < 0x1p52)) continue;
            check(v);
            check(std::nextafter(v, kInf));
            check(std::nextafter(v, -kInf));
        }
    }
    for (int i = 0; i < 20000; ++i) {
        const double v = std::bit_cast<double>(next());
        if (std::fabs(v) < 0x1p53) check(v);
    }
    for (double v : {1e-8, 1e7, 9999999.99999999, 1.00000001e-8, 0.99999999, 1e7 - 0.5, 0.5e-8}) check(v);
    EXPECT_GT(checked, 100000u);
}

// Expected texts come from Python's repr digits rewritten positionally by
// data/make_number_text_cases.py; every text must also read back as the same double.
TEST(NumberText, MatchesPythonReprDigits) {
    std::ifstream in(TOLVAT_TEST_DATA_DIR "/number_text_cases.txt");
    ASSERT_TRUE(in) << "missing data file";
    std::string hex;
    std::string expected;
    int lines = 0;
    int failures = 0;
    while (in >> hex >> expected) {
        ++lines;
        const std::uint64_t bits = std::stoull(hex, nullptr, 16);
        const double value = std::bit_cast<double>(bits);
        const std::string text = number_text(value);
        if (text != expected && ++failures <= 10) {
            ADD_FAILURE() << hex << ": got " << text << ", expected " << expected;
        }
        if (!std::isnan(value)) {
            const double back = std::strtod(text.c_str(), nullptr);
            if (std::bit_cast<std::uint64_t>(back) != bits && ++failures <= 10) {
                ADD_FAILURE() << hex << ": " << text << " reads back differently";
            }
        }
    }
    EXPECT_EQ(lines, 20000);
    EXPECT_EQ(failures, 0);
}

TEST(ExponentsListText, Forms) {
    EXPECT_EQ(exponents_list_text({0, 0, 0, 0, 1, 1, 0, -2}), "[0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, -2.0]");
    EXPECT_EQ(exponents_list_text({0.5, -0.0, 1e-4, 9.99e-5, 1e16, 9999999999999998.0, 1.5e16, -2.5e-7}),
              "[0.5, -0.0, 0.0001, 9.99e-5, 1e16, 9999999999999998.0, 1.5e16, -2.5e-7]");
    EXPECT_EQ(exponents_list_text({std::nan(""), kInf, -kInf, 0.30000000000000004, 5.551115123125783e-17, 1e300,
                                   123.0, 5e-324}),
              "[NaN, inf, -inf, 0.30000000000000004, 5.551115123125783e-17, 1e300, 123.0, 5e-324]");
}

}  // namespace
}  // namespace tolvat
