// The full simplification: the simple one, then, where units remain that no dimension needs
// alone, the bounded search for a smaller sub-product of them.
#include "simplify.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "render.hpp"
#include "simple_simplify.hpp"
#include "simplify_search.hpp"

namespace tolvat {

namespace {

std::int32_t saturate_to_int32(double power) noexcept {
    if (std::isnan(power)) return 0;
    if (power >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (power <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(power);
}

// Every unit of the collection at the mapping's power, zero powers included.
UnitCollection from_mapping(const UnitEntries& units, const std::int32_t* mapping) {
    UnitEntries result;
    result.reserve(units.size());
    for (std::size_t k = 0; k < units.size(); ++k) result.emplace_back(UnitEntry{units[k].unit, double(mapping[k])});
    return UnitCollection::from_entries(std::move(result));
}

// True when every entry's power is, bit for bit, the mapping's power for it.
bool same_powers(const UnitEntries& units, const std::int32_t* mapping) noexcept {
    for (std::size_t k = 0; k < units.size(); ++k) {
        if (std::bit_cast<std::uint64_t>(units[k].power) != std::bit_cast<std::uint64_t>(double(mapping[k]))) return false;
    }
    return true;
}

}  // namespace

Expected<UnitCollection> simplify(const UnitCollection& collection) {
    using namespace simplify_detail;
    Expected<UnitCollection> simple = simple_simplify(collection);
    if (!simple) return simple;
    const UnitCollection& ss = *simple;
    const UnitEntries& units = ss.units();
    const std::size_t n = units.size();
    if (n == 1) return simple;
    for (const UnitEntry& entry : units) {
        if (!(std::round(entry.power) == entry.power)) return simple;
    }

    // Units that alone carry some dimension of the collection keep their full power.
    SmallVector<unsigned char, 8> sole;
    for (std::size_t k = 0; k < n; ++k) sole.push_back(0);
    std::size_t sole_count = 0;
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        if (ss.exponents()[d] == 0.0) continue;
        std::size_t carriers = 0;
        std::size_t carrier = 0;
        for (std::size_t k = 0; k < n; ++k) {
            if (units[k].unit.exponents()[d] != 0.0) {
                ++carriers;
                carrier = k;
            }
        }
        if (carriers == 0) {
            return Error::internal("Error in simplify - unit " + as_string(ss) +
                                   " has mismatch between single and base units");
        }
        if (carriers == 1 && !sole[carrier]) {
            sole[carrier] = 1;
            ++sole_count;
        }
    }
    if (sole_count == n) return simple;

    SearchProblem problem;
    problem.target = ss.exponents();
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t full = saturate_to_int32(units[k].power);
        problem.exponents.push_back(units[k].unit.exponents());
        problem.powers.push_back(full);
        problem.start.push_back(sole[k] ? full : 0);
    }
    if (check_satisfies_base_units(problem, problem.start.data())) return from_mapping(units, problem.start.data());

    const SearchResult found = search_mappings(problem);
    if (found.status != SearchStatus::Found) return simple;
    // Often the answer is every unit at its full power: that is the simple form itself, built
    // from the same entries in the same order, so the same collection to the last bit.
    if (same_powers(units, found.mapping.data())) return simple;
    return from_mapping(units, found.mapping.data());
}

}  // namespace tolvat
