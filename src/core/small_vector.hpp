// A vector that keeps its first N elements inside the object and moves to the heap beyond that.
// Collections of units are a handful of entries, so the common case never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace tolvat {

// Types whose objects may move by copying their bytes, the source then being forgotten without
// running its destructor. True of trivially copyable types; a type that owns nothing tied to its
// own address can say so by specialising this.
template <typename T>
struct RelocatableByCopy : std::is_trivially_copyable<T> {};

template <typename T, std::size_t N>
class SmallVector {
public:
    SmallVector() noexcept = default;
    SmallVector(const SmallVector& other) { append_copies(other); }
    SmallVector(SmallVector&& other) noexcept { take(std::move(other)); }
    SmallVector& operator=(const SmallVector& other) {
        if (this != &other) {
            clear();
            append_copies(other);
        }
        return *this;
    }
    SmallVector& operator=(SmallVector&& other) noexcept {
        if (this != &other) {
            clear();
            release_heap();
            take(std::move(other));
        }
        return *this;
    }
    ~SmallVector() {
        clear();
        release_heap();
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T* data() noexcept { return heap_capacity_ ? heap_ : inline_data(); }
    const T* data() const noexcept { return heap_capacity_ ? heap_ : inline_data(); }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size_; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size_; }
    T& operator[](std::size_t i) noexcept { return data()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }

    void reserve(std::size_t wanted) {
        if (wanted <= capacity()) return;
        std::size_t new_capacity = capacity() * 2;
        if (new_capacity < wanted) new_capacity = wanted;
        T* fresh = static_cast<T*>(::operator new(new_capacity * sizeof(T)));
        T* old = data();
        for (std::size_t i = 0; i < size_; ++i) {
            ::new (fresh + i) T(std::move(old[i]));
            old[i].~T();
        }
        release_heap();
        heap_ = fresh;
        heap_capacity_ = static_cast<std::uint32_t>(new_capacity);
    }

    template <typename... Args>
    T& emplace_back(Args&&... args) {
        if (size_ == capacity()) reserve(size_ + 1);
        T* slot = ::new (data() + size_) T(std::forward<Args>(args)...);
        ++size_;
        return *slot;
    }
    void push_back(const T& value) { emplace_back(value); }
    void push_back(T&& value) { emplace_back(std::move(value)); }

    // Removes element i, keeping the order of the rest.
    void erase_at(std::size_t i) noexcept {
        T* d = data();
        for (std::size_t j = i; j + 1 < size_; ++j) d[j] = std::move(d[j + 1]);
        d[size_ - 1].~T();
        --size_;
    }

    void clear() noexcept {
        T* d = data();
        for (std::size_t i = 0; i < size_; ++i) d[i].~T();
        size_ = 0;
    }

private:
    std::size_t capacity() const noexcept { return heap_capacity_ ? heap_capacity_ : N; }
    T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }
    const T* inline_data() const noexcept { return std::launder(reinterpret_cast<const T*>(storage_)); }

    void append_copies(const SmallVector& other) {
        reserve(size_ + other.size_);
        // Room is made once, so the copies go straight into place.
        T* out = data() + size_;
        for (const T& value : other) {
            ::new (out) T(value);
            ++out;
            ++size_;
        }
    }
    void take(SmallVector&& other) noexcept {
        if (other.heap_capacity_) {
            heap_ = other.heap_;
            heap_capacity_ = other.heap_capacity_;
            size_ = other.size_;
            other.heap_capacity_ = 0;
            other.size_ = 0;
            return;
        }
        if constexpr (RelocatableByCopy<T>::value) {
            // The whole inline buffer, a fixed size the compiler copies in a few moves.
            std::memcpy(static_cast<void*>(storage_), static_cast<const void*>(other.storage_), sizeof(storage_));
            size_ = other.size_;
            other.size_ = 0;
            return;
        } else {
            for (std::size_t i = 0; i < other.size_; ++i) {
                ::new (inline_data() + i) T(std::move(other.inline_data()[i]));
            }
            size_ = other.size_;
            other.clear();
        }
    }
    void release_heap() noexcept {
        if (heap_capacity_) ::operator delete(heap_);
        heap_capacity_ = 0;
    }

    std::uint32_t size_ = 0;
    std::uint32_t heap_capacity_ = 0;  // 0 while the elements live inline
    union {
        T* heap_;
        alignas(T) unsigned char storage_[N * sizeof(T)];
    };
};

}  // namespace tolvat
