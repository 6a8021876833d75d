#include "core/unit_collection.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>

namespace tolvat {
namespace {

TEST(BaseExponents, EqualityAndInverseFollowIeeeComparisonInEveryComponent) {
    const BaseExponents base{1.0, -2.0, 0.0, 0.5, 3.0, -0.0, 1e300, -7.0};
    BaseExponents negated;
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) negated[i] = -base[i];
    EXPECT_TRUE(exponents_equal(base, base));
    EXPECT_TRUE(exponents_inverse(base, negated));
    EXPECT_FALSE(exponents_inverse(base, base));
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        BaseExponents other = base;
        other[i] = base[i] * 2.0 + 1.0;  // one component off, in each position in turn
        EXPECT_FALSE(exponents_equal(base, other)) << i;
        EXPECT_FALSE(exponents_inverse(other, negated)) << i;
        other[i] = std::nan("");  // NaN never matches, not even itself
        EXPECT_FALSE(exponents_equal(other, other)) << i;
        EXPECT_FALSE(exponents_inverse(other, other)) << i;
    }
    // Signed zeros compare equal, and zero is its own inverse.
    const BaseExponents zeros{};
    BaseExponents negative_zeros;
    negative_zeros.fill(-0.0);
    EXPECT_TRUE(exponents_equal(zeros, negative_zeros));
    EXPECT_TRUE(exponents_inverse(zeros, zeros));
}

// The collection's entries keyed by symbol, for compact expectations.
std::map<std::string, double> powers(const UnitCollection& c) {
    std::map<std::string, double> out;
    for (const UnitEntry& e : c.units()) out[e.unit.symbol().str()] = e.power;
    return out;
}

UnitCollection parse(std::string_view text) {
    std::optional<UnitCollection> c = UnitCollection::from_unit_name(text);
    EXPECT_TRUE(c.has_value()) << text;
    return c ? *c : UnitCollection();
}

using Powers = std::map<std::string, double>;

TEST(UnitExpression, ProductsQuotientsAndPowers) {
    struct Case {
        const char* text;
        Powers expected;
    };
    const Case cases[] = {
        {"m/s", {{"m", 1}, {"s", -1}}},
        {"J/K.mol", {{"J", 1}, {"K", -1}, {"mol", -1}}},
        {"W/m2.K4", {{"W", 1}, {"m", -2}, {"K", -4}}},
        {"N.m2/s.2", {{"N", 1}, {"m", 2}, {"s", -1}}},
        {"1/s", {{"s", -1}}},
        {"/s", {{"s", -1}}},
        {"m.m", {{"m", 2}}},
        {"m/s2", {{"m", 1}, {"s", -2}}},
        {"  m  ", {{"m", 1}}},
        {"\u3000m\u00a0", {{"m", 1}}},
        {"degree Celsius", {{"°C", 1}}},
        {"degree Celsius/s", {{"°C", 1}, {"s", -1}}},
        {"fl oz (imp)", {{"fl oz (imp)", 1}}},
        {"pounds per square inch", {{"psi", 1}}},
        {"m.foo", {{"m", 1}}},
        {"m.s0", {{"m", 1}}},
        {"m..s", {{"m", 1}, {"s", 1}}},
        {"1.m", {{"m", 1}}},
        {"km/hr", {{"km", 1}, {"hr", -1}}},
        {"kg.m2/s2", {{"kg", 1}, {"m", 2}, {"s", -2}}},
    };
    for (const Case& c : cases) EXPECT_EQ(powers(parse(c.text)), c.expected) << c.text;
}

TEST(UnitExpression, TextsThatDescribeNoUnit) {
    const char* misses[] = {"m/m", "1", "", "/", "m/s/s", "m / s", "m23", "m2s", "s-1", "m\u00b2", "...",
                            "foo", "1/1", "m.s/m.s", "/ m"};
    for (const char* text : misses) EXPECT_FALSE(UnitCollection::from_unit_name(text).has_value()) << text;
}

