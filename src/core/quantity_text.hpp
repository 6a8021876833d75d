// The strict reading of a whole quantity text, as people write them: "9.81 m/s^2", "100 km/h",
// "W/(m2·K)", "kg m/s²", "5 ft 2 in", "20 degC", "9.81 [m/s2]". Nothing is dropped: a text is
// either read whole or refused with the place where reading stopped.
//
// The grammar, loosest binding first:
//
//   text     := sum
//   sum      := term ( ['+' | '-'] term )*       a new term starts at a number after a space,
//                                                 or at '+' or '-'; the sum is in the first
//                                                 term's units
//   term     := per ( 'per' per )*                'per' divides by what follows, up to the next
//   per      := loose ( ('/' | '*' | '×') loose )*   left to right, as in algebra
//   loose    := [number] tight? | tight           a number may lead each operand
//   tight    := factor ( ('.' | '·' | ' ' | '-') factor )*   products that bind tighter than '/'
//   factor   := ['square' | 'cubic' | 'sq' | 'cu'] atom power* ['squared' | 'cubed']
//   atom     := name | '(' sum ')' | '[' sum? ']'
//   power    := ('^' | '**') exponent | superscripts ("²", "⁻¹") | trailing digits ("m2", "s-1")
//   exponent := [sign] decimal | '(' [sign] decimal [ '/' [sign] decimal ] ')'
//   number   := [sign] decimal [ ('e' | 'E') [sign] digits | ('×' | '·' | '*') '10' ('^' digits
//               | superscripts) ], with '_' between digits as Python allows; or inf, nan
//
// Names are matched longest first over up to four words joined by single spaces or hyphens
// ("degree Celsius", "fl oz (imp)", "pound-force"), before a space or hyphen is read as a
// product. A name is, in this order: an extra name given by the caller, anything the catalogue's
// search resolves, another tool's spelling (spellings.hpp), the micro sign for the prefix "u", a
// plural of a unit's name ("meters", "feet", "inches", "degrees Celsius").
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "error.hpp"
#include "quantity.hpp"

namespace tolvat {

// An extra name the caller's text may use, standing for a quantity.
struct TextName {
    std::string_view name;
    Quantity quantity;
};

struct QuantityTextError {
    enum class Kind {
        UnknownPiece,  // a piece that is neither a number nor a unit (raised as LookupError)
        Malformed,     // unbalanced brackets, a dangling operator, an empty text (ValueError)
        Arithmetic,    // a sum of incompatible terms, powers out of range: `error` says which
    };
    Kind kind = Kind::Malformed;
    std::string message;
    std::string piece;         // UnknownPiece: the piece
    std::size_t position = 0;  // in code points from the start of the text
    std::size_t width = 1;     // in code points
    Error error;               // Arithmetic
};

// The quantity the whole text stands for, in the simple simplification of its units as every
// operation leaves its result ("m/km" cancels, "W/m2.K" stays as written); a sum is in its first
// term's units after the library's addition.
Expected<Quantity, QuantityTextError> parse_quantity_text(std::string_view text,
                                                          std::span<const TextName> names = {});

// The same, through this thread's memo of parsed texts (texts without extra names only).
Expected<Quantity, QuantityTextError> parse_quantity_text_memo(std::string_view text);

// The text with a caret line under the failing piece, for an error's note.
std::string caret_note(std::string_view text, const QuantityTextError& error);

}  // namespace tolvat
