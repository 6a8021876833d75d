// Rewriting a unit collection into an equivalent one with fewer units.
#pragma once

#include "error.hpp"
#include "unit_collection.hpp"

namespace tolvat {

// simple_simplify, then a bounded search over whole-number sub-products of the collection's own
// units for the smallest start that still has the collection's dimension. Fails only with
// Internal errors.
Expected<UnitCollection> simplify(const UnitCollection& collection);

}  // namespace tolvat
