// Turning Python operands into the two operand kinds: quantities (UnitCoercible) and numbers
// (PyNumber). Every extraction copies what it takes, holding shared access to a source object
// only while copying.
#pragma once

#include <optional>

#include "../core/log_quantity.hpp"
#include "../core/quantity.hpp"
#include "python_api.hpp"

namespace tolvat::py {

// What a caller does with a failed extraction. Method arguments raise it (`Raise`, with the
// argument note added by the caller). Operator slots and rich comparison throw it away
// (`Discard`): then nothing describes the object (no call of its str(), which may run arbitrary
// Python code or report to the unraisable hook), and the failure leaves no exception set.
enum class OnFailure { Raise, Discard };

// The tests are made in this order: a Tolvat (copied), a LogTolvat (its ratio, dimensionless),
// a float or subclass (dimensionless), an int or subclass, bool included (the nearest double,
// dimensionless), a str or subclass naming a unit expression (one of that unit). On failure
// returns nothing; with OnFailure::Raise the exception is set: RuntimeError "Already mutably
// borrowed" for a source held exclusively, OverflowError for an int too large for a double, the
// interpreter's UnicodeEncodeError for a text that is not valid UTF-8, LookupError "Unit <text>
// not found", TypeError "<str(obj)> cannot be coerced into a unit" for anything else.
// A text whose parse dropped pieces that hold a name issues the UserWarning about them; when the
// warning is raised instead (the filter "error"), the result is nothing with that exception set,
// with OnFailure::Discard too, and the caller passes it on.
std::optional<Quantity> coerce_to_quantity(PyObject* obj, OnFailure on_failure = OnFailure::Raise) noexcept;

// coerce_to_quantity for the method argument `argument_name`: a failure is raised with the
// argument note, and for a text that names no unit, then with the note of nearest spellings.
std::optional<Quantity> coerce_argument(PyObject* obj, const char* argument_name) noexcept;

// A plain number operand: a float, an int (as the nearest double), or a copied LogTolvat.
struct PyNumber {
    enum class Kind { Float, Integer, LogQuantity };
    Kind kind;
    double number;    // Float and Integer
    LogQuantity log;  // LogQuantity

    // The number, or the ratio a logarithmic quantity stands for.
    double as_double() const noexcept { return kind == Kind::LogQuantity ? log.ratio() : number; }
};

// In this order: a float or subclass, an int or subclass (the nearest double), a LogTolvat
// (copied). On failure returns nothing; with OnFailure::Raise the exception is set:
// OverflowError, RuntimeError, or TypeError "<str(obj)> cannot be coerced into a number" for
// anything else, a Tolvat and a str included.
std::optional<PyNumber> coerce_to_number(PyObject* obj, OnFailure on_failure = OnFailure::Raise) noexcept;

// A copy of a LogTolvat argument; TypeError for other objects, RuntimeError when held exclusively.
std::optional<LogQuantity> extract_log_tolvat(PyObject* obj) noexcept;

}  // namespace tolvat::py
