#include "unit_collection.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

namespace tolvat {
namespace {

// Adds `power` (with the sign given) to the entry for `unit`, inserting it when absent, and drops
// the entry when its power becomes exactly zero.
void accumulate(UnitEntries& units, const SingleUnit& unit, double power) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i].unit == unit) {
            units[i].power += power;
            if (units[i].power == 0.0) units.erase_at(i);
            return;
        }
    }
    units.emplace_back(UnitEntry{unit, power});
    if (power == 0.0) units.erase_at(units.size() - 1);
}

// pow(m, n) for a collection's multiplier. Programs raise the same units to the same powers
// again and again (squared speeds, inverse times), so each thread remembers its recent results;
// pow is a pure function, so a remembered result is exactly what the call would return.
double remembered_pow(double m, double n) noexcept {
    struct Slot {
        std::uint64_t base;
        std::uint64_t exponent;
        double result;
        bool used;
    };
    static constexpr std::size_t kSlots = 16;
    thread_local Slot slots[kSlots] = {};
    const auto base = std::bit_cast<std::uint64_t>(m);
    const auto exponent = std::bit_cast<std::uint64_t>(n);
    Slot& slot = slots[((base ^ (exponent * 0x9E3779B97F4A7C15ull)) * 0xD6E8FEB86659FD93ull) >> 60];
    if (slot.used && slot.base == base && slot.exponent == exponent) return slot.result;
    slot = Slot{base, exponent, std::pow(m, n), true};
    return slot.result;
}

}  // namespace

UnitCollection UnitCollection::from_entries(UnitEntries units) {
    UnitCollection result;
    for (const UnitEntry& entry : units) {
        add_to_summaries(entry.unit, entry.power, result.multiplier_, result.exponents_);
    }
    result.units_ = std::move(units);
    return result;
}

UnitCollection UnitCollection::coerce_unit_to_collection(SingleUnit unit) {
    UnitCollection result;
    result.exponents_ = unit.exponents();
    result.multiplier_ = unit.multiplier();
    result.units_.emplace_back(UnitEntry{std::move(unit), 1.0});
    return result;
}

UnitCollection UnitCollection::get_base_units(const UnitCollection& collection) {
    UnitCollection result;
    result.units_.reserve(kBaseDimensionCount);
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        SingleUnit unit = SingleUnit::create_from_unit_def_static(base_unit(i));
        result.units_.emplace_back(UnitEntry{std::move(unit), collection.exponents_[i]});
    }
    result.exponents_ = collection.exponents_;
    result.multiplier_ = 1.0;
    return result;
}

UnitCollection UnitCollection::pow(const UnitCollection& collection, double n) {
    // Every step below is exact for n = 1 (p × 1 = p, pow(m, 1) = m): the copy is the answer.
    if (n == 1.0) return collection;
    UnitCollection result;
    result.units_.reserve(collection.units_.size());
    for (const UnitEntry& entry : collection.units_) result.units_.emplace_back(UnitEntry{entry.unit, entry.power * n});
    // The empty collection stays dimensionless whatever n is (0 × inf or 0 × NaN would give it a
    // NaN dimension that no entry accounts for, and the closing simplification would report drift).
    if (!collection.units_.empty()) {
        for (std::size_t i = 0; i < kBaseDimensionCount; ++i) result.exponents_[i] = collection.exponents_[i] * n;
    }
    // A lone unit at power 1 has the unit's own multiplier, whose powers the unit may know.
    const bool lone_unit = collection.units_.size() == 1 && collection.units_[0].power == 1.0 &&
                           collection.multiplier_ == collection.units_[0].unit.multiplier();
    result.multiplier_ = lone_unit ? collection.units_[0].unit.multiplier_power(n) : remembered_pow(collection.multiplier_, n);
    return result;
}

void UnitCollection::recompute_exponents() noexcept {
    exponents_ = BaseExponents{};
    for (const UnitEntry& entry : units_) {
        const BaseExponents& e = entry.unit.exponents();
        for (std::size_t k = 0; k < kBaseDimensionCount; ++k) exponents_[k] += entry.power * e[k];
    }
}

namespace {

// Dimensions of this size and more may lose, in a sum, more than the rounding of their result.
constexpr double kLargeExponent = 67108864.0;  // 2^26

}  // namespace

UnitCollection operator*(UnitCollection a, const UnitCollection& b) {
    for (const UnitEntry& entry : b.units_) accumulate(a.units_, entry.unit, entry.power);
    double largest = 0.0;
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        largest = std::max(largest, std::max(std::fabs(a.exponents_[i]), std::fabs(b.exponents_[i])));
        a.exponents_[i] += b.exponents_[i];
    }
    if (largest >= kLargeExponent) [[unlikely]] a.recompute_exponents();
    a.multiplier_ *= b.multiplier_;
    return a;
}

UnitCollection operator/(UnitCollection a, const UnitCollection& b) {
    for (const UnitEntry& entry : b.units_) {
        // Subtracting from an existing entry and inserting -p are the same accumulation of -p.
        accumulate(a.units_, entry.unit, -entry.power);
    }
    double largest = 0.0;
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        largest = std::max(largest, std::max(std::fabs(a.exponents_[i]), std::fabs(b.exponents_[i])));
        a.exponents_[i] -= b.exponents_[i];
    }
    if (largest >= kLargeExponent) [[unlikely]] a.recompute_exponents();
    a.multiplier_ /= b.multiplier_;
    return a;
}

const double* UnitCollection::find(const SingleUnit& unit) const noexcept {
    for (const UnitEntry& entry : units_) {
        if (entry.unit == unit) return &entry.power;
    }
    return nullptr;
}

bool UnitCollection::same_entries(const UnitCollection& other) const noexcept {
    if (units_.size() != other.units_.size()) return false;
    for (const UnitEntry& entry : units_) {
        const double* power = other.find(entry.unit);
        if (power == nullptr || !(*power == entry.power)) return false;
    }
    return true;
}

}  // namespace tolvat
