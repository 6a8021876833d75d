// Other tools' spellings of units that the tables do not hold ("h", "degC", "mph", "%"), each
// with what it means: a unit expression in Tolvat.unit's syntax, or a plain number. The strict
// quantity parser reads them as written; the advice on unit texts suggests their meaning.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "unit_collection.hpp"

namespace tolvat {

struct Spelling {
    std::string_view spelling;
    // What it stands for, in Tolvat.unit's syntax; empty for a plain number.
    std::string_view unit_text;
    // The number a unit-less spelling stands for ("%" is 0.01); 1 for the others.
    double number;
};

std::span<const Spelling> other_spellings() noexcept;

// The row whose spelling is exactly `text`, or nullptr.
const Spelling* find_other_spelling(std::string_view text) noexcept;

// The collection a row's unit text parses to (the empty collection for a plain number). Parsed
// once per process, on first use.
const UnitCollection& spelling_units(const Spelling& row) noexcept;

}  // namespace tolvat
