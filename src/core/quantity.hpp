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
// The value that as_unit_internal would give, without building the quantity.
Expected<double> converted_value(const Quantity& source, const UnitCollection& target);

// True when simple_simplify would return this very collection (nothing merges and the recomputed
// multiplier and dimension equal the cached ones), so converting into it would change nothing.
bool simple_simplify_keeps(const UnitCollection& unit) noexcept;

// Replaces the quantity's unit by its simple_simplify form and converts the value to it. On
// failure the quantity is unchanged.
Status ss_inpl_internal(Quantity& quantity);

}  // namespace tolvat
