// Rounding of quantity values: half away from zero, to decimal places and to significant figures.
#pragma once

#include <cstdint>

namespace tolvat {

// The largest double below one half. Adding it (with the sign of x) and truncating rounds halves
// away from zero without pushing 0.49999999999999994 up to 1.
inline constexpr double kJustBelowHalf = 0.49999999999999994;

// x rounded to a whole number, ties away from zero; the sign of zero is kept, NaN and infinities
// come back unchanged.
double round_half_away_from_zero(double x) noexcept;

// 10 to the power k by squaring (for negative k the reciprocal of 10^|k|). Overflows to inf for
// k > 308 and so to 0 for k < -308.
double pow10_int(std::int32_t k) noexcept;

// Outcome of rounding a value to a number of decimal places. When the scaled formula leaves the
// finite range (|digits| of about 300 and more, or a value near the top of the double range)
// `needs_exact` is set: the caller must round the input exactly to `digits` decimal places
// (as Python's round(float, ndigits) does) instead of using `value`.
struct DecimalRounding {
    double value;
    bool needs_exact;
    std::int64_t digits;
};

// round(v, ndigits): (round_half_away_from_zero(v * s)) / s with s = 10^ndigits.
// Infinities and NaN come back unchanged.
DecimalRounding round_to_decimals(double v, std::int32_t ndigits) noexcept;

// v to n significant figures: with e = floor(log10|v|), the decimals are n - e - 1.
// Zero (either sign), infinities and NaN come back unchanged.
DecimalRounding round_to_significant_figures(double v, std::int32_t n) noexcept;

}  // namespace tolvat
