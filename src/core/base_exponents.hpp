// Dimension of a unit: eight real exponents over the base dimensions.
#pragma once

#include <array>
#include <cstddef>

// SSE2 where the target has it, unless the build asks for the portable loops (TOLVAT_PORTABLE),
// which the tests also run.
#if defined(__SSE2__) && !defined(TOLVAT_PORTABLE)
#define TOLVAT_SSE2_EXPONENTS 1
#include <emmintrin.h>
#endif

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
static_assert(kBaseDimensionCount == 8, "the comparisons below take the components two at a time");

// Exponents by name, for the tables: dimension({.kilogram = 1, .meter = 1, .second = -2}).
struct NamedExponents {
    double usd = 0.0;
    double ampere = 0.0;
    double candela = 0.0;
    double kelvin = 0.0;
    double kilogram = 0.0;
    double meter = 0.0;
    double mole = 0.0;
    double second = 0.0;
};
constexpr BaseExponents dimension(const NamedExponents& e) noexcept {
    BaseExponents out{};
    out[kUsd] = e.usd;
    out[kAmpere] = e.ampere;
    out[kCandela] = e.candela;
    out[kKelvin] = e.kelvin;
    out[kKilogram] = e.kilogram;
    out[kMeter] = e.meter;
    out[kMole] = e.mole;
    out[kSecond] = e.second;
    return out;
}

// Exact component-wise equality; a NaN component never matches.
inline bool exponents_equal(const BaseExponents& a, const BaseExponents& b) noexcept {
#if defined(TOLVAT_SSE2_EXPONENTS)
    // Two components per comparison, with the same IEEE rules as ==, and no branch per component.
    __m128d all = _mm_cmpeq_pd(_mm_loadu_pd(&a[0]), _mm_loadu_pd(&b[0]));
    all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_loadu_pd(&a[2]), _mm_loadu_pd(&b[2])));
    all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_loadu_pd(&a[4]), _mm_loadu_pd(&b[4])));
    all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_loadu_pd(&a[6]), _mm_loadu_pd(&b[6])));
    return _mm_movemask_pd(all) == 3;
#else
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(a[i] == b[i])) return false;
    }
    return true;
#endif
}

// Exact component-wise equality, and every component finite (neither infinite nor NaN).
inline bool exponents_equal_and_finite(const BaseExponents& a, const BaseExponents& b) noexcept {
#if defined(TOLVAT_SSE2_EXPONENTS)
    // x × 0 is ±0 for a finite x and NaN otherwise, and ±0 == 0: one mask for both tests.
    const __m128d zero = _mm_setzero_pd();
    __m128d all = _mm_cmpeq_pd(zero, zero);
    for (std::size_t i = 0; i < kBaseDimensionCount; i += 2) {
        const __m128d x = _mm_loadu_pd(&a[i]);
        all = _mm_and_pd(all, _mm_cmpeq_pd(x, _mm_loadu_pd(&b[i])));
        all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_mul_pd(x, zero), zero));
    }
    return _mm_movemask_pd(all) == 3;
#else
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(a[i] == b[i] && a[i] * 0.0 == 0.0)) return false;
    }
    return true;
#endif
}
inline bool exponents_finite(const BaseExponents& a) noexcept { return exponents_equal_and_finite(a, a); }

// Each component of one is the negation of the same component of the other.
inline bool exponents_inverse(const BaseExponents& a, const BaseExponents& b) noexcept {
#if defined(TOLVAT_SSE2_EXPONENTS)
    // 0 - b is -b exactly (up to the sign of a zero, which == ignores), NaN stays NaN.
    const __m128d zero = _mm_setzero_pd();
    __m128d all = _mm_cmpeq_pd(_mm_loadu_pd(&a[0]), _mm_sub_pd(zero, _mm_loadu_pd(&b[0])));
    all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_loadu_pd(&a[2]), _mm_sub_pd(zero, _mm_loadu_pd(&b[2]))));
    all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_loadu_pd(&a[4]), _mm_sub_pd(zero, _mm_loadu_pd(&b[4]))));
    all = _mm_and_pd(all, _mm_cmpeq_pd(_mm_loadu_pd(&a[6]), _mm_sub_pd(zero, _mm_loadu_pd(&b[6]))));
    return _mm_movemask_pd(all) == 3;
#else
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(a[i] == -b[i])) return false;
    }
    return true;
#endif
}

}  // namespace tolvat
