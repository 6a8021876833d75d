// The one way a 64-bit float is written as text.
#pragma once

#include <cstddef>
#include <string>

#include "base_exponents.hpp"
#include "text_buffer.hpp"

namespace tolvat {

// Shortest round-trip digits in positional notation: no exponent, no decimal point for whole
// numbers, "-0" for negative zero, "NaN", "inf", "-inf".
void append_number_text(std::string& out, double value);
void append_number_text(TextBuffer& out, double value);
// The same text written into out[0, room): its length, or 0 when it does not fit.
std::size_t number_text_into(char* out, std::size_t room, double value) noexcept;
std::string number_text(double value);

// One exponent list as it appears in internal messages: "[0.0, 1.0, -2.0, ...]", shortest
// digits with ".0" on whole numbers and exponent form below 1e-4 or from 1e16 in magnitude.
std::string exponents_list_text(const BaseExponents& exponents);

}  // namespace tolvat
