// The compiled-in catalogue of physical constants and its name search.
//
// Kept apart from the unit tables: "light speed" is both a unit and a constant, and neither
// search ever looks at the other's rows.
#pragma once

#include <cstddef>
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

inline constexpr std::size_t kConstantCount = 16;
inline constexpr std::size_t kConstantAliasCount = 15;

std::span<const ConstantDef, kConstantCount> constant_table() noexcept;
std::span<const ConstantAlias, kConstantAliasCount> constant_alias_table() noexcept;

// The row named by `text` (an alias is resolved once first), or nullptr. Whole-text, byte-exact,
// case-sensitive, untrimmed.
const ConstantDef* search_for_constant_name(std::string_view text) noexcept;

}  // namespace tolvat
