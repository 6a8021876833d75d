#include "quantity.hpp"

#include <cmath>
#include <utility>

#include "render.hpp"
#include "simplify.hpp"

namespace tolvat {

namespace {

// Same units with the same powers and the same size: converting changes nothing.
bool identical_units(const UnitCollection& a, const UnitCollection& b) noexcept {
    if (a.size() != b.size() || !(a.multiplier() == b.multiplier())) return false;
    const UnitMap& x = a.units();
    const UnitMap& y = b.units();
    bool same_order = true;
    for (std::size_t i = 0; i < x.size() && same_order; ++i) {
        same_order = x[i].power == y[i].power && x[i].unit == y[i].unit;
    }
    return same_order || a.same_entries(b);
}

}  // namespace

// True when the cheap simplification would hand back exactly this collection: no pair of
// entries could merge (equal dimension with opposite signs, or inverse dimension with equal
// signs), and the summaries recomputed from the entries match the cached ones. Most results of
// arithmetic are like this, and then there is nothing to do.
bool simple_simplify_keeps(const UnitCollection& unit) noexcept {
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

Expected<double> converted_value(const Quantity& source, const UnitCollection& target) {
    if (!exponents_equal(source.unit.exponents(), target.exponents())) {
        return Error::incompatible(as_string(source.unit), as_string(target));
    }
    // Into the very same units the value stays as it is. Running it through the formula would
    // add rounding noise (an offset added and taken away again, a multiplier applied and divided
    // out) and lose the sign of a zero, and every result passes through here.
    if (identical_units(source.unit, target)) return source.value;
    const double ms = source.unit.multiplier();
    const double mt = target.multiplier();
    double t = ms * source.value;
    if (source.unit.size() == 1 && target.size() == 1) {
        t = t - source.unit.units()[0].unit.offset();
        t = t + target.units()[0].unit.offset();
    }
    return t / mt;
}

Expected<Quantity> as_unit_internal(const Quantity& source, UnitCollection target) {
    Expected<double> value = converted_value(source, target);
    if (!value) return std::move(value).error();
    return Quantity{std::move(target), *value};
}

Status ss_inpl_internal(Quantity& quantity) {
    if (simple_simplify_keeps(quantity.unit)) return Done{};
    Expected<UnitCollection> simpler = simple_simplify(quantity.unit);
    if (!simpler) return std::move(simpler).error();
    Expected<Quantity> converted = as_unit_internal(quantity, std::move(simpler).value());
    if (!converted) return std::move(converted).error();
    quantity = std::move(converted).value();
    return Done{};
}

}  // namespace tolvat
