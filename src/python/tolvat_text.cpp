// Placeholder implementations, replaced as the features land.
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_str(PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_latex(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_descriptive(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_round(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

PyObject* tolvat_round_sfig(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "not available yet");
    return nullptr;
}

}  // namespace tolvat::py
