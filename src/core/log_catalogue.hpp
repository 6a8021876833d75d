// The logarithmic ratio units: bel, decibel, neper and semitone.
#pragma once

#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>

namespace tolvat {

struct LogUnitDef {
    std::string_view name;
    std::string_view symbol;
    double base;  // the ratio one unit stands for
};

// A resolved logarithmic unit: a row of the table, shared rather than copied.
using LogUnit = const LogUnitDef*;

// Saved states name a logarithmic unit by its row (state.hpp): rows are only ever added at the end.
inline constexpr LogUnitDef kLogUnits[] = {
    {.name = "bel", .symbol = "B", .base = 10.0},
    {.name = "decibel", .symbol = "dB", .base = 1.2589254117941673},
    {.name = "neper", .symbol = "Np", .base = 2.718281828459045},
    {.name = "semitone", .symbol = "stn", .base = 1.0594630943592953},
};
inline constexpr std::size_t kLogUnitCount = std::size(kLogUnits);

std::span<const LogUnitDef, kLogUnitCount> log_unit_table() noexcept;

// Exact match of the whole text against each row's name and symbol; nullptr when none.
LogUnit search_for_log_unit_name(std::string_view text) noexcept;

}  // namespace tolvat
