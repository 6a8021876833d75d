// Pickling and copying of both types: __reduce__, the private class method _from_state that
// pickles call back, __copy__ and __deepcopy__.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

PyObject* tolvat_reduce(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_from_state(PyObject* cls, PyObject* state) noexcept;
PyObject* tolvat_copy(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_deepcopy(PyObject* self, PyObject* memo) noexcept;

PyObject* log_tolvat_reduce(PyObject* self, PyObject* unused) noexcept;
PyObject* log_tolvat_from_state(PyObject* cls, PyObject* state) noexcept;
PyObject* log_tolvat_copy(PyObject* self, PyObject* unused) noexcept;
PyObject* log_tolvat_deepcopy(PyObject* self, PyObject* memo) noexcept;

}  // namespace tolvat::py
