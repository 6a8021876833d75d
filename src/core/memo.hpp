// The per-thread memos: parsed texts (unit texts and quantity texts), and what a unit collection
// displays as (display.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "unit_collection.hpp"

namespace tolvat {

// True unless the environment variable TOLVAT_MEMO is "0" when first asked; read once per
// process. A memo only ever hands back what the call it stands for would compute, so the switch
// exists to compare the two ways in tests and benchmarks.
bool memos_enabled() noexcept;

// Programs parse the same few texts over and over ("m/s", "km", "9.81 m/s^2"), so each thread
// keeps the results of recent short ones. Parsing reads only the static tables, so a result stays
// valid forever; being per thread, the memo needs no lock. Unit texts (Tolvat.unit's grammar) and
// quantity texts (the strict grammar) share the slots, told apart by their kind.
class TextMemo {
public:
    static constexpr std::size_t kMaxKey = 48;

    enum class Kind : unsigned char { UnitText, QuantityText };

    struct Slot {
        std::string key;
        std::optional<UnitCollection> result;
        double value = 1.0;           // quantity texts: the number
        bool dropped_a_name = false;  // unit texts: so that a hit tells it as the parse did
        bool used = false;
        Kind kind = Kind::UnitText;
    };

    // The slot holding `text` of that kind, or nullptr.
    const Slot* find(std::string_view text, Kind kind) const noexcept {
        const Slot& slot = slots_[index(text, kind)];
        return slot.used && slot.kind == kind && slot.key == text ? &slot : nullptr;
    }
    Slot& slot_for(std::string_view text, Kind kind) noexcept { return slots_[index(text, kind)]; }
    void store(std::string_view text, Kind kind, const std::optional<UnitCollection>& result, double value,
               bool dropped_a_name) {
        Slot& slot = slot_for(text, kind);
        slot.used = false;  // until the copies below are made
        slot.key.assign(text);
        slot.result = result;
        slot.value = value;
        slot.dropped_a_name = dropped_a_name;
        slot.kind = kind;
        slot.used = true;
    }

private:
    static constexpr std::size_t kSlots = 64;

    static std::size_t index(std::string_view text, Kind kind) noexcept {
        std::uint64_t h = 1469598103934665603ull ^ static_cast<std::uint64_t>(kind);
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        return static_cast<std::size_t>(h >> 58) & (kSlots - 1);
    }
    std::array<Slot, kSlots> slots_;
};

// This thread's memo of parsed texts.
inline TextMemo& text_memo() noexcept {
    thread_local TextMemo memo;
    return memo;
}

}  // namespace tolvat
