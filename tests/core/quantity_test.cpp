#include "core/quantity.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>

#include "core/catalogue.hpp"
#include "core/quantity_arithmetic.hpp"
#include "core/render.hpp"
#include "core/simple_simplify.hpp"

namespace tolvat {
namespace {

UnitCollection parse(std::string_view text) { return *UnitCollection::from_unit_name(text); }

TEST(AsUnitInternal, AppliesOffsetsOnlyBetweenSingleUnits) {
    EXPECT_EQ(as_unit_internal(Quantity{parse("°C"), 0.0}, parse("K"))->value, 273.15);
    EXPECT_EQ(as_unit_internal(Quantity{parse("K"), 273.15}, parse("°C"))->value, 0.0);
    EXPECT_EQ(as_unit_internal(Quantity{parse("°F"), 32.0}, parse("°C"))->value, 0.0);
    EXPECT_EQ(as_unit_internal(Quantity{parse("°C/s"), 20.0}, parse("K/s"))->value, 20.0);
    const UnitCollection c_squared = UnitCollection::pow(parse("°C"), 2.0);
    EXPECT_EQ(as_unit_internal(Quantity{c_squared, 1.0}, parse("K2"))->value, 274.15);
}

TEST(AsUnitInternal, RefusesOtherDimensionsNamingSourceFirst) {
    const Expected<Quantity> result = as_unit_internal(Quantity{parse("m"), 1.0}, parse("s"));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(), "[m] and [s] are not compatible");
}

TEST(AsUnitInternal, TheSameUnitsKeepTheValueExactly) {
    for (const char* text : {"°C", "°F", "km/hr", "degree", "m/km"}) {
        for (double v : {0.1, -0.0, 1.0, 36.0, 1e300}) {
            const Expected<Quantity> same = as_unit_internal(Quantity{parse(text), v}, parse(text));
            EXPECT_EQ(same->value, v) << text;
            EXPECT_EQ(std::signbit(same->value), std::signbit(v)) << text;
        }
    }
}

TEST(AsUnitInternal, TheSameUnitsKeepTheValueWhateverMultiplierTheyCarry) {
    // The parser carries 0.0254 / 60 for in/min; the simple simplification recomputes it from
    // the entries as 0.0254 × 60^-1, one bit away. Between the two the value stays; between other
    // units of the dimension it converts.
    const UnitCollection carried = parse("in/min");
    const UnitCollection recomputed = *simple_simplify(carried);
    ASSERT_TRUE(recomputed.same_entries(carried));
    ASSERT_NE(recomputed.multiplier(), carried.multiplier());
    for (double v : {1.0, 90.0, -0.0, 0.1}) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*converted_value(Quantity{carried, v}, recomputed)),
                  std::bit_cast<std::uint64_t>(v));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*converted_value(Quantity{recomputed, v}, carried)),
                  std::bit_cast<std::uint64_t>(v));
    }
    EXPECT_EQ(*converted_value(Quantity{carried, 60.0}, parse("in/hr")), 3600.0);
    // The same units in another order, with a multiplier carried another way.
    const UnitCollection swapped = UnitCollection::pow(parse("min"), -1.0) * parse("in");
    ASSERT_TRUE(swapped.same_entries(carried));
    EXPECT_EQ(*converted_value(Quantity{swapped, 0.1}, carried), 0.1);
    // Sizes beyond the double range: the same units still keep the value, and other units
    // of the dimension, far apart or not, still convert.
    const UnitCollection huge = UnitCollection::pow(parse("km"), 200.0);
    ASSERT_TRUE(std::isinf(huge.multiplier()));
    EXPECT_EQ(simple_simplify(Quantity{huge, 3.0})->value, 3.0);
    EXPECT_EQ(*converted_value(Quantity{parse("km/hr"), 36.0}, parse("m/s")), 10.0);
    EXPECT_EQ(*converted_value(Quantity{parse("yd"), 1.0}, parse("m")), 0.9144);
}

