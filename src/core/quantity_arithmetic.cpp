#include "quantity_arithmetic.hpp"

#include <cmath>
#include <utility>

#include "render.hpp"
#include "simplify.hpp"

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

// True when the cheap simplification would hand back exactly this collection: no pair of
// entries could merge (equal dimension with opposite signs, or inverse dimension with equal
// signs), and the summaries recomputed from the entries match the cached ones. Most results of
// arithmetic are like this, and then the closing step has nothing to do.
bool closing_keeps(const UnitCollection& unit) noexcept {
    const UnitMap& units = unit.units();
    const std::size_t n = units.size();
    double multiplier = 1.0;
    BaseExponents exponents{};
    for (std::size_t i = 0; i < n; ++i) {
        const SingleUnit& a = units[i].unit;
        const double p = units[i].power;
        for (std::size_t j = i + 1; j < n; ++j) {
            const SingleUnit& b = units[j].unit;
            const bool same_sign = std::signbit(p) == std::signbit(units[j].power);
            if (!same_sign && exponents_equal(a.exponents(), b.exponents())) return false;
            if (same_sign && exponents_inverse(a.exponents(), b.exponents())) return false;
        }
        const double m = a.multiplier();
        multiplier *= p == 1.0 ? m : (m == 1.0 ? 1.0 : std::pow(m, p));
        const BaseExponents& e = a.exponents();
        for (std::size_t k = 0; k < kBaseDimensionCount; ++k) exponents[k] += p * e[k];
    }
    return multiplier == unit.multiplier() && exponents_equal(exponents, unit.exponents());
}

}  // namespace

Expected<Quantity> closing_step(Quantity r) {
    if (closing_keeps(r.unit)) return r;
    Expected<UnitCollection> simpler = simple_simplify(r.unit);
    if (!simpler) return std::move(simpler).error();
    return as_unit_internal(r, std::move(simpler).value());
}

Expected<Quantity> add(const Quantity& self, const Quantity& other) {
    if (!exponents_equal(self.unit.exponents(), other.unit.exponents())) {
        return dimension_mismatch(self.unit, other.unit);
    }
    return closing_step(Quantity{self.unit, self.value + rescaled(self, other)});
}

Expected<Quantity> subtract(const Quantity& self, const Quantity& other) {
    if (!exponents_equal(self.unit.exponents(), other.unit.exponents())) {
        return dimension_mismatch(self.unit, other.unit);
    }
    return closing_step(Quantity{self.unit, self.value - rescaled(self, other)});
}

Expected<Quantity> reflected_subtract(const Quantity& self, const Quantity& other) {
    if (!exponents_equal(self.unit.exponents(), other.unit.exponents())) {
        return dimension_mismatch(self.unit, other.unit);
    }
    return closing_step(Quantity{self.unit, rescaled(self, other) - self.value});
}

Expected<Quantity> multiply(const Quantity& self, const Quantity& other) {
    return closing_step(Quantity{self.unit * other.unit, self.value * other.value});
}

Expected<Quantity> divide(const Quantity& numerator, const Quantity& denominator) {
    return closing_step(Quantity{numerator.unit / denominator.unit, numerator.value / denominator.value});
}

Expected<double> unitless_value(const Quantity& self) {
    Expected<Quantity> plain = as_unit_internal(self, UnitCollection());
    if (!plain) return std::move(plain).error();
    return plain->value;
}

Expected<Quantity> power(const Quantity& base, const Quantity& exponent) {
    Expected<double> p = unitless_value(exponent);
    if (!p) return std::move(p).error();
    return closing_step(Quantity{UnitCollection::pow(base.unit, *p), std::pow(base.value, *p)});
}

Expected<Quantity> negate(const Quantity& self) { return closing_step(Quantity{self.unit, -self.value}); }

Expected<Quantity> positive(const Quantity& self) { return closing_step(self); }

Quantity absolute(const Quantity& self) { return Quantity{self.unit, std::fabs(self.value)}; }

}  // namespace tolvat
