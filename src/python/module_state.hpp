// What each interpreter's copy of the module holds. Every interpreter that imports tolvat runs
// the execution step on a module object of its own, and gets its own type objects and exception
// type here: nothing Python-visible is shared between interpreters.
#pragma once

#include <cstddef>

#include "python_api.hpp"

namespace tolvat::py {

// How many ufuncs and array functions the protocols keep by object (array_protocols.cpp).
inline constexpr std::size_t kCachedUfuncs = 64;
inline constexpr std::size_t kCachedFunctions = 48;

// What the array support uses of NumPy: looked up when the first array is met, so that importing
// tolvat never imports NumPy. Strong references, owned by the module state.
struct NumpyApi {
    PyObject* module;       // numpy
    PyObject* ndarray;      // numpy.ndarray
    PyObject* generic;      // numpy.generic, the base of NumPy's scalars
    PyObject* asarray;      // numpy.asarray
    PyObject* power;        // numpy.power (the ufunc: no shortcut for particular exponents)
    PyObject* float64;      // numpy.float64
};

struct ModuleState {
    PyTypeObject* tolvat_type;
    PyTypeObject* log_tolvat_type;
    PyObject* internal_error;  // derives directly from BaseException; not a module attribute
    // The types' _from_state functions (pickling.hpp), one object each, so that a pickle of
    // many quantities names the callable once and refers back to it.
    PyObject* tolvat_restore;
    PyObject* log_tolvat_restore;
    // The ufuncs and array functions that __array_ufunc__ and __array_function__ have met, each
    // at the position of its rule, and the Python layer of the array functions. Each pointer is
    // set once, by a compare-exchange from nullptr through AtomicRef (atomic_ref.hpp), and read with acquire
    // loads; it holds a strong reference until the module is cleared.
    PyObject* ufuncs[kCachedUfuncs];
    PyObject* array_functions[kCachedFunctions];
    PyObject* array_function_support;
    // The same rule: the text "ndim", and the reduce methods of add, minimum and maximum (sum, min
    // and max of an ndarray).
    PyObject* ndim_name;
    PyObject* reduce_methods[3];
    // Filled by numpy_api() once; `numpy_ready` (read and written through AtomicRef (atomic_ref.hpp)) is set
    // with a release store after the fields are written, and read with an acquire load, so a
    // thread that sees it set sees the fields. The fields never change afterwards, until the
    // module is cleared.
    int numpy_ready;
    NumpyApi numpy;
    // _tolvat.arrays, imported on first need (iteration over an array quantity); the same rule
    // through `support_ready`.
    int support_ready;
    PyObject* support;
};

// The interpreter's NumPy entry points, importing NumPy on the first call; nullptr with the
// import's exception set when NumPy cannot be imported.
const NumpyApi* numpy_api(ModuleState* state) noexcept;
// The module _tolvat.arrays (borrowed); nullptr with an exception set.
PyObject* support_module(ModuleState* state) noexcept;
// Drops the references of both (module clear).
void clear_lazy_imports(ModuleState* state) noexcept;
int traverse_lazy_imports(ModuleState* state, visitproc visit, void* arg) noexcept;

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
