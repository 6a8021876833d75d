#include "simplify.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "number_text.hpp"
#include "render.hpp"

namespace tolvat {

// ---------------------------------------------------------------------------------------------
// Pairwise cancellation
// ---------------------------------------------------------------------------------------------

namespace {

// Exponents before and after must match exactly; a dimension that was NaN may stay NaN (a NaN
// power poisons the sums the same way on both sides and is no drift).
bool dimension_kept(const BaseExponents& before, const BaseExponents& after) noexcept {
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(before[i] == after[i]) && !(std::isnan(before[i]) && std::isnan(after[i]))) return false;
    }
    return true;
}

enum class Relation : unsigned char { None, Equal, Inverse };

// Entries are grouped into classes of equal dimension so that the repeated scans compare small
// integers instead of eight doubles per pair.
struct DimensionClasses {
    SmallVector<std::uint32_t, 8> of_entry;    // class of each entry
    SmallVector<std::uint32_t, 8> inverse_of;  // class whose dimension is the exact inverse, or none

    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

    explicit DimensionClasses(const UnitMap& units) {
        SmallVector<std::uint32_t, 8> representative;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const BaseExponents& e = units[i].unit.exponents();
            std::uint32_t found = kNone;
            for (std::uint32_t c = 0; c < representative.size(); ++c) {
                if (exponents_equal(units[representative[c]].unit.exponents(), e)) {
                    found = c;
                    break;
                }
            }
            if (found == kNone) {
                found = static_cast<std::uint32_t>(representative.size());
                representative.push_back(static_cast<std::uint32_t>(i));
            }
            of_entry.push_back(found);
        }
        for (std::uint32_t c = 0; c < representative.size(); ++c) {
            std::uint32_t inverse = kNone;
            for (std::uint32_t d = 0; d < representative.size(); ++d) {
                if (exponents_inverse(units[representative[c]].unit.exponents(),
                                      units[representative[d]].unit.exponents())) {
                    inverse = d;
                    break;
                }
            }
            inverse_of.push_back(inverse);
        }
    }

    Relation relation(std::size_t a, std::size_t b) const noexcept {
        const std::uint32_t ca = of_entry[a];
        const std::uint32_t cb = of_entry[b];
        if (ca == cb) return Relation::Equal;
        if (inverse_of[ca] == cb) return Relation::Inverse;
        return Relation::None;
    }
};

// New powers of a merging pair, or false when the pair does not merge. A merge always brings one
// of the two to exactly zero; with infinite powers it cannot, and such a pair is left alone so
// that every merge removes an entry and the scan ends.
bool merge_pair(Relation relation, double a, double b, double& new_a, double& new_b) noexcept {
    const bool a_negative = std::signbit(a);
    const bool b_negative = std::signbit(b);
    if (relation == Relation::Equal) {
        if (!a_negative && b_negative) {
            const double t = std::fmin(a, std::fabs(b));
            new_a = a - t;
            new_b = b + t;
        } else if (a_negative && !b_negative) {
            const double t = std::fmin(std::fabs(a), b);
            new_a = a + t;
            new_b = b - t;
        } else {
            return false;
        }
    } else if (relation == Relation::Inverse) {
        if (a_negative != b_negative) return false;
        const double t = std::fmin(a, b);
        new_a = a - t;
        new_b = b - t;
    } else {
        return false;
    }
    return new_a == 0.0 || new_b == 0.0;
}

}  // namespace

