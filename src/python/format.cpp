#include "format.hpp"

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "../core/display.hpp"
#include "arrays.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "python_text.hpp"

namespace tolvat::py {
namespace {

// The spec must be a str (format() checks this itself; a direct __format__ call may not).
bool check_spec(PyObject* format_spec) noexcept {
    if (PyUnicode_Check(format_spec)) return true;
    PyErr_Format(PyExc_TypeError, "__format__() argument must be str, not %.200s", Py_TYPE(format_spec)->tp_name);
    add_argument_note("format_spec");
    return false;
}

// format(value, spec) as Python formats a float, joined with the unit text as a text form joins
// its number.
PyObject* join(double value, PyObject* format_spec, const TextPieces& unit_text) noexcept {
    PyObject* number = PyFloat_FromDouble(value);
    if (number == nullptr) return nullptr;
    PyObject* formatted = PyObject_Format(number, format_spec);
    Py_DECREF(number);
    if (formatted == nullptr) return nullptr;
    Py_ssize_t size = 0;
    const char* digits = PyUnicode_AsUTF8AndSize(formatted, &size);
    PyObject* text = nullptr;
    if (digits != nullptr) {
        try {
            TextBuffer out;
            join_quantity_text(out, std::string_view(digits, static_cast<std::size_t>(size)), UnitText::Plain, unit_text);
            text = python_text(out.view());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        }
    }
    Py_DECREF(formatted);
    return text;
}

}  // namespace

PyObject* tolvat_format(PyObject* self, PyObject* format_spec) noexcept {
    if (!check_spec(format_spec)) return nullptr;
    if (PyUnicode_GET_LENGTH(format_spec) == 0) return PyObject_Str(self);
    if (as_tolvat(self)->has_array) [[unlikely]] return array_text(self, UnitText::Plain, format_spec);
    double value;
    std::string unit_text;
    try {
        // What str() shows: the object simplified in place, the value in a fully simplified copy
        // of its units. Access is released (and the unit text kept) before Python formats the
        // number.
        TolvatObject* object = as_tolvat(self);
        ExclusiveAccess access(object->access);
        if (!access.ok()) return raise_already_borrowed();
        DisplayedQuantity shown;
        Status made = display_quantity(object->quantity, object->units_simple, UnitText::Plain, shown);
        if (!made) return raise_error(made.error());
        value = shown.value();
        for (std::size_t i = 0; i < shown.unit_text().count; ++i) unit_text += shown.unit_text().pieces[i];
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return join(value, format_spec, TextPieces{{unit_text}, 1});
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
    return join(quantity.value, format_spec, log_unit_text(quantity.unit->symbol));
}

}  // namespace tolvat::py
