// Tolvat conversion: as_unit, as_number, as_unitless, as_base_units, simplify,
// simplify_inplace, float() and int().
#include <cstring>
#include <new>
#include <utility>

#include "../core/quantity_arithmetic.hpp"
#include "../core/simplify.hpp"
#include "arguments.hpp"
#include "arrays.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

PyObject* finish(PyTypeObject* type, Expected<Quantity>&& result) noexcept {
    if (!result) return raise_error(result.error());
    return new_tolvat(type, std::move(result).value());
}

// Python's bool, or NumPy's boolean scalar, recognised by its type name so NumPy is never
// imported. -1 with TypeError (and the note) for anything else.
int bool_argument(PyObject* obj, const char* name) noexcept {
    if (PyBool_Check(obj)) return obj == Py_True;
    const char* type_name = Py_TYPE(obj)->tp_name;
    if (std::strcmp(type_name, "numpy.bool") == 0 || std::strcmp(type_name, "numpy.bool_") == 0) {
        const int truth = PyObject_IsTrue(obj);
        if (truth < 0) add_argument_note(name);
        return truth;
    }
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'PyBool'", type_name);
    add_argument_note(name);
    return -1;
}

// The values of an array quantity in `units` converted into `target` (then ÷ divisor): a plain
// array.
PyObject* converted_values(PyTypeObject* type, const UnitCollection& units, PyObject* array,
                           const UnitCollection& target, double divisor = 1.0) {
    const NumpyApi* api = numpy_for(type);
    if (api == nullptr) return nullptr;
    const Expected<Conversion> conversion = conversion_between(units, target);
    if (!conversion) return raise_error(conversion.error());
    return converted_array(api, array, *conversion, divisor);
}

// An array quantity converted into the units `target(units)` gives: a new quantity, or with
// `plain` the converted values alone.
template <typename Target>
PyObject* array_converted(PyObject* self_obj, Target target, bool plain) noexcept {
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        Expected<UnitCollection> into = target(units.unit);
        if (!into) return raise_error(into.error());
        if (!plain) return array_as_unit(Py_TYPE(self_obj), units.unit, array.get(), std::move(into).value());
        return converted_values(Py_TYPE(self_obj), units.unit, array.get(), *into);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// as_unit(other) of an array quantity.
PyObject* array_as_unit_method(PyObject* self_obj, PyObject* other_obj) noexcept {
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        std::optional<Quantity> other = coerce_argument(other_obj, "other");
        if (!other) return nullptr;
        return array_as_unit(Py_TYPE(self_obj), units.unit, array.get(), std::move(other->unit));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// as_number(other, scale) of an array quantity: the array itself without `other`, else a new
// array of the converted values.
PyObject* array_as_number(PyObject* self_obj, PyObject* other_obj, PyObject* scale_obj) noexcept {
    try {
        Quantity units;
        Ref array;
        if (!read_tolvat(self_obj, units, array)) return raise_already_mutably_borrowed();
        std::optional<Quantity> other;
        if (other_obj != nullptr && other_obj != Py_None) {
            other = coerce_argument(other_obj, "other");
            if (!other) return nullptr;
        }
        bool scale = false;
        if (scale_obj != nullptr) {
            const int truth = bool_argument(scale_obj, "scale");
            if (truth < 0) return nullptr;
            scale = truth != 0;
        }
        if (!other) return array.release();
        return converted_values(Py_TYPE(self_obj), units.unit, array.get(), other->unit, scale ? other->value : 1.0);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject* tolvat_as_unit(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other_obj;
    if (!bind_arguments("as_unit", args, nargs, kwnames, names, 1, 1, &other_obj)) return nullptr;
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_as_unit_method(self_obj, other_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        std::optional<Quantity> other = coerce_argument(other_obj, "other");
        if (!other) return nullptr;
        // as_unit_internal, with the units moved straight into the new object.
        const Expected<double> value = converted_value(self->quantity, other->unit);
        if (!value) return raise_error(value.error());
        return new_tolvat(Py_TYPE(self_obj), Quantity{std::move(other->unit), *value});
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_as_number(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
    static const char* const names[] = {"other", "scale"};
    PyObject* given[2];
    if (!bind_arguments("as_number", args, nargs, kwnames, names, 2, 0, given)) return nullptr;
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_as_number(self_obj, given[0], given[1]);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        std::optional<Quantity> other;
        if (given[0] != nullptr && given[0] != Py_None) {
            other = coerce_argument(given[0], "other");
            if (!other) return nullptr;
        }
        bool scale = false;
        if (given[1] != nullptr) {
            const int truth = bool_argument(given[1], "scale");
            if (truth < 0) return nullptr;
            scale = truth != 0;
        }
        if (!other) return PyFloat_FromDouble(self->quantity.value);
        const double divisor = scale ? other->value : 1.0;
        Expected<double> converted = converted_value(self->quantity, other->unit);
        if (!converted) return raise_error(converted.error());
        return PyFloat_FromDouble(*converted / divisor);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_as_unitless(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] {
        return array_converted(self_obj, [](const UnitCollection&) -> Expected<UnitCollection> { return UnitCollection(); }, true);
    }
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        Expected<double> value = unitless_value(self->quantity);
        if (!value) return raise_error(value.error());
        return PyFloat_FromDouble(*value);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_as_base_units(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] {
        return array_converted(self_obj, [](const UnitCollection& u) -> Expected<UnitCollection> {
            return UnitCollection::get_base_units(u);
        }, false);
    }
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        return finish(Py_TYPE(self_obj), as_unit_internal(self->quantity, UnitCollection::get_base_units(self->quantity.unit)));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_simplify(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] {
        return array_converted(self_obj, [](const UnitCollection& u) { return simplify(u); }, false);
    }
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        Expected<UnitCollection> simpler = simplify(self->quantity.unit);
        if (!simpler) return raise_error(simpler.error());
        return finish(Py_TYPE(self_obj), as_unit_internal(self->quantity, std::move(simpler).value()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_simplify_inplace(PyObject* self_obj, PyObject*) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_simplify_inplace(self_obj);
    ExclusiveAccess access(self->access);
    if (!access.ok()) return raise_already_borrowed();
    try {
        Expected<UnitCollection> simpler = simplify(self->quantity.unit);
        if (!simpler) return raise_error(simpler.error());
        Expected<Quantity> converted = as_unit_internal(self->quantity, std::move(simpler).value());
        if (!converted) return raise_error(converted.error());
        self->quantity = std::move(converted).value();
        self->units_simple = false;
        Py_RETURN_NONE;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// float() and int() of an array quantity: no single number to give.
[[gnu::cold]] PyObject* raise_no_single_number(const char* what) noexcept {
    PyErr_Format(PyExc_TypeError,
                 "only a quantity of one value converts to %s; for the values of an array quantity use "
                 "q.as_number(unit)",
                 what);
    return nullptr;
}

PyObject* tolvat_float(PyObject* self_obj) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return raise_no_single_number("float");
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    return PyFloat_FromDouble(self->quantity.value);
}

PyObject* tolvat_int(PyObject* self_obj) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return raise_no_single_number("int");
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    // Truncation toward zero to an exact int of any size; NaN and infinities raise Python's own
    // ValueError and OverflowError.
    return PyLong_FromDouble(self->quantity.value);
}

}  // namespace tolvat::py