TEST(UnitExpression, CachedDimensionAndSizeFollowTheEntries) {
    const UnitCollection speed = parse("m/s");
    const BaseExponents m_per_s{0, 0, 0, 0, 0, 1, 0, -1};
    EXPECT_TRUE(exponents_equal(speed.exponents(), m_per_s));
    EXPECT_EQ(speed.multiplier(), 1.0);
    EXPECT_EQ(parse("km/hr").multiplier(), 1000.0 / 3600.0);
    EXPECT_EQ(parse("km2").multiplier(), 1000000.0);
}

TEST(UnitExpression, HugeAndHostileTextsFinish) {
    EXPECT_FALSE(UnitCollection::from_unit_name(std::string(4 << 20, '.')).has_value());
    EXPECT_FALSE(UnitCollection::from_unit_name(std::string(4 << 20, '/')).has_value());
    std::string many_meters;
    for (int i = 0; i < 100000; ++i) many_meters += "m.";
    const UnitCollection c = parse(many_meters);
    EXPECT_EQ(powers(c), (Powers{{"m", 100000}}));
    EXPECT_FALSE(UnitCollection::from_unit_name(std::string_view("m\0s", 3)).has_value());
    EXPECT_EQ(powers(parse(std::string_view("m.\0", 3))), (Powers{{"m", 1}}));
    EXPECT_FALSE(UnitCollection::from_unit_name("\xff\xfe\xfd").has_value());
}

TEST(UnitAlgebra, MultiplicationKeepsDistinctUnitsAndDropsZeroPowers) {
    const UnitCollection m = parse("m");
    const UnitCollection km = parse("km");
    const UnitCollection m_km = m * km;
    EXPECT_EQ(powers(m_km), (Powers{{"m", 1}, {"km", 1}}));
    EXPECT_EQ(m_km.multiplier(), 1000.0);
    EXPECT_EQ(m_km.exponents()[kMeter], 2.0);
    const UnitCollection back = m_km / km;
    EXPECT_EQ(powers(back), (Powers{{"m", 1}}));
    EXPECT_EQ(back.multiplier(), 1.0);
    // A zero-power entry that the other operand does not touch survives.
    const UnitCollection zero = UnitCollection::pow(m, 0.0);
    EXPECT_EQ(powers(zero), (Powers{{"m", 0}}));
    EXPECT_EQ(powers(zero * UnitCollection()), (Powers{{"m", 0}}));
    EXPECT_EQ((zero * UnitCollection()).multiplier(), 1.0);
}

TEST(UnitAlgebra, LargePowersThatCancelLeaveTheDimensionOfWhatRemains) {
    // The sum of the operands' dimensions would keep only the rounding of the large powers.
    const UnitCollection volts = UnitCollection::pow(parse("V"), 9633333333056333305.0);
    const UnitCollection inverse = UnitCollection::pow(parse("V"), -9633333333056333305.0);
    for (const UnitCollection& c : {(volts * parse("m")) / volts, (volts * parse("m")) * inverse,
                                    (parse("m") / volts) * volts}) {
        EXPECT_EQ(powers(c), (Powers{{"m", 1}}));
        EXPECT_TRUE(exponents_equal(c.exponents(), parse("m").exponents()));
    }
}

TEST(UnitAlgebra, RealPowersScaleEntriesDimensionAndSize) {
    const UnitCollection root = UnitCollection::pow(parse("m/s"), 0.5);
    EXPECT_EQ(powers(root), (Powers{{"m", 0.5}, {"s", -0.5}}));
    EXPECT_EQ(root.multiplier(), 1.0);
    EXPECT_EQ(root.exponents()[kSecond], -0.5);
    EXPECT_EQ(UnitCollection::pow(parse("km"), 2.0).multiplier(), 1000000.0);
}

