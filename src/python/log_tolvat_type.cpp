// The LogTolvat type: layout, lifetime and method table; the constructor unit(), the conversions
// to other logarithmic units and to plain numbers; arithmetic, comparison, text and rounding.
//
// A LogTolvat is never changed after creation. Every member reads it under shared access (only
// round_sfig insists on exclusive access); the copy of a LogQuantity is two words, so members
// copy it out and compute on the copy.
//
// Two logarithmic quantities combine in the logarithmic domain (a sum multiplies the ratios) and
// stay a LogTolvat in the left operand's unit; scaling by a plain number scales the amount; every
// other mix with a plain number works on the ratio and gives a float.
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "../core/display.hpp"
#include "../core/log_catalogue.hpp"
#include "../core/rounding.hpp"
#include "arguments.hpp"
#include "array_protocols.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "float_round.hpp"
#include "format.hpp"
#include "objects.hpp"
#include "pickling.hpp"
#include "python_text.hpp"

namespace tolvat::py {

void log_tolvat_release(PyObject* self) noexcept {
    as_log_tolvat(self)->quantity.~LogQuantity();
    as_log_tolvat(self)->access.~AccessCounter();
}

void log_tolvat_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    log_tolvat_release(self);
    PyObject_Free(self);
    Py_DECREF(type);
}


