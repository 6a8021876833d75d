// Pickling and copying of both types. A quantity reduces to its class's private `_from_state`
// and its state as bytes (the layout is the core's, see state.hpp); copies are new objects with
// their own copy of the quantity.
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "../core/state.hpp"
#include "arrays.hpp"
#include "errors.hpp"
#include "module_state.hpp"
#include "objects.hpp"
#include "pickling.hpp"

namespace tolvat::py {
namespace {

// (type(self)._from_state, (state,)), taking the state over. The callable is the one object the
// module keeps, so pickles of many quantities name it once.
// With `array`, the state is of the array format and the array goes beside it (it pickles itself).
PyObject* reduction(PyObject* self, PyObject* state, PyObject* array = nullptr) noexcept {
    if (state == nullptr) return nullptr;
    const ModuleState* module = module_state_of(Py_TYPE(self));
    if (module == nullptr) {
        Py_DECREF(state);
        return nullptr;
    }
    PyObject* restore = is_tolvat(self) ? module->tolvat_restore : module->log_tolvat_restore;
    if (array != nullptr) return Py_BuildValue("(O(NO))", restore, state, array);
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

// The state of a Tolvat's units and value, written in `format`: a new bytes object, or nullptr
// with the exception set. May throw std::bad_alloc.
PyObject* state_bytes(const Quantity& quantity, std::uint8_t format) {
    Expected<std::size_t, StateError> size = state_size(quantity);
    if (!size) {
        PyErr_Format(PyExc_ValueError, "this Tolvat cannot be pickled: %s", size.error().message.c_str());
        return nullptr;
    }
    PyObject* state = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(*size));
    if (state != nullptr) write_state(quantity, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(state)), format);
    return state;
}

// (type(self)._from_state, (state, array)): the units in a state of the array format, and the
// array beside it.
[[gnu::noinline]] PyObject* array_reduction(PyObject* self_obj) noexcept {
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        return reduction(self_obj, state_bytes(units, kArrayStateFormat), array.get());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject* tolvat_reduce(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    PyObject* state;
    if (self->has_array) [[unlikely]] return array_reduction(self_obj);
    {
        SharedAccess access(self->access);
        if (!access.ok()) return raise_already_mutably_borrowed();
        try {
            state = state_bytes(self->quantity, kStateFormat);
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    return reduction(self_obj, state);
}

namespace {

// What the module's _from_state calls with the state (and, for a quantity over an array, the
// array): the quantity, of this module's type.
PyObject* tolvat_from_state(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs < 1 || nargs > 2) {
        PyErr_Format(PyExc_TypeError, "_from_state expected 1 or 2 arguments, got %zd", nargs);
        return nullptr;
    }
    const std::optional<std::string_view> bytes = state_argument(args[0], "Tolvat");
    if (!bytes) return nullptr;
    PyObject* values = nargs == 2 && args[1] != Py_None ? args[1] : nullptr;
    try {
        Expected<Quantity, StateError> quantity = decode_state(*bytes, values != nullptr ? kArrayStateFormat : kStateFormat);
        if (!quantity) return raise_invalid_state("Tolvat", quantity.error());
        PyTypeObject* type = module_state(module)->tolvat_type;
        if (values != nullptr) {
            const NumpyApi* api = numpy_for(type);
            if (api == nullptr) return nullptr;
            if (!is_array_like(api, values)) {
                PyErr_Format(PyExc_TypeError, "Tolvat state: the values must be an array, not %.200s",
                             Py_TYPE(values)->tp_name);
                return nullptr;
            }
            PyObject* array = normalise_array(api, values);
            if (array == nullptr) return nullptr;
            return new_tolvat_array(type, std::move(quantity).value(), array);
        }
        return new_tolvat(type, std::move(quantity).value());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// A copy of an array quantity, with a copy of its array: the array's own copy(), or for a deep
// copy copy.deepcopy(array, memo).
[[gnu::noinline]] PyObject* array_copy(PyObject* self_obj, PyObject* memo) noexcept {
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        Ref copied;
        if (memo == nullptr) {
            copied = Ref(PyObject_CallMethod(array.get(), "copy", nullptr));
        } else {
            Ref copy_module(PyImport_ImportModule("copy"));
            if (copy_module) copied = Ref(PyObject_CallMethod(copy_module.get(), "deepcopy", "OO", array.get(), memo));
        }
        if (!copied) return nullptr;
        return new_tolvat_array(Py_TYPE(self_obj), std::move(units), copied.release());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject* tolvat_copy(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_copy(self_obj, nullptr);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        return new_tolvat(Py_TYPE(self_obj), Quantity(self->quantity));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_deepcopy(PyObject* self, PyObject* memo) noexcept {
    if (as_tolvat(self)->has_array) [[unlikely]] return array_copy(self, memo);
    return tolvat_copy(self, nullptr);
}

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
PyMethodDef g_tolvat_restore_def = {
    "Tolvat._from_state", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tolvat_from_state)), METH_FASTCALL,
    "_from_state(state, values=None, /)\n--\n\nThe Tolvat a pickled state describes (with `values`, over that "
    "array)."};
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
