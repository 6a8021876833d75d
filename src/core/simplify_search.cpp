// The plan of the bounded search, its fixed bounds, and the walk that settles the common case
// without threads.
#include "simplify_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tolvat::simplify_detail {
namespace {

// Fixed bounds of one search. Within them the answer is exact; beyond them the search reports
// TooLarge without starting (or, for the walk, after a fixed amount of work), so the outcome
// never depends on timing.
constexpr std::uint64_t kMaxRange = std::uint64_t{1} << 20;       // mappings in the general search
constexpr std::uint64_t kMaxDepth = std::uint64_t{1} << 16;       // steps from start to full powers
constexpr std::uint64_t kMaxWork = std::uint64_t{1} << 22;        // estimated checks times their cost
constexpr std::uint64_t kWalkBudget = std::uint64_t{1} << 18;     // checks times cost on the walk
constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max();
// Integers up to this magnitude are exact doubles, with room for the sums of the bound below.
constexpr double kExactLimit = 4503599627370496.0;  // 2^52

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept {
    if (a != 0 && b > kSaturated / a) return kSaturated;
    return a * b;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > kSaturated - b ? kSaturated : a + b;
}

// Below 2^52 a double is whole exactly when truncating it changes nothing; from there on every
// finite double is whole. (The same answer as floor(x) == x for finite x, without a library call.)
bool is_integral(double x) noexcept {
    return std::fabs(x) < 4503599627370496.0 ? x == double(static_cast<std::int64_t>(x)) : std::isfinite(x);
}

// An entry moves when its start lies short of its full power on the side of zero.
bool moves(std::int32_t start, std::int32_t full) noexcept {
    return (full > 0 && start < full) || (full < 0 && start > full);
}

Plan make_plan(const SearchProblem& p) {
    Plan plan;
    const std::size_t n = p.powers.size();
    for (std::size_t k = 0; k < n; ++k) {
        plan.stride.push_back(0);
        if (moves(p.start[k], p.powers[k])) {
            plan.movable.push_back(static_cast<std::uint32_t>(k));
            plan.stride[k] = plan.range;
            const std::uint64_t span = distance(p.start[k], p.powers[k]);
            plan.range = saturating_mul(plan.range, saturating_add(span, 1));
            plan.depth = saturating_add(plan.depth, span);
        } else if (p.start[k] != p.powers[k]) {
            plan.full_reachable = false;
        }
    }
    // Exact when every exponent and the target are integers and no partial sum of any mapping in
    // range can leave the exactly representable integers.
    bool exact = true;
    const BaseExponents* exponents = p.exponents.data();
    SmallVector<double, 8> reach;
    reach.reserve(n);
    for (std::size_t k = 0; k < n && exact; ++k) {
        reach.push_back(std::max(std::fabs(double(p.start[k])), std::fabs(double(p.powers[k]))));
        for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
            const double e = exponents[k][d];
            if (!is_integral(e) || std::fabs(e) > 1048576.0) {
                exact = false;
                break;
            }
        }
    }
    for (std::size_t d = 0; d < kBaseDimensionCount && exact; ++d) {
        if (!is_integral(p.target[d])) {
            exact = false;
            break;
        }
        double bound = std::fabs(p.target[d]);
        for (std::size_t k = 0; k < n; ++k) bound += reach[k] * std::fabs(exponents[k][d]);
        if (!(bound <= kExactLimit)) exact = false;
    }
    plan.exact = exact;
    plan.check_cost = exact ? 1 : std::max<std::uint64_t>(n, 1);
    return plan;
}

// When the full powers satisfy, every node has an answer below it (the full powers are reachable
// from every mapping in range), so the depth-first search never backs up: it tests the children of
// a node and otherwise goes down to the first child. That walk needs no record and no threads.
SearchResult walk(const SearchProblem& p, const Plan& plan) {
    SearchResult result;
    Powers m = p.start;
    BaseExponents rem{};
    if (plan.exact) rem = remaining(p, m.data());
    std::uint64_t work = 0;
    for (;;) {
        std::int32_t first = -1;
        for (const std::uint32_t k : plan.movable) {
            if (m[k] == p.powers[k]) continue;
            const int dir = direction(p.powers[k]);
            m[k] += dir;
            const bool satisfies = plan.exact ? step_satisfies(rem, p.exponents[k], dir)
                                              : check_satisfies_base_units(p, m.data());
            if (satisfies) {
                result.status = SearchStatus::Found;
                result.mapping = std::move(m);
                return result;
            }
            m[k] -= dir;
            if (first < 0) first = static_cast<std::int32_t>(k);
            work += plan.check_cost;
        }
        if (first < 0) return result;  // nothing
        if (work > kWalkBudget) {
            result.status = SearchStatus::TooLarge;
            return result;
        }
        const int dir = direction(p.powers[first]);
        m[first] += dir;
        if (plan.exact) {
            for (std::size_t d = 0; d < kBaseDimensionCount; ++d) rem[d] -= double(dir) * p.exponents[first][d];
        }
    }
}

}  // namespace

SearchResult search_mappings(const SearchProblem& problem, SearchMode mode) {
    SearchResult result;
    const std::size_t n = problem.powers.size();
    if (problem.start.size() != n || problem.exponents.size() != n) return result;
    Plan plan = make_plan(problem);
    if (mode == SearchMode::Automatic && plan.full_reachable &&
        check_satisfies_base_units(problem, problem.powers.data())) {
        return walk(problem, plan);
    }
    const std::uint64_t work =
        saturating_mul(saturating_mul(plan.range, plan.movable.size()), plan.check_cost);
    if (plan.range > kMaxRange || plan.depth > kMaxDepth || work > kMaxWork) {
        result.status = SearchStatus::TooLarge;
        return result;
    }
    return general_search(problem, std::move(plan), mode);
}

}  // namespace tolvat::simplify_detail
