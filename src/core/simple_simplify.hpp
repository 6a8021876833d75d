// The simple simplification: pairwise cancellation of units, which every quantity result goes
// through, so it is on the hot path.
#pragma once

#include "base_exponents.hpp"
#include "error.hpp"
#include "unit_collection.hpp"

namespace tolvat {

// What simple_simplify would do with a collection: hand back this very collection (Keeps), hand
// back the same entries with their summaries recomputed (Resums: the same dimension, another
// multiplier; Drifts: a dimension that differs from the cached one or is not finite), or merge
// some pair (Merges).
// The recomputed summaries are returned for all but Merges.
enum class SimpleSimplifyKind { Keeps, Resums, Drifts, Merges };
SimpleSimplifyKind simple_simplify_kind(const UnitCollection& unit, double& multiplier,
                                        BaseExponents& exponents) noexcept;
// True when simple_simplify would hand back this very collection.
bool simple_simplify_keeps(const UnitCollection& unit) noexcept;

// Pairwise cancellation of units of equal dimension and opposite sign, or of inverse dimension
// and equal sign. Fails with PowerOverflow when a power or the dimension is not finite, and with
// an Internal error when the dimension drifts.
Expected<UnitCollection> simple_simplify(const UnitCollection& collection);

}  // namespace tolvat