// Every product and quotient of two table units whose simple simplification keeps its units
// keeps its value exactly: multiplied by a number, raised to the powers 1 and 2, simplified in
// place, and converted back into the units as the algebra built them.
TEST(SameUnits, EveryTwoUnitProductAndQuotientKeepsItsValueExactly) {
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    std::size_t swept = 0;
    std::size_t resummed = 0;
    for (const UnitDef& a : unit_table()) {
        for (const UnitDef& b : unit_table()) {
            const UnitCollection ua = UnitCollection::coerce_unit_to_collection(SingleUnit::create_from_unit_def_static(a));
            const UnitCollection ub = UnitCollection::coerce_unit_to_collection(SingleUnit::create_from_unit_def_static(b));
            for (const UnitCollection& built : {ua * ub, ua / ub}) {
                double multiplier;
                BaseExponents exponents;
                const SimpleSimplifyKind kind = simple_simplify_kind(built, multiplier, exponents);
                if (kind != SimpleSimplifyKind::Keeps && kind != SimpleSimplifyKind::Resums) continue;
                ++swept;
                if (kind == SimpleSimplifyKind::Resums) ++resummed;
                for (double v : {1.0, 14.7, 90.0, 0.1, -0.0, 1e-300}) {
                    const Expected<Quantity> scaled = multiply(Quantity{built, 1.0}, Quantity{UnitCollection(), v});
                    ASSERT_TRUE(scaled.has_value());
                    ASSERT_TRUE(scaled->unit.same_entries(built)) << a.symbol << " " << b.symbol;
                    ASSERT_EQ(bits(scaled->value), bits(v)) << a.symbol << " " << b.symbol << " x " << v;
                    for (double p : {1.0, 2.0}) {
                        const Expected<Quantity> raised = power_by_number(*scaled, p);
                        ASSERT_EQ(bits(raised->value), bits(std::pow(v, p))) << a.symbol << " " << b.symbol << " ^ " << p;
                    }
                    Quantity in_place{built, v};
                    ASSERT_TRUE(simple_simplify_in_place(in_place).has_value());
                    ASSERT_EQ(bits(in_place.value), bits(v)) << a.symbol << " " << b.symbol;
                    ASSERT_EQ(bits(*converted_value(*scaled, built)), bits(v)) << a.symbol << " " << b.symbol;
                }
            }
        }
    }
    EXPECT_GT(swept, 30000u);
    EXPECT_GT(resummed, 1000u);  // many carry a multiplier the entries do not reproduce
}

TEST(SimpleSimplifyKeeps, AgreesWithSimpleSimplify) {
    const char* texts[] = {"m",      "m/s",   "km/hr", "m.km", "m/km",  "Hz.s",   "ft2/m", "kg.m2/s2",
                           "N.m/J",  "rad",   "rad/sr", "J/N", "m2/ft.km3", "°C", "W/m2.K4", "s.Hz.m"};
    for (const char* text : texts) {
        const UnitCollection c = parse(text);
        const UnitCollection simpler = *simple_simplify(c);
        const bool same = simpler.same_entries(c) && simpler.multiplier() == c.multiplier();
        if (simple_simplify_keeps(c)) EXPECT_TRUE(same) << text;
        if (!same) EXPECT_FALSE(simple_simplify_keeps(c)) << text;
    }
    // A carried multiplier that the entries do not reproduce must go the long way.
    const UnitCollection root = UnitCollection::pow(parse("km/hr"), 0.5);
    const UnitCollection squared = UnitCollection::pow(root, 2.0);
    const UnitCollection recomputed = *simple_simplify(squared);
    EXPECT_EQ(simple_simplify_keeps(squared), recomputed.multiplier() == squared.multiplier());
}

