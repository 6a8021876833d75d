// Python's own exact decimal rounding of a float, for values the scaled formula cannot handle.
#pragma once

#include <cstdint>
#include <optional>

namespace tolvat::py {

// float.__round__(value, digits); nothing with Python's exception set (its OverflowError for a
// result beyond the double range passes on).
std::optional<double> python_float_round(double value, std::int64_t digits) noexcept;

}  // namespace tolvat::py
