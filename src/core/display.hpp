// What the text forms of a quantity show, and the one way a number and a unit text are joined.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "error.hpp"
#include "quantity.hpp"
#include "render.hpp"
#include "text_buffer.hpp"

namespace tolvat {

// A text in up to four pieces, written one after another without being joined first.
struct TextPieces {
    std::array<std::string_view, 4> pieces{};
    std::size_t count = 0;
};

// A quantity's text: the number text, the separator of the form (a space, or "~" for LaTeX),
// then the unit text. Every text form of both quantity classes is joined here, with the number
// as given (a formatted number) or as the number text of `value`.
void join_quantity_text(TextBuffer& out, std::string_view number, UnitText form, const TextPieces& unit);
void join_quantity_text(TextBuffer& out, double value, UnitText form, const TextPieces& unit);

// The unit text of a logarithmic quantity: its symbol in square brackets, as stored.
inline TextPieces log_unit_text(std::string_view symbol) noexcept { return TextPieces{{"[", symbol, "]"}, 3}; }

// The quantity a text form shows, and its unit text in that form. Not copyable: the unit text
// may point into the object itself.
class DisplayedQuantity {
public:
    DisplayedQuantity() noexcept = default;
    DisplayedQuantity(const DisplayedQuantity&) = delete;
    DisplayedQuantity& operator=(const DisplayedQuantity&) = delete;

    double value() const noexcept { return value_; }
    // Valid while this object lives and no other quantity is displayed on this thread.
    const TextPieces& unit_text() const noexcept { return unit_text_; }

private:
    friend Status display_quantity(Quantity& quantity, bool& units_simple, UnitText form, DisplayedQuantity& out);
    double value_ = 0.0;
    TextPieces unit_text_;
    std::optional<UnitCollection> full_;  // the fully simplified copy, when one is shown
    std::string rendered_;
};

// Brings the quantity into its simple simplification in place (skipped while `units_simple` says
// the units already are; it is kept up to date), then fills `out` with what the form shows:
// for the plain form the value converted into a fully simplified copy of the units, for LaTeX and
// the descriptive form the quantity as it now is. On failure the quantity is unchanged.
Status display_quantity(Quantity& quantity, bool& units_simple, UnitText form, DisplayedQuantity& out);

// display_quantity, then the value's number text joined with the unit text.
Status quantity_text(TextBuffer& out, Quantity& quantity, bool& units_simple, UnitText form);

}  // namespace tolvat