CheapSimplification classify_cheap_simplification(const UnitCollection& unit, double& multiplier,
                                                  BaseExponents& exponents) noexcept {
    const UnitMap& units = unit.units();
    const std::size_t n = units.size();
    multiplier = 1.0;
    exponents = BaseExponents{};
    if (n == 1 && units[0].power == 1.0) {
        // The loop below for a lone unit at power 1, whose products and sums are exact.
        const SingleUnit& only = units[0].unit;
        multiplier = only.multiplier();
        for (std::size_t k = 0; k < kBaseDimensionCount; ++k) exponents[k] += only.exponents()[k];
        if (!exponents_equal(exponents, unit.exponents())) return CheapSimplification::Drifts;
        return multiplier == unit.multiplier() ? CheapSimplification::Keeps : CheapSimplification::Resums;
    }
    // Summed in locals, which the compiler keeps in registers, then handed out.
    double product = 1.0;
    BaseExponents sum{};
    for (std::size_t i = 0; i < n; ++i) {
        const SingleUnit& a = units[i].unit;
        const double p = units[i].power;
        for (std::size_t j = i + 1; j < n; ++j) {
            const SingleUnit& b = units[j].unit;
            const bool same_sign = std::signbit(p) == std::signbit(units[j].power);
            if (!same_sign && exponents_equal(a.exponents(), b.exponents())) return CheapSimplification::Merges;
            if (same_sign && exponents_inverse(a.exponents(), b.exponents())) return CheapSimplification::Merges;
        }
        // The same products and sums, in the same order, as from_single_unit_hashmap.
        product *= a.multiplier_power(p);
        const BaseExponents& e = a.exponents();
        for (std::size_t k = 0; k < kBaseDimensionCount; ++k) sum[k] += p * e[k];
    }
    multiplier = product;
    exponents = sum;
    if (!exponents_equal(sum, unit.exponents())) return CheapSimplification::Drifts;
    return product == unit.multiplier() ? CheapSimplification::Keeps : CheapSimplification::Resums;
}

bool simple_simplify_keeps(const UnitCollection& unit) noexcept {
    double multiplier;
    BaseExponents exponents;
    return classify_cheap_simplification(unit, multiplier, exponents) == CheapSimplification::Keeps;
}

