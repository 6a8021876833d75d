// The compiled-in catalogue of physical constants and its name search.
//
// Kept apart from the unit tables: "light speed" is both a unit and a constant, and neither
// search ever looks at the other's rows.
#pragma once

#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>

namespace tolvat {

struct ConstantDef {
    std::string_view name;
    double value;                // in the unit that `unit_text` describes
    std::string_view unit_text;  // a unit expression for UnitCollection::from_unit_name
};

struct ConstantAlias {
    std::string_view alias;
    std::string_view canonical;  // the `name` of a row of the constant table
};

// Values are the exact doubles these literals read as.
inline constexpr ConstantDef kConstants[] = {
    {.name = "light speed", .value = 299792458.0, .unit_text = "m/s"},
    {.name = "planck's constant", .value = 6.62607015e-34, .unit_text = "J.s"},
    {.name = "reduced planck's constant", .value = 1.054571817e-34, .unit_text = "J.s"},
    {.name = "boltzmann's constant", .value = 1.380649e-23, .unit_text = "J/K"},
    {.name = "electron charge", .value = 1.602176634e-19, .unit_text = "coulomb"},
    {.name = "electron mass", .value = 9.1093837015e-31, .unit_text = "kg"},
    {.name = "proton mass", .value = 1.67262192369e-27, .unit_text = "kg"},
    {.name = "neutron mass", .value = 1.67492749804e-27, .unit_text = "kg"},
    {.name = "avogadro's constant", .value = 6.02214076e+23, .unit_text = "1/mol"},
    {.name = "gravitational constant", .value = 6.6743e-11, .unit_text = "N.m2/kg2"},
    {.name = "earth gravity", .value = 9.80665, .unit_text = "m/s2"},
    {.name = "stefan-boltzmann constant", .value = 5.670374419e-08, .unit_text = "W/m2.K4"},
    {.name = "ideal gas constant", .value = 8.31446261815324, .unit_text = "J/K.mol"},
    {.name = "faraday constant", .value = 96485.33212331001, .unit_text = "coulomb/mol"},
    {.name = "vacuum permittivity", .value = 8.8541878188e-12, .unit_text = "farad/m"},
    {.name = "vacuum permeability", .value = 1.25663706127e-06, .unit_text = "N/A2"},
};
inline constexpr std::size_t kConstantCount = std::size(kConstants);

inline constexpr ConstantAlias kConstantAliases[] = {
    {.alias = "c", .canonical = "light speed"},
    {.alias = "speed of light", .canonical = "light speed"},
    {.alias = "lightspeed", .canonical = "light speed"},
    {.alias = "planck", .canonical = "planck's constant"},
    {.alias = "boltzmann", .canonical = "boltzmann's constant"},
    {.alias = "elementary charge", .canonical = "electron charge"},
    {.alias = "avogadro", .canonical = "avogadro's constant"},
    {.alias = "avogadro's number", .canonical = "avogadro's constant"},
    {.alias = "N_A", .canonical = "avogadro's constant"},
    {.alias = "stefan-boltzmann", .canonical = "stefan-boltzmann constant"},
    {.alias = "stefan boltzmann", .canonical = "stefan-boltzmann constant"},
    {.alias = "gas constant", .canonical = "ideal gas constant"},
    {.alias = "molar gas constant", .canonical = "ideal gas constant"},
    {.alias = "faraday", .canonical = "faraday constant"},
    {.alias = "faraday's constant", .canonical = "faraday constant"},
};
inline constexpr std::size_t kConstantAliasCount = std::size(kConstantAliases);

constexpr bool every_alias_names_a_constant() noexcept {
    for (const ConstantAlias& alias : kConstantAliases) {
        bool found = false;
        for (const ConstantDef& row : kConstants) found = found || row.name == alias.canonical;
        if (!found) return false;
    }
    return true;
}
static_assert(every_alias_names_a_constant(), "an alternative name must lead to a row of the constant table");

std::span<const ConstantDef, kConstantCount> constant_table() noexcept;
std::span<const ConstantAlias, kConstantAliasCount> constant_alias_table() noexcept;

// The row named by `text` (an alias is resolved once first), or nullptr. Whole-text, byte-exact,
// case-sensitive, untrimmed.
const ConstantDef* search_for_constant_name(std::string_view text) noexcept;

}  // namespace tolvat
