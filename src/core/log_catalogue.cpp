#include "log_catalogue.hpp"

namespace tolvat {
namespace {

constexpr LogUnitDef kLogUnits[kLogUnitCount] = {
    {"bel", "B", 10.0},
    {"decibel", "dB", 1.2589254117941673},
    {"neper", "Np", 2.718281828459045},
    {"semitone", "stn", 1.0594630943592953},
};

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
