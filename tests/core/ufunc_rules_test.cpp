// The plans of the elementwise functions against the float path: for every rule and a spread of
// operand units (offsets, angles, dimensionless, unsimplified products, incompatible dimensions,
// plain numbers), applying a plan's conversions around the function gives the float path's
// units, value bits and errors.
#include "core/ufunc_rules.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/quantity_arithmetic.hpp"
#include "core/render.hpp"

namespace tolvat {
namespace {

// nullptr stands for a plain number; "" for the empty collection of a dimensionless quantity.
const std::vector<const char*> kUnits = {nullptr, "", "m", "km", "ft", "°C", "K", "°F", "degree", "rad",
                                         "m/s", "km/hr", "in/min", "m2", "J", "N.m", "m.km", "s", "m/km"};
const std::vector<double> kValues = {0.0, -0.0, 1.5, -2.25, 12345.678, 3.7e-5, 1e300, INFINITY, NAN};

std::optional<UnitCollection> collection(const char* text) {
    if (text == nullptr) return std::nullopt;
    if (*text == '\0') return UnitCollection();
    return *UnitCollection::from_unit_name(text);
}

Quantity quantity(const std::optional<UnitCollection>& units, double v) { return Quantity{units.value_or(UnitCollection()), v}; }

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The units of a result must be the float path's to the last bit of their summaries.
void expect_same_units(const UnitCollection& got, const UnitCollection& want, const std::string& where) {
    EXPECT_TRUE(got.same_entries(want)) << where << ": " << as_string(got) << " vs " << as_string(want);
    EXPECT_EQ(bits(got.multiplier()), bits(want.multiplier())) << where;
    for (std::size_t k = 0; k < kBaseDimensionCount; ++k) EXPECT_EQ(got.exponents()[k], want.exponents()[k]) << where;
}

std::string describe(const char* name, const char* a, const char* b, double x, double y) {
    auto text = [](const char* u) { return u == nullptr ? std::string("plain") : "[" + std::string(u) + "]"; };
    return std::string(name) + "(" + std::to_string(x) + " " + text(a) + ", " + std::to_string(y) + " " + text(b) + ")";
}

// Whether the plan and the float path both give a result. When either fails, both must, with
// the same message.
template <typename T>
bool both_succeed(const Expected<UfuncPlan>& plan, const Expected<T>& want, const std::string& where) {
    EXPECT_EQ(plan.has_value(), want.has_value()) << where;
    if (!plan && !want) EXPECT_EQ(plan.error().message(), want.error().message()) << where;
    return plan && want;
}

const UfuncInfo& ufunc(const char* name) {
    const UfuncInfo* info = find_ufunc(name);
    EXPECT_NE(info, nullptr) << name;
    return *info;
}

// A two-operand function whose float-path twin is an operator: the plan's value and units are
// the operator's. `oracle` gets the operands in the order of the call with a plain number as a
// dimensionless quantity, and the flag saying which one is the plain one.
struct BinaryCase {
    const char* name;
    std::function<double(double, double)> function;
    std::function<Expected<Quantity>(const Quantity&, const Quantity&, bool first_plain)> oracle;
};

TEST(UfuncRules, BinaryArithmeticFollowsTheOperators) {
    const std::vector<BinaryCase> cases = {
        {"add", [](double x, double y) { return x + y; },
         [](const Quantity& a, const Quantity& b, bool first_plain) { return first_plain ? add(b, a) : add(a, b); }},
        {"subtract", [](double x, double y) { return x - y; },
         [](const Quantity& a, const Quantity& b, bool first_plain) {
             return first_plain ? reflected_subtract(b, a) : subtract(a, b);
         }},
        {"multiply", [](double x, double y) { return x * y; },
         [](const Quantity& a, const Quantity& b, bool first_plain) { return first_plain ? multiply(b, a) : multiply(a, b); }},
        {"divide", [](double x, double y) { return x / y; },
         [](const Quantity& a, const Quantity& b, bool) { return divide(a, b); }},
    };
    for (const BinaryCase& c : cases) {
        for (const char* ua : kUnits) {
            for (const char* ub : kUnits) {
                if (ua == nullptr && ub == nullptr) continue;
                const std::optional<UnitCollection> a = collection(ua), b = collection(ub);
                const Expected<UfuncPlan> plan = plan_ufunc(ufunc(c.name), a ? &*a : nullptr, b ? &*b : nullptr);
                for (double x : kValues) {
                    for (double y : {2.5, -0.0, 1e-300}) {
                        const std::string where = describe(c.name, ua, ub, x, y);
                        const Expected<Quantity> want = c.oracle(quantity(a, x), quantity(b, y), ua == nullptr);
                        if (!both_succeed(plan, want, where)) continue;
                        ASSERT_FALSE(plan->plain_result) << where;
                        const double got = plan->output.apply(c.function(plan->inputs[0].apply(x), plan->inputs[1].apply(y)));
                        EXPECT_EQ(bits(got), bits(want->value)) << where;
                        expect_same_units(plan->units, want->unit, where);
                    }
                }
            }
        }
    }
}

TEST(UfuncRules, ComparisonsConvertIntoTheFirstQuantitysUnits) {
    // x < y for every operator, as the comparison slot decides it: the other operand converted
    // into the units of the quantity the slot runs on, a reflected operator when that is the
    // second one.
    const char* names[] = {"less", "less_equal", "equal", "not_equal", "greater", "greater_equal"};
    const std::function<bool(double, double)> ops[] = {
        std::less<double>(), std::less_equal<double>(), std::equal_to<double>(),
        std::not_equal_to<double>(), std::greater<double>(), std::greater_equal<double>()};
    const int reflected[] = {4, 5, 2, 3, 0, 1};
    for (int op = 0; op < 6; ++op) {
        for (const char* ua : kUnits) {
            for (const char* ub : kUnits) {
                if (ua == nullptr && ub == nullptr) continue;
                const std::optional<UnitCollection> a = collection(ua), b = collection(ub);
                const Expected<UfuncPlan> plan = plan_ufunc(ufunc(names[op]), a ? &*a : nullptr, b ? &*b : nullptr);
                const bool swap = ua == nullptr;
                for (double x : kValues) {
                    const double y = 12345.678;
                    const Quantity self = swap ? quantity(b, y) : quantity(a, x);
                    const Quantity other = swap ? quantity(a, x) : quantity(b, y);
                    const Expected<double> converted = converted_value(other, self.unit);
                    const std::string where = describe(names[op], ua, ub, x, y);
                    if (!both_succeed(plan, converted, where)) continue;
                    ASSERT_TRUE(plan->plain_result) << where;
                    const bool want = ops[swap ? reflected[op] : op](self.value, *converted);
                    EXPECT_EQ(ops[op](plan->inputs[0].apply(x), plan->inputs[1].apply(y)), want) << where;
                }
            }
        }
    }
}

TEST(UfuncRules, OneOperandFunctionsFollowTheFloatPath) {
    struct UnaryCase {
        const char* name;
        std::function<double(double)> function;
        // The float path's result; a plain number when its units are absent.
        std::function<Expected<Quantity>(const Quantity&)> oracle;
        bool plain;
    };
    auto to_number = [](const Quantity& q) -> Expected<Quantity> {
        Expected<double> v = unitless_value(q);
        if (!v) return std::move(v).error();
        return Quantity{UnitCollection(), *v};
    };
    auto rounded = [](double (*f)(double)) {
        return [f](const Quantity& q) -> Expected<Quantity> {
            Quantity copy = q;  // round() simplifies in place first, then rounds there
            Expected<bool> simplified = simple_simplify_in_place(copy);
            if (!simplified) return std::move(simplified).error();
            return Quantity{copy.unit, f(copy.value)};
        };
    };
    // The float path of a function of a plain number: the quantity's value as a plain number, then f.
    auto of_number = [&to_number](double (*f)(double)) {
        return [&to_number, f](const Quantity& q) -> Expected<Quantity> {
            Expected<Quantity> n = to_number(q);
            if (n) n->value = f(n->value);
            return n;
        };
    };
    double (*const exp_of)(double) = [](double x) { return std::exp(x); };
    double (*const sin_of)(double) = [](double x) { return std::sin(x); };
    const std::vector<UnaryCase> cases = {
        {"negative", [](double x) { return -x; }, negate, false},
        {"positive", [](double x) { return x; }, positive, false},
        {"absolute", [](double x) { return std::fabs(x); }, absolute, false},
        {"square", [](double x) { return std::pow(x, 2.0); }, [](const Quantity& q) { return power_by_number(q, 2.0); }, false},
        {"sqrt", [](double x) { return std::pow(x, 0.5); }, [](const Quantity& q) { return power_by_number(q, 0.5); }, false},
        {"cbrt", [](double x) { return std::pow(x, 1.0 / 3.0); },
         [](const Quantity& q) { return power_by_number(q, 1.0 / 3.0); }, false},
        {"reciprocal", [](double x) { return std::pow(x, -1.0); },
         [](const Quantity& q) { return power_by_number(q, -1.0); }, false},
        {"floor", [](double x) { return std::floor(x); }, rounded(std::floor), false},
        {"trunc", [](double x) { return std::trunc(x); }, rounded(std::trunc), false},
        {"isnan", [](double x) { return static_cast<double>(std::isnan(x)); },
         [](const Quantity& q) -> Expected<Quantity> { return Quantity{UnitCollection(), static_cast<double>(std::isnan(q.value))}; }, true},
        {"exp", exp_of, of_number(exp_of), true},
        {"sin", sin_of, of_number(sin_of), true},
        {"arctan", [](double x) { return std::atan(x); },
         [&](const Quantity& q) -> Expected<Quantity> {
             Expected<Quantity> n = to_number(q);
             if (n) *n = Quantity{*UnitCollection::from_unit_name("rad"), std::atan(n->value)};
             return n;
         }, false},
    };
    for (const UnaryCase& c : cases) {
        for (const char* ua : kUnits) {
            if (ua == nullptr) continue;
            const UnitCollection a = *collection(ua);
            const Expected<UfuncPlan> plan = plan_ufunc(ufunc(c.name), &a, nullptr);
            for (double x : kValues) {
                const std::string where = describe(c.name, ua, nullptr, x, 0.0);
                const Expected<Quantity> want = c.oracle(Quantity{a, x});
                if (!both_succeed(plan, want, where)) continue;
                EXPECT_EQ(plan->plain_result, c.plain) << where;
                const double got = plan->output.apply(c.function(plan->inputs[0].apply(x)));
                EXPECT_EQ(bits(got), bits(want->value)) << where;
                if (!c.plain) expect_same_units(plan->units, want->unit, where);
            }
        }
    }
}

TEST(UfuncRules, PowerTakesOneDimensionlessExponentCountedByItsScale) {
    const std::vector<double> exponents = {2.0, 0.5, -1.0, 0.0, 3.0, 1e308, INFINITY, NAN};
    for (const char* ua : kUnits) {
        for (const char* ue : {static_cast<const char*>(nullptr), "", "degree", "m", "m/km"}) {
            if (ua == nullptr && ue == nullptr) continue;
            const std::optional<UnitCollection> a = collection(ua), e = collection(ue);
            for (double p : exponents) {
                const Expected<UfuncPlan> plan = plan_ufunc(ufunc("power"), a ? &*a : nullptr, e ? &*e : nullptr, &p);
                const Expected<Quantity> want = power(quantity(a, 1.0), quantity(e, p));
                const std::string where = describe("power", ua, ue, 1.0, p);
                if (!both_succeed(plan, want, where)) continue;
                for (double x : kValues) {
                    const Expected<Quantity> value = power(quantity(a, x), quantity(e, p));
                    const double got = plan->output.apply(std::pow(plan->inputs[0].apply(x), plan->exponent));
                    EXPECT_EQ(bits(got), bits(value->value)) << where << " at " << x;
                }
                expect_same_units(plan->units, want->unit, where);
            }
            // An array of exponents: fine for a base without units, refused for any other.
            const Expected<UfuncPlan> per_element = plan_ufunc(ufunc("power"), a ? &*a : nullptr, e ? &*e : nullptr);
            const bool dimensionless_exponent = !e || exponents_equal(e->exponents(), UnitCollection().exponents());
            EXPECT_EQ(per_element.has_value(), (!a || a->empty()) && dimensionless_exponent) << ua << " ** " << ue;
            if (!per_element && dimensionless_exponent) {
                EXPECT_EQ(per_element.error().kind, ErrorKind::ArrayExponent);
                EXPECT_NE(per_element.error().message().find(as_string(*a)), std::string::npos);
            }
        }
    }
}

TEST(UfuncRules, ConvertingFunctionsUseTheConversionOfAsUnit) {
    for (const char* name : {"maximum", "hypot", "arctan2"}) {
        for (const char* ua : kUnits) {
            for (const char* ub : kUnits) {
                if (ua == nullptr && ub == nullptr) continue;
                const std::optional<UnitCollection> a = collection(ua), b = collection(ub);
                const bool swap = ua == nullptr;
                const UnitCollection& lead = swap ? *b : *a;
                const Expected<UfuncPlan> plan = plan_ufunc(ufunc(name), a ? &*a : nullptr, b ? &*b : nullptr);
                const Expected<double> want = converted_value(swap ? quantity(a, 7.25) : quantity(b, 7.25), lead);
                if (!both_succeed(plan, want, describe(name, ua, ub, 7.25, 7.25))) continue;
                EXPECT_EQ(bits(plan->inputs[swap ? 0 : 1].apply(7.25)), bits(*want)) << name;
                EXPECT_EQ(plan->inputs[swap ? 1 : 0].kind, Conversion::Kind::Same);
                expect_same_units(plan->units, std::string(name) == "arctan2" ? *UnitCollection::from_unit_name("rad") : lead,
                                  name);
            }
        }
    }
}

TEST(UfuncRules, ReductionsAndUnknownNames) {
    EXPECT_EQ(find_ufunc("bitwise_and"), nullptr);
    EXPECT_EQ(find_ufunc(""), nullptr);
    EXPECT_TRUE(ufunc_reduces(ufunc("add")));
    EXPECT_TRUE(ufunc_reduces(ufunc("maximum")));
    EXPECT_FALSE(ufunc_reduces(ufunc("multiply")));
    EXPECT_FALSE(ufunc_reduces(ufunc("subtract")));
    const UnitCollection mkm = *UnitCollection::from_unit_name("m.km");
    EXPECT_TRUE(plan_reduction(mkm).units.same_entries(mkm));
}

}  // namespace
}  // namespace tolvat
