#include "log_catalogue.hpp"

namespace tolvat {

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
