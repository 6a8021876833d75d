// The pieces of the unit-expression syntax, shared by the parser and by the advice on texts it
// could not read as written.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tolvat {

// Decodes the UTF-8 code point starting at byte i; returns its length in bytes (1, with U+FFFD,
// for a bad byte).
std::size_t decode_utf8(std::string_view text, std::size_t i, char32_t& cp) noexcept;

// The text without leading and trailing Unicode white space.
std::string_view trim_unit_text(std::string_view text) noexcept;

// Splits one piece ("m2") into its unit name and power; false when the power text does not parse.
// A piece without a digit has power 1.
bool split_unit_power(std::string_view piece, std::string_view& name, double& power) noexcept;

// The pieces of `text` that the parser drops although they hold a name, in order, as views into
// `text`. Looks at every side of the text, also of one with more than one '/', which the parser
// refuses whole.
void dropped_unit_pieces(std::string_view text, std::vector<std::string_view>& out);

}  // namespace tolvat
