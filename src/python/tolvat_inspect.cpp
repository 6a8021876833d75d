// The read-only members that show a quantity's parts without converting it: value, units,
// dimension, and is_compatible().
#include <cmath>
#include <new>
#include <utility>

#include "../core/catalogue.hpp"
#include "arguments.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_get_value(PyObject* self_obj, void*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    if (self->array != nullptr) return Py_NewRef(self->array);  // the array itself, as as_number() gives it
    return PyFloat_FromDouble(self->quantity.value);
}

PyObject* tolvat_get_units(PyObject* self_obj, void*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        return new_tolvat(Py_TYPE(self_obj), Quantity{self->quantity.unit, 1.0});
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_get_dimension(PyObject* self_obj, void*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    BaseExponents exponents;
    {
        SharedAccess access(self->access);
        if (!access.ok()) return raise_already_mutably_borrowed();
        exponents = self->quantity.unit.exponents();
    }
    PyObject* dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        const double power = exponents[i];
        if (power == 0.0) continue;
        // Whole powers as ints, as people write them; others (and NaN) as floats.
        PyObject* value = std::isfinite(power) && power == std::trunc(power) && std::fabs(power) < 9007199254740992.0
                              ? PyLong_FromDouble(power)
                              : PyFloat_FromDouble(power);
        const std::string_view symbol = base_unit(i).symbol;
        PyObject* key = value ? PyUnicode_FromStringAndSize(symbol.data(), static_cast<Py_ssize_t>(symbol.size())) : nullptr;
        const int status = key ? PyDict_SetItem(dict, key, value) : -1;
        Py_XDECREF(key);
        Py_XDECREF(value);
        if (status < 0) {
            Py_DECREF(dict);
            return nullptr;
        }
    }
    PyObject* view = PyDictProxy_New(dict);
    Py_DECREF(dict);
    return view;
}

PyObject* tolvat_is_compatible(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other_obj;
    if (!bind_arguments("is_compatible", args, nargs, kwnames, names, 1, 1, &other_obj)) return nullptr;
    TolvatObject* self = as_tolvat(self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        const std::optional<Quantity> other = coerce_argument(other_obj, "other");
        if (!other) return nullptr;
        return PyBool_FromLong(exponents_equal(self->quantity.unit.exponents(), other->unit.exponents()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py
