#include "format.hpp"

#include <new>
#include <string>
#include <utility>

#include "../core/render.hpp"
#include "../core/simplify.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace tolvat::py {
namespace {

// The spec must be a str (format() checks this itself; a direct __format__ call may not).
bool check_spec(PyObject* format_spec) noexcept {
    if (PyUnicode_Check(format_spec)) return true;
    PyErr_Format(PyExc_TypeError, "__format__() argument must be str, not %.200s", Py_TYPE(format_spec)->tp_name);
    add_argument_note("format_spec");
    return false;
}

// format(value, spec) as Python formats a float, then `unit_text` appended. The unit text
// already starts with its separating space.
PyObject* join(double value, PyObject* format_spec, const std::string& unit_text) noexcept {
    PyObject* number = PyFloat_FromDouble(value);
    if (number == nullptr) return nullptr;
    PyObject* formatted = PyObject_Format(number, format_spec);
    Py_DECREF(number);
    if (formatted == nullptr) return nullptr;
    PyObject* unit = PyUnicode_DecodeUTF8(unit_text.data(), static_cast<Py_ssize_t>(unit_text.size()), "replace");
    if (unit == nullptr) {
        Py_DECREF(formatted);
        return nullptr;
    }
    PyObject* text = PyUnicode_Concat(formatted, unit);
    Py_DECREF(formatted);
    Py_DECREF(unit);
    return text;
}

}  // namespace

PyObject* tolvat_format(PyObject* self, PyObject* format_spec) noexcept {
    if (!check_spec(format_spec)) return nullptr;
    if (PyUnicode_GET_LENGTH(format_spec) == 0) return PyObject_Str(self);
    double value;
    std::string unit_text;
    try {
        // What str() does, up to the number text: simplify in place, then convert a copy into
        // the fully simplified units. Access is released before Python formats the number.
        TolvatObject* object = as_tolvat(self);
        ExclusiveAccess access(object->access);
        if (!access.ok()) return raise_already_borrowed();
        Status simplified = simple_simplify_in_place(object);
        if (!simplified) return raise_error(simplified.error());
        Quantity& quantity = object->quantity;
        if (quantity.unit.size() <= 1) {
            // Already fully simplified, and converting into the same units keeps the value.
            value = quantity.value;
            unit_text = ' ' + as_string(quantity.unit);
        } else {
            Expected<UnitCollection> full = simplify(quantity.unit);
            if (!full) return raise_error(full.error());
            Expected<Quantity> shown = as_unit_internal(quantity, std::move(*full));
            if (!shown) return raise_error(shown.error());
            value = shown->value;
            unit_text = ' ' + as_string(shown->unit);
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return join(value, format_spec, unit_text);
}

PyObject* log_tolvat_format(PyObject* self, PyObject* format_spec) noexcept {
    if (!check_spec(format_spec)) return nullptr;
    if (PyUnicode_GET_LENGTH(format_spec) == 0) return PyObject_Str(self);
    LogQuantity quantity{};
    {
        LogTolvatObject* object = as_log_tolvat(self);
        SharedAccess access(object->access);
        if (!access.ok()) return raise_already_mutably_borrowed();
        quantity = object->quantity;
    }
    try {
        std::string unit_text;
        unit_text.reserve(quantity.unit->symbol.size() + 3);
        unit_text += " [";
        unit_text += quantity.unit->symbol;
        unit_text += ']';
        return join(quantity.value, format_spec, unit_text);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py
