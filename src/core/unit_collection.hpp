// A product of single units with real powers, with its dimension and size kept alongside.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base_exponents.hpp"
#include "single_unit.hpp"
#include "small_vector.hpp"

namespace tolvat {

struct UnitEntry {
    SingleUnit unit;
    double power;
};

// An entry owns at most a counted reference to a custom unit's record, which does not depend on
// the entry's address: entries move as plain bytes.
template <>
struct RelocatableByCopy<UnitEntry> : std::true_type {};

// The entries in insertion order. At most one entry per distinct unit.
using UnitEntries = SmallVector<UnitEntry, 2>;

// Adds one entry's share to the summaries of a collection: the multiplier times the unit's
// multiplier raised to the power, each exponent plus the power times the unit's exponent. Every
// computation of the summaries from entries goes through this, entry by entry in order, so that
// all of them agree to the last bit.
inline void add_to_summaries(const SingleUnit& unit, double power, double& multiplier,
                             BaseExponents& exponents) noexcept {
    multiplier *= unit.multiplier_power(power);
    const BaseExponents& e = unit.exponents();
    for (std::size_t k = 0; k < kBaseDimensionCount; ++k) exponents[k] += power * e[k];
}

class UnitCollection {
public:
    // The empty collection: the dimensionless unit with factor one.
    UnitCollection() noexcept : exponents_{}, multiplier_(1.0) {}

    // Takes the map over and computes the dimension and size from it.
    static UnitCollection from_entries(UnitEntries units);
    // Replaces the summaries by the given ones, computed by the caller from these very entries
    // exactly as from_entries would compute them.
    void resum(const BaseExponents& exponents, double multiplier) noexcept {
        exponents_ = exponents;
        multiplier_ = multiplier;
    }
    // A collection with these entries and the summaries it carried before: arithmetic keeps
    // summaries up to date step by step, so they may differ from a fresh computation by rounding.
    static UnitCollection with_summaries(UnitEntries units, const BaseExponents& exponents, double multiplier) noexcept {
        UnitCollection result;
        result.units_ = std::move(units);
        result.exponents_ = exponents;
        result.multiplier_ = multiplier;
        return result;
    }
    // A collection whose only entry is the unit at power 1.
    static UnitCollection coerce_unit_to_collection(SingleUnit unit);
    // The unit-expression parser; nothing when the text describes no unit.
    static std::optional<UnitCollection> from_unit_name(std::string_view text);
    // The same, also telling whether a piece that holds a name was dropped on the way (a name
    // that resolves to no unit, or a power text that does not parse).
    static std::optional<UnitCollection> from_unit_name(std::string_view text, bool& dropped_a_name);
    // The same dimension written in all eight base units (zero powers included), multiplier 1.
    static UnitCollection get_base_units(const UnitCollection& collection);
    // Every power times n; the multiplier raised to n.
    static UnitCollection pow(const UnitCollection& collection, double n);

    friend UnitCollection operator*(UnitCollection a, const UnitCollection& b);
    friend UnitCollection operator/(UnitCollection a, const UnitCollection& b);

    const UnitEntries& units() const noexcept { return units_; }
    const BaseExponents& exponents() const noexcept { return exponents_; }
    double multiplier() const noexcept { return multiplier_; }
    std::size_t size() const noexcept { return units_.size(); }
    bool empty() const noexcept { return units_.empty(); }

    // The power of a unit equal to `unit`, if present.
    const double* find(const SingleUnit& unit) const noexcept;

    // Same entries with the same powers, in any order (used by tests and equality of quantities).
    bool same_entries(const UnitCollection& other) const noexcept;

private:
    // The dimension summed afresh from the entries. A product or quotient takes it as the sum of
    // its operands' dimensions, which is exact for powers of ordinary size; where large powers
    // cancel (V^1e19 / V^1e19) that sum keeps only their rounding, and the entries are the truth.
    void recompute_exponents() noexcept;
    UnitEntries units_;
    BaseExponents exponents_;
    double multiplier_;
};

}  // namespace tolvat
