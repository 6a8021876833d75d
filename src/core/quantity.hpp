// A value in a unit collection, and the operations on it that need no Python.
#pragma once

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
inline bool same_units(const UnitCollection& a, const UnitCollection& b) noexcept {
    if (a.size() != b.size()) return false;
    const UnitEntries& x = a.units();
    const UnitEntries& y = b.units();
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!(x[i].power == y[i].power && x[i].unit == y[i].unit)) return a.same_entries(b);
    }
    return true;
}
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
