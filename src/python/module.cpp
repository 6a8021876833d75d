// The extension module: multi-phase initialisation with one execution step, a state of its own
// in each interpreter that imports it (its two types and its internal-error type), and the
// declaration that the module runs without the global interpreter lock.
//
// The module definition has no slot about sub-interpreters, so the interpreter applies its
// default: the module loads in sub-interpreters that share the main interpreter's GIL, each with
// its own types, and an interpreter with a GIL of its own gets ImportError.
#include "array_protocols.hpp"
#include "errors.hpp"
#include "module_state.hpp"
#include "objects.hpp"
#include "pickling.hpp"
#include "private_functions.hpp"

namespace tolvat::py {
namespace {

ModuleState* state_of(PyObject* module) noexcept { return static_cast<ModuleState*>(PyModule_GetState(module)); }

int add_type(PyObject* module, const char* name, PyTypeObject* type) noexcept {
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type));
}

int tolvat_exec(PyObject* module) noexcept {
    if (module == nullptr) return -1;
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "tolvat: the execution step needs a module object");
        return -1;
    }
    ModuleState* state = state_of(module);
    if (state == nullptr) return -1;
    state->internal_error = new_internal_error_type();
    if (state->internal_error == nullptr) return -1;
    state->tolvat_type = create_tolvat_type(module);
    if (state->tolvat_type == nullptr || add_type(module, "Tolvat", state->tolvat_type) < 0) return -1;
    state->log_tolvat_type = create_log_tolvat_type(module);
    if (state->log_tolvat_type == nullptr || add_type(module, "LogTolvat", state->log_tolvat_type) < 0) return -1;
    if (add_reconstructors(module) < 0) return -1;
    return add_private_functions(module);
}

int tolvat_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
    ModuleState* state = state_of(module);
    if (state == nullptr) return 0;
    Py_VISIT(state->tolvat_type);
    Py_VISIT(state->log_tolvat_type);
    Py_VISIT(state->internal_error);
    Py_VISIT(state->tolvat_restore);
    Py_VISIT(state->log_tolvat_restore);
    if (int result = traverse_lazy_imports(state, visit, arg)) return result;
    return traverse_protocol_caches(state, visit, arg);
}

int tolvat_clear(PyObject* module) noexcept {
    ModuleState* state = state_of(module);
    if (state == nullptr) return 0;
    Py_CLEAR(state->tolvat_type);
    Py_CLEAR(state->log_tolvat_type);
    Py_CLEAR(state->internal_error);
    Py_CLEAR(state->tolvat_restore);
    Py_CLEAR(state->log_tolvat_restore);
    clear_lazy_imports(state);
    clear_protocol_caches(state);
    return 0;
}

void tolvat_free(void* module) noexcept { tolvat_clear(static_cast<PyObject*>(module)); }

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
    sizeof(ModuleState),
    nullptr,
    tolvat_slots,
    tolvat_traverse,
    tolvat_clear,
    tolvat_free,
};

}  // namespace

ModuleState* module_state_of(PyTypeObject* type) noexcept {
    PyObject* module = PyType_GetModuleByDef(type, &tolvat_module);
    return module != nullptr ? state_of(module) : nullptr;
}

ModuleState* current_module_state() noexcept {
    PyObject* name = PyUnicode_FromString("tolvat");
    PyObject* module = name != nullptr ? PyImport_GetModule(name) : nullptr;
    Py_XDECREF(name);
    ModuleState* state = nullptr;
    // sys.modules keeps the module, and with it the state, after this reference goes.
    if (module != nullptr && PyModule_Check(module) && PyModule_GetDef(module) == &tolvat_module) state = state_of(module);
    Py_XDECREF(module);
    if (state == nullptr) PyErr_Clear();
    return state;
}

}  // namespace tolvat::py

PyMODINIT_FUNC PyInit_tolvat(void) { return PyModuleDef_Init(&tolvat::py::tolvat_module); }
