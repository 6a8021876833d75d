// NumPy's protocols on Tolvat (array_protocols.cpp).
#pragma once

#include "module_state.hpp"
#include "python_api.hpp"

namespace tolvat::py {

// __array_ufunc__(ufunc, method, *inputs, **kwargs)
PyObject* tolvat_array_ufunc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// __array_function__(func, types, args, kwargs)
PyObject* tolvat_array_function(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// LogTolvat.__array_ufunc__: NumPy's scalars go through LogTolvat's own operators, arrays raise.
PyObject* log_tolvat_array_ufunc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// __array__(dtype=None, copy=None)
PyObject* tolvat_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// The ufuncs, array functions and support module the protocols keep (module clear and traverse).
void clear_protocol_caches(ModuleState* state) noexcept;
int traverse_protocol_caches(ModuleState* state, visitproc visit, void* arg) noexcept;

}  // namespace tolvat::py
