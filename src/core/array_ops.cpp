#include "array_ops.hpp"

#include <cmath>
#include <utility>

#include "display.hpp"
#include "number_text.hpp"
#include "rounding.hpp"
#include "simple_simplify.hpp"
#include "simplify.hpp"

namespace tolvat {
namespace {

// The closing step of the one-value path (simple_simplify of a quantity), as a plan: the units it
// ends in and the conversion it applies to the value.
Expected<ElementPlan> closing_plan(UnitCollection&& raw) {
    ElementPlan plan;
    double multiplier;
    BaseExponents exponents;
    switch (simple_simplify_kind(raw, multiplier, exponents)) {
        case SimpleSimplifyKind::Keeps:
            plan.unit = std::move(raw);
            return plan;
        case SimpleSimplifyKind::Resums:
            raw.resum(exponents, multiplier);
            plan.unit = std::move(raw);
            return plan;
        case SimpleSimplifyKind::Drifts:
        case SimpleSimplifyKind::Merges:
            break;
    }
    Expected<UnitCollection> simpler = simple_simplify(raw);
    if (!simpler) return std::move(simpler).error();
    Expected<Conversion> conversion = conversion_between(raw, *simpler);
    if (!conversion) return std::move(conversion).error();
    plan.unit = std::move(simpler).value();
    plan.closing = *conversion;
    return plan;
}

// As the one-value path names a power overflow of a result: by its operands.
Expected<ElementPlan> named(Expected<ElementPlan>&& plan, const UnitCollection& first, const char* op,
                            const std::string& second) {
    if (!plan && plan.error().kind == ErrorKind::PowerOverflow) return Error::power_overflow(as_string(first) + op + second);
    return std::move(plan);
}

Error dimension_mismatch(const UnitCollection& first, const UnitCollection& second) {
    return Error::incompatible(as_string(first), as_string(second));
}

const UnitCollection& dimensionless() {
    static const UnitCollection empty;
    return empty;
}

// ---- the loops ------------------------------------------------------------------------------

// out[i] = closing(raw(self[i], other[i])), one loop per combination of steps so that the
// compiler keeps each tight (and vectorises what it can).
template <Conversion::Kind kind, typename Raw>
void closing_loop(const Conversion& c, Operand s, Operand o, double* out, std::size_t n, Raw raw) noexcept {
    const double ms = c.source_multiplier, mt = c.target_multiplier, os = c.source_offset, ot = c.target_offset;
    auto finish = [&](double v) {
        if constexpr (kind == Conversion::Kind::Same) {
            return v;
        } else {
            double t = ms * v;
            if constexpr (kind == Conversion::Kind::Offsets) {
                t = t - os;
                t = t + ot;
            }
            return t / mt;
        }
    };
    const double* a = s.values;
    const double* b = o.values;
    if (s.step == 1 && o.step == 1) {
        for (std::size_t i = 0; i < n; ++i) out[i] = finish(raw(a[i], b[i]));
    } else if (s.step == 1) {
        const double y = b[0];
        for (std::size_t i = 0; i < n; ++i) out[i] = finish(raw(a[i], y));
    } else if (o.step == 1) {
        const double x = a[0];
        for (std::size_t i = 0; i < n; ++i) out[i] = finish(raw(x, b[i]));
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = finish(raw(a[0], b[0]));
    }
}

template <typename Raw>
void with_closing(const Conversion& c, Operand s, Operand o, double* out, std::size_t n, Raw raw) noexcept {
    switch (c.kind) {
        case Conversion::Kind::Same: return closing_loop<Conversion::Kind::Same>(c, s, o, out, n, raw);
        case Conversion::Kind::Scale: return closing_loop<Conversion::Kind::Scale>(c, s, o, out, n, raw);
        case Conversion::Kind::Offsets: return closing_loop<Conversion::Kind::Offsets>(c, s, o, out, n, raw);
    }
}

}  // namespace

Expected<ElementPlan> plan_binary(ElementOp op, const UnitCollection& self, const UnitCollection& other) {
    switch (op) {
        case ElementOp::Add:
        case ElementOp::Subtract:
        case ElementOp::ReflectedSubtract: {
            if (!exponents_equal(self.exponents(), other.exponents())) return dimension_mismatch(self, other);
            Expected<ElementPlan> plan = closing_plan(UnitCollection(self));
            if (plan) {
                plan->other_multiplier = other.multiplier();
                plan->self_multiplier = self.multiplier();
            }
            return plan;
        }
        case ElementOp::Multiply:
            return named(closing_plan(self * other), self, " * ", as_string(other));
        case ElementOp::Divide:
            return named(closing_plan(self / other), self, " / ", as_string(other));
        case ElementOp::ReflectedDivide:
            return named(closing_plan(other / self), other, " / ", as_string(self));
        case ElementOp::Power:
        case ElementOp::ReflectedPower:
            break;
    }
    return Error::internal("plan_binary: not a two-quantity operation");
}

Expected<ElementPlan> plan_power(const UnitCollection& base, double p) {
    if (!std::isfinite(p)) {
        for (const UnitEntry& entry : base.units()) {
            if (entry.power != 0.0) return Error::non_finite_power(as_string(base), number_text(p));
        }
        ElementPlan plan;  // no units, nothing to close
        plan.exponent = p;
        plan.base_multiplier = base.multiplier();
        plan.exponent_finite = false;
        return plan;
    }
    Expected<ElementPlan> plan = named(closing_plan(UnitCollection::pow(base, p)), base, " ** ", number_text(p));
    if (plan) plan->exponent = p;
    return plan;
}

Expected<ElementPlan> plan_power_per_element(const UnitCollection& base, const UnitCollection& exponent) {
    (void)base;  // empty: to any power it stays empty, and needs no closing
    Expected<Conversion> into_plain = conversion_between(exponent, dimensionless());
    if (!into_plain) return std::move(into_plain).error();
    ElementPlan plan;
    plan.exponent_per_element = true;
    plan.exponent_conversion = *into_plain;
    return plan;
}

Expected<ElementPlan> plan_closing(const UnitCollection& self) { return closing_plan(UnitCollection(self)); }

void apply_binary(ElementOp op, const ElementPlan& plan, Operand self, Operand other, double* out,
                  std::size_t n) noexcept {
    const Conversion& c = plan.closing;
    const double mo = plan.other_multiplier, ms = plan.self_multiplier;
    switch (op) {
        case ElementOp::Add:
            return with_closing(c, self, other, out, n, [mo, ms](double s, double o) {
                double t = o * mo;
                t = t / ms;
                return s + t;
            });
        case ElementOp::Subtract:
            return with_closing(c, self, other, out, n, [mo, ms](double s, double o) {
                double t = o * mo;
                t = t / ms;
                return s - t;
            });
        case ElementOp::ReflectedSubtract:
            return with_closing(c, self, other, out, n, [mo, ms](double s, double o) {
                double t = o * mo;
                t = t / ms;
                return t - s;
            });
        case ElementOp::Multiply:
            return with_closing(c, self, other, out, n, [](double s, double o) { return s * o; });
        case ElementOp::Divide:
            return with_closing(c, self, other, out, n, [](double s, double o) { return s / o; });
        case ElementOp::ReflectedDivide:
            return with_closing(c, self, other, out, n, [](double s, double o) { return o / s; });
        case ElementOp::Power:
        case ElementOp::ReflectedPower: {
            // `self` is the base, `other` the exponent (one for all, or one per element).
            if (!plan.exponent_per_element) {
                const double p = plan.exponent;
                if (!plan.exponent_finite) {
                    const double m = plan.base_multiplier;
                    return with_closing(c, self, other, out, n, [m, p](double s, double) { return std::pow(s * m, p); });
                }
                return with_closing(c, self, other, out, n, [p](double s, double) { return std::pow(s, p); });
            }
            const Conversion e = plan.exponent_conversion;
            return with_closing(c, self, other, out, n, [e](double s, double o) { return std::pow(s, e.apply(o)); });
        }
    }
}

void apply_negate(const ElementPlan& plan, const double* self, double* out, std::size_t n) noexcept {
    with_closing(plan.closing, Operand{self, 1}, Operand{self, 1}, out, n, [](double s, double) { return -s; });
}

void apply_positive(const ElementPlan& plan, const double* self, double* out, std::size_t n) noexcept {
    with_closing(plan.closing, Operand{self, 1}, Operand{self, 1}, out, n, [](double s, double) { return s; });
}

void apply_absolute(const double* self, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::fabs(self[i]);
}

void apply_conversion(const Conversion& conversion, const double* in, double* out, std::size_t n) noexcept {
    with_closing(conversion, Operand{in, 1}, Operand{in, 1}, out, n, [](double s, double) { return s; });
}

void apply_conversion_divided(const Conversion& conversion, double divisor, const double* in, double* out,
                              std::size_t n) noexcept {
    apply_conversion(conversion, in, out, n);
    // A second pass over data just written, still in cache for the sizes where it matters little.
    // Only as_number with `scale` pays it; a divisor of 1 changes no value, so it is skipped.
    if (divisor != 1.0) {
        for (std::size_t i = 0; i < n; ++i) out[i] = out[i] / divisor;
    }
}

void apply_two_conversions(const Conversion& first, const Conversion& second, const double* in, double* out,
                           std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = second.apply(first.apply(in[i]));
}

namespace {

template <typename Compare>
void compare_loop(const Conversion& c, Operand s, Operand o, bool* out, std::size_t n, Compare cmp) noexcept {
    switch (c.kind) {
        case Conversion::Kind::Same:
            if (s.step == 1 && o.step == 1) {
                for (std::size_t i = 0; i < n; ++i) out[i] = cmp(s.values[i], o.values[i]);
            } else {
                for (std::size_t i = 0; i < n; ++i) out[i] = cmp(s.values[i * s.step], o.values[i * o.step]);
            }
            return;
        case Conversion::Kind::Scale:
        case Conversion::Kind::Offsets:
            for (std::size_t i = 0; i < n; ++i) out[i] = cmp(s.values[i * s.step], c.apply(o.values[i * o.step]));
            return;
    }
}

}  // namespace

void apply_compare(int op, const Conversion& other_into_self, Operand self, Operand other, bool* out,
                   std::size_t n) noexcept {
    const Conversion& c = other_into_self;
    switch (op) {
        case 0: return compare_loop(c, self, other, out, n, [](double x, double y) { return x < y; });
        case 1: return compare_loop(c, self, other, out, n, [](double x, double y) { return x <= y; });
        case 2: return compare_loop(c, self, other, out, n, [](double x, double y) { return x == y; });
        case 3: return compare_loop(c, self, other, out, n, [](double x, double y) { return x != y; });
        case 4: return compare_loop(c, self, other, out, n, [](double x, double y) { return x > y; });
        default: return compare_loop(c, self, other, out, n, [](double x, double y) { return x >= y; });
    }
}

void apply_transcendental(Transcendental fn, const Conversion& into_plain, const double* in, double* out,
                          std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const double x = into_plain.apply(in[i]);
        out[i] = fn == Transcendental::Exp ? std::exp(x) : fn == Transcendental::Log ? std::log(x) : std::log10(x);
    }
}