TEST(SimpleSimplifyKind, SummariesAreThoseOfTheEntriesBitForBit) {
    // Collections of distinct table units, some prefixed, at powers that make the multiplier's
    // products inexact, built both from their entries and by the algebra that carries summaries
    // forward. Whenever nothing merges, the short way's summaries must be exactly those a fresh
    // collection computes from the same entries, and Keeps must mean simple_simplify changes
    // nothing.
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    std::mt19937 random(20);
    const double powers[] = {1.0, 2.0, -1.0, -2.0, 3.0, 0.5, -0.5, 1.0 / 3.0, 4.0, -3.0};
    int kinds[4] = {};
    for (int round = 0; round < 4000; ++round) {
        UnitEntries entries;
        UnitCollection carried;
        UnitCollection doubled;
        const std::size_t n = 1 + random() % 4;
        for (std::size_t i = 0; i < n; ++i) {
            const UnitDef& row = unit_table()[random() % kUnitCount];
            const std::size_t k = row.offset == 0.0 ? random() % (kPrefixCount + 1) : 0;
            const PrefixDef* prefix = k == 0 ? nullptr : &prefix_table()[k - 1];
            const SingleUnit unit = SingleUnit::create_from_unit_def_static(row, prefix);
            bool present = false;
            for (const UnitEntry& entry : entries) present = present || entry.unit == unit;
            if (present) continue;
            const double p = powers[random() % std::size(powers)];
            entries.emplace_back(UnitEntry{unit, p});
            carried = carried * UnitCollection::pow(UnitCollection::coerce_unit_to_collection(unit), p);
            doubled = doubled * UnitCollection::pow(UnitCollection::coerce_unit_to_collection(unit), 2.0 * p);
        }
        const UnitCollection root = UnitCollection::pow(doubled, 0.5);
        for (const UnitCollection& c : {UnitCollection::from_entries(entries), carried, root}) {
            const std::string text = as_string(c);
            double multiplier;
            BaseExponents exponents;
            const SimpleSimplifyKind kind = simple_simplify_kind(c, multiplier, exponents);
            ++kinds[static_cast<int>(kind)];
            if (kind == SimpleSimplifyKind::Merges) continue;
            const UnitCollection fresh = UnitCollection::from_entries(c.units());
            ASSERT_EQ(bits(multiplier), bits(fresh.multiplier())) << text;
            for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
                ASSERT_EQ(bits(exponents[d]), bits(fresh.exponents()[d])) << text;
            }
            const UnitCollection simpler = *simple_simplify(c);
            ASSERT_EQ(bits(simpler.multiplier()), bits(multiplier)) << text;
            ASSERT_TRUE(simpler.same_entries(c)) << text;
            ASSERT_EQ(kind == SimpleSimplifyKind::Keeps, bits(c.multiplier()) == bits(multiplier)) << text;
        }
    }
    // Every outcome but a drift (which needs a rounding of the dimension) came up.
    EXPECT_GT(kinds[static_cast<int>(SimpleSimplifyKind::Keeps)], 0);
    EXPECT_GT(kinds[static_cast<int>(SimpleSimplifyKind::Resums)], 0);
    EXPECT_GT(kinds[static_cast<int>(SimpleSimplifyKind::Merges)], 0);
}

TEST(SimpleSimplifyOfAQuantity, GivesWhatTheLongWayGives) {
    const char* texts[] = {"m", "m/s", "km/hr", "m.km", "m/km", "Hz.s", "ft2/m", "N.m/J", "rad/sr", "°C"};
    for (const char* text : texts) {
        for (double n : {1.0, 2.0, -1.0, 0.5, 3.0}) {
            const Quantity q{UnitCollection::pow(parse(text), n), 7.25};
            const Expected<Quantity> quick = simple_simplify(Quantity(q));
            const Expected<Quantity> slow = as_unit_internal(q, *simple_simplify(q.unit));
            ASSERT_TRUE(quick.has_value() && slow.has_value()) << text;
            EXPECT_EQ(quick->value, slow->value) << text << " ^ " << n;
            EXPECT_EQ(quick->unit.multiplier(), slow->unit.multiplier()) << text << " ^ " << n;
            EXPECT_TRUE(quick->unit.same_entries(slow->unit)) << text << " ^ " << n;
        }
    }
}

