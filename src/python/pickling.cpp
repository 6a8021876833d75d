// Pickling and copying of both types. A quantity reduces to its class's private `_from_state`
// and its state as bytes (the layout is the core's, see state.hpp); copies are new objects with
// their own copy of the quantity.
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "../core/state.hpp"
#include "errors.hpp"
#include "module_state.hpp"
#include "objects.hpp"
#include "pickling.hpp"

namespace tolvat::py {
namespace {

// (type(self)._from_state, (state,)), taking the state over. The callable is the one object the
// module keeps, so pickles of many quantities name it once.
PyObject* reduction(PyObject* self, PyObject* state) noexcept {
    if (state == nullptr) return nullptr;
    const ModuleState* module = module_state_of(Py_TYPE(self));
    if (module == nullptr) {
        Py_DECREF(state);
        return nullptr;
    }
    PyObject* restore = is_tolvat(self) ? module->tolvat_restore : module->log_tolvat_restore;
    return Py_BuildValue("(O(N))", restore, state);
}

// The bytes of a state argument, or nullopt with TypeError set.
std::optional<std::string_view> state_argument(PyObject* state, const char* type_name) noexcept {
    if (!PyBytes_Check(state)) {
        PyErr_Format(PyExc_TypeError, "%s state must be bytes, not %.200s", type_name, Py_TYPE(state)->tp_name);
        return std::nullopt;
    }
    return std::string_view(PyBytes_AS_STRING(state), static_cast<std::size_t>(PyBytes_GET_SIZE(state)));
}

PyObject* raise_invalid_state(const char* type_name, const StateError& error) noexcept {
    PyErr_Format(PyExc_ValueError, "invalid %s state: %s", type_name, error.message.c_str());
    return nullptr;
}

}  // namespace

PyObject* tolvat_reduce(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    PyObject* state;
    {
        SharedAccess access(self->access);
        if (!access.ok()) return raise_already_mutably_borrowed();
        try {
            Expected<std::size_t, StateError> size = state_size(self->quantity);
            if (!size) {
                PyErr_Format(PyExc_ValueError, "this Tolvat cannot be pickled: %s", size.error().message.c_str());
                return nullptr;
            }
            state = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(*size));
            if (state == nullptr) return nullptr;
            write_state(self->quantity, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(state)));
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    return reduction(self_obj, state);
}

namespace {

// What the module's _from_state calls with the state: the quantity, of this module's type.
PyObject* tolvat_from_state(PyObject* module, PyObject* state) noexcept {
    const std::optional<std::string_view> bytes = state_argument(state, "Tolvat");
    if (!bytes) return nullptr;
    try {
        Expected<Quantity, StateError> quantity = decode_state(*bytes);
        if (!quantity) return raise_invalid_state("Tolvat", quantity.error());
        return new_tolvat(module_state(module)->tolvat_type, std::move(quantity).value());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject* tolvat_copy(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        return new_tolvat(Py_TYPE(self_obj), Quantity(self->quantity));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_deepcopy(PyObject* self, PyObject*) noexcept { return tolvat_copy(self, nullptr); }

PyObject* log_tolvat_reduce(PyObject* self_obj, PyObject*) noexcept {
    LogTolvatObject* self = as_log_tolvat(self_obj);
    PyObject* state = PyBytes_FromStringAndSize(nullptr, kLogStateSize);
    if (state == nullptr) return nullptr;
    {
        SharedAccess access(self->access);
        if (!access.ok()) {
            Py_DECREF(state);
            return raise_already_mutably_borrowed();
        }
        write_log_state(self->quantity, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(state)));
    }
    return reduction(self_obj, state);
}

namespace {

// What the module's _from_state calls with the state: the quantity, of this module's type.
PyObject* log_tolvat_from_state(PyObject* module, PyObject* state) noexcept {
    const std::optional<std::string_view> bytes = state_argument(state, "LogTolvat");
    if (!bytes) return nullptr;
    try {
        Expected<LogQuantity, StateError> quantity = decode_log_state(*bytes);
        if (!quantity) return raise_invalid_state("LogTolvat", quantity.error());
        return new_log_tolvat(module_state(module)->log_tolvat_type, *quantity);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject* log_tolvat_copy(PyObject* self_obj, PyObject*) noexcept {
    LogTolvatObject* self = as_log_tolvat(self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    return new_log_tolvat(Py_TYPE(self_obj), self->quantity);
}

PyObject* log_tolvat_deepcopy(PyObject* self, PyObject*) noexcept { return log_tolvat_copy(self, nullptr); }

namespace {

// The method rows of the two functions: C data, the same for every interpreter.
PyMethodDef g_tolvat_restore_def = {"Tolvat._from_state", tolvat_from_state, METH_O,
                                    "_from_state(state, /)\n--\n\nThe Tolvat a pickled state describes."};
PyMethodDef g_log_tolvat_restore_def = {"LogTolvat._from_state", log_tolvat_from_state, METH_O,
                                        "_from_state(state, /)\n--\n\nThe LogTolvat a pickled state describes."};

// A new function bound to the module, set on `type` as _from_state; nullptr with an exception set.
PyObject* reconstructor(PyObject* module, PyTypeObject* type, PyMethodDef* def) noexcept {
    PyObject* name = PyModule_GetNameObject(module);
    if (name == nullptr) return nullptr;
    PyObject* function = PyCFunction_NewEx(def, module, name);
    Py_DECREF(name);
    if (function == nullptr) return nullptr;
    if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "_from_state", function) < 0) {
        Py_DECREF(function);
        return nullptr;
    }
    return function;
}

}  // namespace

int add_reconstructors(PyObject* module) noexcept {
    ModuleState* state = module_state(module);
    state->tolvat_restore = reconstructor(module, state->tolvat_type, &g_tolvat_restore_def);
    if (state->tolvat_restore == nullptr) return -1;
    state->log_tolvat_restore = reconstructor(module, state->log_tolvat_type, &g_log_tolvat_restore_def);
    return state->log_tolvat_restore != nullptr ? 0 : -1;
}

}  // namespace tolvat::py
