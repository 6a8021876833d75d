// Atomic access to a plain field of memory the interpreter allocates (the module state), which
// holds no std::atomic objects. std::atomic_ref where the C++ library has it; otherwise (libc++
// before version 19, as on macOS) the same operations through the compiler's atomic built-ins,
// which GCC and clang both provide.
#pragma once

#include <atomic>

namespace tolvat::py {

#if defined(__cpp_lib_atomic_ref)
template <class T>
using AtomicRef = std::atomic_ref<T>;
#else
template <class T>
class AtomicRef {
public:
    explicit AtomicRef(T& object) noexcept : object_(&object) {}
    T load(std::memory_order order = std::memory_order_seq_cst) const noexcept {
        return __atomic_load_n(object_, builtin(order));
    }
    void store(T value, std::memory_order order = std::memory_order_seq_cst) const noexcept {
        __atomic_store_n(object_, value, builtin(order));
    }
    bool compare_exchange_strong(T& expected, T desired,
                                 std::memory_order order = std::memory_order_seq_cst) const noexcept {
        const int failure = order == std::memory_order_acq_rel ? __ATOMIC_ACQUIRE
                            : order == std::memory_order_release ? __ATOMIC_RELAXED
                                                                 : builtin(order);
        return __atomic_compare_exchange_n(object_, &expected, desired, false, builtin(order), failure);
    }

private:
    static constexpr int builtin(std::memory_order order) noexcept {
        switch (order) {
            case std::memory_order_relaxed: return __ATOMIC_RELAXED;
            case std::memory_order_consume: return __ATOMIC_CONSUME;
            case std::memory_order_acquire: return __ATOMIC_ACQUIRE;
            case std::memory_order_release: return __ATOMIC_RELEASE;
            case std::memory_order_acq_rel: return __ATOMIC_ACQ_REL;
            default: return __ATOMIC_SEQ_CST;
        }
    }
    T* object_;
};
#endif

}  // namespace tolvat::py
