#include "core/constants.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "core/unit_collection.hpp"

namespace tolvat {
namespace {

const ConstantDef& row(std::size_t i) { return constant_table()[i]; }

TEST(Constants, NamesAndAliasesResolveToTheirRows) {
    struct Case {
        std::string_view text;
        std::size_t row;
    };
    const Case cases[] = {
        {"c", 0},
        {"speed of light", 0},
        {"lightspeed", 0},
        {"light speed", 0},
        {"planck", 1},
        {"planck's constant", 1},
        {"reduced planck's constant", 2},
        {"boltzmann", 3},
        {"elementary charge", 4},
        {"N_A", 8},
        {"avogadro", 8},
        {"avogadro's number", 8},
        {"avogadro's constant", 8},
        {"stefan-boltzmann", 11},
        {"stefan boltzmann", 11},
        {"stefan-boltzmann constant", 11},
        {"gas constant", 12},
        {"molar gas constant", 12},
        {"faraday", 13},
        {"faraday's constant", 13},
        {"faraday constant", 13},
    };
    for (const Case& c : cases) {
        const ConstantDef* found = search_for_constant_name(c.text);
        ASSERT_NE(found, nullptr) << c.text;
        EXPECT_EQ(found, &row(c.row)) << c.text;
    }
    EXPECT_EQ(row(0).value, 299792458.0);
    EXPECT_EQ(row(0).unit_text, "m/s");
    EXPECT_EQ(row(13).value, 96485.33212331001);
    EXPECT_EQ(row(13).unit_text, "coulomb/mol");
}

TEST(Constants, LookupIsExactWholeTextAndCaseSensitive) {
    for (std::string_view text : {"Planck", "C", "light speed ", " c", "electron", "", "light", "N_a",
                                  "Light Speed", "faradayconstant"}) {
        EXPECT_EQ(search_for_constant_name(text), nullptr) << '"' << text << '"';
    }
    // A text with an embedded NUL is not its prefix.
    EXPECT_EQ(search_for_constant_name(std::string_view("c\0", 2)), nullptr);
    // Unit symbols and names are not constants.
    EXPECT_EQ(search_for_constant_name("m"), nullptr);
    EXPECT_EQ(search_for_constant_name("meter"), nullptr);
}

TEST(Constants, EveryAliasNamesARowAndNoAliasIsAName) {
    std::set<std::string_view> names;
    for (const ConstantDef& def : constant_table()) {
        EXPECT_TRUE(names.insert(def.name).second) << def.name;
        EXPECT_EQ(search_for_constant_name(def.name), &def);
    }
    for (const ConstantAlias& alias : constant_alias_table()) {
        EXPECT_EQ(names.count(alias.alias), 0u) << alias.alias;
        const ConstantDef* found = search_for_constant_name(alias.alias);
        ASSERT_NE(found, nullptr) << alias.alias;
        EXPECT_EQ(found->name, alias.canonical);
    }
}

TEST(Constants, EachNameGivesItsValueInAUnitOfItsDimension) {
    // The values (CODATA, exact where the SI defines them) and dimensions over USD, A, cd, K, kg,
    // m, mol, s.
    struct Known {
        std::string_view name;
        double value;
        BaseExponents dimension;
    };
    const Known known[] = {
        {"light speed", 299792458.0, {0, 0, 0, 0, 0, 1, 0, -1}},
        {"planck's constant", 6.62607015e-34, {0, 0, 0, 0, 1, 2, 0, -1}},
        {"reduced planck's constant", 1.054571817e-34, {0, 0, 0, 0, 1, 2, 0, -1}},
        {"boltzmann's constant", 1.380649e-23, {0, 0, 0, -1, 1, 2, 0, -2}},
        {"electron charge", 1.602176634e-19, {0, 1, 0, 0, 0, 0, 0, 1}},
        {"electron mass", 9.1093837015e-31, {0, 0, 0, 0, 1, 0, 0, 0}},
        {"proton mass", 1.67262192369e-27, {0, 0, 0, 0, 1, 0, 0, 0}},
        {"neutron mass", 1.67492749804e-27, {0, 0, 0, 0, 1, 0, 0, 0}},
        {"avogadro's constant", 6.02214076e+23, {0, 0, 0, 0, 0, 0, -1, 0}},
        {"gravitational constant", 6.6743e-11, {0, 0, 0, 0, -1, 3, 0, -2}},
        {"earth gravity", 9.80665, {0, 0, 0, 0, 0, 1, 0, -2}},
        {"stefan-boltzmann constant", 5.670374419e-08, {0, 0, 0, -4, 1, 0, 0, -3}},
        {"ideal gas constant", 8.31446261815324, {0, 0, 0, -1, 1, 2, -1, -2}},
        {"faraday constant", 96485.33212331001, {0, 1, 0, 0, 0, 0, -1, 1}},
        {"vacuum permittivity", 8.8541878188e-12, {0, 2, 0, 0, -1, -3, 0, 4}},
        {"vacuum permeability", 1.25663706127e-06, {0, -2, 0, 0, 1, 1, 0, -2}},
    };
    for (const Known& k : known) {
        const ConstantDef* found = search_for_constant_name(k.name);
        ASSERT_NE(found, nullptr) << k.name;
        EXPECT_EQ(found->value, k.value) << k.name;
        const std::optional<UnitCollection> unit = UnitCollection::from_unit_name(found->unit_text);
        ASSERT_TRUE(unit.has_value()) << found->unit_text;
        EXPECT_TRUE(exponents_equal(unit->exponents(), k.dimension)) << k.name;
        EXPECT_EQ(unit->multiplier(), 1.0) << k.name;  // SI units throughout
    }
    // The gravitational constant keeps newton, meter and kilogram as written.
    const std::optional<UnitCollection> g = UnitCollection::from_unit_name(row(9).unit_text);
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->size(), 3u);
    // One per mole is a single entry of power -1.
    const std::optional<UnitCollection> per_mole = UnitCollection::from_unit_name(row(8).unit_text);
    ASSERT_TRUE(per_mole.has_value());
    ASSERT_EQ(per_mole->size(), 1u);
    EXPECT_EQ(per_mole->units()[0].power, -1.0);
    EXPECT_EQ(per_mole->units()[0].unit.name().str(), "mole");
}

}  // namespace
}  // namespace tolvat