TEST(Arithmetic, ResultsKeepLeftUnitsAndCancelPairs) {
    const Quantity m{parse("m"), 1.0};
    const Quantity km{parse("km"), 1.0};
    EXPECT_EQ(add(m, km)->value, 1001.0);
    EXPECT_EQ(add(km, m)->value, 1.001);
    const Expected<Quantity> ratio = divide(Quantity{parse("m"), 5.0}, km);
    EXPECT_TRUE(ratio->unit.empty());
    EXPECT_EQ(ratio->value, 0.005);
    EXPECT_EQ(add(m, Quantity{parse("s"), 1.0}).error().message(), "[m] and [s] are not compatible");
    EXPECT_EQ(power(m, Quantity{parse("m"), 1.0}).error().message(), "[m] and [] are not compatible");
    EXPECT_TRUE(std::signbit(negate(Quantity{parse("m"), 0.0})->value));
}

TEST(Arithmetic, NonFinitePowersFailForUnitsAndAreIeeeWithout) {
    const Error error = power_by_number(Quantity{parse("km.m/ft"), 2.0}, INFINITY).error();
    EXPECT_EQ(error.kind, ErrorKind::NonFinitePower);
    EXPECT_EQ(error.message(), "cannot raise [km.m/ft] to a non-finite power inf");
    // The metre at power zero is no unit at all: 2 ** -inf is 0, with no unit left.
    const Expected<Quantity> plain = power_by_number(Quantity{UnitCollection::pow(parse("m"), 0.0), 2.0}, -INFINITY);
    EXPECT_TRUE(plain->unit.empty());
    EXPECT_EQ(plain->value, 0.0);
}

TEST(Arithmetic, UnitPowersThatOverflowFailNamingTheOperands) {
    const Quantity m300{UnitCollection::pow(parse("m"), 1e300), 2.0};
    const Quantity n{parse("N"), 2.0};
    const Quantity inverse_m300{UnitCollection::pow(parse("m"), -1e300), 2.0};
    const std::string power = "1" + std::string(300, '0');
    const std::string m = "[m" + power + "]";
    // A power beyond the range of a double, a dimension beyond it (the seconds of N ** 1e308), and
    // one made by merging in the long way of the closing step (m ** inf . ft ** -1 first).
    const std::pair<Expected<Quantity>, std::string> cases[] = {
        {power_by_number(m300, 1e300), m + " ** " + power},
        {power_by_number(n, 1e308), "[N] ** 1" + std::string(308, '0')},
        {multiply(power_by_number(m300, 1e8).value(), power_by_number(m300, 1e8).value()), ""},
        {divide(power_by_number(m300, 1e8).value(), power_by_number(inverse_m300, 1e8).value()), ""},
        {divide(Quantity{UnitCollection::pow(parse("m"), 1e308) * parse("s"), 1.0},
                Quantity{UnitCollection::pow(parse("m"), -1e308) * parse("ft"), 1.0}), ""},
    };
    for (const auto& [result, message] : cases) {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, ErrorKind::PowerOverflow);
        if (!message.empty()) EXPECT_EQ(result.error().message(), "unit power overflow: " + message);
    }
    // Just inside the range every result is as before: powers 1e308 + 7e307 and 2 × 8e307.
    const Expected<Quantity> sum = multiply(*power_by_number(Quantity{parse("m"), 1.0}, 1e308),
                                            *power_by_number(Quantity{parse("m"), 1.0}, 7e307));
    EXPECT_EQ(sum->unit.units()[0].power, 1e308 + 7e307);
    EXPECT_EQ(power_by_number(n, 8e307)->unit.exponents()[kSecond], -1.6e308);
}

}  // namespace
}  // namespace tolvat
