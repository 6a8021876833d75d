// Unit collections as text: plain symbols, LaTeX, and long descriptive names.
#pragma once

#include <ostream>
#include <string>

#include "unit_collection.hpp"

namespace tolvat {

std::string as_string(const UnitCollection& collection);              // [kg.m2/s2]
std::string as_latex(const UnitCollection& collection);               // \mathrm{\frac{kg~m^2}{s^2}}
std::string as_descriptive_string(const UnitCollection& collection);  // [kilogram.meter2/second2]

// Appends one of the three forms above to `out`.
enum class UnitText { Plain, Latex, Descriptive };
void append_unit_text(std::string& out, const UnitCollection& collection, UnitText form);

// The text-formatting hook of a collection writes its plain form.
std::ostream& operator<<(std::ostream& out, const UnitCollection& collection);

}  // namespace tolvat
