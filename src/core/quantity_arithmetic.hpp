// Arithmetic on quantities. Every result that is a quantity (but abs) ends with simple_simplify
// of the quantity: its unit is simply simplified and the value converted into that unit.
#pragma once

#include "error.hpp"
#include "quantity.hpp"

namespace tolvat {

// self + other and self - other, in self's units; dimensions must be exactly equal. Offsets play
// no part: the other operand is rescaled by the ratio of multipliers only.
Expected<Quantity> add(const Quantity& self, const Quantity& other);
Expected<Quantity> subtract(const Quantity& self, const Quantity& other);
// other - self, in self's units.
Expected<Quantity> reflected_subtract(const Quantity& self, const Quantity& other);

Expected<Quantity> multiply(const Quantity& self, const Quantity& other);
Expected<Quantity> divide(const Quantity& numerator, const Quantity& denominator);

// base ** exponent; the exponent must be dimensionless and counts by its scale.
Expected<Quantity> power(const Quantity& base, const Quantity& exponent);
// base ** p for the exponent's plain number p.
Expected<Quantity> power_by_number(const Quantity& base, double p);

Expected<Quantity> negate(const Quantity& self);
Expected<Quantity> positive(const Quantity& self);
Quantity absolute(const Quantity& self);

// The value of a dimensionless quantity as a plain number (m × v); IncompatibleUnits otherwise.
Expected<double> unitless_value(const Quantity& self);

}  // namespace tolvat
