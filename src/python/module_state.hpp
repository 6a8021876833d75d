// What each interpreter's copy of the module holds. Every interpreter that imports tolvat runs
// the execution step on a module object of its own, and gets its own type objects and exception
// type here: nothing Python-visible is shared between interpreters.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

struct ModuleState {
    PyTypeObject* tolvat_type;
    PyTypeObject* log_tolvat_type;
    PyObject* internal_error;  // derives directly from BaseException; not a module attribute
    // The types' _from_state functions (pickling.hpp), one object each, so that a pickle of
    // many quantities names the callable once and refers back to it.
    PyObject* tolvat_restore;
    PyObject* log_tolvat_restore;
};

// The state of a tolvat module object.
inline ModuleState* module_state(PyObject* module) noexcept {
    return static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module that made `type`, one of the module's types. Cheap: the module is
// found on the type itself.
ModuleState* module_state_of(PyTypeObject* type) noexcept;

// The state of the current interpreter's tolvat module, or nullptr when it cannot be found (no
// exception set). A lookup in sys.modules: for error paths only.
ModuleState* current_module_state() noexcept;

}  // namespace tolvat::py
