// Placeholder implementations, replaced as the features land.
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_constant(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_custom(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

}  // namespace tolvat::py
