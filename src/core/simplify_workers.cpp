// The general search, run by the calling thread with detached worker threads probing later
// siblings, and the process-wide count of those threads.
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "simplify_search.hpp"

namespace tolvat::simplify_detail {
namespace {

// Process-wide counts of worker threads; atomic, since every thread that starts or ends a worker
// changes them.
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

}  // namespace

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

WorkerStats worker_stats() noexcept {
    return WorkerStats{worker_cap(), g_live_workers.load(), g_peak_workers.load(), g_started_workers.load()};
}

void reset_worker_stats() noexcept {
    g_peak_workers.store(g_live_workers.load());
    g_started_workers.store(0);
}

}  // namespace tolvat::simplify_detail
