#include "array_ops.hpp"

#include <cmath>
#include <utility>

#include "display.hpp"
#include "number_text.hpp"
#include "rounding.hpp"
#include "simple_simplify.hpp"
#include "simplify.hpp"
#include "ufunc_rules.hpp"

namespace tolvat {
namespace {

// The closing step of the one-value path (simple_simplify of a quantity), as a plan: the units it
// ends in and the conversion it applies to the value.
Expected<ElementPlan> closing_plan(UnitCollection&& raw) {
    Expected<ClosingPlan> closing = plan_closing_step(std::move(raw));
    if (!closing) return std::move(closing).error();
    ElementPlan plan;
    plan.unit = std::move(closing->units);
    plan.closing = closing->conversion;
    return plan;
}

// As the one-value path names a power overflow of a result: by its operands. `second()` gives
// the second operand's text, made only for that error.
template <typename SecondText>
Expected<ElementPlan> named(Expected<ElementPlan>&& plan, const UnitCollection& first, const char* op,
                            SecondText second) {
    if (!plan && plan.error().kind == ErrorKind::PowerOverflow) {
        return Error::power_overflow(as_string(first) + op + second());
    }
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

// The fused loops are built for the widest vector instructions the processor has, chosen when the
// library loads (x86-64 Linux; elsewhere, and in the portable build, for the baseline only). Every
// step is an IEEE operation, which rounds the same at any vector width.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && !defined(TOLVAT_PORTABLE)
#define TOLVAT_LOOPS [[gnu::target_clones("avx512f", "avx2", "default"), gnu::flatten]]
#else
#define TOLVAT_LOOPS [[gnu::flatten]]
#endif

// A division by a power of two is exactly the multiplication by its reciprocal (both round the
// same exact number), which is far cheaper; any other divisor is divided by.
bool exact_reciprocal(double d, double& reciprocal) noexcept {
    int exponent;
    const double mantissa = std::frexp(d, &exponent);
    if (mantissa != 0.5 || exponent < -1020 || exponent > 1020) return false;
    reciprocal = 1.0 / d;
    return true;
}

// A conversion as the steps of a loop: multiply, the two offsets, then divide, or multiply by the
// exact reciprocal of the divisor.
struct Steps {
    double multiplier, source_offset, target_offset, divisor;
};
enum class Closing { Same, Divide, Reciprocal, OffsetsDivide, OffsetsReciprocal };

Closing closing_kind(const Conversion& c, Steps& steps) noexcept {
    steps = Steps{c.source_multiplier, c.source_offset, c.target_offset, c.target_multiplier};
    if (c.kind == Conversion::Kind::Same) return Closing::Same;
    const bool offsets = c.kind == Conversion::Kind::Offsets;
    double reciprocal;
    if (exact_reciprocal(c.target_multiplier, reciprocal)) {
        steps.divisor = reciprocal;
        return offsets ? Closing::OffsetsReciprocal : Closing::Reciprocal;
    }
    return offsets ? Closing::OffsetsDivide : Closing::Divide;
}

template <Closing kind>
[[gnu::always_inline]] inline double close(const Steps& c, double v) noexcept {
    if constexpr (kind == Closing::Same) {
        return v;
    } else {
        double t = c.multiplier * v;
        if constexpr (kind == Closing::OffsetsDivide || kind == Closing::OffsetsReciprocal) {
            t = t - c.source_offset;
            t = t + c.target_offset;
        }
        if constexpr (kind == Closing::Divide || kind == Closing::OffsetsDivide) return t / c.divisor;
        else return t * c.divisor;
    }
}

// out[i] = closing(raw(self[i], other[i])), one loop per combination of steps so that the
// compiler keeps each tight and vectorises it.
template <Closing kind, typename Raw>
[[gnu::always_inline]] inline void closing_loop(const Steps& c, Operand s, Operand o, double* __restrict out,
                                                std::size_t n, Raw raw) noexcept {
    const double* a = s.values;
    const double* b = o.values;
    if (s.step == 1 && o.step == 1) {
        for (std::size_t i = 0; i < n; ++i) out[i] = close<kind>(c, raw(a[i], b[i]));
    } else if (s.step == 1) {
        const double y = b[0];
        for (std::size_t i = 0; i < n; ++i) out[i] = close<kind>(c, raw(a[i], y));
    } else if (o.step == 1) {
        const double x = a[0];
        for (std::size_t i = 0; i < n; ++i) out[i] = close<kind>(c, raw(x, b[i]));
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = close<kind>(c, raw(a[0], b[0]));
    }
}

template <typename Raw>
[[gnu::always_inline]] inline void with_closing(const Conversion& conversion, Operand s, Operand o, double* out,
                                                std::size_t n, Raw raw) noexcept {
    Steps c;
    switch (closing_kind(conversion, c)) {
        case Closing::Same: return closing_loop<Closing::Same>(c, s, o, out, n, raw);
        case Closing::Divide: return closing_loop<Closing::Divide>(c, s, o, out, n, raw);
        case Closing::Reciprocal: return closing_loop<Closing::Reciprocal>(c, s, o, out, n, raw);
        case Closing::OffsetsDivide: return closing_loop<Closing::OffsetsDivide>(c, s, o, out, n, raw);
        case Closing::OffsetsReciprocal: return closing_loop<Closing::OffsetsReciprocal>(c, s, o, out, n, raw);
    }
}

// The other operand of an addition counted in self's units: v × m(other), then ÷ m(self) (or ×
// its exact reciprocal). `sign` picks self + t, self - t or t - self.
template <bool divide, int sign>
struct Sum {
    double other_multiplier, self_divisor;
    [[gnu::always_inline]] double operator()(double s, double o) const noexcept {
        double t = o * other_multiplier;
        if constexpr (divide) t = t / self_divisor;
        else t = t * self_divisor;
        if constexpr (sign > 0) return s + t;
        else if constexpr (sign < 0) return s - t;
        else return t - s;
    }
};

template <int sign>
[[gnu::always_inline]] inline void sum_loop(const ElementPlan& plan, Operand self, Operand other, double* out,
                                            std::size_t n) noexcept {
    double reciprocal;
    if (exact_reciprocal(plan.self_multiplier, reciprocal)) {
        with_closing(plan.closing, self, other, out, n, Sum<false, sign>{plan.other_multiplier, reciprocal});
    } else {
        with_closing(plan.closing, self, other, out, n, Sum<true, sign>{plan.other_multiplier, plan.self_multiplier});
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
            return named(closing_plan(self * other), self, " * ", [&] { return as_string(other); });
        case ElementOp::Divide:
            return named(closing_plan(self / other), self, " / ", [&] { return as_string(other); });
        case ElementOp::ReflectedDivide:
            return named(closing_plan(other / self), other, " / ", [&] { return as_string(self); });
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
    Expected<ElementPlan> plan =
        named(closing_plan(UnitCollection::pow(base, p)), base, " ** ", [&] { return number_text(p); });
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

TOLVAT_LOOPS void apply_binary(ElementOp op, const ElementPlan& plan, Operand self, Operand other, double* out,
                               std::size_t n) noexcept {
    const Conversion& c = plan.closing;
    switch (op) {
        case ElementOp::Add: return sum_loop<1>(plan, self, other, out, n);
        case ElementOp::Subtract: return sum_loop<-1>(plan, self, other, out, n);
        case ElementOp::ReflectedSubtract: return sum_loop<0>(plan, self, other, out, n);
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

TOLVAT_LOOPS void apply_negate(const ElementPlan& plan, const double* self, double* out, std::size_t n) noexcept {
    with_closing(plan.closing, Operand{self, 1}, Operand{self, 1}, out, n, [](double s, double) { return -s; });
}

TOLVAT_LOOPS void apply_positive(const ElementPlan& plan, const double* self, double* out, std::size_t n) noexcept {
    with_closing(plan.closing, Operand{self, 1}, Operand{self, 1}, out, n, [](double s, double) { return s; });
}

TOLVAT_LOOPS void apply_absolute(const double* self, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::fabs(self[i]);
}

TOLVAT_LOOPS void apply_fixed_power(FixedPowerFn fn, const Conversion& closing, const double* in, double* out,
                                   std::size_t n) noexcept {
    const Operand x{in, 1};
    switch (fn) {
        case FixedPowerFn::Sqrt:
            with_closing(closing, x, x, out, n, [](double s, double) { return std::sqrt(s); });
            break;
        case FixedPowerFn::Square:
            with_closing(closing, x, x, out, n, [](double s, double) { return s * s; });
            break;
        case FixedPowerFn::Reciprocal:
            with_closing(closing, x, x, out, n, [](double s, double) { return 1.0 / s; });
            break;
    }
}

TOLVAT_LOOPS void apply_conversion(const Conversion& conversion, const double* in, double* out, std::size_t n) noexcept {
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

TOLVAT_LOOPS void apply_two_conversions(const Conversion& first, const Conversion& second, const double* in, double* out,
                           std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = second.apply(first.apply(in[i]));
}

namespace {

template <Closing kind, typename Compare>
[[gnu::always_inline]] inline void compare_steps(const Steps& c, Operand s, Operand o, bool* __restrict out, std::size_t n,
                                                 Compare cmp) noexcept {
    const double* a = s.values;
    const double* b = o.values;
    if (s.step == 1 && o.step == 1) {
        for (std::size_t i = 0; i < n; ++i) out[i] = cmp(a[i], close<kind>(c, b[i]));
    } else if (s.step == 1) {
        const double y = close<kind>(c, b[0]);
        for (std::size_t i = 0; i < n; ++i) out[i] = cmp(a[i], y);
    } else if (o.step == 1) {
        const double x = a[0];
        for (std::size_t i = 0; i < n; ++i) out[i] = cmp(x, close<kind>(c, b[i]));
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = cmp(a[0], close<kind>(c, b[0]));
    }
}

template <typename Compare>
[[gnu::always_inline]] inline void compare_loop(const Conversion& conversion, Operand s, Operand o, bool* out,
                                                std::size_t n, Compare cmp) noexcept {
    Steps c;
    switch (closing_kind(conversion, c)) {
        case Closing::Same: return compare_steps<Closing::Same>(c, s, o, out, n, cmp);
        case Closing::Divide: return compare_steps<Closing::Divide>(c, s, o, out, n, cmp);
        case Closing::Reciprocal: return compare_steps<Closing::Reciprocal>(c, s, o, out, n, cmp);
        case Closing::OffsetsDivide: return compare_steps<Closing::OffsetsDivide>(c, s, o, out, n, cmp);
        case Closing::OffsetsReciprocal: return compare_steps<Closing::OffsetsReciprocal>(c, s, o, out, n, cmp);
    }
}

}  // namespace

TOLVAT_LOOPS void apply_compare(int op, const Conversion& other_into_self, Operand self, Operand other, bool* out,
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

TOLVAT_LOOPS void apply_transcendental(Transcendental fn, const Conversion& into_plain, const double* in, double* out,
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

TOLVAT_LOOPS std::size_t apply_round_whole(const double* in, double* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = round_half_away_from_zero(in[i]);
    return 0;
}

TOLVAT_LOOPS std::size_t apply_round_decimals(std::int32_t decimals, const double* in, double* out, std::size_t n) noexcept {
    return round_loop(in, out, n, [decimals](double v) { return round_to_decimals(v, decimals); });
}

TOLVAT_LOOPS std::size_t apply_round_figures(std::int32_t figures, const double* in, double* out, std::size_t n) noexcept {
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
