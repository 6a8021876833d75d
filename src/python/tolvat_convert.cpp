// Placeholder implementations, replaced as the features land.
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_as_unit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_as_number(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_as_unitless(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_as_base_units(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_simplify(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_simplify_inplace(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_float(PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_int(PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

}  // namespace tolvat::py
