// A logarithmic ratio quantity: an amount in a logarithmic unit, standing for base^value.
#pragma once

#include <cmath>

#include "log_catalogue.hpp"

namespace tolvat {

struct LogQuantity {
    LogUnit unit;
    double value;

    // The plain ratio the quantity stands for.
    double ratio() const noexcept { return std::pow(unit->base, value); }

    // The amount in `target` that stands for the same ratio: ln(ratio) / ln(target base). Taken
    // from the ratio rather than as value * ln(base) / ln(target base), which can differ in the
    // last bits.
    double value_in(LogUnit target) const noexcept { return std::log(ratio()) / std::log(target->base); }
};

// Sums and differences of logarithmic quantities multiply and divide their ratios; the result
// stays in the left operand's unit, the right operand being carried over into it first.
inline LogQuantity log_sum(const LogQuantity& x, const LogQuantity& y) noexcept {
    return {x.unit, y.value_in(x.unit) + x.value};
}
inline LogQuantity log_difference(const LogQuantity& x, const LogQuantity& y) noexcept {
    return {x.unit, x.value - y.value_in(x.unit)};
}

// Scaling by a plain number scales the amount (raises the ratio to that power).
inline LogQuantity log_scaled(const LogQuantity& x, double factor) noexcept { return {x.unit, factor * x.value}; }
inline LogQuantity log_divided(const LogQuantity& x, double divisor) noexcept { return {x.unit, x.value / divisor}; }

}  // namespace tolvat
