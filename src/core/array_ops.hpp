// Quantities over many values at once: the unit work of an operation done once (a plan), and
// fused loops over plain spans of doubles that apply, to every element, exactly the floating-point
// steps that the operation on one value takes, in the same order. Each element of a result is
// therefore bit for bit what the same operation on a quantity of that one value gives.
//
// The loops are compiled without contraction of a multiply and an add into one fused step (see
// CMakeLists.txt), which would round once where the one-value path rounds twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "error.hpp"
#include "quantity.hpp"
#include "render.hpp"

namespace tolvat {

enum class ElementOp : unsigned char {
    Add,                // self + other, in self's units
    Subtract,           // self - other
    ReflectedSubtract,  // other - self, in self's units
    Multiply,           // self * other
    Divide,             // self / other
    ReflectedDivide,    // other / self
    Power,              // self ** exponent (other: the exponent's values)
    ReflectedPower,     // other ** self (self: the exponent's values)
};

// The unit work of a two-operand operation on quantities in `self` and `other` units.
struct ElementPlan {
    UnitCollection unit;  // the result's units
    // What each raw result value goes through (the closing step of the one-value path).
    Conversion closing;
    // Add and subtract: the other operand counted in self's units, v × m(other) then ÷ m(self).
    double other_multiplier = 1.0;
    double self_multiplier = 1.0;
    // Power by one exponent for every element: the exponent, and the multiplier a base is
    // taken with first when the exponent is not finite (1.0 otherwise).
    double exponent = 1.0;
    double base_multiplier = 1.0;
    bool exponent_finite = true;
    // Power with an exponent per element: each exponent value is converted into plain numbers
    // with this conversion first (the exponent's units must be dimensionless, and the base's
    // units empty, so that every element's result has the same units).
    bool exponent_per_element = false;
    Conversion exponent_conversion;
};

// The plan of `op` for quantities in `self` and `other` units: the errors are the one-value
// path's, with the same texts. Not for the two power operations.
Expected<ElementPlan> plan_binary(ElementOp op, const UnitCollection& self, const UnitCollection& other);
// self ** p with one plain exponent p for every element.
Expected<ElementPlan> plan_power(const UnitCollection& base, double p);
// base ** exponent with an exponent value per element. The caller makes sure that the base's
// units are empty (any other units would be raised to a different power in each element); the
// exponent's must be dimensionless (IncompatibleUnits naming them and "[]" otherwise).
Expected<ElementPlan> plan_power_per_element(const UnitCollection& base, const UnitCollection& exponent);
// The closing step alone, for unary minus and plus: the result's units and the conversion.
Expected<ElementPlan> plan_closing(const UnitCollection& self);

// The number of values in a span, and the step between the values of one operand: 1 for an
// array, 0 for one value used for every element.
struct Operand {
    const double* values;
    std::size_t step;  // 0 or 1
};

// out[i] = the operation's result for self[i] and other[i]. For the two power operations `self`
// is the base and `other` the exponent.
void apply_binary(ElementOp op, const ElementPlan& plan, Operand self, Operand other, double* out,
                  std::size_t n) noexcept;
// out[i] = the closing step of -self[i] (negate) or of self[i] (positive).
void apply_negate(const ElementPlan& plan, const double* self, double* out, std::size_t n) noexcept;
void apply_positive(const ElementPlan& plan, const double* self, double* out, std::size_t n) noexcept;
// out[i] = |self[i]| (the sign bit cleared).
void apply_absolute(const double* self, double* out, std::size_t n) noexcept;
// out[i] = the closing conversion of sqrt(in[i]), in[i] * in[i] or 1 / in[i]: single IEEE
// operations, so each element is what NumPy's ufunc of the same name gives, then closed as the
// one-value path closes.
enum class FixedPowerFn : unsigned char { Sqrt, Square, Reciprocal };
void apply_fixed_power(FixedPowerFn fn, const Conversion& closing, const double* in, double* out,
                       std::size_t n) noexcept;
// out[i] = conversion of in[i], then ÷ divisor (as_number divides by 1.0 when not scaling).
void apply_conversion(const Conversion& conversion, const double* in, double* out, std::size_t n) noexcept;
void apply_conversion_divided(const Conversion& conversion, double divisor, const double* in, double* out,
                              std::size_t n) noexcept;
// Two conversions one after the other, as printing does (simple, then full simplification).
void apply_two_conversions(const Conversion& first, const Conversion& second, const double* in, double* out,
                           std::size_t n) noexcept;

// out[i] = self[i] <op> (other[i] converted into self's units), op a comparison code 0 to 5:
// <, <=, ==, !=, >, >= (IEEE: NaN compares unequal to everything).
void apply_compare(int op, const Conversion& other_into_self, Operand self, Operand other, bool* out,
                   std::size_t n) noexcept;

// exp, log or log10 of each value counted as a plain number (× the multiplier).
enum class Transcendental : unsigned char { Exp, Log, Log10 };
void apply_transcendental(Transcendental fn, const Conversion& into_plain, const double* in, double* out,
                          std::size_t n) noexcept;

// Rounding half away from zero of each value: to whole numbers (`decimals` absent), to
// `decimals` places, or to `figures` significant figures. Returns how many elements the scaled
// formula could not round (their out[i] is left as the input); the caller rounds those exactly.
std::size_t apply_round_whole(const double* in, double* out, std::size_t n) noexcept;
std::size_t apply_round_decimals(std::int32_t decimals, const double* in, double* out, std::size_t n) noexcept;
std::size_t apply_round_figures(std::int32_t figures, const double* in, double* out, std::size_t n) noexcept;

// What the text forms of a quantity over many values show: the units text of `form`, and the
// conversions each value goes through (the simple simplification, then for the plain form the
// full one), as the text of a quantity of one value would.
struct ArrayDisplay {
    std::string unit_text;
    Conversion first;
    Conversion second;
};
Expected<ArrayDisplay> array_display(const UnitCollection& unit, UnitText form);

// The layout of values to print: n-dimensional, strides in bytes.
struct ValueLayout {
    const char* data;
    int ndim;
    const std::ptrdiff_t* shape;
    const std::ptrdiff_t* strides;
};
// The values in nested brackets as NumPy prints them, one space between elements and a new line
// (indented by the depth) between rows; more than 1,000 values are summarised with the first and
// last three along each axis around "...". Each value is written by `element(out, value)`, which
// returns false to stop (the whole call then returns false).
using ElementWriter = bool (*)(std::string& out, double value, void* context);
bool append_values_text(std::string& out, const ValueLayout& layout, ElementWriter element, void* context);
// The number text of a value (the ElementWriter of the plain texts).
bool append_element_number_text(std::string& out, double value, void* context);

}  // namespace tolvat
