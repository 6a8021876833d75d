// Placeholder implementations, replaced as the features land.
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_add(PyObject*, PyObject*) noexcept {
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* tolvat_subtract(PyObject*, PyObject*) noexcept {
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* tolvat_multiply(PyObject*, PyObject*) noexcept {
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* tolvat_true_divide(PyObject*, PyObject*) noexcept {
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* tolvat_power(PyObject*, PyObject*, PyObject*) noexcept {
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* tolvat_negative(PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_positive(PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_absolute(PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_div(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_rdiv(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_exp(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_log(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_log10(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

}  // namespace tolvat::py
