#include "quantity.hpp"

#include <cmath>
#include <optional>
#include <utility>

#include "render.hpp"
#include "simple_simplify.hpp"

namespace tolvat {

namespace {

// The conversion formula: into base units and out again, with the offsets when both sides are a
// single unit.
Conversion formula(const UnitCollection& source, const UnitCollection& target) noexcept {
    Conversion c;
    c.kind = Conversion::Kind::Scale;
    c.source_multiplier = source.multiplier();
    c.target_multiplier = target.multiplier();
    if (source.size() == 1 && target.size() == 1) {
        c.kind = Conversion::Kind::Offsets;
        c.source_offset = source.units()[0].unit.offset();
        c.target_offset = target.units()[0].unit.offset();
    }
    return c;
}

}  // namespace

Expected<Quantity> simple_simplify(Quantity&& r) {
    double multiplier;
    BaseExponents exponents;
    switch (simple_simplify_kind(r.unit, multiplier, exponents)) {
        case SimpleSimplifyKind::Keeps:
            return std::move(r);
        case SimpleSimplifyKind::Resums:
            // Nothing merges and the dimension holds: the simple simplification is the same
            // entries with their multiplier recomputed, so the same units, and the value stays.
            r.unit.resum(exponents, multiplier);
            return std::move(r);
        case SimpleSimplifyKind::Drifts:  // the long way reports it
        case SimpleSimplifyKind::Merges:
            break;
    }
    Expected<UnitCollection> simpler = simple_simplify(r.unit);
    if (!simpler) return std::move(simpler).error();
    return as_unit_internal(r, std::move(simpler).value());
}

bool same_units_in_any_order(const UnitCollection& a, const UnitCollection& b) noexcept {
    // Equal units have equal sizes, so a unit whose size and power no unit of b shares rules b
    // out at the cost of a few comparisons of numbers; conversions between different units of
    // one dimension, the common case here, end at the first unit.
    for (const UnitEntry& e : a.units()) {
        const double size = e.unit.multiplier();
        bool candidate = false;
        for (const UnitEntry& f : b.units()) {
            if (f.power == e.power && (f.unit.multiplier() == size || f.unit.same_identity(e.unit))) {
                candidate = true;
                break;
            }
        }
        if (!candidate) return false;
    }
    return a.same_entries(b);
}

namespace {

// The conversion, or nothing when the dimensions differ.
std::optional<Conversion> compatible_conversion(const UnitCollection& source, const UnitCollection& target) noexcept {
    if (!exponents_equal(source.exponents(), target.exponents())) return std::nullopt;
    // Into the same units the value stays as it is. Running it through the formula would add
    // rounding noise (an offset added and taken away again, two multipliers of the same units
    // that differ in the last bit) and lose the sign of a zero, and every result passes here.
    if (same_units(source, target)) return Conversion{};
    return formula(source, target);
}

}  // namespace

Expected<Conversion> conversion_between(const UnitCollection& source, const UnitCollection& target) {
    if (const std::optional<Conversion> conversion = compatible_conversion(source, target)) return *conversion;
    return Error::incompatible(as_string(source), as_string(target));
}

Expected<double> converted_value(const Quantity& source, const UnitCollection& target) {
    if (const std::optional<Conversion> conversion = compatible_conversion(source.unit, target)) {
        return conversion->apply(source.value);
    }
    return Error::incompatible(as_string(source.unit), as_string(target));
}

Expected<Quantity> as_unit_internal(const Quantity& source, UnitCollection target) {
    Expected<double> value = converted_value(source, target);
    if (!value) return std::move(value).error();
    return Quantity{std::move(target), *value};
}

Expected<bool> simple_simplify_in_place(Quantity& quantity) {
    if (simple_simplify_keeps(quantity.unit)) return true;
    Expected<Quantity> converted = simple_simplify(Quantity(quantity));
    if (!converted) return std::move(converted).error();
    quantity = std::move(converted).value();
    // Usually the rewritten units keep, but a NaN size or dimension never compares equal.
    return simple_simplify_keeps(quantity.unit);
}

Status simple_simplify_in_place(Quantity& quantity, bool& units_simple) {
    if (units_simple) return Done{};
    Expected<bool> simple = simple_simplify_in_place(quantity);
    if (!simple) return std::move(simple).error();
    units_simple = *simple;
    return Done{};
}

}  // namespace tolvat
