#include "quantity_arithmetic.hpp"

#include <cmath>
#include <utility>

#include "number_text.hpp"
#include "render.hpp"

namespace tolvat {
namespace {

Error dimension_mismatch(const UnitCollection& first, const UnitCollection& second) {
    return Error::incompatible(as_string(first), as_string(second));
}

// v(other) × m(other) ÷ m(self): the other operand counted in self's units.
double rescaled(const Quantity& self, const Quantity& other) {
    double t = other.value * other.unit.multiplier();
    t = t / self.unit.multiplier();
    return t;
}

// base ** p for a NaN or infinite p. A unit's power times p would be NaN or infinite, which no
// unit can have, so a base with units fails; a base without any (every power zero) is a plain
// number, and its power is that number's IEEE power with no unit.
Expected<Quantity> non_finite_power(const Quantity& base, double p) {
    for (const UnitEntry& entry : base.unit.units()) {
        if (entry.power != 0.0) return Error::non_finite_power(as_string(base.unit), number_text(p));
    }
    return simple_simplify(Quantity{UnitCollection(), std::pow(base.value * base.unit.multiplier(), p)});
}

// The closing step names only the units of a result whose powers overflow; the operation then
// names its operands instead ("[m2] * [m3]"), off the common path.
bool overflowed(const Expected<Quantity>& result) noexcept {
    return !result && result.error().kind == ErrorKind::PowerOverflow;
}

}  // namespace

Expected<Quantity> add(const Quantity& self, const Quantity& other) {
    if (!exponents_equal(self.unit.exponents(), other.unit.exponents())) {
        return dimension_mismatch(self.unit, other.unit);
    }
    return simple_simplify(Quantity{self.unit, self.value + rescaled(self, other)});
}

Expected<Quantity> subtract(const Quantity& self, const Quantity& other) {
    if (!exponents_equal(self.unit.exponents(), other.unit.exponents())) {
        return dimension_mismatch(self.unit, other.unit);
    }
    return simple_simplify(Quantity{self.unit, self.value - rescaled(self, other)});
}

Expected<Quantity> reflected_subtract(const Quantity& self, const Quantity& other) {
    if (!exponents_equal(self.unit.exponents(), other.unit.exponents())) {
        return dimension_mismatch(self.unit, other.unit);
    }
    return simple_simplify(Quantity{self.unit, rescaled(self, other) - self.value});
}

Expected<Quantity> multiply(const Quantity& self, const Quantity& other) {
    Expected<Quantity> r = simple_simplify(Quantity{self.unit * other.unit, self.value * other.value});
    if (overflowed(r)) [[unlikely]] r = Error::power_overflow(as_string(self.unit) + " * " + as_string(other.unit));
    return r;
}

Expected<Quantity> divide(const Quantity& numerator, const Quantity& denominator) {
    Expected<Quantity> r = simple_simplify(Quantity{numerator.unit / denominator.unit, numerator.value / denominator.value});
    if (overflowed(r)) [[unlikely]] {
        r = Error::power_overflow(as_string(numerator.unit) + " / " + as_string(denominator.unit));
    }
    return r;
}

Expected<double> unitless_value(const Quantity& self) {
    static const UnitCollection dimensionless;
    return converted_value(self, dimensionless);
}

Expected<Quantity> power(const Quantity& base, const Quantity& exponent) {
    Expected<double> p = unitless_value(exponent);
    if (!p) return std::move(p).error();
    return power_by_number(base, *p);
}

Expected<Quantity> power_by_number(const Quantity& base, double p) {
    if (!std::isfinite(p)) [[unlikely]] return non_finite_power(base, p);
    Expected<Quantity> r = simple_simplify(Quantity{UnitCollection::pow(base.unit, p), std::pow(base.value, p)});
    if (overflowed(r)) [[unlikely]] r = Error::power_overflow(as_string(base.unit) + " ** " + number_text(p));
    return r;
}

Expected<Quantity> negate(const Quantity& self) { return simple_simplify(Quantity{self.unit, -self.value}); }

Expected<Quantity> positive(const Quantity& self) { return simple_simplify(Quantity(self)); }

Quantity absolute(const Quantity& self) { return Quantity{self.unit, std::fabs(self.value)}; }

}  // namespace tolvat