namespace {

template <typename Round>
std::size_t round_loop(const double* in, double* out, std::size_t n, Round round) noexcept {
    std::size_t inexact = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const DecimalRounding r = round(in[i]);
        out[i] = r.value;
        inexact += r.needs_exact ? 1 : 0;
    }
    return inexact;
}

}  // namespace

std::size_t apply_round_whole(const double* in, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = round_half_away_from_zero(in[i]);
    return 0;
}

std::size_t apply_round_decimals(std::int32_t decimals, const double* in, double* out, std::size_t n) noexcept {
    return round_loop(in, out, n, [decimals](double v) { return round_to_decimals(v, decimals); });
}

std::size_t apply_round_figures(std::int32_t figures, const double* in, double* out, std::size_t n) noexcept {
    return round_loop(in, out, n, [figures](double v) { return round_to_significant_figures(v, figures); });
}

Expected<ArrayDisplay> array_display(const UnitCollection& unit, UnitText form) {
    Expected<ElementPlan> simple = closing_plan(UnitCollection(unit));
    if (!simple) return std::move(simple).error();
    ArrayDisplay display;
    display.first = simple->closing;
    Quantity shown{std::move(simple->unit), 0.0};
    if (form == UnitText::Plain && shown.unit.size() > 1) {
        Expected<UnitCollection> simpler = simplify(shown.unit);
        if (!simpler) return std::move(simpler).error();
        Expected<Conversion> conversion = conversion_between(shown.unit, *simpler);
        if (!conversion) return std::move(conversion).error();
        display.second = *conversion;
        shown.unit = std::move(simpler).value();
    }
    append_unit_text(display.unit_text, shown.unit, form);
    return display;
}

