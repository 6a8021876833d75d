// A run of characters that lives on the stack unless it grows unusually long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tolvat {

// Copies `size` bytes. Texts here are a few to a few dozen bytes: up to sixteen move as two
// (possibly overlapping) words each way, longer ones through the library.
inline void copy_text(char* out, const char* from, std::size_t size) noexcept {
    if (size >= 8 && size <= 16) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + size - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + size - 8, &tail, 8);
    } else if (size >= 4 && size < 8) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + size - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + size - 4, &tail, 4);
    } else if (size < 4) {
        for (std::size_t i = 0; i < size; ++i) out[i] = from[i];
    } else {
        std::memcpy(out, from, size);
    }
}

// True when every byte of the text is below 0x80, tested a word at a time.
inline bool is_ascii(std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t size = text.size();
    std::uint64_t seen = 0;
    if (size >= 8) {
        for (std::size_t i = 0; i + 8 <= size; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            seen |= word;
        }
        std::uint64_t last;  // the last eight bytes, overlapping what was seen
        std::memcpy(&last, p + size - 8, 8);
        seen |= last;
    } else if (size >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + size - 4, 4);
        seen = head | tail;
    } else {
        for (std::size_t i = 0; i < size; ++i) seen |= static_cast<unsigned char>(p[i]);
    }
    return (seen & 0x8080808080808080ull) == 0;
}

class TextBuffer {
public:
    TextBuffer() noexcept = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    std::size_t size() const noexcept { return on_heap_ ? heap_.size() : used_; }
    const char* data() const noexcept { return on_heap_ ? heap_.data() : local_; }
    std::string_view view() const noexcept { return {data(), size()}; }

    void append(std::string_view piece) {
        if (!on_heap_ && piece.size() <= sizeof local_ - used_) {
            copy_text(local_ + used_, piece.data(), piece.size());
            used_ += piece.size();
            return;
        }
        text().append(piece);
    }
    void push_back(char c) {
        if (!on_heap_ && used_ < sizeof local_) {
            local_[used_++] = c;
            return;
        }
        text().push_back(c);
    }

    // The characters as a std::string to append to, for writers that need one; the buffer
    // moves to the heap for good.
    std::string& text() {
        if (!on_heap_) {
            heap_.assign(local_, used_);
            on_heap_ = true;
        }
        return heap_;
    }
    // Room for up to `room` more characters written in place, or nullptr once on the heap or
    // when they do not fit; `commit` then adds the number actually written.
    char* reserve_local(std::size_t room) noexcept {
        return !on_heap_ && room <= sizeof local_ - used_ ? local_ + used_ : nullptr;
    }
    void commit(std::size_t written) noexcept { used_ += written; }

private:
    char local_[240];
    std::size_t used_ = 0;
    bool on_heap_ = false;
    std::string heap_;
};

}  // namespace tolvat
