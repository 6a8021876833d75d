// Rewriting a unit collection into an equivalent one with fewer units.
#pragma once

#include "error.hpp"
#include "unit_collection.hpp"

namespace tolvat {

// Pairwise cancellation of units of equal dimension and opposite sign, or of inverse dimension
// and equal sign. Fails only with an Internal error when the dimension drifts.
Expected<UnitCollection> simple_simplify(const UnitCollection& collection);

// simple_simplify, then a bounded search over whole-number sub-products of the collection's own
// units for the smallest start that still has the collection's dimension. Fails only with
// Internal errors.
Expected<UnitCollection> simplify(const UnitCollection& collection);

}  // namespace tolvat
