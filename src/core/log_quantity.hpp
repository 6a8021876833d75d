// A logarithmic ratio quantity: an amount in a logarithmic unit, standing for base^value.
#pragma once

#include <cmath>

#include "log_catalogue.hpp"

namespace tolvat {

struct LogQuantity {
    LogUnit unit;
    double value;

    // The plain ratio the quantity stands for.
    double ratio() const noexcept { return std::pow(unit->base, value); }
};

}  // namespace tolvat
