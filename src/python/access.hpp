// The per-object access counter: many readers or one writer, and nobody ever waits.
#pragma once

#include <atomic>
#include <cstdint>

namespace tolvat::py {

class AccessCounter {
public:
    // Shared access; fails while a writer holds the object.
    bool try_shared() noexcept {
        std::int32_t seen = state_.load(std::memory_order_relaxed);
        while (seen >= 0) {
            if (state_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }
    void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }

    // Exclusive access; fails while anyone holds the object.
    bool try_exclusive() noexcept {
        std::int32_t expected = 0;
        return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }

    bool is_free() const noexcept { return state_.load(std::memory_order_acquire) == 0; }

private:
    static constexpr std::int32_t kExclusive = -1;
    std::atomic<std::int32_t> state_{0};
};

// Holds shared access for a scope. Check `ok()` after construction.
class SharedAccess {
public:
    explicit SharedAccess(AccessCounter& counter) noexcept : counter_(counter), ok_(counter.try_shared()) {}
    ~SharedAccess() {
        if (ok_) counter_.release_shared();
    }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    bool ok_;
};

// Holds exclusive access for a scope. Check `ok()` after construction.
class ExclusiveAccess {
public:
    explicit ExclusiveAccess(AccessCounter& counter) noexcept : counter_(counter), ok_(counter.try_exclusive()) {}
    ~ExclusiveAccess() {
        if (ok_) counter_.release_exclusive();
    }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
    bool ok() const noexcept { return ok_; }

private:
    AccessCounter& counter_;
    bool ok_;
};

}  // namespace tolvat::py
