// The extension module: multi-phase initialisation with one execution step, no module state,
// and the declaration that the module runs without the global interpreter lock.
#include "errors.hpp"
#include "objects.hpp"

namespace tolvat::py {
namespace {

int add_type(PyObject* module, const char* name, PyTypeObject* type) noexcept {
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type));
}

int tolvat_exec(PyObject* module) noexcept {
    if (module == nullptr) return -1;
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "tolvat: the execution step needs a module object");
        return -1;
    }
    if (ensure_error_objects() < 0) return -1;
    if (ensure_tolvat_type() < 0 || add_type(module, "Tolvat", g_tolvat_type) < 0) return -1;
    if (ensure_log_tolvat_type() < 0 || add_type(module, "LogTolvat", g_log_tolvat_type) < 0) return -1;
    return 0;
}

PyModuleDef_Slot tolvat_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(tolvat_exec)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef tolvat_module = {
    PyModuleDef_HEAD_INIT,
    "tolvat",
    "Physical quantities: values with units, conversions and arithmetic.",
    0,
    nullptr,
    tolvat_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tolvat::py

PyMODINIT_FUNC PyInit_tolvat(void) { return PyModuleDef_Init(&tolvat::py::tolvat_module); }
