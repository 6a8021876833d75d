// The byte form of quantities that pickles carry: compact, versioned, and checked on the way in.
//
// A state starts with its format number. Pickles outlive the process that wrote them, so every
// later version reads every format written before it; docs/guide/pickling-and-scaling-out.md
// describes the layout. Table units are written as their row in the unit table and their prefix
// as its row in the prefix table, so those tables only ever grow at the end.
//
// Reading accepts only what writing can produce: a state that is cut short, too long, of an
// unknown format, names a row that does not exist, repeats a unit, holds text that is not UTF-8,
// or carries a dimension or multiplier that does not belong to its units is refused with a
// message, never turned into a quantity that misbehaves later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "error.hpp"
#include "log_quantity.hpp"
#include "quantity.hpp"

namespace tolvat {

inline constexpr std::uint8_t kStateFormat = 1;
// A quantity over an array: the layout of format 1, whose value field is 1.0 and unused; the
// values travel beside the state (the array pickles itself).
inline constexpr std::uint8_t kArrayStateFormat = 2;
// More distinct units than any real quantity has; it keeps a hostile state's cost bounded.
inline constexpr std::size_t kMaxStateEntries = 4096;

// Why a state cannot be read (or a quantity cannot be written): the text of a ValueError.
struct StateError {
    std::string message;
};

// The size of the state of `quantity`, or why it has none: too many units, or summaries that
// arithmetic has pushed out of step with the units (a dimension off by a rounding, which
// simplification refuses as well, or a multiplier through an overflow), which reading would refuse.
Expected<std::size_t, StateError> state_size(const Quantity& quantity);
// Writes exactly state_size(quantity) bytes to `out`, starting with `format` (kStateFormat, or
// kArrayStateFormat for the units of an array quantity).
void write_state(const Quantity& quantity, unsigned char* out, std::uint8_t format = kStateFormat) noexcept;
// The same as one string (tests and tools).
Expected<std::string, StateError> encode_state(const Quantity& quantity);
// The quantity a state describes. May throw std::bad_alloc. A state of `format` (either format)
// is read; any other format is refused.
Expected<Quantity, StateError> decode_state(std::string_view state, std::uint8_t format = kStateFormat);

inline constexpr std::size_t kLogStateSize = 10;
void write_log_state(const LogQuantity& quantity, unsigned char* out) noexcept;
Expected<LogQuantity, StateError> decode_log_state(std::string_view state);

}  // namespace tolvat