namespace {


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

PyObject* log_tolvat_unit(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"unit_name_or_symbol"};
    PyObject* arg;
    if (!bind_arguments("unit", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::string_view> text = text_argument(arg, "unit_name_or_symbol");
    if (!text) return nullptr;
    const LogUnit unit = search_for_log_unit_name(*text);
    if (unit == nullptr) return raise_log_unit_not_found(*text);
    return new_log_tolvat(as_type(cls), LogQuantity{unit, 1.0});
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
    return new_log_tolvat(Py_TYPE(self), LogQuantity{*target, quantity->value_in(*target)});
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
    return PyFloat_FromDouble(quantity->value_in(*target));
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

// ---- Arithmetic -------------------------------------------------------------------------------

enum class Operation { Add, Subtract, Multiply, Divide, Power };

PyObject* not_implemented() noexcept { Py_RETURN_NOTIMPLEMENTED; }

// x op operand, where the operand is a plain number or a LogTolvat.
PyObject* forward_result(PyTypeObject* type, Operation operation, const LogQuantity& x, const PyNumber& operand) noexcept {
    const bool logarithmic = operand.kind == PyNumber::Kind::LogQuantity;
    switch (operation) {
        case Operation::Add:
            if (logarithmic) return new_log_tolvat(type, log_sum(x, operand.log));
            return PyFloat_FromDouble(x.ratio() + operand.number);
        case Operation::Subtract:
            if (logarithmic) return new_log_tolvat(type, log_difference(x, operand.log));
            return PyFloat_FromDouble(x.ratio() - operand.number);
        case Operation::Multiply:
            if (logarithmic) return PyFloat_FromDouble(operand.log.ratio() * x.ratio());
            return new_log_tolvat(type, log_scaled(x, operand.number));
        case Operation::Divide:
            if (logarithmic) return PyFloat_FromDouble(x.ratio() / operand.log.ratio());
            return new_log_tolvat(type, log_divided(x, operand.number));
        case Operation::Power:
            return PyFloat_FromDouble(std::pow(x.ratio(), operand.as_double()));
    }
    return not_implemented();
}

// n op x, where the plain number n is the left operand.
PyObject* reflected_result(PyTypeObject* type, Operation operation, const LogQuantity& x, double n) noexcept {
    switch (operation) {
        case Operation::Add: return PyFloat_FromDouble(x.ratio() + n);
        case Operation::Subtract: return PyFloat_FromDouble(n - x.ratio());
        case Operation::Multiply: return new_log_tolvat(type, log_scaled(x, n));
        case Operation::Divide: return PyFloat_FromDouble(n / x.ratio());
        case Operation::Power: return PyFloat_FromDouble(std::pow(n, x.ratio()));
    }
    return not_implemented();
}

// One direction of an operator slot, `self` being the LogTolvat. When self cannot be read or the
// operand or a modulus other than None is no number, the attempt gives up: NotImplemented, with
// no exception set. A modulus that is a number is ignored.
PyObject* attempt(Operation operation, PyObject* self, PyObject* operand, PyObject* modulus, bool reflected) noexcept {
    LogTolvatObject* object = as_log_tolvat(self);
    SharedAccess access(object->access);
    if (!access.ok()) return not_implemented();
    const std::optional<PyNumber> number = coerce_to_number(operand, OnFailure::Discard);
    if (!number) return not_implemented();
    if (modulus != Py_None && !coerce_to_number(modulus, OnFailure::Discard)) return not_implemented();
    const LogQuantity x = object->quantity;
    return reflected ? reflected_result(Py_TYPE(self), operation, x, number->as_double())
                     : forward_result(Py_TYPE(self), operation, x, *number);
}

// With a LogTolvat on the left only the forward forms apply, also when the left object cannot be
// read: a reflected attempt could then succeed only because another call released the left object
// in between, and would treat it as a plain number.
template <Operation operation>
PyObject* ternary_slot(PyObject* left, PyObject* right, PyObject* modulus) noexcept {
    if (is_log_tolvat(left)) return attempt(operation, left, right, modulus, false);
    if (is_log_tolvat(right)) return attempt(operation, right, left, modulus, true);
    return not_implemented();
}

template <Operation operation>
PyObject* binary_slot(PyObject* left, PyObject* right) noexcept {
    return ternary_slot<operation>(left, right, Py_None);
}

PyObject* log_tolvat_negative(PyObject* self) noexcept {
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    // Flips the sign bit, so 0 becomes -0 and NaN changes sign too.
    return new_log_tolvat(Py_TYPE(self), LogQuantity{x->unit, -x->value});
}

PyObject* log_tolvat_positive(PyObject* self) noexcept {
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    return new_log_tolvat(Py_TYPE(self), *x);
}

PyObject* log_tolvat_absolute(PyObject* self) noexcept {
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    return PyFloat_FromDouble(std::fabs(x->ratio()));
}

// The `other` argument of the division methods, which raise where the slot would give up.
std::optional<PyNumber> number_argument(PyObject* other) noexcept {
    std::optional<PyNumber> number = coerce_to_number(other, OnFailure::Raise);
    if (!number) add_argument_note("other");
    return number;
}

PyObject* log_tolvat_div(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other;
    if (!bind_arguments("__div__", args, nargs, kwnames, names, 1, 1, &other)) return nullptr;
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    const std::optional<PyNumber> number = number_argument(other);
    if (!number) return nullptr;
    return forward_result(Py_TYPE(self), Operation::Divide, *x, *number);
}

// other / ratio, a float whatever other is.
PyObject* log_tolvat_rdiv(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other;
    if (!bind_arguments("__rdiv__", args, nargs, kwnames, names, 1, 1, &other)) return nullptr;
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    const std::optional<PyNumber> number = number_argument(other);
    if (!number) return nullptr;
    return PyFloat_FromDouble(number->as_double() / x->ratio());
}

// ---- Comparison: by the ratios, exactly ---------------------------------------------------------

PyObject* log_tolvat_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    LogTolvatObject* object = as_log_tolvat(self);
    SharedAccess access(object->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    // A Tolvat, a text or anything else is left to the other side (a Tolvat takes this object as
    // its dimensionless ratio) or to Python's fallback.
    const std::optional<PyNumber> number = coerce_to_number(other, OnFailure::Discard);
    if (!number) return not_implemented();
    return compared(object->quantity.ratio(), number->as_double(), op);
}

// ---- Text form: the amount and the unit's symbol, as stored -------------------------------------

PyObject* log_tolvat_str(PyObject* self) noexcept {
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    try {
        TextBuffer text;
        join_quantity_text(text, x->value, UnitText::Plain, log_unit_text(x->unit->symbol));
        return python_text(text.view());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// ---- Rounding of the ratio ----------------------------------------------------------------------

// The rounded ratio as a float. Where the scaled formula leaves the finite range (about 300
// digits and more, or a ratio near the top of the double range) the ratio is rounded exactly, by
// Python's own float rounding, whose OverflowError for a result beyond the double range passes on.
PyObject* rounded_ratio(double ratio, const DecimalRounding& outcome) noexcept {
    if (!outcome.needs_exact) return PyFloat_FromDouble(outcome.value);
    const std::optional<double> exact = python_float_round(ratio, outcome.digits);
    return exact ? PyFloat_FromDouble(*exact) : nullptr;
}

PyObject* log_tolvat_round(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"ndigits"};
    PyObject* arg;
    if (!bind_arguments("__round__", args, nargs, kwnames, names, 1, 0, &arg)) return nullptr;
    std::optional<std::int32_t> ndigits;
    if (arg != nullptr && arg != Py_None) {
        ndigits = int32_argument(arg, "ndigits");
        if (!ndigits) return nullptr;
    }
    const std::optional<LogQuantity> x = read_self(self);
    if (!x) return nullptr;
    const double r = x->ratio();
    if (!ndigits) return PyFloat_FromDouble(round_half_away_from_zero(r));
    return rounded_ratio(r, round_to_decimals(r, *ndigits));
}

// Exclusive access for the length of the call, although it only reads.
PyObject* log_tolvat_round_sfig(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) noexcept {
    static const char* const names[] = {"n_sig_figs"};
    PyObject* arg;
    if (!bind_arguments("round_sfig", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::int32_t> figures = int32_argument(arg, "n_sig_figs");
    if (!figures) return nullptr;
    LogTolvatObject* object = as_log_tolvat(self);
    // Only a read, but under exclusive access like Tolvat.round_sfig, which rounds its object's
    // units in place first: the two methods of one name give way alike, with "Already borrowed",
    // while any other call holds the object.
    ExclusiveAccess access(object->access);
    if (!access.ok()) return raise_already_borrowed();
    const double r = object->quantity.ratio();
    return rounded_ratio(r, round_to_significant_figures(r, *figures));
}

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
    {"__div__", LOG_TOLVAT_FASTCALL(log_tolvat_div), METH_FASTCALL | METH_KEYWORDS, "__div__($self, other)\n--\n\n"},
    {"__rdiv__", LOG_TOLVAT_FASTCALL(log_tolvat_rdiv), METH_FASTCALL | METH_KEYWORDS,
     "__rdiv__($self, other)\n--\n\n"},
    {"__round__", LOG_TOLVAT_FASTCALL(log_tolvat_round), METH_FASTCALL | METH_KEYWORDS,
     "__round__($self, ndigits=None)\n--\n\n"},
    {"round_sfig", LOG_TOLVAT_FASTCALL(log_tolvat_round_sfig), METH_FASTCALL | METH_KEYWORDS,
     "round_sfig($self, n_sig_figs)\n--\n\n"},
    {"__format__", log_tolvat_format, METH_O, "__format__($self, format_spec, /)\n--\n\n"},
    {"__reduce__", log_tolvat_reduce, METH_NOARGS, "__reduce__($self, /)\n--\n\n"},
    {"__copy__", log_tolvat_copy, METH_NOARGS, "__copy__($self, /)\n--\n\n"},
    {"__deepcopy__", log_tolvat_deepcopy, METH_O, "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__array_ufunc__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(log_tolvat_array_ufunc)),
     METH_FASTCALL | METH_KEYWORDS, "__array_ufunc__($self, ufunc, method, /, *inputs, **kwargs)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot log_tolvat_slots[] = {
    INSTANCE_END_SLOT(log_tolvat),
    {Py_tp_methods, log_tolvat_methods},
    // Instances compare by the ratio they stand for, so they are not hashable.
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_tp_richcompare, reinterpret_cast<void*>(log_tolvat_richcompare)},
    {Py_tp_str, reinterpret_cast<void*>(log_tolvat_str)},
    {Py_tp_repr, reinterpret_cast<void*>(log_tolvat_str)},
    {Py_nb_add, reinterpret_cast<void*>(binary_slot<Operation::Add>)},
    {Py_nb_subtract, reinterpret_cast<void*>(binary_slot<Operation::Subtract>)},
    {Py_nb_multiply, reinterpret_cast<void*>(binary_slot<Operation::Multiply>)},
    {Py_nb_true_divide, reinterpret_cast<void*>(binary_slot<Operation::Divide>)},
    {Py_nb_power, reinterpret_cast<void*>(ternary_slot<Operation::Power>)},
    {Py_nb_negative, reinterpret_cast<void*>(log_tolvat_negative)},
    {Py_nb_positive, reinterpret_cast<void*>(log_tolvat_positive)},
    {Py_nb_absolute, reinterpret_cast<void*>(log_tolvat_absolute)},
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

PyTypeObject* create_log_tolvat_type(PyObject* module) noexcept {
    return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &log_tolvat_spec, nullptr));
}

PyObject* new_log_tolvat(PyTypeObject* type, const LogQuantity& quantity) noexcept {
    auto* self = static_cast<LogTolvatObject*>(PyObject_Malloc(sizeof(LogTolvatObject)));
    if (self == nullptr) return PyErr_NoMemory();
    PyObject_Init(reinterpret_cast<PyObject*>(self), type);
    ::new (&self->access) AccessCounter();
    ::new (&self->quantity) LogQuantity(quantity);
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace tolvat::py
