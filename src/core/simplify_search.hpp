// The bounded search behind simplify: which whole-number powers of the collection's own units,
// reached from a start by single steps towards the full powers, still give the collection's
// dimension. This header holds what the plan, the walk and the threaded general search share;
// tests and measurements use it directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base_exponents.hpp"
#include "small_vector.hpp"

namespace tolvat::simplify_detail {

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
inline bool check_satisfies_base_units(const SearchProblem& problem, const std::int32_t* mapping) noexcept {
    const BaseExponents* exponents = problem.exponents.data();
    const std::size_t n = problem.powers.size();
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        double rem = problem.target[d];
        for (std::size_t k = 0; k < n; ++k) rem -= double(mapping[k]) * exponents[k][d];
        if (rem != 0.0) return false;
    }
    return true;
}

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

// What is fixed for one search: which entries move, in which direction, and how mappings are
// numbered for the record of mappings already searched.
struct Plan {
    SmallVector<std::uint32_t, 8> movable;  // entries that yield children, in entry order
    SmallVector<std::uint64_t, 8> stride;   // per entry (0 for fixed ones), for numbering mappings
    std::uint64_t range = 1;                // mappings between start and full powers
    std::uint64_t depth = 0;                // steps from start to full powers
    std::uint64_t check_cost = 1;           // relative cost of one dimension test
    bool exact = false;                     // all sums are exact integers: test children incrementally
    bool full_reachable = true;             // every entry either moves or starts at its full power
};

// The general search: depth-first in expansion order on the calling thread, with later siblings
// probed by worker threads when some are free (simplify_workers.cpp).
SearchResult general_search(const SearchProblem& problem, Plan plan, SearchMode mode);

// Subtrees with fewer mappings than this are searched on the thread that reaches them.
constexpr std::uint64_t kSpawnMinRange = std::uint64_t{1} << 13;

inline std::uint64_t distance(std::int32_t from, std::int32_t to) noexcept {
    const std::int64_t d = std::int64_t{to} - std::int64_t{from};
    return static_cast<std::uint64_t>(d < 0 ? -d : d);
}

// The sign of one step of an entry towards its full power.
inline int direction(std::int32_t full) noexcept { return full > 0 ? 1 : -1; }

// target - sum of power * exponents, entry by entry.
inline BaseExponents remaining(const SearchProblem& p, const std::int32_t* mapping) noexcept {
    BaseExponents rem = p.target;
    const BaseExponents* exponents = p.exponents.data();
    const std::size_t n = p.powers.size();
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        for (std::size_t k = 0; k < n; ++k) rem[d] -= double(mapping[k]) * exponents[k][d];
    }
    return rem;
}

// In exact mode, the child that moves entry k by `dir` satisfies when the node's remaining
// dimension minus that step is zero.
inline bool step_satisfies(const BaseExponents& rem, const BaseExponents& e, int dir) noexcept {
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        if (rem[d] - double(dir) * e[d] != 0.0) return false;
    }
    return true;
}

struct WorkerStats {
    std::size_t cap;      // most worker threads alive at once, process-wide
    std::size_t live;     // alive now
    std::size_t peak;     // most alive at once since the last reset
    std::size_t started;  // started since the last reset
};
WorkerStats worker_stats() noexcept;
void reset_worker_stats() noexcept;

}  // namespace tolvat::simplify_detail