TEST(UnitAlgebra, RememberedPowersAreThePowerFunctionsOwn) {
    // Every table unit with every prefix, whole powers inside and outside the remembered range,
    // asked twice (computed, then remembered), and collection powers asked twice as well.
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    for (const UnitDef& row : unit_table()) {
        for (std::size_t k = 0; k <= kPrefixCount; ++k) {
            const SingleUnit unit = SingleUnit::create_from_unit_def_static(row, k == 0 ? nullptr : &prefix_table()[k - 1]);
            for (double p : {-5.0, -4.0, -2.0, -1.0, 0.0, 2.0, 3.0, 4.0, 5.0, 0.5}) {
                const double expected = std::pow(unit.multiplier(), p);
                ASSERT_EQ(bits(unit.multiplier_power(p)), bits(expected)) << row.name << " " << k << " " << p;
                ASSERT_EQ(bits(unit.multiplier_power(p)), bits(expected)) << row.name << " " << k << " " << p;
            }
        }
    }
    const UnitCollection speed = parse("km/hr");
    for (double n : {2.0, 2.0, -3.0, 0.5, 2.0}) {
        EXPECT_EQ(bits(UnitCollection::pow(speed, n).multiplier()), bits(std::pow(speed.multiplier(), n))) << n;
    }
}

TEST(UnitAlgebra, BaseUnitsListAllEightDimensions) {
    const UnitCollection base = UnitCollection::get_base_units(parse("N"));
    EXPECT_EQ(powers(base),
              (Powers{{"USD", 0}, {"A", 0}, {"cd", 0}, {"K", 0}, {"kg", 1}, {"m", 1}, {"mol", 0}, {"s", -2}}));
    EXPECT_EQ(base.multiplier(), 1.0);
    EXPECT_EQ(UnitCollection::get_base_units(parse("km")).multiplier(), 1.0);
}

TEST(UnitAlgebra, SummariesFromAMapAndCustomUnits) {
    UnitEntries map;
    map.emplace_back(UnitEntry{*search_for_unit_name("km"), 2.0});
    map.emplace_back(UnitEntry{*search_for_unit_name("hr"), -1.0});
    map.emplace_back(UnitEntry{*search_for_unit_name("g"), 0.0});
    const UnitCollection c = UnitCollection::from_entries(std::move(map));
    EXPECT_EQ(c.size(), 3u);
    EXPECT_EQ(c.multiplier(), 1e6 / 3600.0);  // km2/hr in m2/s
    EXPECT_EQ(c.exponents()[kMeter], 2.0);
    EXPECT_EQ(c.exponents()[kSecond], -1.0);
    EXPECT_EQ(c.exponents()[kKilogram], 0.0);

    const SingleUnit smoot = SingleUnit::custom("smoot", "smt", 1.7018, parse("m").exponents());
    const UnitCollection one = UnitCollection::coerce_unit_to_collection(smoot);
    EXPECT_EQ(one.multiplier(), 1.7018);
    // Two units named alike with different sizes are different entries.
    const SingleUnit other = SingleUnit::custom("smoot", "smt", 2.0, parse("m").exponents());
    const UnitCollection both = one * UnitCollection::coerce_unit_to_collection(other);
    EXPECT_EQ(both.size(), 2u);
    const UnitCollection same = one * UnitCollection::coerce_unit_to_collection(smoot);
    EXPECT_EQ(powers(same), (Powers{{"smt", 2}}));
}

TEST(UnitAlgebra, ManyDistinctUnitsSpillToTheHeapIntact) {
    UnitCollection c;
    const char* names[] = {"m", "s", "kg", "A", "K", "mol", "cd", "USD", "ft", "hr"};
    for (const char* n : names) c = c * parse(n);
    EXPECT_EQ(c.size(), 10u);
    UnitCollection copy = c;
    for (const char* n : names) copy = copy / parse(n);
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(c.size(), 10u);
}

}  // namespace
}  // namespace tolvat
