// Dimension of a unit: eight real exponents over the base dimensions.
#pragma once

#include <array>
#include <cstddef>

namespace tolvat {

// Order of the base dimensions, used everywhere exponents are indexed.
enum BaseDimension : std::size_t {
    kUsd = 0,
    kAmpere,
    kCandela,
    kKelvin,
    kKilogram,
    kMeter,
    kMole,
    kSecond,
    kBaseDimensionCount
};

using BaseExponents = std::array<double, kBaseDimensionCount>;

// Exact component-wise equality; a NaN component never matches.
inline bool exponents_equal(const BaseExponents& a, const BaseExponents& b) noexcept {
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(a[i] == b[i])) return false;
    }
    return true;
}

// Each component of one is the negation of the same component of the other.
inline bool exponents_inverse(const BaseExponents& a, const BaseExponents& b) noexcept {
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(a[i] == -b[i])) return false;
    }
    return true;
}

}  // namespace tolvat
