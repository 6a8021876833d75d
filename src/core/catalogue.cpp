#include "catalogue.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>

#include "single_unit.hpp"

namespace tolvat {
namespace {

// An open-addressing index from a text to the first table row carrying it. The tables are
// fixed, so each index is built once, on first use, and only read afterwards; a lookup costs one
// hash of the text and, almost always, one comparison.
class TextIndex {
public:
    template <typename Row, std::size_t N>
    TextIndex(const Row (&rows)[N], std::string_view Row::*field) noexcept {
        static_assert(N < kSize / 2, "the index needs free slots to end every probe quickly");
        slots_.fill(kEmpty);
        for (std::size_t i = 0; i < N; ++i) {
            const std::string_view key = rows[i].*field;
            std::size_t slot = hash(key) & kMask;
            bool seen = false;
            while (slots_[slot] != kEmpty) {
                if (keys_[slots_[slot]] == key) {
                    seen = true;  // an earlier row already holds this text and wins
                    break;
                }
                slot = (slot + 1) & kMask;
            }
            keys_[i] = key;
            if (!seen) slots_[slot] = static_cast<std::uint16_t>(i);
        }
    }

    // The row number of the first row whose text equals `text`, or -1.
    int find(std::string_view text) const noexcept {
        std::size_t slot = hash(text) & kMask;
        while (slots_[slot] != kEmpty) {
            if (keys_[slots_[slot]] == text) return slots_[slot];
            slot = (slot + 1) & kMask;
        }
        return -1;
    }

private:
    static constexpr std::size_t kSize = 512;  // a power of two, well above the largest table
    static constexpr std::size_t kMask = kSize - 1;
    static constexpr std::uint16_t kEmpty = 0xFFFF;

    static std::size_t hash(std::string_view text) noexcept {
        std::uint64_t h = 1469598103934665603ull;
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

    std::array<std::uint16_t, kSize> slots_;
    std::array<std::string_view, kSize> keys_;
};

const TextIndex& name_index() noexcept {
    static const TextIndex index(kUnits, &UnitDef::name);
    return index;
}
const TextIndex& symbol_index() noexcept {
    static const TextIndex index(kUnits, &UnitDef::symbol);
    return index;
}
const TextIndex& alias_index() noexcept {
    static const TextIndex index(kUnitAliases, &UnitAlias::alias);
    return index;
}

std::string_view apply_unit_alias(std::string_view text) noexcept {
    const int row = alias_index().find(text);
    return row < 0 ? text : kUnitAliases[row].canonical;
}

bool starts_with(std::string_view text, std::string_view head) noexcept {
    // Most prefixes fail on the first byte; test it before comparing the rest.
    if (head.empty()) return true;
    return text.size() >= head.size() && text[0] == head[0] &&
           std::memcmp(text.data() + 1, head.data() + 1, head.size() - 1) == 0;
}

}  // namespace

std::span<const UnitDef, kUnitCount> unit_table() noexcept { return std::span<const UnitDef, kUnitCount>(kUnits); }
std::span<const PrefixDef, kPrefixCount> prefix_table() noexcept {
    return std::span<const PrefixDef, kPrefixCount>(kPrefixes);
}
std::span<const UnitAlias, kUnitAliasCount> unit_alias_table() noexcept {
    return std::span<const UnitAlias, kUnitAliasCount>(kUnitAliases);
}

const UnitDef& base_unit(std::size_t dimension) noexcept { return kUnits[dimension]; }

const UnitDef* query_unit_names_internal(std::string_view text, bool apply_aliases) noexcept {
    if (apply_aliases) text = apply_unit_alias(text);
    const int row = name_index().find(text);
    return row < 0 ? nullptr : &kUnits[row];
}

const UnitDef* query_unit_symbols_internal(std::string_view text) noexcept {
    const int row = symbol_index().find(text);
    return row < 0 ? nullptr : &kUnits[row];
}

std::optional<SingleUnit> search_for_unit_name(std::string_view text) noexcept {
    text = apply_unit_alias(text);
    if (const UnitDef* row = query_unit_names_internal(text, false)) return SingleUnit(*row, nullptr);
    if (const UnitDef* row = query_unit_symbols_internal(text)) return SingleUnit(*row, nullptr);

    for (const PrefixDef& prefix : kPrefixes) {
        const UnitDef* row = nullptr;
        if (starts_with(text, prefix.name)) {
            row = query_unit_names_internal(text.substr(prefix.name.size()), true);
        } else if (starts_with(text, prefix.symbol)) {
            row = query_unit_symbols_internal(text.substr(prefix.symbol.size()));
        }
        if (row == nullptr) continue;
        // Affine units never take a prefix, and trying one ends the search.
        if (row->offset != 0.0) return std::nullopt;
        return SingleUnit(*row, &prefix);
    }
    return std::nullopt;
}

}  // namespace tolvat
