// Unit collections as text: plain symbols, LaTeX, and long descriptive names.
#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "text_buffer.hpp"
#include "unit_collection.hpp"

namespace tolvat {

std::string as_string(const UnitCollection& collection);              // [kg.m2/s2]
std::string as_latex(const UnitCollection& collection);               // \mathrm{\frac{kg~m^2}{s^2}}
std::string as_descriptive_string(const UnitCollection& collection);  // [kilogram.meter2/second2]

// Appends one of the three forms above to `out`.
enum class UnitText { Plain, Latex, Descriptive };
void append_unit_text(std::string& out, const UnitCollection& collection, UnitText form);
void append_unit_text(TextBuffer& out, const UnitCollection& collection, UnitText form);

// The text of a collection that is one unit at power one, in four pieces to be joined (opening,
// the two halves of the unit's text, closing); nothing for any other collection. The pieces live
// as long as the collection.
struct LoneUnitText {
    std::array<std::string_view, 4> pieces;
};
std::optional<LoneUnitText> lone_unit_text(const UnitCollection& collection, UnitText form) noexcept;

// The text-formatting hook of a collection writes its plain form.
std::ostream& operator<<(std::ostream& out, const UnitCollection& collection);

}  // namespace tolvat
