#include "arguments.hpp"

#include <climits>
#include <cstring>

#include "errors.hpp"

namespace tolvat::py {

bool bind_arguments(const char* function_name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    const char* const* names, Py_ssize_t count, Py_ssize_t required, PyObject** out) noexcept {
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd argument%s (%zd given)", function_name, count,
                     count == 1 ? "" : "s", nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t key_size = 0;
        const char* key_text = PyUnicode_AsUTF8AndSize(key, &key_size);
        // A name that is not valid UTF-8 (a lone surrogate) names no parameter.
        if (key_text == nullptr) PyErr_Clear();
        Py_ssize_t slot = -1;
        for (Py_ssize_t i = 0; i < count && key_text != nullptr; ++i) {
            if (static_cast<Py_ssize_t>(std::strlen(names[i])) == key_size &&
                std::memcmp(names[i], key_text, static_cast<std::size_t>(key_size)) == 0) {
                slot = i;
                break;
            }
        }
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function_name, key);
            return false;
        }
        if (out[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zd)",
                         function_name, names[slot], slot + 1);
            return false;
        }
        out[slot] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < required; ++i) {
        if (out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", function_name, names[i],
                         i + 1);
            return false;
        }
    }
    return true;
}

std::optional<std::string_view> text_argument(PyObject* obj, const char* argument_name) noexcept {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'PyString'", Py_TYPE(obj)->tp_name);
        add_argument_note(argument_name);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) {
        add_argument_note(argument_name);
        return std::nullopt;
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

std::optional<std::int32_t> int32_argument(PyObject* obj, const char* argument_name) noexcept {
    if (!PyLong_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be interpreted as an integer", Py_TYPE(obj)->tp_name);
        add_argument_note(argument_name);
        return std::nullopt;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (value == -1 && PyErr_Occurred()) {
        add_argument_note(argument_name);
        return std::nullopt;
    }
    if (overflow != 0 || value < INT32_MIN || value > INT32_MAX) {
        raise_int32_overflow();
        add_argument_note(argument_name);
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace tolvat::py
