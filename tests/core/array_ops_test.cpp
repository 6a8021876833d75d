#include "core/array_ops.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/quantity_arithmetic.hpp"
#include "core/render.hpp"
#include "core/display.hpp"
#include "core/number_text.hpp"
#include "core/rounding.hpp"

namespace tolvat {
namespace {

UnitCollection parse(std::string_view text) { return *UnitCollection::from_unit_name(text); }

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::vector<double> kValues = {0.0, -0.0, 1.0, -2.5, 36.0, 0.1, 1e300, -1e-300, 273.15, kInf, -kInf, kNaN, 5e-324};
const char* const kUnits[] = {"m", "km", "ft", "°C", "°F", "K", "km/hr", "m/s", "m.km", "m/km", "degree", "", "kWh", "J"};

// The quantity of one value in `unit`; "" is the dimensionless collection.
Quantity quantity(const char* unit, double v) {
    return Quantity{*unit ? parse(unit) : UnitCollection(), v};
}

// Every element of an operation over arrays equals, to the bit, the same operation on quantities
// of one value: the one-value path is the oracle. Both operands are tried as arrays and as one
// value used for every element.
TEST(ArrayOps, BinaryOperationsMatchTheOneValuePathBitForBit) {
    struct Case {
        ElementOp op;
        Expected<Quantity> (*one)(const Quantity&, const Quantity&);
    };
    const Case cases[] = {
        {ElementOp::Add, [](const Quantity& s, const Quantity& o) { return add(s, o); }},
        {ElementOp::Subtract, [](const Quantity& s, const Quantity& o) { return subtract(s, o); }},
        {ElementOp::ReflectedSubtract, [](const Quantity& s, const Quantity& o) { return reflected_subtract(s, o); }},
        {ElementOp::Multiply, [](const Quantity& s, const Quantity& o) { return multiply(s, o); }},
        {ElementOp::Divide, [](const Quantity& s, const Quantity& o) { return divide(s, o); }},
        {ElementOp::ReflectedDivide, [](const Quantity& s, const Quantity& o) { return divide(o, s); }},
    };
    const std::size_t n = kValues.size();
    std::vector<double> other(n);
    for (std::size_t i = 0; i < n; ++i) other[i] = kValues[n - 1 - i];
    std::vector<double> out(n);
    int checked = 0;
    for (const Case& c : cases) {
        for (const char* a : kUnits) {
            for (const char* b : kUnits) {
                const Expected<ElementPlan> plan = plan_binary(c.op, quantity(a, 1).unit, quantity(b, 1).unit);
                const Expected<Quantity> probe = c.one(quantity(a, 1.0), quantity(b, 1.0));
                ASSERT_EQ(plan.has_value(), probe.has_value()) << a << " " << b;
                if (!plan) {
                    EXPECT_EQ(plan.error().message(), probe.error().message());
                    continue;
                }
                EXPECT_EQ(as_string(plan->unit), as_string(probe->unit));
                for (std::size_t self_step : {0u, 1u}) {
                    for (std::size_t other_step : {0u, 1u}) {
                        apply_binary(c.op, *plan, Operand{kValues.data(), self_step}, Operand{other.data(), other_step},
                                     out.data(), n);
                        for (std::size_t i = 0; i < n; ++i) {
                            const double x = kValues[i * self_step], y = other[i * other_step];
                            const Expected<Quantity> one = c.one(quantity(a, x), quantity(b, y));
                            ASSERT_TRUE(one.has_value());
                            ASSERT_EQ(bits(out[i]), bits(one->value))
                                << static_cast<int>(c.op) << " " << a << " " << b << " " << x << " " << y;
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

TEST(ArrayOps, PowersUnaryConversionsAndComparisonsMatchTheOneValuePath) {
    const std::size_t n = kValues.size();
    std::vector<double> out(n);
    std::vector<bool> expected_flags;
    for (const char* a : kUnits) {
        const Quantity unit = quantity(a, 1.0);
        for (double p : {2.0, 0.5, -1.0, 3.0, kInf, kNaN}) {
            const Expected<ElementPlan> plan = plan_power(unit.unit, p);
            const Expected<Quantity> probe = power_by_number(unit, p);
            ASSERT_EQ(plan.has_value(), probe.has_value()) << a << " " << p;
            if (!plan) {
                EXPECT_EQ(plan.error().message(), probe.error().message());
                continue;
            }
            apply_binary(ElementOp::Power, *plan, Operand{kValues.data(), 1}, Operand{&p, 0}, out.data(), n);
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(bits(out[i]), bits(power_by_number(quantity(a, kValues[i]), p)->value)) << a << " " << p;
            }
        }
        const Expected<ElementPlan> closing = plan_closing(unit.unit);
        ASSERT_TRUE(closing.has_value());
        apply_negate(*closing, kValues.data(), out.data(), n);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(bits(out[i]), bits(negate(quantity(a, kValues[i]))->value));
        apply_positive(*closing, kValues.data(), out.data(), n);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(bits(out[i]), bits(positive(quantity(a, kValues[i]))->value));
        for (const char* b : kUnits) {
            const Expected<Conversion> conversion = conversion_between(unit.unit, quantity(b, 1).unit);
            if (!conversion) continue;
            apply_conversion(*conversion, kValues.data(), out.data(), n);
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(bits(out[i]), bits(converted_value(quantity(a, kValues[i]), quantity(b, 1).unit).value()));
            }
            bool flags[13];
            for (int op = 0; op < 6; ++op) {
                apply_compare(op, *conversion, Operand{kValues.data(), 1}, Operand{kValues.data() + 2, 0}, flags, n);
                const double y = converted_value(quantity(a, kValues[2]), quantity(b, 1).unit).value();
                for (std::size_t i = 0; i < n; ++i) {
                    const double x = kValues[i];
                    const bool want = op == 0 ? x < y : op == 1 ? x <= y : op == 2 ? x == y : op == 3 ? x != y : op == 4 ? x > y : x >= y;
                    ASSERT_EQ(flags[i], want);
                }
            }
        }
    }
}

TEST(ArrayOps, RoundingFlagsWhatTheFormulaCannotRound) {
    const std::vector<double> values = {2.5, -2.5, 0.49999999999999994, 1.005, 1234.0, 123456.0, 0.0012345, 1e308, kNaN};
    std::vector<double> out(values.size());
    EXPECT_EQ(apply_round_whole(values.data(), out.data(), values.size()), 0u);
    EXPECT_EQ(out[0], 3.0);
    EXPECT_EQ(out[1], -3.0);
    EXPECT_EQ(out[2], 0.0);
    EXPECT_EQ(apply_round_decimals(2, values.data(), out.data(), values.size()), 1u);  // 1e308 * 100
    EXPECT_EQ(out[3], 1.0);
    EXPECT_EQ(out[7], 1e308);  // left for the exact path
    EXPECT_EQ(apply_round_figures(2, values.data(), out.data(), values.size()), 0u);
    EXPECT_EQ(out[5], 120000.0);
    EXPECT_EQ(out[6], 0.0012);
}

TEST(ArrayOps, ValuesTextNestsAndSummarisesAsNumPyDoes) {
    auto text = [](std::vector<double> values, std::vector<std::ptrdiff_t> shape) {
        std::vector<std::ptrdiff_t> strides(shape.size());
        std::ptrdiff_t step = sizeof(double);
        for (std::size_t i = shape.size(); i-- > 0;) {
            strides[i] = step;
            step *= shape[i];
        }
        std::string out;
        append_values_text(out, ValueLayout{reinterpret_cast<const char*>(values.data()), static_cast<int>(shape.size()),
                                            shape.data(), strides.data()},
                           append_element_number_text, nullptr);
        return out;
    };
    EXPECT_EQ(text({1.5, -0.0, kNaN, kInf}, {4}), "[1.5 -0 NaN inf]");
    EXPECT_EQ(text({1, 2, 3, 4, 5, 6}, {2, 3}), "[[1 2 3]\n [4 5 6]]");
    EXPECT_EQ(text({7}, {}), "7");
    EXPECT_EQ(text({}, {0}), "[]");
    std::vector<double> many(1001);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<double>(i + 1);
    EXPECT_EQ(text(many, {1001}), "[1 2 3 ... 999 1000 1001]");
}

TEST(ArrayOps, DisplayConvertsAsTheTextOfOneValue) {
    for (const char* unit : kUnits) {
        for (UnitText form : {UnitText::Plain, UnitText::Latex, UnitText::Descriptive}) {
            const Expected<ArrayDisplay> display = array_display(quantity(unit, 1).unit, form);
            ASSERT_TRUE(display.has_value());
            for (double v : kValues) {
                Quantity one = quantity(unit, v);
                bool simple = false;
                TextBuffer expected;
                ASSERT_TRUE(quantity_text(expected, one, simple, form).has_value());
                std::string text;
                append_number_text(text, display->second.apply(display->first.apply(v)));
                text += form == UnitText::Latex ? "~" : " ";
                text += display->unit_text;
                EXPECT_EQ(text, expected.view()) << unit;
            }
        }
    }
    for (const char* text : {"N.m.kg/J", "m/km", "kg.m2/s2"}) {
        EXPECT_TRUE(array_display(parse(text), UnitText::Plain).has_value());
    }
}

}  // namespace
}  // namespace tolvat
