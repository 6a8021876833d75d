// The per-object access rule: many readers or one writer, and nobody ever waits.
//
// Two implementations share one counter type. On the free-threaded build (`concurrent`) calls run
// truly in parallel. Readers are the common case and are often many threads reading one shared
// operand, so a reader does not write to the object at all. It announces the object in a slot of
// its own thread's record and then checks that no writer holds the object. A writer marks the
// object and then looks through every thread's slots for a reader of it. Readers of one object
// therefore share no cache line with each other, while writers, which are rarer, pay for the scan.
// A thread that needs more nested reads than its record has slots, or that cannot get a record,
// counts itself in the object's own counter instead; writers check that counter as well.
//
// Where the interpreter lock serialises every call (`serial`), the rule only has to hold against
// re-entry (Python code run while a call holds an object), so the counter alone does, with plain
// loads and stores and no fence.
//
// ---- Why the concurrent rule holds, in the C++ memory model ----------------------------------
//
// The state.
// - AccessCounter::state_, one per object: 0 free, -1 held by a writer, n > 0 held by n counted
//   readers. Written by writers (CAS 0 -> -1, then back to 0 with a release CAS, or a release
//   store when the writer backs off) and by counted readers (CAS n -> n + 1, then a release CAS
//   back); read by everyone who takes access to the object.
// - The registry (access.cpp): 1,024 ReaderRecords and g_records_used, the number of records ever
//   handed out. The count only grows, one CAS at a time, and never passes 1,024. Claimers read
//   and move it; writers read it to know how many records to scan.
// - ReaderRecord::slots: six per record, each null or the address of a counter that the record's
//   thread reads. Only the owning thread stores to its slots (announce: the address; let go:
//   null). Writers only load them.
// - ReaderRecord::depth: a plain field, touched only by the owner. ReaderRecord::in_use passes a
//   record from an ended thread to the next (a release store of false; the claiming CAS acquires
//   it), so the next owner starts from depth 0 and null slots.
//
// Why a reader and a writer never both proceed. All four steps of the handshake are sequentially
// consistent, so they lie in the single total order S of such operations:
//   reader  A  announce: slot = &c    (a seq_cst exchange; a pair: release stores, then a seq_cst
//                                      fence F, which stands in for A below)
//           R  check: load c.state_   (seq_cst), proceeds when it reads >= 0
//   writer  W  mark: CAS c.state_ 0 -> -1 (seq_cst)
//           L  scan: load each slot   (seq_cst), proceeds when none holds &c
// Suppose both proceed. R read a value that precedes W's -1 in the modification order of state_,
// so R is coherence-ordered before W and precedes it in S. L read a value that precedes A in the
// slot's modification order, so L is coherence-ordered before A and precedes it in S (for a pair,
// L precedes F in S, since A happens before F). A is sequenced before R, and W before L. Then
// A < R < W < L < A in S, a cycle; so one of the two sees the other and backs off. Each "precedes
// in S" step is one that the standard's rules for S give ([atomics.order]); no step rests on what
// one processor or another happens to do.
//
// The registry. L must also reach the reader's record. When it claimed the record, before A, the
// reader loaded the count (seq_cst) or moved it past its record with a seq_cst CAS: call that X.
// The writer loads the count (seq_cst) after W: call that Y. If the reader proceeds, R precedes W
// in S (as above), so X < A < R < W < Y, and Y reads X's value or a later one: the record is
// scanned. (With an
// acq_rel publication and an acquire load nothing orders the two: the writer could read an older
// count and skip the very record whose announcement it must see.)
//
// What the object's data sees (happens-before, which ThreadSanitizer checks).
// - A writer's changes happen before a later reader's reads: the writer lets go with a release
//   CAS back to 0; a reader's check or counted CAS acquires it, directly or through the
//   read-modify-writes that continue its release sequence, or through a later writer that
//   acquired it and let go with a release in turn.
// - A reader's reads happen before a later writer's changes: a reader lets go of a slot with a
//   release store of null, and every later store to that slot (the next announcement) is a
//   release as well, since C++20 no longer counts a thread's later plain stores into a release
//   sequence; the writer's scan load acquires whichever it reads. A counted reader lets go with a
//   release CAS; the writer's marking CAS acquires it.
//
// The fallbacks. A thread that is more than six reads deep (or needs two slots and has one left)
// counts itself in the object's state_ instead (CAS n -> n + 1, failing on -1): that CAS and the
// writer's CAS 0 -> -1 are read-modify-writes of one variable, so whichever comes second fails.
// The 1,025th thread finds no free record and does the same for every read; it tries for a record
// again after kReadsBeforeReclaim reads, so it takes a slot once a thread ends. A thread whose
// record was handed back (its thread-local destructors are running) also counts.
//
// ---- fork() ---------------------------------------------------------------------------------
//
// fork() copies a process with one thread. Holds that other threads had at that moment would
// never end in the child, so the child forgets them: a counter word carries, in its high 16 bits,
// the fork epoch it was written in, and a word of an earlier epoch holds nothing (below, "0",
// "-1" and "n" are the low bits of a word of the current epoch); the child's fork handler
// empties the records of the threads it does not have, and moves to the next epoch. The epoch
// changes only then, while the child has one thread, so within a process it is a constant and
// the argument above is untouched. The forking thread's announced reads stay (it goes on to end
// them); its counted holds, which it can only have while Python code runs inside a read, lapse,
// and letting go of a lapsed hold leaves the counter alone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// A test-only pause between the steps of the handshake, where a test program can yield or spin
// at random to reach rare interleavings. The library is never built with it.
#ifdef TOLVAT_ACCESS_PAUSES
namespace tolvat::access_detail {
void pause_between_steps() noexcept;  // defined by the test program
}
#define TOLVAT_ACCESS_PAUSE() ::tolvat::access_detail::pause_between_steps()
#else
#define TOLVAT_ACCESS_PAUSE() ((void)0)
#endif

