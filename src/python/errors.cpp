#include "errors.hpp"

#include <new>
#include <string>

#include "../core/unit_text_advice.hpp"
#include "module_state.hpp"

namespace tolvat::py {
namespace {


}  // namespace

PyObject* fetch_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

void restore_exception(PyObject* exc) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc,
                  PyException_GetTraceback(exc));
#endif
}

PyObject* new_internal_error_type() noexcept {
    return PyErr_NewExceptionWithDoc(
        "tolvat.TolvatInternalError",
        "An internal consistency failure of the unit algebra. Derives from BaseException so that "
        "`except Exception` does not swallow it.",
        PyExc_BaseException, nullptr);
}

PyObject* raise_error(const Error& error) noexcept {
    PyObject* type = PyExc_TypeError;
    switch (error.kind) {
        case ErrorKind::UnitNotFound:
        case ErrorKind::LogUnitNotFound:
        case ErrorKind::ConstantNotFound:
            type = PyExc_LookupError;
            break;
        case ErrorKind::IncompatibleUnits:
        case ErrorKind::NotCoercibleToUnit:
        case ErrorKind::NotCoercibleToNumber:
        case ErrorKind::ArrayExponent:
            type = PyExc_TypeError;
            break;
        case ErrorKind::NonFinitePower:
        case ErrorKind::PowerOverflow:
            type = PyExc_ValueError;
            break;
        case ErrorKind::Internal:
            // This interpreter's type, found the slow way: internal failures are rare.
            if (const ModuleState* state = current_module_state()) {
                type = state->internal_error;
            } else {
                type = PyExc_SystemError;
            }
            break;
    }
    std::string message;
    try {
        message = error.message();
    } catch (...) {
        return PyErr_NoMemory();
    }
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (text == nullptr) return nullptr;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
    return nullptr;
}

PyObject* raise_already_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return nullptr;
}

PyObject* raise_already_mutably_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return nullptr;
}

PyObject* raise_int32_overflow() noexcept {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return nullptr;
}

namespace {

// Adds the note object to the exception being raised, and drops the reference to it. A failure
// to annotate keeps the original exception.
void attach_note(PyObject* note) noexcept {
    PyObject* exc = fetch_exception();
    if (exc == nullptr) {
        Py_XDECREF(note);
        return;
    }
    if (note != nullptr) {
        PyObject* result = PyObject_CallMethod(exc, "add_note", "O", note);
        Py_DECREF(note);
        if (result == nullptr) {
            PyErr_Clear();
        } else {
            Py_DECREF(result);
        }
    } else {
        PyErr_Clear();
    }
    restore_exception(exc);
}

template <typename Advice>
PyObject* raise_with_advice(Error (*make)(std::string), Advice advice, std::string_view text) noexcept {
    try {
        raise_error(make(std::string(text)));
        add_note(advice(text));
    } catch (const std::bad_alloc&) {
        // The error is raised before the note is worked out; without memory it goes bare.
        if (!PyErr_Occurred()) PyErr_NoMemory();
    }
    return nullptr;
}

}  // namespace

void add_argument_note(const char* argument_name) noexcept {
    attach_note(PyUnicode_FromFormat("while processing '%s'", argument_name));
}

void add_note(std::string_view note) noexcept {
    if (note.empty()) return;
    attach_note(PyUnicode_DecodeUTF8(note.data(), static_cast<Py_ssize_t>(note.size()), "replace"));
}

PyObject* raise_unit_not_found(std::string_view text) noexcept {
    return raise_with_advice(Error::unit_not_found, unit_not_found_note, text);
}

PyObject* raise_log_unit_not_found(std::string_view text) noexcept {
    return raise_with_advice(Error::log_unit_not_found, log_unit_not_found_note, text);
}

PyObject* raise_constant_not_found(std::string_view text) noexcept {
    return raise_with_advice(Error::constant_not_found, constant_not_found_note, text);
}

bool warn_dropped_unit_text(std::string_view text) noexcept {
    std::string message;
    try {
        message = dropped_unit_text_warning(text);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    // The message quotes the caller's text, which came from a str and so is valid UTF-8.
    return PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) == 0;
}

}  // namespace tolvat::py
