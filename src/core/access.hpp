// The per-object access rule: many readers or one writer, and nobody ever waits.
//
// Two implementations share one counter type. On the free-threaded build (`concurrent`) calls run
// truly in parallel. Readers are the common case and are often many threads reading one shared
// operand, so a reader does not write to the object at all. It announces the object in a slot of
// its own thread's record and then checks that no writer holds the object. A writer marks the
// object and then looks through every thread's slots for a reader of it. Both sides order their
// store before their load (sequentially consistent operations, or a full fence), so at least one
// of the two sees the other, and a reader and a writer never both proceed (the classic
// store-fence-load handshake). Readers of one object therefore share no cache line with each
// other, while writers, which are rarer, pay for the scan.
// A thread that needs more nested reads than its record has slots, or that cannot get a record,
// counts itself in the object's own counter instead; writers check that counter as well.
//
// Where the interpreter lock serialises every call (`serial`), the rule only has to hold against
// re-entry (Python code run while a call holds an object), so the counter alone does, with plain
// loads and stores and no fence.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tolvat {

class AccessCounter;
namespace access_detail {
inline bool counted_read(AccessCounter& counter) noexcept;
}
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
    friend bool access_detail::counted_read(AccessCounter& counter) noexcept;
    friend class concurrent::SharedAccess;
    friend class concurrent::SharedAccessPair;
    friend class concurrent::ExclusiveAccess;
    friend class serial::SharedAccess;
    friend class serial::ExclusiveAccess;

    // 0 free, -1 held by a writer, n > 0 held by n readers that use the counter. Atomic: readers
    // and writers on any thread change it, in the orders the access classes give.
    std::atomic<std::int32_t> state_{0};
};

namespace access_detail {

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
// when the registry is full.
ReaderRecord* claim_this_thread_record() noexcept;

// This thread's record, or nullptr when the registry is full.
inline ReaderRecord* this_thread_record() noexcept {
    ReaderRecord* record = t_record;
    return record != nullptr ? record : claim_this_thread_record();
}

// True when some thread announces a read of `counter` in one of its slots.
bool announced_by_a_reader(const AccessCounter* counter) noexcept;

// One counted read: false when a writer holds the counter.
inline bool counted_read(AccessCounter& counter) noexcept {
    std::int32_t seen = counter.state_.load(std::memory_order_relaxed);
    while (seen >= 0) {
        if (counter.state_.compare_exchange_weak(seen, seen + 1, std::memory_order_seq_cst,
                                                 std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

}  // namespace access_detail

namespace concurrent {

// Holds shared access for a scope. Check `ok()` after construction.
class SharedAccess {
public:
    explicit SharedAccess(AccessCounter& counter) noexcept : counter_(counter) {
        using namespace access_detail;
        record_ = this_thread_record();
        if (record_ != nullptr && record_->depth < kSlotsPerThread) {
            std::atomic<const AccessCounter*>& slot = record_->slots[record_->depth];
            // A sequentially consistent exchange and load: the store-then-load of the handshake
            // in the single total order, with one locked instruction rather than a full fence.
            // The load also acquires what the last writer released when it let go.
            slot.exchange(&counter, std::memory_order_seq_cst);
            if (counter.state_.load(std::memory_order_seq_cst) < 0) {
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
        ok_ = counted_read(counter);
    }
    ~SharedAccess() {
        if (!ok_) return;
        if (record_ != nullptr) {
            --record_->depth;
            record_->slots[record_->depth].store(nullptr, std::memory_order_release);
        } else {
            counter_.state_.fetch_sub(1, std::memory_order_release);
        }
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    access_detail::ReaderRecord* record_ = nullptr;  // set when the read is announced in a slot
    bool ok_ = false;
};

// Shared access to two objects at once (the two operands of an operation): both are announced
// behind one fence. Fails, holding neither, when a writer holds either.
class SharedAccessPair {
public:
    SharedAccessPair(AccessCounter& first, AccessCounter& second) noexcept : first_(first), second_(second) {
        using namespace access_detail;
        record_ = this_thread_record();
        if (record_ != nullptr && record_->depth + 2 <= kSlotsPerThread) {
            std::atomic<const AccessCounter*>* slots = record_->slots + record_->depth;
            slots[0].store(&first, std::memory_order_relaxed);
            slots[1].store(&second, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_seq_cst);
            if (first.state_.load(std::memory_order_relaxed) < 0 ||
                second.state_.load(std::memory_order_relaxed) < 0) {
                slots[1].store(nullptr, std::memory_order_release);
                slots[0].store(nullptr, std::memory_order_release);
                record_ = nullptr;
                return;
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            record_->depth += 2;
            ok_ = true;
            return;
        }
        record_ = nullptr;
        if (!counted_read(first)) return;
        if (!counted_read(second)) {
            first.state_.fetch_sub(1, std::memory_order_release);
            return;
        }
        ok_ = true;
    }
    ~SharedAccessPair() {
        if (!ok_) return;
        if (record_ != nullptr) {
            record_->depth -= 2;
            record_->slots[record_->depth + 1].store(nullptr, std::memory_order_release);
            record_->slots[record_->depth].store(nullptr, std::memory_order_release);
        } else {
            second_.state_.fetch_sub(1, std::memory_order_release);
            first_.state_.fetch_sub(1, std::memory_order_release);
        }
    }
    SharedAccessPair(const SharedAccessPair&) = delete;
    SharedAccessPair& operator=(const SharedAccessPair&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& first_;
    AccessCounter& second_;
    access_detail::ReaderRecord* record_ = nullptr;
    bool ok_ = false;
};

// Holds exclusive access for a scope. Check `ok()` after construction.
class ExclusiveAccess {
public:
    explicit ExclusiveAccess(AccessCounter& counter) noexcept : counter_(counter) {
        std::int32_t expected = 0;
        // The mark is a sequentially consistent read-modify-write and the slots are read with
        // sequentially consistent loads (plain loads on x86), so no fence is needed on this side:
        // the mark and the scan are in the single total order, as the readers' announcements are.
        // A slot seen empty acquires the release by which its reader let go, so earlier reads
        // are over before this writer changes anything.
        if (!counter.state_.compare_exchange_strong(expected, -1, std::memory_order_seq_cst,
                                                    std::memory_order_relaxed)) {
            return;
        }
        if (access_detail::announced_by_a_reader(&counter)) {
            counter.state_.store(0, std::memory_order_release);
            return;
        }
        ok_ = true;
    }
    ~ExclusiveAccess() {
        if (ok_) counter_.state_.store(0, std::memory_order_release);
    }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    bool ok_ = false;
};

}  // namespace concurrent

namespace serial {

class SharedAccess {
public:
    explicit SharedAccess(AccessCounter& counter) noexcept : counter_(counter) {
        const std::int32_t seen = counter.state_.load(std::memory_order_relaxed);
        ok_ = seen >= 0;
        if (ok_) counter.state_.store(seen + 1, std::memory_order_relaxed);
    }
    ~SharedAccess() {
        if (ok_) counter_.state_.store(counter_.state_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
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
    explicit ExclusiveAccess(AccessCounter& counter) noexcept : counter_(counter) {
        ok_ = counter.state_.load(std::memory_order_relaxed) == 0;
        if (ok_) counter.state_.store(-1, std::memory_order_relaxed);
    }
    ~ExclusiveAccess() {
        if (ok_) counter_.state_.store(0, std::memory_order_relaxed);
    }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    bool ok_;
};

}  // namespace serial

}  // namespace tolvat
