// The logarithmic ratio units: bel, decibel, neper and semitone.
#pragma once

#include <cstddef>
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

inline constexpr std::size_t kLogUnitCount = 4;

std::span<const LogUnitDef, kLogUnitCount> log_unit_table() noexcept;

// Exact match of the whole text against each row's name and symbol; nullptr when none.
LogUnit search_for_log_unit_name(std::string_view text) noexcept;

}  // namespace tolvat
