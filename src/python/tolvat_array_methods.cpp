// What only a quantity over an array has: wrap(), shape, ndim, size, dtype, len(), indexing,
// item assignment, iteration and the truth value. A quantity of one value answers these as
// Python answers for an object without them.
#include <new>
#include <optional>
#include <utility>

#include "arrays.hpp"
#include "arguments.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

// The TypeError Python raises for an object without the protocol, with `format` naming the type.
PyObject* type_name_error(const char* format) noexcept {
    PyErr_Format(PyExc_TypeError, format, "Tolvat");
    return nullptr;
}

// The value array of `self` (a new reference), with its units; nullptr with an exception set.
PyObject* read_array(PyObject* self, Quantity& units) noexcept {
    Ref array;
    try {
        if (!read_tolvat(self, units, array)) return raise_already_mutably_borrowed();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return array.release();
}

// An attribute of the value array; AttributeError for a quantity of one value.
PyObject* array_attribute(PyObject* self, const char* name) noexcept {
    if (!as_tolvat(self)->has_array) {
        PyErr_Format(PyExc_AttributeError, "'Tolvat' object of one value has no attribute '%s'", name);
        return nullptr;
    }
    Quantity units;
    Ref array(read_array(self, units));
    if (!array) return nullptr;
    return PyObject_GetAttrString(array.get(), name);
}

// The quantity an item or a slice of the array stands for: one value, or an array.
PyObject* item_quantity(PyTypeObject* type, const NumpyApi* api, Quantity&& units, Ref&& item) noexcept {
    if (PyFloat_Check(item.get())) return new_tolvat(type, Quantity{std::move(units.unit), PyFloat_AS_DOUBLE(item.get())});
    if (!is_array_like(api, item.get())) {
        PyErr_Format(PyExc_TypeError, "indexing the values gave a %.200s, not a number or an array",
                     Py_TYPE(item.get())->tp_name);
        return nullptr;
    }
    PyObject* array = normalise_array(api, item.get());
    if (array == nullptr) return nullptr;
    return new_tolvat_array(type, Quantity{std::move(units.unit), 1.0}, array);
}

// The value to assign, converted into `units`: a number or an array (new reference).
PyObject* assigned_values(const NumpyApi* api, PyObject* value, const UnitCollection& units) {
    Quantity from;
    Ref array;
    if (is_tolvat(value)) {
        if (!read_tolvat(value, from, array)) return raise_already_mutably_borrowed();
    } else if (is_array_like(api, value)) {
        array = Ref(normalise_array(api, value));
        if (!array) return nullptr;
    } else {
        std::optional<Quantity> operand = coerce_argument(value, "value");
        if (!operand) return nullptr;
        from = std::move(*operand);
    }
    const Expected<Conversion> conversion = conversion_between(from.unit, units);
    if (!conversion) return raise_error(conversion.error());
    if (!array) return PyFloat_FromDouble(conversion->apply(from.value));
    return converted_array(api, array.get(), *conversion);
}

}  // namespace

PyObject* tolvat_get_shape(PyObject* self, void*) noexcept { return array_attribute(self, "shape"); }
PyObject* tolvat_get_ndim(PyObject* self, void*) noexcept { return array_attribute(self, "ndim"); }
PyObject* tolvat_get_size(PyObject* self, void*) noexcept { return array_attribute(self, "size"); }
PyObject* tolvat_get_dtype(PyObject* self, void*) noexcept { return array_attribute(self, "dtype"); }

PyObject* tolvat_wrap(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"values", "unit"};
    PyObject* given[2];
    if (!bind_arguments("wrap", args, nargs, kwnames, names, 2, 2, given)) return nullptr;
    PyTypeObject* type = as_type(cls);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    if (!is_array_like(api, given[0])) {
        PyErr_Format(PyExc_TypeError, "wrap() takes an array, not %.200s", Py_TYPE(given[0])->tp_name);
        add_argument_note("values");
        return nullptr;
    }
    Ref array(normalise_array(api, given[0]));
    if (!array) {
        add_argument_note("values");
        return nullptr;
    }
    if (array.get() != given[0]) {
        PyErr_SetString(PyExc_TypeError,
                        "wrap() keeps the array it is given, so it takes float64 arrays only: convert first "
                        "(values.astype(float)), or multiply by a unit, which makes a new array");
        add_argument_note("values");
        return nullptr;
    }
    try {
        std::optional<Quantity> unit = coerce_argument(given[1], "unit");
        if (!unit) return nullptr;
        return new_tolvat_array(type, Quantity{std::move(unit->unit), 1.0}, array.release());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

Py_ssize_t tolvat_length(PyObject* self) noexcept {
    if (!as_tolvat(self)->has_array) {
        type_name_error("object of type '%s' has no len()");
        return -1;
    }
    Quantity units;
    Ref array(read_array(self, units));
    if (!array) return -1;
    return PyObject_Size(array.get());
}

PyObject* tolvat_subscript(PyObject* self, PyObject* key) noexcept {
    if (!as_tolvat(self)->has_array) return type_name_error("'%s' object is not subscriptable");
    PyTypeObject* type = Py_TYPE(self);
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    Quantity units;
    Ref array(read_array(self, units));
    if (!array) return nullptr;
    Ref item(PyObject_GetItem(array.get(), key));
    if (!item) return nullptr;
    return item_quantity(type, api, std::move(units), std::move(item));
}

int tolvat_assign_subscript(PyObject* self, PyObject* key, PyObject* value) noexcept {
    if (!as_tolvat(self)->has_array) {
        type_name_error("'%s' object does not support item assignment");
        return -1;
    }
    if (value == nullptr) {
        PyErr_SetString(PyExc_TypeError, "the values of a quantity cannot be deleted");
        return -1;
    }
    const NumpyApi* api = numpy_for(Py_TYPE(self));
    if (api == nullptr) return -1;
    try {
        Quantity units;
        Ref array(read_array(self, units));
        if (!array) return -1;
        Ref converted(assigned_values(api, value, units.unit));
        if (!converted) return -1;
        return PyObject_SetItem(array.get(), key, converted.get());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
}

PyObject* tolvat_iter(PyObject* self) noexcept {
    if (!as_tolvat(self)->has_array) return type_name_error("'%s' object is not iterable");
    ModuleState* state = module_state_of(Py_TYPE(self));
    PyObject* support = state != nullptr ? support_module(state) : nullptr;
    if (support == nullptr) return nullptr;
    return PyObject_CallMethod(support, "iterate", "O", self);
}

int tolvat_bool(PyObject* self) noexcept {
    if (!as_tolvat(self)->has_array) return 1;  // every quantity of one value is true, zero too
    Quantity units;
    Ref array(read_array(self, units));
    if (!array) return -1;
    return PyObject_IsTrue(array.get());  // NumPy's rule: one element, or ambiguous
}

}  // namespace tolvat::py
