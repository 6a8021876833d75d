#include "core/catalogue.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "core/single_unit.hpp"

namespace tolvat {
namespace {

struct Expect {
    const char* text;
    const char* name;
    const char* symbol;
    double multiplier;
};

TEST(UnitCatalogue, BaseUnitsLeadInDimensionOrder) {
    const char* base_symbols[] = {"USD", "A", "cd", "K", "kg", "m", "mol", "s"};
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        const UnitDef& row = base_unit(i);
        EXPECT_EQ(row.symbol, base_symbols[i]);
        EXPECT_EQ(row.multiplier, 1.0);
        for (std::size_t j = 0; j < kBaseDimensionCount; ++j) EXPECT_EQ(row.exponents[j], i == j ? 1.0 : 0.0);
    }
}

TEST(UnitCatalogue, EveryAliasLeadsToAUnitAndNamesAreUnique) {
    std::set<std::string_view> names;
    for (const UnitDef& row : unit_table()) EXPECT_TRUE(names.insert(row.name).second) << row.name;
    for (const UnitAlias& alias : unit_alias_table()) {
        EXPECT_TRUE(search_for_unit_name(alias.canonical).has_value()) << alias.alias;
    }
    for (const PrefixDef& prefix : prefix_table()) EXPECT_GT(prefix.factor, 0.0);
}

TEST(UnitCatalogue, MendedRowsHoldTheirTextbookSizes) {
    EXPECT_EQ(search_for_unit_name("oz")->multiplier(), 0.028349523125);
    EXPECT_EQ(search_for_unit_name("darcy")->multiplier(), 9.869233e-13);
    const SingleUnit psi = *search_for_unit_name("psi");
    EXPECT_EQ(psi.multiplier(), 6894.757293168361);
    const BaseExponents pressure{0, 0, 0, 0, 1, -1, 0, -2};
    EXPECT_TRUE(exponents_equal(psi.exponents(), pressure));
    const SingleUnit fahrenheit = *search_for_unit_name("°F");
    EXPECT_EQ(fahrenheit.offset(), -459.67 * 5 / 9);
    // 32 °F is the freezing point, exactly as 0 °C.
    EXPECT_EQ(32 * fahrenheit.multiplier() - fahrenheit.offset(), 273.15);
}

TEST(UnitSearch, WholeTextNamesAndSymbolsWinOverPrefixedReadings) {
    const Expect cases[] = {
        {"d", "day", "d", 86400.0},
        {"y", "year", "y", 31556925.9746784},
        {"P", "poise", "P", 0.1},
        {"R", "roentgen", "R", 0.000258},
        {"T", "tesla", "T", 1.0},
        {"c", "light speed", "c", 299792458.0},
        {"min", "minute", "min", 60.0},
        {"ft", "foot", "ft", 0.3048},
        {"pt", "pint", "pt", 0.00047317647299999996},
        {"qt", "quart", "qt", 0.0009463529459999999},
        {"ct", "carat", "ct", 0.0002},
        {"cd", "candela", "cd", 1.0},
        {"ac", "acre", "ac", 4046.8564224},
        {"nmi", "nautical mile", "nmi", 1852.0},
        {"Gy", "gray", "Gy", 1.0},
        {"yd", "yard", "yd", 0.9144},
        {"pc", "parsec", "pc", 3.085677581491367e+16},
        {"PS", "horsepower (metric)", "PS", 735.49875},
        {"da", "day", "d", 86400.0},
        {"Pa", "pascal", "Pa", 1.0},
        {"tolvat", "tolvat (mass)", "tlvtm", 40.8233133},
        {"tlvtv", "tolvat (vol)", "tlvtv", 0.034068706056},
        {"millenium", "millennium", "millenium", 31556925974.678402},
    };
    for (const Expect& c : cases) {
        const std::optional<SingleUnit> unit = search_for_unit_name(c.text);
        ASSERT_TRUE(unit.has_value()) << c.text;
        EXPECT_EQ(unit->name().str(), c.name) << c.text;
        EXPECT_EQ(unit->symbol().str(), c.symbol) << c.text;
        EXPECT_EQ(unit->multiplier(), c.multiplier) << c.text;
    }
}

TEST(UnitSearch, PrefixesComposeNameSymbolAndSize) {
    const Expect cases[] = {
        {"km", "kilometer", "km", 1000.0},
        {"kilometre", "kilometer", "km", 1000.0},
        {"kilometer", "kilometer", "km", 1000.0},
        {"dam", "decameter", "dam", 10.0},
        {"das", "decasecond", "das", 10.0},
        {"dekameter", "dekameter", "dam", 10.0},
        {"dd", "deciday", "dd", 8640.0},
        {"PP", "petapoise", "PP", 1e14},
        {"PPa", "petapascal", "PPa", 1e15},
        {"mg", "milligram", "mg", 1e-06},
        {"micron", "micrometer", "um", 1e-06},
        {"cc", "milliliter", "mL", 1e-06},
        {"kWh", "kilowatt hour", "kWh", 3600000.0},
        {"mmHg", "millimeter of mercury", "mmHg", 133.322387415},
        {"kΩ", "kiloohm", "kΩ", 1000.0},
        {"millidegree", "millidegree (angle)", "m°", 1.7453292519943296e-05},
        {"myriameter", "myriameter", "myriam", 10000.0},
        {"KiB", nullptr, nullptr, 0.0},
    };
    for (const Expect& c : cases) {
        const std::optional<SingleUnit> unit = search_for_unit_name(c.text);
        if (c.name == nullptr) {
            EXPECT_FALSE(unit.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(unit.has_value()) << c.text;
        EXPECT_EQ(unit->name().str(), c.name) << c.text;
        EXPECT_EQ(unit->symbol().str(), c.symbol) << c.text;
        EXPECT_EQ(unit->multiplier(), c.multiplier) << c.text;
        EXPECT_EQ(unit->offset(), 0.0) << c.text;
    }
    const SingleUnit km = *search_for_unit_name("km");
    const SingleUnit m = *search_for_unit_name("m");
    EXPECT_TRUE(exponents_equal(km.exponents(), m.exponents()));
    EXPECT_TRUE(*search_for_unit_name("kilometre") == km);
}

TEST(UnitSearch, RefusesWhatNamesNoUnit) {
    const char* misses[] = {"Kg",      "KM",    "Meter", "",       " m",    "m ",         "Mi",
                            "µm",      "m°C",   "millidegree Celsius", "kiloCelsius", "kilom",
                            "kmeter", "myriam", "dB", "k", "\xff\xfe"};
    for (const char* text : misses) EXPECT_FALSE(search_for_unit_name(text).has_value()) << text;
    EXPECT_FALSE(search_for_unit_name(std::string_view("m\0", 2)).has_value());
}

TEST(UnitSearch, AffineUnitsKeepTheirOffset) {
    const SingleUnit celsius = *search_for_unit_name("°C");
    EXPECT_EQ(celsius.offset(), -273.15);
    EXPECT_EQ(search_for_unit_name("degree Celsius")->offset(), -273.15);
    EXPECT_EQ(search_for_unit_name("deg C")->name().str(), "degree Celsius");
    EXPECT_EQ(search_for_unit_name("celsius")->symbol().str(), "°C");
}

TEST(SingleUnit, EqualityComparesEveryFieldAndCustomUnitsShareNames) {
    const SingleUnit meter = *search_for_unit_name("m");
    const SingleUnit look_alike = SingleUnit::custom("meter", "m", 1.0, meter.exponents());
    EXPECT_TRUE(meter == look_alike);
    const SingleUnit longer = SingleUnit::custom("meter", "m", 1.5, meter.exponents());
    EXPECT_FALSE(meter == longer);
    const SingleUnit nan_unit = SingleUnit::custom("x", "x", std::nan(""), meter.exponents());
    EXPECT_FALSE(nan_unit == nan_unit);
    // Copies of a custom unit share its record and outlive the original.
    std::optional<SingleUnit> copy;
    {
        const SingleUnit original = SingleUnit::custom("smoot", "smt", 1.7018, meter.exponents());
        copy = original;
    }
    EXPECT_EQ(copy->name().str(), "smoot");
    EXPECT_EQ(copy->multiplier(), 1.7018);
}

TEST(SingleUnit, RowsFromOutsideTheTablesBecomeOwnedCopies) {
    // A row that looks like the kilometre's parts but lives on the stack: the unit must not point
    // at it (it dies first), nor index the tables' caches with it (the powers below would read
    // outside them).
    const SingleUnit km = *search_for_unit_name("km");
    std::optional<SingleUnit> copy;
    {
        UnitDef row = unit_table()[query_unit_symbols_internal("m") - unit_table().data()];
        PrefixDef prefix = prefix_table()[0];
        for (const PrefixDef& p : prefix_table()) {
            if (p.symbol == "k") prefix = p;
        }
        copy = SingleUnit::create_from_unit_def_static(row, &prefix);
        row.name = "clobbered";
        prefix.name = "clobbered";
    }
    EXPECT_TRUE(*copy == km);
    EXPECT_EQ(copy->name().str(), "kilometer");
    EXPECT_EQ(copy->symbol().str(), "km");
    for (double p : {-4.0, -1.0, 2.0, 3.0, 4.0}) EXPECT_EQ(copy->multiplier_power(p), km.multiplier_power(p)) << p;
    // An affine row keeps its offset; a row of the table stays the table's own.
    UnitDef celsius = *query_unit_names_internal("degree Celsius", false);
    EXPECT_EQ(SingleUnit::create_from_unit_def_static(celsius).offset(), -273.15);
    EXPECT_TRUE(SingleUnit::create_from_unit_def_static(celsius) == search_for_unit_name("°C").value());
}

}  // namespace
}  // namespace tolvat
