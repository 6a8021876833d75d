// Rewriting a unit collection into an equivalent one with fewer units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base_exponents.hpp"
#include "error.hpp"
#include "small_vector.hpp"
#include "unit_collection.hpp"

namespace tolvat {

// What simple_simplify would do with a collection: hand back this very collection (Keeps), hand
// back the same entries with their summaries recomputed (Resums: the same dimension, another
// multiplier; Drifts: a dimension that differs from the cached one), or merge some pair (Merges).
// The recomputed summaries are returned for all but Merges.
enum class CheapSimplification { Keeps, Resums, Drifts, Merges };
CheapSimplification classify_cheap_simplification(const UnitCollection& unit, double& multiplier,
                                                  BaseExponents& exponents) noexcept;
bool simple_simplify_keeps(const UnitCollection& unit) noexcept;

// Pairwise cancellation of units of equal dimension and opposite sign, or of inverse dimension
// and equal sign. Fails only with an Internal error when the dimension drifts.
Expected<UnitCollection> simple_simplify(const UnitCollection& collection);

// simple_simplify, then a bounded search over whole-number sub-products of the collection's own
// units for the smallest start that still has the collection's dimension. Fails only with
// Internal errors.
Expected<UnitCollection> simplify(const UnitCollection& collection);

// The search behind simplify, exposed for tests and measurements.
namespace simplify_detail {

// Whole-number powers, one per entry of the simplified collection, in its order.
using Powers = SmallVector<std::int32_t, 8>;

struct SearchProblem {
    SmallVector<BaseExponents, 8> exponents;  // each entry's dimension
    Powers powers;                            // each entry's full power
    Powers start;                             // the start mapping
    BaseExponents target{};
};

// True when target minus the sum of power times exponents, taken entry by entry in order, is
// exactly zero in all eight dimensions.
bool check_satisfies_base_units(const SearchProblem& problem, const std::int32_t* mapping) noexcept;

enum class SearchMode {
    Automatic,              // what simplify uses
    ExhaustiveSequential,   // the general search on the calling thread only
    ExhaustiveEager,        // the general search, handing every later sibling to a worker if one is free
};

enum class SearchStatus { Found, Nothing, TooLarge };

struct SearchResult {
    SearchStatus status = SearchStatus::Nothing;
    Powers mapping;  // set when Found
};

// Searches from problem.start towards problem.powers, one step of one entry at a time. The answer
// is the one the depth-first search in expansion order gives: the first satisfying child of a
// node, otherwise the answer of its earliest child that has one. TooLarge when the range is too
// big to search within the fixed bounds.
SearchResult search_mappings(const SearchProblem& problem, SearchMode mode = SearchMode::Automatic);

struct WorkerStats {
    std::size_t cap;      // most worker threads alive at once, process-wide
    std::size_t live;     // alive now
    std::size_t peak;     // most alive at once since the last reset
    std::size_t started;  // started since the last reset
};
WorkerStats worker_stats() noexcept;
void reset_worker_stats() noexcept;

}  // namespace simplify_detail
}  // namespace tolvat
