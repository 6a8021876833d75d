// A run of characters that lives on the stack unless it grows unusually long.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace tolvat {

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
            // Pieces are a few characters each: copied in place rather than through a library call.
            for (char c : piece) local_[used_++] = c;
            return;
        }
        text().append(piece);
    }
    void push_back(char c) { append(std::string_view(&c, 1)); }

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