Expected<UnitCollection> simple_simplify(const UnitCollection& collection) {
    // Most collections have no pair that cancels. Their form is every entry as it stands, with the
    // summaries that from_single_unit_hashmap computes, which the classification has just
    // computed the same way; a drifted dimension still takes the long way to its report.
    {
        double multiplier;
        BaseExponents exponents;
        if (classify_cheap_simplification(collection, multiplier, exponents) != CheapSimplification::Merges &&
            dimension_kept(collection.exponents(), exponents)) {
            UnitCollection result(collection);
            result.resum(exponents, multiplier);
            return result;
        }
    }
    const UnitMap& input = collection.units();
    const std::size_t n = input.size();
    const DimensionClasses classes(input);
    SmallVector<double, 8> power;
    SmallVector<unsigned char, 8> present;
    for (const UnitEntry& entry : input) {
        power.push_back(entry.power);
        present.push_back(1);
    }

    bool merged = true;
    while (merged) {
        merged = false;
        for (std::size_t a = 0; a < n && !merged; ++a) {
            if (!present[a]) continue;
            for (std::size_t b = 0; b < n; ++b) {
                if (b == a || !present[b]) continue;
                double new_a = 0.0;
                double new_b = 0.0;
                if (!merge_pair(classes.relation(a, b), power[a], power[b], new_a, new_b)) continue;
                power[a] = new_a;
                power[b] = new_b;
                if (new_a == 0.0) present[a] = 0;
                if (new_b == 0.0) present[b] = 0;
                merged = true;  // scan again from the first pair
                break;
            }
        }
    }

    UnitMap kept;
    kept.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (present[i]) kept.emplace_back(UnitEntry{input[i].unit, power[i]});
    }
    UnitCollection result = UnitCollection::from_single_unit_hashmap(std::move(kept));
    if (!dimension_kept(collection.exponents(), result.exponents())) {
        std::string message = "Error on simple_simplify\nStarted with: ";
        message += as_string(collection);
        message += ", ";
        message += exponents_list_text(collection.exponents());
        message += "\nEnded with: ";
        message += as_string(result);
        message += ", ";
        message += exponents_list_text(result.exponents());
        return Error::internal(std::move(message));
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// The search
// ---------------------------------------------------------------------------------------------

namespace simplify_detail {
namespace {

// Fixed bounds of one search. Within them the answer is exact; beyond them the search reports
// TooLarge without starting (or, for the walk, after a fixed amount of work), so the outcome
// never depends on timing.
constexpr std::uint64_t kMaxRange = std::uint64_t{1} << 20;       // mappings in the general search
constexpr std::uint64_t kMaxDepth = std::uint64_t{1} << 16;       // steps from start to full powers
constexpr std::uint64_t kMaxWork = std::uint64_t{1} << 22;        // estimated checks times their cost
constexpr std::uint64_t kWalkBudget = std::uint64_t{1} << 18;     // checks times cost on the walk
constexpr std::uint64_t kSpawnMinRange = std::uint64_t{1} << 13;  // smaller subtrees stay inline
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

std::uint64_t distance(std::int32_t from, std::int32_t to) noexcept {
    const std::int64_t d = std::int64_t{to} - std::int64_t{from};
    return static_cast<std::uint64_t>(d < 0 ? -d : d);
}

// Below 2^52 a double is whole exactly when truncating it changes nothing; from there on every
// finite double is whole. (The same answer as floor(x) == x for finite x, without a library call.)
bool is_integral(double x) noexcept {
    return std::fabs(x) < 4503599627370496.0 ? x == double(static_cast<std::int64_t>(x)) : std::isfinite(x);
}

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

// An entry moves when its start lies short of its full power on the side of zero.
bool moves(std::int32_t start, std::int32_t full) noexcept {
    return (full > 0 && start < full) || (full < 0 && start > full);
}

int direction(std::int32_t full) noexcept { return full > 0 ? 1 : -1; }

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

// target - sum of power * exponents, entry by entry.
BaseExponents remaining(const SearchProblem& p, const std::int32_t* mapping) noexcept {
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
bool step_satisfies(const BaseExponents& rem, const BaseExponents& e, int dir) noexcept {
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        if (rem[d] - double(dir) * e[d] != 0.0) return false;
    }
    return true;
}

// ---- the worker threads --------------------------------------------------------------------

std::atomic<std::size_t> g_live_workers{0};
std::atomic<std::size_t> g_peak_workers{0};
std::atomic<std::size_t> g_started_workers{0};

std::size_t worker_cap() noexcept {
    static const std::size_t cap = std::max<std::size_t>(1, std::thread::hardware_concurrency());
    return cap;
}

bool acquire_worker_slot() noexcept {
    std::size_t live = g_live_workers.load();
    while (live < worker_cap()) {
        if (g_live_workers.compare_exchange_weak(live, live + 1)) {
            std::size_t peak = g_peak_workers.load();
            while (peak < live + 1 && !g_peak_workers.compare_exchange_weak(peak, live + 1)) {
            }
            return true;
        }
    }
    return false;
}

void release_worker_slot() noexcept { g_live_workers.fetch_sub(1); }

enum class Outcome { Continue, Found, Nothing, Abandoned };

// The state of one general search, shared by the calling thread and every worker it starts. A
// worker holds it until it ends, so a search may return while its workers are still winding down.
struct SharedSearch {
    SharedSearch(const SearchProblem& problem_in, Plan plan_in, SearchMode mode_in)
        : problem(problem_in),
          plan(std::move(plan_in)),
          mode(mode_in),
          words(static_cast<std::size_t>((plan.range + 63) / 64)),
          failed(new std::atomic<std::uint64_t>[words]()) {}

    const SearchProblem problem;
    const Plan plan;
    const SearchMode mode;
    // One bit per mapping in range, set once it is known that nothing below that mapping
    // satisfies. That is a fact about the mapping alone, whichever thread established it and in
    // whatever order it searched.
    const std::size_t words;
    const std::unique_ptr<std::atomic<std::uint64_t>[]> failed;
    // Set when the calling thread has its answer: every worker gives up.
    std::atomic<bool> finished{false};
};

// A later sibling handed to a worker, which searches below it for a proof that nothing there
// satisfies. Its only result is what it records as failed.
struct Task {
    std::atomic<bool> cancel{false};
};

void worker_main(std::shared_ptr<SharedSearch> shared, std::shared_ptr<Task> task, Powers start) noexcept;

// Depth-first search from one mapping, iterative so that deep ranges need no deep call stack.
//
// The calling thread searches in expansion order and so finds the answer the rules ask for.
// Whether a node has an answer below it does not depend on the order of the search, so workers
// probe later siblings for that alone, in reverse order (away from the calling thread's part of
// the range), and record the mappings they prove empty. The calling thread skips whatever is
// recorded and searches everything else itself, never taking an answer from a worker; so the
// result is the one the plain search in expansion order gives, whatever the timing.
class Explorer {
public:
    enum class Role { Answer, Probe };

    Explorer(std::shared_ptr<SharedSearch> shared, Role role, const std::atomic<bool>* cancel)
        : shared_(std::move(shared)), p_(shared_->problem), plan_(shared_->plan), role_(role), cancel_(cancel) {}
    Explorer(const Explorer&) = delete;
    Explorer& operator=(const Explorer&) = delete;
    ~Explorer() {
        for (Pending& pending : pending_) pending.task->cancel.store(true);
    }

    // Found leaves the answer in `answer` (Answer role only).
    Outcome run(Powers start, Powers& answer) {
        m_ = std::move(start);
        if (plan_.exact) rem_ = remaining(p_, m_.data());
        index_ = 0;
        for (const std::uint32_t k : plan_.movable) index_ += distance(p_.start[k], m_[k]) * plan_.stride[k];
        frames_.push_back(Frame{-1, 0});
        Outcome outcome = expand(answer);
        if (outcome != Outcome::Continue) return outcome;
        speculate();
        for (;;) {
            if (cancelled()) return Outcome::Abandoned;
            const std::uint32_t depth = static_cast<std::uint32_t>(frames_.size() - 1);
            // A worker may have finished this node meanwhile.
            const std::int32_t k = is_failed(index_) ? -1 : next_child(frames_.back());
            if (k < 0) {
                // Every child searched without an answer: so is this node.
                mark_failed();
                drop_tasks(depth);
                const std::int32_t stepped = frames_.back().stepped;
                frames_.pop_back();
                if (frames_.empty()) return Outcome::Nothing;
                step(stepped, -1);
                continue;
            }
            std::shared_ptr<Task> task = pending_.empty() ? nullptr : take_task(depth, k);
            if (is_failed(index_ + plan_.stride[k])) {
                if (task) task->cancel.store(true);
                continue;
            }
            if (cancelled()) return Outcome::Abandoned;
            step(k, +1);
            frames_.push_back(Frame{k, 0});
            // A probe still running below this child carries on from the other end until the
            // child is done.
            if (task) pending_.push_back(Pending{depth + 1, -1, std::move(task)});
            outcome = expand(answer);
            if (outcome != Outcome::Continue) return outcome;
            speculate();
        }
    }

private:
    struct Frame {
        std::int32_t stepped;  // entry moved to reach this node, -1 at the root
        std::uint32_t next;    // next position in the child order to try
    };
    struct Pending {
        std::uint32_t depth;
        std::int32_t entry;
        std::shared_ptr<Task> task;
    };

    bool cancelled() const noexcept {
        return shared_->finished.load(std::memory_order_relaxed) ||
               (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed));
    }

    // Movable entries in this explorer's child order.
    std::uint32_t movable_at(std::size_t pos) const noexcept {
        return role_ == Role::Answer ? plan_.movable[pos] : plan_.movable[plan_.movable.size() - 1 - pos];
    }
    // Mappings between the current one and the full powers.
    std::uint64_t range_below() const noexcept {
        std::uint64_t r = 1;
        for (const std::uint32_t k : plan_.movable) r *= distance(m_[k], p_.powers[k]) + 1;
        return r;
    }
    bool is_failed(std::uint64_t i) const noexcept {
        return (shared_->failed[i >> 6].load(std::memory_order_relaxed) >> (i & 63)) & 1u;
    }
    void mark_failed() noexcept {
        shared_->failed[index_ >> 6].fetch_or(std::uint64_t{1} << (index_ & 63), std::memory_order_relaxed);
    }

    // Moves entry k one step towards (+1) or back from (-1) its full power.
    void step(std::int32_t k, int sense) noexcept {
        const int dir = direction(p_.powers[k]) * sense;
        m_[k] += dir;
        index_ = sense > 0 ? index_ + plan_.stride[k] : index_ - plan_.stride[k];
        if (plan_.exact) {
            const BaseExponents& e = p_.exponents[k];
            for (std::size_t d = 0; d < kBaseDimensionCount; ++d) rem_[d] -= double(dir) * e[d];
        }
    }

    std::int32_t next_child(Frame& frame) const noexcept {
        while (frame.next < plan_.movable.size()) {
            const std::uint32_t k = movable_at(frame.next++);
            if (m_[k] != p_.powers[k]) return static_cast<std::int32_t>(k);
        }
        return -1;
    }

    // Tests each child of the current node in order; the first that satisfies is the answer.
    Outcome expand(Powers& answer) {
        for (std::size_t pos = 0; pos < plan_.movable.size(); ++pos) {
            const std::uint32_t k = movable_at(pos);
            if (m_[k] == p_.powers[k]) continue;
            const int dir = direction(p_.powers[k]);
            m_[k] += dir;
            const bool satisfies = plan_.exact ? step_satisfies(rem_, p_.exponents[k], dir)
                                               : check_satisfies_base_units(p_, m_.data());
            if (satisfies && role_ == Role::Answer) answer = m_;
            m_[k] -= dir;
            if (satisfies) return Outcome::Found;
            if (cancelled()) return Outcome::Abandoned;
        }
        return Outcome::Continue;
    }

    // Hands later children of the current node to free workers while this thread takes the first.
    void speculate() {
        if (role_ != Role::Answer || shared_->mode == SearchMode::ExhaustiveSequential) return;
        const std::uint64_t min_range = shared_->mode == SearchMode::ExhaustiveEager ? 2 : kSpawnMinRange;
        const std::uint64_t here = range_below();
        if (here < min_range) return;
        const std::uint32_t depth = static_cast<std::uint32_t>(frames_.size() - 1);
        bool first = true;
        for (const std::uint32_t k : plan_.movable) {
            if (m_[k] == p_.powers[k]) continue;
            if (first) {
                first = false;
                continue;
            }
            const std::uint64_t left = distance(m_[k], p_.powers[k]);
            if (here / (left + 1) * left < min_range || is_failed(index_ + plan_.stride[k])) continue;
            Powers child = m_;
            child[k] += direction(p_.powers[k]);
            std::shared_ptr<Task> task = start_worker(std::move(child));
            if (!task) return;  // no free worker: the rest run here in turn
            pending_.push_back(Pending{depth, static_cast<std::int32_t>(k), std::move(task)});
        }
    }

    std::shared_ptr<Task> start_worker(Powers child) {
        if (!acquire_worker_slot()) return nullptr;
        try {
            auto task = std::make_shared<Task>();
            std::thread(worker_main, shared_, task, std::move(child)).detach();
            g_started_workers.fetch_add(1);
            return task;
        } catch (...) {
            // The system refused a thread (or memory): the child is searched on this thread.
            release_worker_slot();
            return nullptr;
        }
    }

    std::shared_ptr<Task> take_task(std::uint32_t depth, std::int32_t k) {
        for (std::size_t i = pending_.size(); i-- > 0 && pending_[i].depth == depth;) {
            if (pending_[i].entry == k) {
                std::shared_ptr<Task> task = std::move(pending_[i].task);
                pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
                return task;
            }
        }
        return nullptr;
    }

    void drop_tasks(std::uint32_t depth) noexcept {
        while (!pending_.empty() && pending_.back().depth >= depth) {
            pending_.back().task->cancel.store(true);
            pending_.pop_back();
        }
    }

    std::shared_ptr<SharedSearch> shared_;
    const SearchProblem& p_;
    const Plan& plan_;
    const Role role_;
    const std::atomic<bool>* cancel_;
    Powers m_;
    BaseExponents rem_{};
    std::uint64_t index_ = 0;  // number of the current mapping in the record
    std::vector<Frame> frames_;
    std::vector<Pending> pending_;
};

void worker_main(std::shared_ptr<SharedSearch> shared, std::shared_ptr<Task> task, Powers start) noexcept {
    try {
        Powers unused;
        Explorer explorer(shared, Explorer::Role::Probe, &task->cancel);
        (void)explorer.run(std::move(start), unused);
    } catch (...) {
        // Out of memory: the probe just ends; the calling thread does the work itself.
    }
    task.reset();
    shared.reset();
    release_worker_slot();
}

SearchResult general_search(const SearchProblem& problem, Plan plan, SearchMode mode) {
    auto shared = std::make_shared<SharedSearch>(problem, std::move(plan), mode);
    SearchResult result;
    Outcome outcome;
    {
        struct Finish {
            SharedSearch& search;
            ~Finish() { search.finished.store(true); }
        } finish{*shared};
        Explorer explorer(shared, Explorer::Role::Answer, nullptr);
        outcome = explorer.run(problem.start, result.mapping);
    }
    result.status = outcome == Outcome::Found ? SearchStatus::Found : SearchStatus::Nothing;
    if (result.status != SearchStatus::Found) result.mapping.clear();
    return result;
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

bool check_satisfies_base_units(const SearchProblem& problem, const std::int32_t* mapping) noexcept {
    const BaseExponents* exponents = problem.exponents.data();
    const std::size_t n = problem.powers.size();
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        double rem = problem.target[d];
        for (std::size_t k = 0; k < n; ++k) rem -= double(mapping[k]) * exponents[k][d];
        if (rem != 0.0) return false;
    }
    return true;
}

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

WorkerStats worker_stats() noexcept {
    return WorkerStats{worker_cap(), g_live_workers.load(), g_peak_workers.load(), g_started_workers.load()};
}

void reset_worker_stats() noexcept {
    g_peak_workers.store(g_live_workers.load());
    g_started_workers.store(0);
}

}  // namespace simplify_detail

// ---------------------------------------------------------------------------------------------
// Full simplification
// ---------------------------------------------------------------------------------------------

namespace {

std::int32_t saturate_to_int32(double power) noexcept {
    if (std::isnan(power)) return 0;
    if (power >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (power <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(power);
}

// Every unit of the collection at the mapping's power, zero powers included.
UnitCollection from_mapping(const UnitMap& units, const std::int32_t* mapping) {
    UnitMap result;
    result.reserve(units.size());
    for (std::size_t k = 0; k < units.size(); ++k) result.emplace_back(UnitEntry{units[k].unit, double(mapping[k])});
    return UnitCollection::from_single_unit_hashmap(std::move(result));
}

// True when every entry's power is, bit for bit, the mapping's power for it.
bool same_powers(const UnitMap& units, const std::int32_t* mapping) noexcept {
    for (std::size_t k = 0; k < units.size(); ++k) {
        if (std::bit_cast<std::uint64_t>(units[k].power) != std::bit_cast<std::uint64_t>(double(mapping[k]))) return false;
    }
    return true;
}

}  // namespace

Expected<UnitCollection> simplify(const UnitCollection& collection) {
    using namespace simplify_detail;
    Expected<UnitCollection> simple = simple_simplify(collection);
    if (!simple) return simple;
    const UnitCollection& ss = *simple;
    const UnitMap& units = ss.units();
    const std::size_t n = units.size();
    if (n == 1) return simple;
    for (const UnitEntry& entry : units) {
        if (!(std::round(entry.power) == entry.power)) return simple;
    }

    // Units that alone carry some dimension of the collection keep their full power.
    SmallVector<unsigned char, 8> sole;
    for (std::size_t k = 0; k < n; ++k) sole.push_back(0);
    std::size_t sole_count = 0;
    for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
        if (ss.exponents()[d] == 0.0) continue;
        std::size_t carriers = 0;
        std::size_t carrier = 0;
        for (std::size_t k = 0; k < n; ++k) {
            if (units[k].unit.exponents()[d] != 0.0) {
                ++carriers;
                carrier = k;
            }
        }
        if (carriers == 0) {
            return Error::internal("Error in simplify - unit " + as_string(ss) +
                                   " has mismatch between single and base units");
        }
        if (carriers == 1 && !sole[carrier]) {
            sole[carrier] = 1;
            ++sole_count;
        }
    }
    if (sole_count == n) return simple;

    SearchProblem problem;
    problem.target = ss.exponents();
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t full = saturate_to_int32(units[k].power);
        problem.exponents.push_back(units[k].unit.exponents());
        problem.powers.push_back(full);
        problem.start.push_back(sole[k] ? full : 0);
    }
    if (check_satisfies_base_units(problem, problem.start.data())) return from_mapping(units, problem.start.data());

    const SearchResult found = search_mappings(problem);
    if (found.status != SearchStatus::Found) return simple;
    // Often the answer is every unit at its full power: that is the simple form itself, built
    // from the same entries in the same order, so the same collection to the last bit.
    if (same_powers(units, found.mapping.data())) return simple;
    return from_mapping(units, found.mapping.data());
}

}  // namespace tolvat
