#include "log_catalogue.hpp"

#include <iterator>

namespace tolvat {
namespace {

constexpr LogUnitDef kLogUnits[] = {
    {.name = "bel", .symbol = "B", .base = 10.0},
    {.name = "decibel", .symbol = "dB", .base = 1.2589254117941673},
    {.name = "neper", .symbol = "Np", .base = 2.718281828459045},
    {.name = "semitone", .symbol = "stn", .base = 1.0594630943592953},
};
static_assert(std::size(kLogUnits) == kLogUnitCount, "kLogUnitCount must count the rows of the log unit table");

}  // namespace

std::span<const LogUnitDef, kLogUnitCount> log_unit_table() noexcept {
    return std::span<const LogUnitDef, kLogUnitCount>(kLogUnits);
}

LogUnit search_for_log_unit_name(std::string_view text) noexcept {
    for (const LogUnitDef& row : kLogUnits) {
        if (row.name == text || row.symbol == text) return &row;
    }
    return nullptr;
}

}  // namespace tolvat
