// The unit rule of each elementwise function of NumPy that quantities support (its ufuncs, by
// name), and the units work of one call: which conversion each operand's values go through
// before the function runs, the units of the result, and the conversion of the function's
// result into them. The numbers themselves are the array library's business; applying the
// conversions of a plan to a single value gives, bit for bit, what the same operation on a
// float-valued quantity gives.
#pragma once

#include <span>
#include <string_view>

#include "error.hpp"
#include "quantity.hpp"
#include "unit_collection.hpp"

namespace tolvat {

enum class UfuncRule : unsigned char {
    // add, subtract: the other operand is rescaled into the first quantity's units by the ratio
    // of multipliers only (a difference: offsets play no part), as + and - do; closing step.
    Rescale,
    // maximum, minimum, hypot, copysign: the other operand is converted into the first
    // quantity's units as as_unit does (offsets between single units); the units stay as they are.
    Convert,
    // less, less_equal, equal, not_equal, greater, greater_equal: converted as for Convert, as the
    // comparison operators do; a plain (boolean) result.
    Compare,
    // multiply and matmul, divide: the unit algebra, then the closing step.
    Multiply,
    Divide,
    // power: the exponent is dimensionless and counts by its scale, as ** does.
    Power,
    // sqrt, cbrt, square, reciprocal: the units raised to the function's fixed power.
    FixedPower,
    // negative, positive: the same units, then the closing step, as unary - and + do.
    Closing,
    // absolute, fabs: the same units, untouched, as abs() does.
    Keep,
    // rint, floor, ceil, trunc: the value is first brought into the simply simplified units, as
    // round() does, and rounded there.
    Round,
    // isnan, isinf, isfinite, signbit: a plain result of the values as they are.
    Plain,
    // sin, cos, tan, exp, log, log2, log10, expm1, log1p: a dimensionless operand, counted by its
    // scale (an angle in degrees becomes radians); a plain result, as exp() and log() give.
    Dimensionless,
    // arcsin, arccos, arctan: a dimensionless operand as above; the result in radians.
    ToAngle,
    // arctan2: the second operand converted into the first's units as for Convert; radians.
    Arctan2,
};

struct UfuncInfo {
    std::string_view name;
    UfuncRule rule;
    unsigned char inputs;  // 1 or 2
    double power;          // the power of FixedPower
};

// The rule of the ufunc with this __name__, or nullptr for one that quantities do not support.
const UfuncInfo* find_ufunc(std::string_view name) noexcept;
// Every rule, in a fixed order (find_ufunc returns pointers into it).
std::span<const UfuncInfo> ufunc_table() noexcept;

// The units work of one call. Operands are given by their unit collections, nullptr for a plain
// number or array, which counts as a dimensionless number without units (as a float operand
// does). The first operand that is a quantity sets the units for Rescale, Convert, Compare and
// Arctan2.
struct UfuncPlan {
    Conversion inputs[2];  // applied to each operand's values before the function
    bool plain_result = false;
    UnitCollection units;  // of the result, unless plain_result
    Conversion output;     // applied to the function's result: the closing step
    double exponent = 1.0; // Power with one exponent: the number to raise to, in no units
};

// `exponent` is the exponent of Power in its own units when it is one number, nullptr when it is
// an array (which is refused for a base with units: they would differ per element).
Expected<UfuncPlan> plan_ufunc(const UfuncInfo& info, const UnitCollection* first, const UnitCollection* second,
                               const double* exponent = nullptr);

// A reduction along an axis (reduce, accumulate, reduceat) of add, maximum or minimum keeps the
// units as they are, as sum, min and max do. Other ufuncs have no reduction over quantities (the
// units of a product would depend on the number of elements).
bool ufunc_reduces(const UfuncInfo& info) noexcept;
UfuncPlan plan_reduction(const UnitCollection& units);

// The closing step of an operation's result, planned: the units simple_simplify makes of
// `units`, and the conversion of a value into them. Exactly what simple_simplify of a quantity in
// `units` does to its value.
struct ClosingPlan {
    UnitCollection units;
    Conversion conversion;
};
Expected<ClosingPlan> plan_closing_step(UnitCollection units);

}  // namespace tolvat
