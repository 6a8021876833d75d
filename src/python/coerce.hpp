// Turning Python operands into the two operand kinds: quantities (UnitCoercible) and numbers
// (PyNumber). Every extraction copies what it takes, holding shared access to a source object
// only while copying.
#pragma once

#include <optional>

#include "../core/log_quantity.hpp"
#include "../core/quantity.hpp"
#include "python_api.hpp"

namespace tolvat::py {

// A Tolvat (copied), a LogTolvat (its ratio, dimensionless), a float or int (dimensionless), or a
// str naming a unit expression (one of that unit). On failure returns nothing with the Python
// exception set: RuntimeError for a source held exclusively, OverflowError for an int too large
// for a float, LookupError for a text naming no unit, TypeError for anything else.
std::optional<Quantity> coerce_to_quantity(PyObject* obj) noexcept;

// A plain number operand: a float, an int (as the nearest double), or a copied LogTolvat.
struct PyNumber {
    enum class Kind { Float, Integer, LogQuantity };
    Kind kind;
    double number;    // Float and Integer
    LogQuantity log;  // LogQuantity

    // The number, or the ratio a logarithmic quantity stands for.
    double as_double() const noexcept { return kind == Kind::LogQuantity ? log.ratio() : number; }
};

// On failure returns nothing with the Python exception set (TypeError "... cannot be coerced
// into a number", OverflowError, RuntimeError).
std::optional<PyNumber> coerce_to_number(PyObject* obj) noexcept;

// A copy of a LogTolvat argument; TypeError for other objects, RuntimeError when held exclusively.
std::optional<LogQuantity> extract_log_tolvat(PyObject* obj) noexcept;

}  // namespace tolvat::py
