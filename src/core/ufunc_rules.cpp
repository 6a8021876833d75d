#include "ufunc_rules.hpp"

#include <cmath>
#include <optional>
#include <utility>

#include "number_text.hpp"
#include "render.hpp"
#include "simple_simplify.hpp"

namespace tolvat {
namespace {

constexpr UfuncInfo kUfuncs[] = {
    {"add", UfuncRule::Rescale, 2, 0.0},
    {"subtract", UfuncRule::Rescale, 2, 0.0},
    {"maximum", UfuncRule::Convert, 2, 0.0},
    {"minimum", UfuncRule::Convert, 2, 0.0},
    {"hypot", UfuncRule::Convert, 2, 0.0},
    {"copysign", UfuncRule::Convert, 2, 0.0},
    {"less", UfuncRule::Compare, 2, 0.0},
    {"less_equal", UfuncRule::Compare, 2, 0.0},
    {"equal", UfuncRule::Compare, 2, 0.0},
    {"not_equal", UfuncRule::Compare, 2, 0.0},
    {"greater", UfuncRule::Compare, 2, 0.0},
    {"greater_equal", UfuncRule::Compare, 2, 0.0},
    {"multiply", UfuncRule::Multiply, 2, 0.0},
    {"matmul", UfuncRule::Multiply, 2, 0.0},
    {"divide", UfuncRule::Divide, 2, 0.0},
    {"power", UfuncRule::Power, 2, 0.0},
    {"sqrt", UfuncRule::FixedPower, 1, 0.5},
    {"cbrt", UfuncRule::FixedPower, 1, 1.0 / 3.0},
    {"square", UfuncRule::FixedPower, 1, 2.0},
    {"reciprocal", UfuncRule::FixedPower, 1, -1.0},
    {"negative", UfuncRule::Closing, 1, 0.0},
    {"positive", UfuncRule::Closing, 1, 0.0},
    {"absolute", UfuncRule::Keep, 1, 0.0},
    {"fabs", UfuncRule::Keep, 1, 0.0},
    {"rint", UfuncRule::Round, 1, 0.0},
    {"floor", UfuncRule::Round, 1, 0.0},
    {"ceil", UfuncRule::Round, 1, 0.0},
    {"trunc", UfuncRule::Round, 1, 0.0},
    {"isnan", UfuncRule::Plain, 1, 0.0},
    {"isinf", UfuncRule::Plain, 1, 0.0},
    {"isfinite", UfuncRule::Plain, 1, 0.0},
    {"signbit", UfuncRule::Plain, 1, 0.0},
    {"sin", UfuncRule::Dimensionless, 1, 0.0},
    {"cos", UfuncRule::Dimensionless, 1, 0.0},
    {"tan", UfuncRule::Dimensionless, 1, 0.0},
    {"exp", UfuncRule::Dimensionless, 1, 0.0},
    {"log", UfuncRule::Dimensionless, 1, 0.0},
    {"log2", UfuncRule::Dimensionless, 1, 0.0},
    {"log10", UfuncRule::Dimensionless, 1, 0.0},
    {"expm1", UfuncRule::Dimensionless, 1, 0.0},
    {"log1p", UfuncRule::Dimensionless, 1, 0.0},
    {"arcsin", UfuncRule::ToAngle, 1, 0.0},
    {"arccos", UfuncRule::ToAngle, 1, 0.0},
    {"arctan", UfuncRule::ToAngle, 1, 0.0},
    {"arctan2", UfuncRule::Arctan2, 2, 0.0},
    // Spellings of the same functions in other array libraries and older NumPy.
    {"true_divide", UfuncRule::Divide, 2, 0.0},
    {"abs", UfuncRule::Keep, 1, 0.0},
    {"atan2", UfuncRule::Arctan2, 2, 0.0},
    {"pow", UfuncRule::Power, 2, 0.0},
    {"conjugate", UfuncRule::Keep, 1, 0.0},
};

const UnitCollection& dimensionless() {
    static const UnitCollection empty;
    return empty;
}

const UnitCollection& radians() {
    static const UnitCollection rad = *UnitCollection::from_unit_name("rad");
    return rad;
}

bool has_units(const UnitCollection& units) noexcept {
    for (const UnitEntry& entry : units.units()) {
        if (entry.power != 0.0) return true;
    }
    return false;
}

// The conversion of `add`'s rescaling: v × m(source) ÷ m(target), always, even between the same
// units, as the operator computes it.
Conversion rescaling(const UnitCollection& source, const UnitCollection& target) noexcept {
    Conversion c;
    c.kind = Conversion::Kind::Scale;
    c.source_multiplier = source.multiplier();
    c.target_multiplier = target.multiplier();
    return c;
}

// A result in `units` that goes through the closing step. A failure of the step that concerns the
// powers names the operation instead of the result's units, as the operators do; `operation`
// words it, only then.
template <typename Operation>
Expected<UfuncPlan> closed(UfuncPlan&& plan, UnitCollection units, Operation operation) {
    Expected<ClosingPlan> closing = plan_closing_step(std::move(units));
    if (!closing) [[unlikely]] {
        if (closing.error().kind == ErrorKind::PowerOverflow) {
            if (std::optional<std::string> text = operation()) return Error::power_overflow(std::move(*text));
        }
        return std::move(closing).error();
    }
    plan.units = std::move(closing->units);
    plan.output = closing->conversion;
    return std::move(plan);
}

Expected<UfuncPlan> closed(UfuncPlan&& plan, UnitCollection units) {
    return closed(std::move(plan), std::move(units), [] { return std::optional<std::string>(); });
}

Expected<UfuncPlan> raised(UfuncPlan&& plan, const UnitCollection& base, double p) {
    if (!std::isfinite(p)) {
        // No unit has a NaN or infinite power; a base without units is a plain number, counted
        // by its scale.
        if (has_units(base)) return Error::non_finite_power(as_string(base), number_text(p));
        plan.inputs[0] = rescaling(base, dimensionless());
        plan.units = UnitCollection();
        return std::move(plan);
    }
    return closed(std::move(plan), UnitCollection::pow(base, p),
                  [&] { return std::optional<std::string>(as_string(base) + " ** " + number_text(p)); });
}

}  // namespace

std::span<const UfuncInfo> ufunc_table() noexcept { return kUfuncs; }

const UfuncInfo* find_ufunc(std::string_view name) noexcept {
    for (const UfuncInfo& info : kUfuncs) {
        if (info.name == name) return &info;
    }
    return nullptr;
}

Expected<ClosingPlan> plan_closing_step(UnitCollection units) {
    double multiplier;
    BaseExponents exponents;
    switch (simple_simplify_kind(units, multiplier, exponents)) {
        case SimpleSimplifyKind::Keeps:
            return ClosingPlan{std::move(units), Conversion{}};
        case SimpleSimplifyKind::Resums:
            units.resum(exponents, multiplier);
            return ClosingPlan{std::move(units), Conversion{}};
        case SimpleSimplifyKind::Drifts:
        case SimpleSimplifyKind::Merges:
            break;
    }
    Expected<UnitCollection> simpler = simple_simplify(units);
    if (!simpler) return std::move(simpler).error();
    Expected<Conversion> conversion = conversion_between(units, *simpler);
    if (!conversion) return std::move(conversion).error();
    return ClosingPlan{std::move(simpler).value(), *conversion};
}

Expected<UfuncPlan> plan_ufunc(const UfuncInfo& info, const UnitCollection* first, const UnitCollection* second,
                               const double* exponent) {
    UfuncPlan plan;
    const UnitCollection& a = first != nullptr ? *first : dimensionless();
    const UnitCollection& b = second != nullptr ? *second : dimensionless();
    // The operand whose units the result takes, and the other one.
    const bool second_leads = first == nullptr && second != nullptr;
    const UnitCollection& lead = second_leads ? b : a;
    const UnitCollection& other = second_leads ? a : b;
    Conversion& other_input = plan.inputs[second_leads ? 0 : 1];

    switch (info.rule) {
        case UfuncRule::Rescale:
            if (!exponents_equal(lead.exponents(), other.exponents())) {
                return Error::incompatible(as_string(lead), as_string(other));
            }
            other_input = rescaling(other, lead);
            return closed(std::move(plan), lead);
        case UfuncRule::Convert:
        case UfuncRule::Compare:
        case UfuncRule::Arctan2: {
            Expected<Conversion> conversion = conversion_between(other, lead);
            if (!conversion) return std::move(conversion).error();
            other_input = *conversion;
            if (info.rule == UfuncRule::Compare) {
                plan.plain_result = true;
            } else {
                plan.units = info.rule == UfuncRule::Convert ? lead : radians();
            }
            return plan;
        }
        case UfuncRule::Multiply:
            // A plain first operand multiplies as the operator's reflected form does, the
            // quantity's units first.
            return closed(std::move(plan), lead * other,
                          [&] { return std::optional<std::string>(as_string(lead) + " * " + as_string(other)); });
        case UfuncRule::Divide:
            return closed(std::move(plan), a / b,
                          [&] { return std::optional<std::string>(as_string(a) + " / " + as_string(b)); });
        case UfuncRule::Power: {
            Expected<Conversion> to_number = conversion_between(b, dimensionless());
            if (!to_number) return std::move(to_number).error();
            if (exponent != nullptr) {
                plan.exponent = to_number->apply(*exponent);
                return raised(std::move(plan), a, plan.exponent);
            }
            // One unit power per element would give each element its own units.
            if (!a.empty()) return Error::array_exponent(as_string(a));
            plan.inputs[1] = *to_number;
            return plan;
        }
        case UfuncRule::FixedPower:
            plan.exponent = info.power;
            return raised(std::move(plan), a, info.power);
        case UfuncRule::Closing:
            return closed(std::move(plan), a);
        case UfuncRule::Keep:
            plan.units = a;
            return plan;
        case UfuncRule::Round: {
            Expected<ClosingPlan> simple = plan_closing_step(a);
            if (!simple) return std::move(simple).error();
            plan.inputs[0] = simple->conversion;
            plan.units = std::move(simple->units);
            return plan;
        }
        case UfuncRule::Plain:
            plan.plain_result = true;
            return plan;
        case UfuncRule::Dimensionless:
        case UfuncRule::ToAngle: {
            Expected<Conversion> to_number = conversion_between(a, dimensionless());
            if (!to_number) return std::move(to_number).error();
            plan.inputs[0] = *to_number;
            if (info.rule == UfuncRule::ToAngle) {
                plan.units = radians();
            } else {
                plan.plain_result = true;
            }
            return plan;
        }
    }
    return Error::internal("unknown ufunc rule");
}

bool ufunc_reduces(const UfuncInfo& info) noexcept {
    return info.rule == UfuncRule::Rescale ? info.name == "add"
                                           : info.name == "maximum" || info.name == "minimum";
}

UfuncPlan plan_reduction(const UnitCollection& units) {
    UfuncPlan plan;
    plan.units = units;
    return plan;
}

}  // namespace tolvat
