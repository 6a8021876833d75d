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
// names its operands instead ("[m2] * [m3]"). Out of line, so that the common path only tests
// for an error.
[[gnu::cold, gnu::noinline]] void name_operands(Expected<Quantity>& result, const UnitCollection& first,
                                                const char* op, const std::string& second) {
    if (result.error().kind == ErrorKind::PowerOverflow) result = Error::power_overflow(as_string(first) + op + second);
}
[[gnu::cold, gnu::noinline]] void name_operands(Expected<Quantity>& result, const UnitCollection& first,
                                                const char* op, const UnitCollection& second) {
    name_operands(result, first, op, as_string(second));
}

// The closing step of an operation on `first` and `second`: the result is the only object
// returned, so it is built in place.
template <typename Second>
Expected<Quantity> closing(Quantity&& result, const UnitCollection& first, const char* op, const Second& second) {
    Expected<Quantity> r = simple_simplify(std::move(result));
    if (!r) [[unlikely]] name_operands(r, first, op, second);
    return r;
}

// base ** p for a finite p, built in place as closing() builds its result.
Expected<Quantity> finite_power(const Quantity& base, double p) {
    Expected<Quantity> r = simple_simplify(Quantity{UnitCollection::pow(base.unit, p), std::pow(base.value, p)});
    if (!r) [[unlikely]] name_operands(r, base.unit, " ** ", number_text(p));
    return r;
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
    return closing(Quantity{self.unit * other.unit, self.value * other.value}, self.unit, " * ", other.unit);
}

Expected<Quantity> divide(const Quantity& numerator, const Quantity& denominator) {
    return closing(Quantity{numerator.unit / denominator.unit, numerator.value / denominator.value}, numerator.unit,
                   " / ", denominator.unit);
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
    return finite_power(base, p);
}

Expected<Quantity> negate(const Quantity& self) { return simple_simplify(Quantity{self.unit, -self.value}); }

Expected<Quantity> positive(const Quantity& self) { return simple_simplify(Quantity(self)); }

Quantity absolute(const Quantity& self) { return Quantity{self.unit, std::fabs(self.value)}; }

}  // namespace tolvat
