#include "coerce.hpp"

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "../core/error.hpp"
#include "../core/unit_collection.hpp"
#include "../core/unit_text_advice.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace tolvat::py {
namespace {

// Ends a failed extraction: with Discard the pending exception (if any) is dropped.
template <typename T>
std::optional<T> fail(OnFailure on_failure) noexcept {
    if (on_failure == OnFailure::Discard) PyErr_Clear();
    return std::nullopt;
}

// Reports the exception raised by str() of `obj` to the unraisable hook. From 3.13 on the
// report names the type instead of handing the hook the object, whose repr() could fail too.
void report_unprintable(PyObject* obj) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    PyErr_FormatUnraisable("Exception ignored in str() of a %T object used as an operand", obj);
#else
    PyErr_WriteUnraisable(obj);
#endif
}

// Appends the UTF-8 form of `text` to `out`. Lone surrogates cannot be encoded; they are passed
// through as bytes here and become replacement characters when the message is decoded.
// Returns false with an exception set.
bool append_text(PyObject* text, std::string& out) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
        out.append(utf8, static_cast<std::size_t>(size));
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
    PyErr_Clear();
    PyObject* bytes = PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass");
    if (bytes == nullptr) return false;
    out.append(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
    return true;
}

// Python's str() of `obj`, for the messages of objects that fit no operand kind. When str()
// fails, the failure goes to the unraisable hook and the text is "<unprintable T object>".
// May throw std::bad_alloc.
std::string describe(PyObject* obj) {
    std::string out;
    if (PyObject* text = PyObject_Str(obj)) {
        const bool ok = append_text(text, out);
        Py_DECREF(text);
        if (ok) return out;
        out.clear();
    }
    report_unprintable(obj);
    out = "<unprintable ";
    if (PyObject* name = PyType_GetName(Py_TYPE(obj))) {
        const bool ok = append_text(name, out);
        Py_DECREF(name);
        if (!ok) PyErr_Clear();
    } else {
        PyErr_Clear();
    }
    out += " object>";
    return out;
}

// Raises NotCoercibleToUnit or NotCoercibleToNumber for `obj`.
void raise_not_coercible(ErrorKind kind, PyObject* obj) noexcept {
    try {
        raise_error(Error{kind, describe(obj), {}});
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

std::optional<Quantity> copy_tolvat(PyObject* obj) noexcept {
    TolvatObject* source = as_tolvat(obj);
    SharedAccess access(source->access);
    if (!access.ok()) {
        raise_already_mutably_borrowed();
        return std::nullopt;
    }
    try {
        return source->quantity;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return std::nullopt;
    }
}

std::optional<LogQuantity> copy_log_tolvat(PyObject* obj) noexcept {
    LogTolvatObject* source = as_log_tolvat(obj);
    SharedAccess access(source->access);
    if (!access.ok()) {
        raise_already_mutably_borrowed();
        return std::nullopt;
    }
    return source->quantity;
}

// The nearest double to an int of any size; OverflowError beyond the double range. Works on the
// stored value of int subclasses, whatever their __index__ or __float__ say.
std::optional<double> int_to_double(PyObject* obj) noexcept {
    const double value = PyLong_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return std::nullopt;
    return value;
}

// One of the unit a text names. A text whose parse dropped pieces that hold a name still gives
// its quantity, after the warning; `warning_raised` tells when that warning was raised instead.
std::optional<Quantity> quantity_from_text(PyObject* obj, bool& warning_raised) noexcept {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
    if (utf8 == nullptr) return std::nullopt;
    const std::string_view text(utf8, static_cast<std::size_t>(size));
    try {
        bool dropped_a_name = false;
        std::optional<UnitCollection> unit = UnitCollection::from_unit_name(text, dropped_a_name);
        if (!unit) {
            raise_error(Error::unit_not_found(std::string(text)));
            return std::nullopt;
        }
        if (dropped_a_name && !warn_dropped_unit_text(text)) {
            warning_raised = true;
            return std::nullopt;
        }
        return Quantity{std::move(*unit), 1.0};
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return std::nullopt;
    }
}

}  // namespace

std::optional<Quantity> coerce_to_quantity(PyObject* obj, OnFailure on_failure) noexcept {
    if (is_tolvat(obj)) {
        if (auto copy = copy_tolvat(obj)) return copy;
        return fail<Quantity>(on_failure);
    }
    // The commonest operands by their exact types first. No object is of two of these kinds (their
    // layouts exclude each other), so this finds the same kind as the documented order.
    if (PyFloat_CheckExact(obj)) return Quantity{UnitCollection(), PyFloat_AS_DOUBLE(obj)};
    if (PyUnicode_Check(obj)) {
        bool warning_raised = false;
        if (auto quantity = quantity_from_text(obj, warning_raised)) return quantity;
        if (warning_raised) return std::nullopt;  // passed on whatever the caller does with failures
        return fail<Quantity>(on_failure);
    }
    if (is_log_tolvat(obj)) {
        if (auto copy = copy_log_tolvat(obj)) return Quantity{UnitCollection(), copy->ratio()};
        return fail<Quantity>(on_failure);
    }
    if (PyFloat_Check(obj)) return Quantity{UnitCollection(), PyFloat_AS_DOUBLE(obj)};
    if (PyLong_Check(obj)) {
        if (auto value = int_to_double(obj)) return Quantity{UnitCollection(), *value};
        return fail<Quantity>(on_failure);
    }
    if (on_failure == OnFailure::Raise) raise_not_coercible(ErrorKind::NotCoercibleToUnit, obj);
    return std::nullopt;
}

namespace {

// Adds the notes to the failure of the method argument `argument_name`.
[[gnu::cold, gnu::noinline]] void note_failed_argument(PyObject* obj, const char* argument_name) noexcept {
    const bool not_found = PyUnicode_Check(obj) && PyErr_ExceptionMatches(PyExc_LookupError);
    add_argument_note(argument_name);
    if (!not_found) return;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
    try {
        if (utf8 != nullptr) add_note(unit_not_found_note(std::string_view(utf8, static_cast<std::size_t>(size))));
    } catch (const std::bad_alloc&) {
        // The error stands without its advice.
    }
}

}  // namespace

std::optional<Quantity> coerce_argument(PyObject* obj, const char* argument_name) noexcept {
    std::optional<Quantity> operand = coerce_to_quantity(obj);
    if (!operand) note_failed_argument(obj, argument_name);
    return operand;
}

std::optional<PyNumber> coerce_to_number(PyObject* obj, OnFailure on_failure) noexcept {
    if (PyFloat_Check(obj)) return PyNumber{PyNumber::Kind::Float, PyFloat_AS_DOUBLE(obj), {}};
    if (PyLong_Check(obj)) {
        if (auto value = int_to_double(obj)) return PyNumber{PyNumber::Kind::Integer, *value, {}};
        return fail<PyNumber>(on_failure);
    }
    if (is_log_tolvat(obj)) {
        if (auto copy = copy_log_tolvat(obj)) return PyNumber{PyNumber::Kind::LogQuantity, 0.0, *copy};
        return fail<PyNumber>(on_failure);
    }
    if (on_failure == OnFailure::Raise) raise_not_coercible(ErrorKind::NotCoercibleToNumber, obj);
    return std::nullopt;
}

std::optional<LogQuantity> extract_log_tolvat(PyObject* obj) noexcept {
    if (!is_log_tolvat(obj)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'LogTolvat'", Py_TYPE(obj)->tp_name);
        return std::nullopt;
    }
    return copy_log_tolvat(obj);
}

}  // namespace tolvat::py
