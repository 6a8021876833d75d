#include "quantity.hpp"

#include <utility>

#include "render.hpp"
#include "simplify.hpp"

namespace tolvat {

Expected<Quantity> as_unit_internal(const Quantity& source, UnitCollection target) {
    if (!exponents_equal(source.unit.exponents(), target.exponents())) {
        return Error::incompatible(as_string(source.unit), as_string(target));
    }
    const double ms = source.unit.multiplier();
    const double mt = target.multiplier();
    double t = ms * source.value;
    if (source.unit.size() == 1 && target.size() == 1) {
        t = t - source.unit.units()[0].unit.offset();
        t = t + target.units()[0].unit.offset();
    }
    t = t / mt;
    return Quantity{std::move(target), t};
}

Status ss_inpl_internal(Quantity& quantity) {
    Expected<UnitCollection> simpler = simple_simplify(quantity.unit);
    if (!simpler) return std::move(simpler).error();
    Expected<Quantity> converted = as_unit_internal(quantity, std::move(simpler).value());
    if (!converted) return std::move(converted).error();
    quantity = std::move(converted).value();
    return Done{};
}

}  // namespace tolvat
