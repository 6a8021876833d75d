#include "rounding.hpp"

#include <cmath>
#include <limits>

namespace tolvat {
namespace {

// floor(log10(|v|)) as a 32-bit integer, saturating; NaN gives 0.
std::int32_t decimal_exponent(double v) noexcept {
    const double e = std::floor(std::log10(std::fabs(v)));
    if (std::isnan(e)) return 0;
    if (e <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (e >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(e);
}

// (round(v * s)) / s for a finite v, flagged for the exact path when it is no longer finite.
DecimalRounding scaled_round(double v, std::int32_t k, std::int64_t digits) noexcept {
    const double s = pow10_int(k);
    const double rounded = round_half_away_from_zero(v * s) / s;
    if (!std::isfinite(rounded)) return {v, true, digits};
    return {rounded, false, digits};
}

}  // namespace

double round_half_away_from_zero(double x) noexcept { return std::trunc(x + std::copysign(kJustBelowHalf, x)); }

double pow10_int(std::int32_t k) noexcept {
    // The magnitude as unsigned, so that k = INT32_MIN is fine.
    std::uint32_t m = k < 0 ? 0u - static_cast<std::uint32_t>(k) : static_cast<std::uint32_t>(k);
    double result = 1.0;
    double base = 10.0;
    while (m != 0) {
        if (m & 1u) result *= base;
        base *= base;
        m >>= 1;
    }
    return k < 0 ? 1.0 / result : result;
}

DecimalRounding round_to_decimals(double v, std::int32_t ndigits) noexcept {
    if (!std::isfinite(v)) return {v, false, ndigits};
    return scaled_round(v, ndigits, ndigits);
}

DecimalRounding round_to_significant_figures(double v, std::int32_t n) noexcept {
    if (v == 0.0 || !std::isfinite(v)) return {v, false, 0};
    const std::int32_t e = decimal_exponent(v);
    // The scale exponent wraps in 32 bits; the exact path gets the true number of decimals.
    const auto k = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) - static_cast<std::uint32_t>(e) - 1u);
    const std::int64_t digits = static_cast<std::int64_t>(n) - e - 1;
    return scaled_round(v, k, digits);
}

}  // namespace tolvat
