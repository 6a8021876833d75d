// Turning the core's error values, and the binding's own failures, into Python exceptions.
#pragma once

#include <string_view>

#include "../core/error.hpp"
#include "python_api.hpp"

namespace tolvat::py {

// A new exception type for internal consistency failures (derived directly from BaseException;
// not a module attribute), one per interpreter's module; nullptr with an exception set on failure.
PyObject* new_internal_error_type() noexcept;

// Raises the Python exception for `error`. Always returns nullptr.
PyObject* raise_error(const Error& error) noexcept;

// The exception being raised, taken out as one object (nullptr when there is none), and given
// back: for code that must run Python calls while an exception is pending.
PyObject* fetch_exception() noexcept;
void restore_exception(PyObject* exc) noexcept;

// The two access conflicts. Both return nullptr.
PyObject* raise_already_borrowed() noexcept;          // wanted exclusive access, object in use
PyObject* raise_already_mutably_borrowed() noexcept;  // wanted shared access, object held exclusively

// Adds the note "while processing '<name>'" to the exception being raised.
void add_argument_note(const char* argument_name) noexcept;

// Adds `note` (UTF-8) to the exception being raised; nothing when the note is empty.
void add_note(std::string_view note) noexcept;

// Raises UnitNotFound, LogUnitNotFound or ConstantNotFound for `text`, with the note of nearest
// spellings (and, for unit expressions, of how to write them) when there is one. Always nullptr.
PyObject* raise_unit_not_found(std::string_view text) noexcept;
PyObject* raise_log_unit_not_found(std::string_view text) noexcept;
PyObject* raise_constant_not_found(std::string_view text) noexcept;

// Issues the UserWarning for a unit text whose parse dropped pieces that hold a name. False, with
// the exception set, when the warning is raised (the filter "error") or cannot be issued.
bool warn_dropped_unit_text(std::string_view text) noexcept;

// Raises OverflowError("out of range integral type conversion attempted").
PyObject* raise_int32_overflow() noexcept;

}  // namespace tolvat::py
