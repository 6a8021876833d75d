// The compiled-in unit vocabulary: units, prefixes and unit aliases, and the name search.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "base_exponents.hpp"
#include "unit_tables.hpp"

namespace tolvat {

class SingleUnit;

std::span<const UnitDef, kUnitCount> unit_table() noexcept;
std::span<const PrefixDef, kPrefixCount> prefix_table() noexcept;
std::span<const UnitAlias, kUnitAliasCount> unit_alias_table() noexcept;

// True when the row lives in the compiled-in unit table (as opposed to a user-defined unit).
inline bool is_table_unit(const UnitDef* def) noexcept {
    const std::less<const UnitDef*> before;
    return !before(def, kUnits) && before(def, kUnits + kUnitCount);
}
// True when the row lives in the compiled-in prefix table.
inline bool is_table_prefix(const PrefixDef* prefix) noexcept {
    const std::less<const PrefixDef*> before;
    return !before(prefix, kPrefixes) && before(prefix, kPrefixes + kPrefixCount);
}

// The eight base units, rows 0 to 7, in BaseExponents order.
const UnitDef& base_unit(std::size_t dimension) noexcept;

// Exact lookup by name, optionally passing the text once through the alias table first.
const UnitDef* query_unit_names_internal(std::string_view text, bool apply_aliases) noexcept;
// Exact lookup by symbol; aliases never apply.
const UnitDef* query_unit_symbols_internal(std::string_view text) noexcept;

// Resolves one unit token: alias, exact name, exact symbol, then at most one prefix.
std::optional<SingleUnit> search_for_unit_name(std::string_view text) noexcept;

}  // namespace tolvat
