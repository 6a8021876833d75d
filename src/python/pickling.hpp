// Pickling and copying of both types: __reduce__, the private class-level function _from_state
// that pickles call back, __copy__ and __deepcopy__.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

PyObject* tolvat_reduce(PyObject* self, PyObject* unused) noexcept;

PyObject* tolvat_copy(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_deepcopy(PyObject* self, PyObject* memo) noexcept;

PyObject* log_tolvat_reduce(PyObject* self, PyObject* unused) noexcept;

PyObject* log_tolvat_copy(PyObject* self, PyObject* unused) noexcept;
PyObject* log_tolvat_deepcopy(PyObject* self, PyObject* memo) noexcept;

// Makes each type's _from_state: a function bound to the module, set as a class attribute, and
// kept in the module state. Its name is its place, "Tolvat._from_state", so that pickle writes
// it as one global reference (module "tolvat", that dotted name). 0, or -1 with an exception set.
int add_reconstructors(PyObject* module) noexcept;

}  // namespace tolvat::py
