#include "constants.hpp"

namespace tolvat {

std::span<const ConstantDef, kConstantCount> constant_table() noexcept { return std::span(kConstants); }

std::span<const ConstantAlias, kConstantAliasCount> constant_alias_table() noexcept {
    return std::span(kConstantAliases);
}

const ConstantDef* search_for_constant_name(std::string_view text) noexcept {
    // Aliases apply once: a canonical name is never itself looked up as an alias.
    for (const ConstantAlias& row : kConstantAliases) {
        if (row.alias == text) {
            text = row.canonical;
            break;
        }
    }
    for (const ConstantDef& row : kConstants) {
        if (row.name == text) return &row;
    }
    return nullptr;
}

}  // namespace tolvat
