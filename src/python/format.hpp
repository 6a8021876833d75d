// format() and f-strings for both quantity classes.
//
// An empty format spec gives exactly str(). Any other spec formats the number as Python formats a
// float with that spec, followed by one space and the unit text that str() shows: for a Tolvat
// the fully simplified unit, for a LogTolvat the symbol in square brackets. A spec that a float
// does not accept raises Python's own ValueError.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

// __format__($self, format_spec, /) of Tolvat: exclusive access, like str(), since the object is
// first brought into its simple simplification in place.
PyObject* tolvat_format(PyObject* self, PyObject* format_spec) noexcept;

// __format__($self, format_spec, /) of LogTolvat: shared access; the object is not changed.
PyObject* log_tolvat_format(PyObject* self, PyObject* format_spec) noexcept;

}  // namespace tolvat::py