namespace {

constexpr std::ptrdiff_t kSummaryThreshold = 1000;
constexpr std::ptrdiff_t kEdgeItems = 3;

struct ValuesWriter {
    std::string& out;
    const ValueLayout& layout;
    bool summarise;
    ElementWriter element;
    void* context;

    bool write(int axis, const char* at) {
        if (axis == layout.ndim) {
            double value;
            __builtin_memcpy(&value, at, sizeof value);
            return element(out, value, context);
        }
        const std::ptrdiff_t count = layout.shape[axis];
        const bool cut = summarise && count > 2 * kEdgeItems;
        out.push_back('[');
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            if (cut && i == kEdgeItems) {
                separate(axis);
                out += "...";
                i = count - kEdgeItems;
            }
            if (i > 0) separate(axis);
            if (!write(axis + 1, at + i * layout.strides[axis])) return false;
        }
        out.push_back(']');
        return true;
    }

    // Between two items of `axis`: a space between numbers; between rows a new line (one more
    // per further axis below) and the indentation of the depth.
    void separate(int axis) {
        const int below = layout.ndim - axis - 1;
        if (below == 0) {
            out.push_back(' ');
            return;
        }
        out.append(static_cast<std::size_t>(below), '\n');
        out.append(static_cast<std::size_t>(axis + 1), ' ');
    }
};

}  // namespace

bool append_values_text(std::string& out, const ValueLayout& layout, ElementWriter element, void* context) {
    std::ptrdiff_t size = 1;
    for (int axis = 0; axis < layout.ndim; ++axis) size *= layout.shape[axis];
    ValuesWriter writer{out, layout, size > kSummaryThreshold, element, context};
    return writer.write(0, layout.data);
}

bool append_element_number_text(std::string& out, double value, void*) {
    append_number_text(out, value);
    return true;
}

}  // namespace tolvat