namespace tolvat {

class AccessCounter;
namespace access_detail {
inline bool counted_read(AccessCounter& counter, std::uint32_t epoch) noexcept;
inline void end_counted_read(AccessCounter& counter, std::uint32_t epoch) noexcept;
}  // namespace access_detail
namespace concurrent {
class SharedAccess;
class SharedAccessPair;
class ExclusiveAccess;
}  // namespace concurrent
namespace serial {
class SharedAccess;
class ExclusiveAccess;
}  // namespace serial

// The per-object counter. Only the access classes below touch it.
class AccessCounter {
private:
    friend bool access_detail::counted_read(AccessCounter& counter, std::uint32_t epoch) noexcept;
    friend void access_detail::end_counted_read(AccessCounter& counter, std::uint32_t epoch) noexcept;
    friend class concurrent::SharedAccess;
    friend class concurrent::SharedAccessPair;
    friend class concurrent::ExclusiveAccess;
    friend class serial::SharedAccess;
    friend class serial::ExclusiveAccess;

    // The fork epoch in the high 16 bits; in the low 16 bits 0 free, kWriter ("-1") held by a
    // writer, n held by n readers that use the counter. A word of an earlier epoch is free.
    // Atomic: readers and writers on any thread change it, in the orders the access classes give
    // (the argument at the top of this file).
    std::atomic<std::uint32_t> state_{0};
};

namespace access_detail {

inline constexpr std::uint32_t kHoldBits = 0xFFFF;
inline constexpr std::uint32_t kWriter = 0xFFFF;
inline constexpr std::uint32_t kMostCountedReaders = 0xFFFE;

// The fork epoch, in the high 16 bits: one more in a child than in its parent. Atomic, read
// relaxed: it changes only in a child right after fork(), while the child has one thread.
extern constinit std::atomic<std::uint32_t> g_epoch;
inline std::uint32_t current_epoch() noexcept { return g_epoch.load(std::memory_order_relaxed); }

// The holds a counter word records in `epoch`: none for a word of an earlier epoch.
inline std::uint32_t holds(std::uint32_t word, std::uint32_t epoch) noexcept {
    return (word & ~kHoldBits) == epoch ? word & kHoldBits : 0;
}

// In a child process: forgets the holds of every thread but the one that called fork(). A fork
// handler, installed when the library is loaded.
void forget_other_threads_after_fork() noexcept;

inline constexpr std::size_t kSlotsPerThread = 6;

// Every thread writes its own record on every read, so records never share a cache line, nor the
// pair of lines that x86 processors fetch together.
struct alignas(128) ReaderRecord {
    std::atomic<const AccessCounter*> slots[kSlotsPerThread];
    std::atomic<bool> in_use{false};
    std::size_t depth = 0;  // slots in use; touched only by the owning thread
};

// This thread's record once it has one (constant-initialised, so reading it needs no guard).
extern constinit thread_local ReaderRecord* t_record;

// Claims a record for this thread and arranges to hand it back when the thread ends; nullptr
// when the registry is full (then the next few calls return nullptr at once) or this thread's
// record was already handed back.
ReaderRecord* claim_this_thread_record() noexcept;

// This thread's record, or nullptr when it has none.
inline ReaderRecord* this_thread_record() noexcept {
    ReaderRecord* record = t_record;
    return record != nullptr ? record : claim_this_thread_record();
}

// True when some thread announces a read of `counter` in one of its slots. The writer's side of
// the handshake: seq_cst loads of the count and of every slot (see the argument above).
bool announced_by_a_reader(const AccessCounter* counter) noexcept;

// One counted read: false when a writer holds the counter (or, beyond reach in practice, when
// it already counts as many readers as it can).
inline bool counted_read(AccessCounter& counter, std::uint32_t epoch) noexcept {
    std::uint32_t seen = counter.state_.load(std::memory_order_relaxed);  // a first guess only
    while (holds(seen, epoch) < kMostCountedReaders) {
        TOLVAT_ACCESS_PAUSE();
        // Pairs with the writer's marking CAS: both modify state_, so whichever comes second in
        // its modification order sees the other (-1 here, n > 0 there) and fails. Acquire: pairs
        // with the release by which the last writer let go.
        if (counter.state_.compare_exchange_weak(seen, epoch | (holds(seen, epoch) + 1), std::memory_order_acquire,
                                                 std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

// Lets go of a counted read taken in `epoch` (one that a fork made lapse is over already).
// Release: pairs with the acquire of the next writer's marking CAS, so the reads done under it
// happen before that writer's changes.
inline void end_counted_read(AccessCounter& counter, std::uint32_t epoch) noexcept {
    std::uint32_t seen = counter.state_.load(std::memory_order_relaxed);
    while ((seen & ~kHoldBits) == epoch &&
           !counter.state_.compare_exchange_weak(seen, seen - 1, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

}  // namespace access_detail

namespace concurrent {

// Holds shared access for a scope. Check `ok()` after construction.
class SharedAccess {
public:
    explicit SharedAccess(AccessCounter& counter) noexcept
        : counter_(counter), epoch_(access_detail::current_epoch()) {
        using namespace access_detail;
        record_ = this_thread_record();
        if (record_ != nullptr && record_->depth < kSlotsPerThread) {
            std::atomic<const AccessCounter*>& slot = record_->slots[record_->depth];
            TOLVAT_ACCESS_PAUSE();
            // The announcement A: seq_cst, so it precedes the check below in S; pairs with the
            // writer's scan load L (the cycle A < R < W < L < A). As a release it also pairs with
            // that load for data: reads this thread finished before happen before the writer's
            // changes. One locked instruction, no separate fence.
            slot.exchange(&counter, std::memory_order_seq_cst);
            TOLVAT_ACCESS_PAUSE();
            // The check R: seq_cst, pairs with the writer's marking CAS W. It also acquires the
            // release by which the last writer let go, so its changes are visible.
            if (holds(counter.state_.load(std::memory_order_seq_cst), epoch_) == kWriter) {
                // Backing off. Release: pairs with a writer's scan load.
                slot.store(nullptr, std::memory_order_release);
                record_ = nullptr;
                ok_ = false;
                return;
            }
            ++record_->depth;
            ok_ = true;
            return;
        }
        record_ = nullptr;
        ok_ = counted_read(counter, epoch_);
    }
    ~SharedAccess() {
        if (!ok_) return;
        TOLVAT_ACCESS_PAUSE();
        if (record_ != nullptr) {
            --record_->depth;
            // Letting go. Release: pairs with a writer's scan load, so this thread's reads happen
            // before that writer's changes.
            record_->slots[record_->depth].store(nullptr, std::memory_order_release);
        } else {
            access_detail::end_counted_read(counter_, epoch_);
        }
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    std::uint32_t epoch_;
    access_detail::ReaderRecord* record_ = nullptr;  // set when the read is announced in a slot
    bool ok_ = false;
};

// Shared access to two objects at once (the two operands of an operation): both are announced
// behind one fence. Fails, holding neither, when a writer holds either.
class SharedAccessPair {
public:
    SharedAccessPair(AccessCounter& first, AccessCounter& second) noexcept
        : first_(first), second_(second), epoch_(access_detail::current_epoch()) {
        using namespace access_detail;
        record_ = this_thread_record();
        if (record_ != nullptr && record_->depth + 2 <= kSlotsPerThread) {
            std::atomic<const AccessCounter*>* slots = record_->slots + record_->depth;
            // The announcements. Release, each: pairs with a writer's scan load for data (the
            // slots may have held earlier reads of this thread). Their place in S comes from the
            // fence that follows.
            slots[0].store(&first, std::memory_order_release);
            TOLVAT_ACCESS_PAUSE();
            slots[1].store(&second, std::memory_order_release);
            TOLVAT_ACCESS_PAUSE();
            // F: a seq_cst fence after both stores and before both checks. A writer's scan load
            // that missed either store precedes F in S, and F precedes the checks: the cycle of
            // the handshake, with F for A. One fence for two announcements.
            std::atomic_thread_fence(std::memory_order_seq_cst);
            TOLVAT_ACCESS_PAUSE();
            // The checks R: seq_cst, each pairs with the marking CAS of a writer of that object,
            // and acquires the release by which the last writer let go.
            if (holds(first.state_.load(std::memory_order_seq_cst), epoch_) == kWriter ||
                holds(second.state_.load(std::memory_order_seq_cst), epoch_) == kWriter) {
                // Backing off. Release: pairs with a writer's scan load.
                slots[1].store(nullptr, std::memory_order_release);
                slots[0].store(nullptr, std::memory_order_release);
                record_ = nullptr;
                return;
            }
            record_->depth += 2;
            ok_ = true;
            return;
        }
        record_ = nullptr;
        if (!counted_read(first, epoch_)) return;
        if (!counted_read(second, epoch_)) {
            end_counted_read(first, epoch_);
            return;
        }
        ok_ = true;
    }
    ~SharedAccessPair() {
        if (!ok_) return;
        TOLVAT_ACCESS_PAUSE();
        if (record_ != nullptr) {
            record_->depth -= 2;
            // Letting go. Release: pairs with a writer's scan load.
            record_->slots[record_->depth + 1].store(nullptr, std::memory_order_release);
            record_->slots[record_->depth].store(nullptr, std::memory_order_release);
        } else {
            access_detail::end_counted_read(second_, epoch_);
            access_detail::end_counted_read(first_, epoch_);
        }
    }
    SharedAccessPair(const SharedAccessPair&) = delete;
    SharedAccessPair& operator=(const SharedAccessPair&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& first_;
    AccessCounter& second_;
    std::uint32_t epoch_;
    access_detail::ReaderRecord* record_ = nullptr;
    bool ok_ = false;
};

// Holds exclusive access for a scope. Check `ok()` after construction.
class ExclusiveAccess {
public:
    explicit ExclusiveAccess(AccessCounter& counter) noexcept
        : counter_(counter), epoch_(access_detail::current_epoch()) {
        using namespace access_detail;
        // "0": free in this epoch, or a word of an earlier one (a first guess; the CAS decides).
        std::uint32_t expected = counter.state_.load(std::memory_order_relaxed);
        if (holds(expected, epoch_) != 0) return;
        // The mark W: seq_cst, so it precedes the scan in S; pairs with a reader's check R (the
        // cycle A < R < W < L < A) and, as a read-modify-write, with a counted reader's CAS. It
        // acquires the release of the last writer and of counted readers that let go.
        if (!counter.state_.compare_exchange_strong(expected, epoch_ | kWriter, std::memory_order_seq_cst,
                                                    std::memory_order_relaxed)) {
            return;
        }
        TOLVAT_ACCESS_PAUSE();
        // The scan L (seq_cst loads of the count and of the slots).
        if (announced_by_a_reader(&counter)) {
            // Backing off. Release: pairs with the acquire of the next reader's check or writer's
            // mark (nothing was changed, but it keeps one rule for every way of letting go).
            counter.state_.store(epoch_, std::memory_order_release);
            return;
        }
        ok_ = true;
    }
    ~ExclusiveAccess() {
        if (!ok_) return;
        TOLVAT_ACCESS_PAUSE();
        // Letting go. Release: pairs with the acquire of the next reader's check or counted CAS,
        // or the next writer's mark, so this writer's changes happen before what they do. A CAS
        // rather than a store only for a hold that a fork made lapse: the counter may have been
        // taken since, and is left alone.
        std::uint32_t held = epoch_ | access_detail::kWriter;
        counter_.state_.compare_exchange_strong(held, epoch_, std::memory_order_release, std::memory_order_relaxed);
    }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    std::uint32_t epoch_;
    bool ok_ = false;
};

}  // namespace concurrent

namespace serial {

// Under the interpreter lock one thread runs at a time; the counter guards against re-entry only.
class SharedAccess {
public:
    explicit SharedAccess(AccessCounter& counter) noexcept
        : counter_(counter), epoch_(access_detail::current_epoch()) {
        const std::uint32_t held = access_detail::holds(counter.state_.load(std::memory_order_relaxed), epoch_);
        ok_ = held < access_detail::kMostCountedReaders;
        if (ok_) counter.state_.store(epoch_ | (held + 1), std::memory_order_relaxed);
    }
    ~SharedAccess() {
        if (!ok_) return;
        // A read that a fork made lapse is over already.
        const std::uint32_t seen = counter_.state_.load(std::memory_order_relaxed);
        if ((seen & ~access_detail::kHoldBits) == epoch_) counter_.state_.store(seen - 1, std::memory_order_relaxed);
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    std::uint32_t epoch_;
    bool ok_;
};

class SharedAccessPair {
public:
    SharedAccessPair(AccessCounter& first, AccessCounter& second) noexcept : first_(first), second_(second) {}
    bool ok() const noexcept { return first_.ok() && second_.ok(); }

private:
    SharedAccess first_;
    SharedAccess second_;
};

class ExclusiveAccess {
public:
    explicit ExclusiveAccess(AccessCounter& counter) noexcept
        : counter_(counter), epoch_(access_detail::current_epoch()) {
        ok_ = access_detail::holds(counter.state_.load(std::memory_order_relaxed), epoch_) == 0;
        if (ok_) counter.state_.store(epoch_ | access_detail::kWriter, std::memory_order_relaxed);
    }
    ~ExclusiveAccess() {
        if (ok_ && counter_.state_.load(std::memory_order_relaxed) == (epoch_ | access_detail::kWriter)) {
            counter_.state_.store(epoch_, std::memory_order_relaxed);
        }
    }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    std::uint32_t epoch_;
    bool ok_;
};

}  // namespace serial

}  // namespace tolvat
