// A value in a unit collection, and the operations on it that need no Python.
#pragma once

#include <bit>
#include <cstdint>

#include "error.hpp"
#include "unit_collection.hpp"

namespace tolvat {

struct Quantity {
    UnitCollection unit;
    double value = 1.0;
};

// The quantity converted into `target` (equal dimension required). Offsets apply only when both
// collections hold exactly one entry.
Expected<Quantity> as_unit_internal(const Quantity& source, UnitCollection target);
// The same units at the same powers. A conversion between two such collections keeps the value
// exactly, whatever their cached multipliers: the multiplier is a summary of the entries, not
// part of the unit, and the parser and the algebra carry it forward (0.0254 / 60 for in/min)
// while the simplification recomputes it (0.0254 × 60^-1), which may differ in the last bit.
bool same_units_in_any_order(const UnitCollection& a, const UnitCollection& b) noexcept;
// Two sizes more than a factor of two apart (by their binary exponents). The cached multipliers of
// the same units are roundings of one product; they differ by a few units in the last place, and
// a factor of two would take powers beyond 10^14. Zeros, subnormals, infinities and NaN are
// never called far apart.
inline bool sizes_far_apart(double a, double b) noexcept {
    const std::uint64_t ea = std::bit_cast<std::uint64_t>(a) >> 52;  // sign and exponent
    const std::uint64_t eb = std::bit_cast<std::uint64_t>(b) >> 52;
    const auto special = [](std::uint64_t e) { return (e & 0x7FF) == 0 || (e & 0x7FF) == 0x7FF; };
    if (special(ea) || special(eb)) return false;
    return ea > eb + 1 || eb > ea + 1;
}
inline bool same_units(const UnitCollection& a, const UnitCollection& b) noexcept {
    if (a.size() != b.size() || sizes_far_apart(a.multiplier(), b.multiplier())) return false;
    const UnitEntries& x = a.units();
    const UnitEntries& y = b.units();
    // Usually both hold the very same units in the same order.
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!(x[i].power == y[i].power && x[i].unit.same_identity(y[i].unit))) return same_units_in_any_order(a, b);
    }
    return true;
}
// How a value in one collection converts into another, worked out once for any number of values:
// unchanged into the same units (same_units), otherwise into base units and out again, with the two
// offsets when both collections hold exactly one entry.
struct Conversion {
    enum class Kind : unsigned char { Same, Scale, Offsets };
    Kind kind = Kind::Same;
    double source_multiplier = 1.0;
    double target_multiplier = 1.0;
    double source_offset = 0.0;
    double target_offset = 0.0;

    double apply(double value) const noexcept {
        if (kind == Kind::Same) return value;
        double t = source_multiplier * value;
        if (kind == Kind::Offsets) {
            t = t - source_offset;
            t = t + target_offset;
        }
        return t / target_multiplier;
    }
};
// The conversion between collections of equal dimension; IncompatibleUnits otherwise.
Expected<Conversion> conversion_between(const UnitCollection& source, const UnitCollection& target);
// The value that as_unit_internal would give, without building the quantity.
Expected<double> converted_value(const Quantity& source, const UnitCollection& target);

// The quantity converted into simple_simplify of its units, taking the short ways above.
Expected<Quantity> simple_simplify(Quantity&& r);

// Replaces the quantity's unit by its simple_simplify form and converts the value to it. On
// failure the quantity is unchanged. Tells whether the units are now their own simple
// simplification (so that doing it again would change nothing until the units change).
Expected<bool> simple_simplify_in_place(Quantity& quantity);
// The same, done at most once until the units change: `units_simple` remembers whether they are
// their own simple simplification, and is kept up to date.
Status simple_simplify_in_place(Quantity& quantity, bool& units_simple);

}  // namespace tolvat
