#include "spellings.hpp"

#include <array>
#include <cstddef>
#include <iterator>

namespace tolvat {
namespace {

constexpr Spelling kSpellings[] = {
    {"h", "hr", 1.0},
    {"hrs", "hr", 1.0},
    {"sec", "s", 1.0},
    {"secs", "s", 1.0},
    {"mins", "min", 1.0},
    {"l", "L", 1.0},
    {"ml", "mL", 1.0},
    {"litre", "liter", 1.0},
    {"lbs", "lb", 1.0},
    {"feet", "ft", 1.0},
    {"degC", "°C", 1.0},
    {"degF", "°F", 1.0},
    {"degK", "K", 1.0},
    {"deg_C", "°C", 1.0},
    {"deg_F", "°F", 1.0},
    {"degree_Celsius", "°C", 1.0},
    {"degree_Fahrenheit", "°F", 1.0},
    {"mph", "mi/hr", 1.0},
    {"kph", "km/hr", 1.0},
    {"kmh", "km/hr", 1.0},
    // Revolutions (or cycles) counted per minute.
    {"rpm", "1/min", 1.0},
    {"gpm", "gal/min", 1.0},
    {"cfm", "ft3/min", 1.0},
    {"%", "", 0.01},
    {"percent", "", 0.01},
};

constexpr std::size_t kSpellingCount = std::size(kSpellings);

}  // namespace

std::span<const Spelling> other_spellings() noexcept { return kSpellings; }

const Spelling* find_other_spelling(std::string_view text) noexcept {
    for (const Spelling& row : kSpellings) {
        if (row.spelling == text) return &row;
    }
    return nullptr;
}

const UnitCollection& spelling_units(const Spelling& row) noexcept {
    // Built once, thread-safely, and only read afterwards.
    static const auto parsed = [] {
        std::array<UnitCollection, kSpellingCount> units;
        for (std::size_t i = 0; i < kSpellingCount; ++i) {
            if (kSpellings[i].unit_text.empty()) continue;
            if (std::optional<UnitCollection> c = UnitCollection::from_unit_name(kSpellings[i].unit_text)) {
                units[i] = std::move(*c);
            }
        }
        return units;
    }();
    return parsed[static_cast<std::size_t>(&row - kSpellings)];
}

}  // namespace tolvat
