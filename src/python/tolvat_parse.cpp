// The class method parse(): a whole quantity text in the strict grammar (core/quantity_text.hpp),
// with extra names from the mapping `units`.
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../core/quantity_text.hpp"
#include "../core/unit_text_advice.hpp"
#include "arguments.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

PyObject* raise_text_error(std::string_view text, const QuantityTextError& error) noexcept {
    try {
        switch (error.kind) {
            case QuantityTextError::Kind::Arithmetic:
                return raise_error(error.error);
            case QuantityTextError::Kind::UnknownPiece:
                PyErr_SetString(PyExc_LookupError, error.message.c_str());
                break;
            case QuantityTextError::Kind::Malformed:
                PyErr_SetString(PyExc_ValueError, error.message.c_str());
                break;
        }
        add_note(caret_note(text, error));
        if (error.kind == QuantityTextError::Kind::UnknownPiece) {
            if (std::optional<std::string> suggestion = nearest_unit_spelling(error.piece)) {
                add_note("did you mean '" + *suggestion + "'?");
            }
        }
    } catch (const std::bad_alloc&) {
        // The error is raised before its notes are worked out; without memory it goes bare.
        if (!PyErr_Occurred()) PyErr_NoMemory();
    }
    return nullptr;
}

// The names of the mapping `units`, each with its quantity; false with the exception set (and
// the argument note) when a key is not a str or a value is no quantity. The views into the keys
// live as long as `items`, which holds them.
bool read_names(PyObject* units, PyObject*& items, std::vector<TextName>& names) {
    items = PyMapping_Items(units);
    if (items == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "'%.200s' object is not a mapping", Py_TYPE(units)->tp_name);
    }
    if (items == nullptr) {
        add_argument_note("units");
        return false;
    }
    const Py_ssize_t n = PyList_GET_SIZE(items);
    names.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* pair = PyList_GET_ITEM(items, k);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
            PyErr_SetString(PyExc_TypeError, "the items of a mapping must be pairs");
            add_argument_note("units");
            return false;
        }
        const std::optional<std::string_view> name = text_argument(PyTuple_GET_ITEM(pair, 0), "units");
        if (!name) return false;
        PyObject* value = PyTuple_GET_ITEM(pair, 1);
        if (is_tolvat(value) && as_tolvat(value)->has_array) {
            // A text stands for one quantity; a name of many values would lose all but its units.
            PyErr_Format(PyExc_TypeError, "the name '%s' stands for an array; a name stands for one value",
                         std::string(*name).c_str());
            add_argument_note("units");
            return false;
        }
        std::optional<Quantity> quantity = coerce_argument(value, "units");
        if (!quantity) return false;
        names.push_back(TextName{*name, std::move(*quantity)});
    }
    return true;
}

}  // namespace

PyObject* tolvat_parse(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "parse() takes exactly 1 positional argument (%zd given)", nargs);
        return nullptr;
    }
    PyObject* units = nullptr;
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (PyUnicode_CompareWithASCIIString(key, "units") != 0) {
            PyErr_Format(PyExc_TypeError, "parse() got an unexpected keyword argument '%U'", key);
            return nullptr;
        }
        units = args[nargs + k];
    }
    const std::optional<std::string_view> text = text_argument(args[0], "text");
    if (!text) return nullptr;
    try {
        if (units == nullptr || units == Py_None) {
            Expected<Quantity, QuantityTextError> result = parse_quantity_text_memo(*text);
            if (!result) return raise_text_error(*text, result.error());
            return new_tolvat(as_type(cls), std::move(result).value());
        }
        PyObject* items = nullptr;
        std::vector<TextName> names;
        if (!read_names(units, items, names)) {
            Py_XDECREF(items);
            return nullptr;
        }
        Expected<Quantity, QuantityTextError> result = parse_quantity_text(*text, names);
        PyObject* out = result ? new_tolvat(as_type(cls), std::move(result).value()) : raise_text_error(*text, result.error());
        Py_DECREF(items);
        return out;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py
