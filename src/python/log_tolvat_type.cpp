// The LogTolvat type: layout, lifetime and method table; the constructor unit(), the conversions
// to other logarithmic units and to plain numbers.
//
// A LogTolvat is never changed after creation. Every member reads it under shared access; the
// copy of a LogQuantity is two words, so members copy it out and compute on the copy.
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "../core/log_catalogue.hpp"
#include "arguments.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"

namespace tolvat::py {

PyTypeObject* g_log_tolvat_type = nullptr;

namespace {

void log_tolvat_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    as_log_tolvat(self)->quantity.~LogQuantity();
    as_log_tolvat(self)->access.~AccessCounter();
    PyObject_Free(self);
    Py_DECREF(type);
}

// A copy of self's quantity, read under shared access; RuntimeError "Already mutably borrowed"
// while another call holds the object exclusively.
std::optional<LogQuantity> read_self(PyObject* self) noexcept {
    LogTolvatObject* object = as_log_tolvat(self);
    SharedAccess access(object->access);
    if (!access.ok()) {
        raise_already_mutably_borrowed();
        return std::nullopt;
    }
    return object->quantity;
}

// The amount that carries the ratio of `source` over into `target`'s unit: ln(ratio) / ln(base).
double carried_value(const LogQuantity& source, LogUnit target) noexcept {
    return std::log(source.ratio()) / std::log(target->base);
}

// The unit of an `other` argument; the extraction error carries the argument note.
std::optional<LogUnit> other_unit(PyObject* other) noexcept {
    std::optional<LogQuantity> quantity = extract_log_tolvat(other);
    if (!quantity) {
        add_argument_note("other");
        return std::nullopt;
    }
    return quantity->unit;
}

// ---- Constructor -------------------------------------------------------------------------------

PyObject* log_tolvat_unit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"unit_name_or_symbol"};
    PyObject* arg;
    if (!bind_arguments("unit", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::string_view> text = text_argument(arg, "unit_name_or_symbol");
    if (!text) return nullptr;
    const LogUnit unit = search_for_log_unit_name(*text);
    if (unit == nullptr) {
        try {
            return raise_error(Error::log_unit_not_found(std::string(*text)));
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    return new_log_tolvat(LogQuantity{unit, 1.0});
}

// ---- Conversion to other logarithmic units ----------------------------------------------------

PyObject* log_tolvat_as_unit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other;
    if (!bind_arguments("as_unit", args, nargs, kwnames, names, 1, 1, &other)) return nullptr;
    const std::optional<LogQuantity> quantity = read_self(self);
    if (!quantity) return nullptr;
    const std::optional<LogUnit> target = other_unit(other);
    if (!target) return nullptr;
    return new_log_tolvat(LogQuantity{*target, carried_value(*quantity, *target)});
}

PyObject* log_tolvat_as_number(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other;
    if (!bind_arguments("as_number", args, nargs, kwnames, names, 1, 0, &other)) return nullptr;
    const std::optional<LogQuantity> quantity = read_self(self);
    if (!quantity) return nullptr;
    if (other == nullptr || other == Py_None) return PyFloat_FromDouble(quantity->value);
    const std::optional<LogUnit> target = other_unit(other);
    if (!target) return nullptr;
    return PyFloat_FromDouble(carried_value(*quantity, *target));
}

// ---- Conversion to plain numbers (all from the ratio) ------------------------------------------

template <double (*Function)(double)>
PyObject* ratio_function(PyObject* self, PyObject*) noexcept {
    const std::optional<LogQuantity> quantity = read_self(self);
    if (!quantity) return nullptr;
    return PyFloat_FromDouble(Function(quantity->ratio()));
}

double identity(double x) noexcept { return x; }
double natural_exp(double x) noexcept { return std::exp(x); }
double natural_log(double x) noexcept { return std::log(x); }
double decimal_log(double x) noexcept { return std::log10(x); }

PyObject* log_tolvat_float(PyObject* self) noexcept { return ratio_function<identity>(self, nullptr); }

// The ratio truncated toward zero, as an exact int of any size. PyLong_FromDouble raises
// Python's own errors: ValueError for NaN, OverflowError for an infinity.
PyObject* log_tolvat_int(PyObject* self) noexcept {
    const std::optional<LogQuantity> quantity = read_self(self);
    if (!quantity) return nullptr;
    return PyLong_FromDouble(quantity->ratio());
}

// ---- Arithmetic, comparison, text and rounding ------------------------------------------------
// (Their slots and methods join the tables below.)

#define LOG_TOLVAT_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef log_tolvat_methods[] = {
    {"unit", LOG_TOLVAT_FASTCALL(log_tolvat_unit), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "unit($cls, unit_name_or_symbol)\n--\n\n"},
    {"as_unit", LOG_TOLVAT_FASTCALL(log_tolvat_as_unit), METH_FASTCALL | METH_KEYWORDS,
     "as_unit($self, other)\n--\n\n"},
    {"as_number", LOG_TOLVAT_FASTCALL(log_tolvat_as_number), METH_FASTCALL | METH_KEYWORDS,
     "as_number($self, other=None)\n--\n\n"},
    {"as_unitless", ratio_function<identity>, METH_NOARGS, "as_unitless($self)\n--\n\n"},
    {"__exp__", ratio_function<natural_exp>, METH_NOARGS, "__exp__($self)\n--\n\n"},
    {"exp", ratio_function<natural_exp>, METH_NOARGS, "exp($self)\n--\n\n"},
    {"__log__", ratio_function<natural_log>, METH_NOARGS, "__log__($self)\n--\n\n"},
    {"log", ratio_function<natural_log>, METH_NOARGS, "log($self)\n--\n\n"},
    {"__log10__", ratio_function<decimal_log>, METH_NOARGS, "__log10__($self)\n--\n\n"},
    {"log10", ratio_function<decimal_log>, METH_NOARGS, "log10($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot log_tolvat_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(log_tolvat_dealloc)},
    {Py_tp_methods, log_tolvat_methods},
    // Instances compare by the ratio they stand for, so they are not hashable.
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_nb_int, reinterpret_cast<void*>(log_tolvat_int)},
    {Py_nb_float, reinterpret_cast<void*>(log_tolvat_float)},
    {0, nullptr},
};

PyType_Spec log_tolvat_spec = {
    "tolvat.LogTolvat",
    sizeof(LogTolvatObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    log_tolvat_slots,
};

}  // namespace

int ensure_log_tolvat_type() {
    if (g_log_tolvat_type != nullptr) return 0;
    PyObject* type = PyType_FromSpec(&log_tolvat_spec);
    if (type == nullptr) return -1;
    g_log_tolvat_type = reinterpret_cast<PyTypeObject*>(type);
    return 0;
}

PyObject* new_log_tolvat(const LogQuantity& quantity) noexcept {
    auto* self = static_cast<LogTolvatObject*>(PyObject_Malloc(sizeof(LogTolvatObject)));
    if (self == nullptr) return PyErr_NoMemory();
    PyObject_Init(reinterpret_cast<PyObject*>(self), g_log_tolvat_type);
    ::new (&self->access) AccessCounter();
    ::new (&self->quantity) LogQuantity(quantity);
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace tolvat::py
