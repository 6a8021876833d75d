// The compiled-in unit vocabulary: units, prefixes and unit aliases, and the name search.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "base_exponents.hpp"

namespace tolvat {

class SingleUnit;

struct UnitDef {
    std::string_view name;
    std::string_view symbol;
    double offset;
    double multiplier;
    BaseExponents exponents;
    bool user_defined = false;  // true only for the records of user-defined units
};

struct PrefixDef {
    std::string_view name;
    std::string_view symbol;
    double factor;
};

struct UnitAlias {
    std::string_view alias;
    std::string_view canonical;
};

inline constexpr std::size_t kUnitCount = 136;
inline constexpr std::size_t kPrefixCount = 34;
inline constexpr std::size_t kUnitAliasCount = 33;

std::span<const UnitDef, kUnitCount> unit_table() noexcept;
std::span<const PrefixDef, kPrefixCount> prefix_table() noexcept;
std::span<const UnitAlias, kUnitAliasCount> unit_alias_table() noexcept;

// True when the row lives in the compiled-in unit table (as opposed to a user-defined unit).
bool is_table_unit(const UnitDef* def) noexcept;
// True when the row lives in the compiled-in prefix table.
bool is_table_prefix(const PrefixDef* prefix) noexcept;

// The eight base units, rows 0 to 7, in BaseExponents order.
const UnitDef& base_unit(std::size_t dimension) noexcept;

// Exact lookup by name, optionally passing the text once through the alias table first.
const UnitDef* query_unit_names_internal(std::string_view text, bool apply_aliases) noexcept;
// Exact lookup by symbol; aliases never apply.
const UnitDef* query_unit_symbols_internal(std::string_view text) noexcept;

// Resolves one unit token: alias, exact name, exact symbol, then at most one prefix.
std::optional<SingleUnit> search_for_unit_name(std::string_view text) noexcept;

}  // namespace tolvat
