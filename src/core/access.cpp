#include "access.hpp"

#include <pthread.h>

#include <cstdint>

namespace tolvat::access_detail {
namespace {

// Records are never freed: a thread that ends hands its record back for the next thread. A test
// build that pauses between steps keeps the registry small, so that tests fill it.
#ifdef TOLVAT_ACCESS_PAUSES
constexpr std::size_t kMaxRecords = 8;
#else
constexpr std::size_t kMaxRecords = 1024;
#endif
ReaderRecord g_records[kMaxRecords];
// Records ever handed out; only grows, never past kMaxRecords. Every operation on it is seq_cst:
// the argument in access.hpp needs a writer's load to follow, in S, the claimer's load or CAS.
std::atomic<std::size_t> g_records_used{0};

// A thread that found the registry full reads through the counters this many times before it
// looks for a record again, rather than scanning the registry on every read.
constexpr std::uint32_t kReadsBeforeReclaim = 256;

bool take(ReaderRecord& record) noexcept {
    // A plain look first, so that a full registry is scanned without writing to other threads'
    // lines. The CAS acquires the release by which the record's last owner handed it back (its
    // depth and null slots); the relaxed first look only decides whether to try.
    bool expected = false;
    return !record.in_use.load(std::memory_order_relaxed) &&
           record.in_use.compare_exchange_strong(expected, true, std::memory_order_acquire,
                                                 std::memory_order_relaxed);
}

ReaderRecord* claim_record() noexcept {
    // A record an ended thread handed back. The seq_cst load of the count pairs with the writer's
    // seq_cst load of it: a writer that must see this thread's announcements scans at least as
    // many records as this load saw, this record among them.
    const std::size_t used = g_records_used.load(std::memory_order_seq_cst);
    for (std::size_t i = 0; i < used; ++i) {
        if (take(g_records[i])) return &g_records[i];
    }
    // A record never handed out: move the count past it first (seq_cst; pairs with the writer's
    // load of the count as above), then take it, unless a thread looking for a handed-back record
    // took it in between; then the next.
    std::size_t i = g_records_used.load(std::memory_order_seq_cst);
    while (i < kMaxRecords) {
        if (g_records_used.compare_exchange_weak(i, i + 1, std::memory_order_seq_cst,
                                                 std::memory_order_seq_cst)) {
            TOLVAT_ACCESS_PAUSE();
            if (take(g_records[i])) return &g_records[i];
            i = g_records_used.load(std::memory_order_seq_cst);
        }
    }
    return nullptr;
}

// Hands this thread's record back when the thread ends.
struct RecordLease {
    ReaderRecord* record = nullptr;
    ~RecordLease();
};

// The lease, which has a destructor, is touched only when a record is claimed.
thread_local RecordLease t_lease;
// Set once the lease has handed its record back: reads after that (from other thread-local
// destructors) count themselves instead of claiming a record that would never be returned.
constinit thread_local bool t_lease_ended = false;
// Reads left before a thread that found the registry full looks again.
constinit thread_local std::uint32_t t_reads_before_reclaim = 0;

RecordLease::~RecordLease() {
    if (record != nullptr) {
        t_record = nullptr;
        record->depth = 0;
        // Every slot is null again (scopes have ended). Release: pairs with the acquire of the
        // next owner's claiming CAS, which then sees depth 0.
        record->in_use.store(false, std::memory_order_release);
        record = nullptr;
    }
    t_lease_ended = true;
}

}  // namespace

constinit thread_local ReaderRecord* t_record = nullptr;

ReaderRecord* claim_this_thread_record() noexcept {
    if (t_lease_ended) return nullptr;
    if (t_reads_before_reclaim != 0) {
        --t_reads_before_reclaim;
        return nullptr;
    }
    if (t_lease.record == nullptr) {
        t_lease.record = claim_record();
        t_record = t_lease.record;
        if (t_lease.record == nullptr) t_reads_before_reclaim = kReadsBeforeReclaim;
    }
    return t_lease.record;
}

constinit std::atomic<std::uint32_t> g_epoch{0};

void forget_other_threads_after_fork() noexcept {
    // The child has one thread, this one: nothing else reads or writes what follows.
    g_epoch.store(g_epoch.load(std::memory_order_relaxed) + (kHoldBits + 1), std::memory_order_relaxed);
    const std::size_t used = g_records_used.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < used; ++i) {
        ReaderRecord& record = g_records[i];
        if (&record == t_record) continue;
        for (auto& slot : record.slots) slot.store(nullptr, std::memory_order_relaxed);
        record.depth = 0;
        record.in_use.store(false, std::memory_order_relaxed);
    }
}

namespace {

// Installed once, when the library is loaded; fork() runs it in the child before returning there.
[[maybe_unused]] const int g_fork_handler = pthread_atfork(nullptr, nullptr, forget_other_threads_after_fork);

}  // namespace

bool announced_by_a_reader(const AccessCounter* counter) noexcept {
    // seq_cst: pairs with the claimer's seq_cst load or CAS of the count, so every record whose
    // owner may have announced before this writer's mark is below what this load reads.
    const std::size_t used = g_records_used.load(std::memory_order_seq_cst);
    for (std::size_t i = 0; i < used; ++i) {
        TOLVAT_ACCESS_PAUSE();
        for (const auto& slot : g_records[i].slots) {
            // The scan L: seq_cst, pairs with the reader's announcement (the exchange, or the
            // stores before its fence): one of the two sees the other. Acquire: pairs with the
            // release of whatever this slot last held, so reads done under it are over.
            if (slot.load(std::memory_order_seq_cst) == counter) return true;
        }
    }
    return false;
}

}  // namespace tolvat::access_detail
