// Tolvat arithmetic: the number slots in both operand orders, __div__/__rdiv__, and the
// transcendental methods.
#include <cmath>
#include <new>
#include <utility>

#include "../core/quantity_arithmetic.hpp"
#include "arguments.hpp"
#include "arrays.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

using Forward = Expected<Quantity> (*)(const Quantity& self, const Quantity& other);

// The result of an operation as a new object, or its error raised.
PyObject* finish(PyTypeObject* type, Expected<Quantity>&& result) noexcept {
    if (!result) return raise_error(result.error());
    return new_tolvat(type, std::move(result).value());
}

// Operations with the Tolvat operand first (forward) or second (reflected).
Expected<Quantity> op_add(const Quantity& s, const Quantity& o) { return add(s, o); }
Expected<Quantity> op_subtract(const Quantity& s, const Quantity& o) { return subtract(s, o); }
Expected<Quantity> op_rsubtract(const Quantity& s, const Quantity& o) { return reflected_subtract(s, o); }
Expected<Quantity> op_multiply(const Quantity& s, const Quantity& o) { return multiply(s, o); }
Expected<Quantity> op_divide(const Quantity& s, const Quantity& o) { return divide(s, o); }
Expected<Quantity> op_rdivide(const Quantity& s, const Quantity& o) { return divide(o, s); }
Expected<Quantity> op_power(const Quantity& s, const Quantity& o) { return power(s, o); }
Expected<Quantity> op_rpower(const Quantity& s, const Quantity& o) { return power(o, s); }

// The optional third argument of pow(): None, or anything that is a number operand.
bool modulus_acceptable(PyObject* modulus) noexcept {
    if (modulus == nullptr || modulus == Py_None) return true;
    return coerce_to_number(modulus, OnFailure::Discard).has_value();
}

// The operation on one value, and the same over many values.
struct Operation {
    Forward one;
    ElementOp many;
};

// One attempt: `self_obj` is the Tolvat the operation runs on, `other_obj` the operand.
// Returns Py_NotImplemented (new reference) when the attempt does not apply.
PyObject* attempt(PyObject* self_obj, PyObject* other_obj, PyObject* modulus, Operation op) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    try {
        if (is_tolvat(other_obj)) {
            if (self->has_array || as_tolvat(other_obj)->has_array) [[unlikely]] {
                return array_binary(op.many, self_obj, other_obj, modulus);
            }
            // Another quantity is read in place, under shared access, rather than copied. Either
            // object held by a writer makes the attempt decline, so both are taken at once.
            SharedAccessPair access(self->access, as_tolvat(other_obj)->access);
            if (!access.ok() || !modulus_acceptable(modulus)) Py_RETURN_NOTIMPLEMENTED;
            return finish(Py_TYPE(self_obj), op.one(self->quantity, as_tolvat(other_obj)->quantity));
        }
        if (self->has_array) [[unlikely]] return array_binary(op.many, self_obj, other_obj, modulus);
        {
            SharedAccess access(self->access);
            if (!access.ok()) Py_RETURN_NOTIMPLEMENTED;
            std::optional<Quantity> other = coerce_to_quantity(other_obj, OnFailure::Discard);
            if (!other && PyErr_Occurred()) return nullptr;  // the warning about a text, raised
            if (other) {
                if (!modulus_acceptable(modulus)) Py_RETURN_NOTIMPLEMENTED;
                return finish(Py_TYPE(self_obj), op.one(self->quantity, *other));
            }
        }
        // An array operand makes a quantity over the array.
        if (is_array_like(nullptr, other_obj)) return array_binary(op.many, self_obj, other_obj, modulus);
        Py_RETURN_NOTIMPLEMENTED;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* binary_slot(PyObject* left, PyObject* right, PyObject* modulus, Operation forward,
                      Operation reflected) noexcept {
    if (is_tolvat(left)) {
        PyObject* result = attempt(left, right, modulus, forward);
        // With two quantities a declined forward attempt is final: the reflected one would run a
        // moment later, could find the writer gone, and give the answer in the right operand's
        // units, so the units of a result would depend on a race.
        if (result != Py_NotImplemented || is_tolvat(right)) return result;
        Py_DECREF(result);
    }
    if (is_tolvat(right)) return attempt(right, left, modulus, reflected);
    Py_RETURN_NOTIMPLEMENTED;
}

// __div__ and __rdiv__ with an array: the operator's work, but a declined operand raises as the
// method's argument.
[[gnu::noinline]] PyObject* array_division_method(PyObject* self_obj, PyObject* other_obj, Operation op) noexcept {
    PyObject* result = array_binary(op.many, self_obj, other_obj, nullptr);
    if (result != Py_NotImplemented) return result;
    Py_DECREF(result);
    SharedAccess access(as_tolvat(self_obj)->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        if (coerce_argument(other_obj, "other")) return raise_already_mutably_borrowed();  // the operand was held
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return nullptr;
}

// __div__ and __rdiv__: like the operator, but a bad operand raises with the argument note.
PyObject* division_method(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                          const char* name, Operation op) noexcept {
    static const char* const names[] = {"other"};
    PyObject* other_obj;
    if (!bind_arguments(name, args, nargs, kwnames, names, 1, 1, &other_obj)) return nullptr;
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array || (is_tolvat(other_obj) && as_tolvat(other_obj)->has_array) || is_array_like(nullptr, other_obj)) {
        return array_division_method(self_obj, other_obj, op);
    }
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        std::optional<Quantity> other = coerce_argument(other_obj, "other");
        if (!other) return nullptr;
        return finish(Py_TYPE(self_obj), op.one(self->quantity, *other));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

using UnaryFn = Expected<Quantity> (*)(const Quantity&);

PyObject* unary(PyObject* self_obj, UnaryFn op, UnaryOp many) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_unary(many, self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        return finish(Py_TYPE(self_obj), op(self->quantity));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* transcendental(PyObject* self_obj, double (*fn)(double), Transcendental many) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_transcendental(self_obj, many);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        Expected<double> x = unitless_value(self->quantity);
        if (!x) return raise_error(x.error());
        return PyFloat_FromDouble(fn(*x));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

double c_exp(double x) { return std::exp(x); }
double c_log(double x) { return std::log(x); }
double c_log10(double x) { return std::log10(x); }

// An exact int as a double: the value itself for the small ints stored in one digit, read in
// place where the interpreter allows it; the C API's conversion otherwise.
double small_int_as_double(PyObject* number) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyLongObject* value = reinterpret_cast<PyLongObject*>(number);
    if (PyUnstable_Long_IsCompact(value)) return static_cast<double>(PyUnstable_Long_CompactValue(value));
#endif
    return PyLong_AsDouble(number);
}

}  // namespace

PyObject* tolvat_add(PyObject* left, PyObject* right) noexcept {
    return binary_slot(left, right, nullptr, {op_add, ElementOp::Add}, {op_add, ElementOp::Add});
}
PyObject* tolvat_subtract(PyObject* left, PyObject* right) noexcept {
    return binary_slot(left, right, nullptr, {op_subtract, ElementOp::Subtract},
                       {op_rsubtract, ElementOp::ReflectedSubtract});
}
PyObject* tolvat_multiply(PyObject* left, PyObject* right) noexcept {
    return binary_slot(left, right, nullptr, {op_multiply, ElementOp::Multiply}, {op_multiply, ElementOp::Multiply});
}
PyObject* tolvat_true_divide(PyObject* left, PyObject* right) noexcept {
    return binary_slot(left, right, nullptr, {op_divide, ElementOp::Divide}, {op_rdivide, ElementOp::ReflectedDivide});
}
PyObject* tolvat_power(PyObject* left, PyObject* right, PyObject* modulus) noexcept {
    // A quantity to a plain float or int, the commonest power: the exponent is its own
    // dimensionless value (what converting it would give), so no quantity is built for it. The
    // right operand is no Tolvat, so there is no reflected attempt either.
    const bool plain_exponent = PyFloat_CheckExact(right) || PyLong_CheckExact(right);
    if (is_tolvat(left) && plain_exponent && (modulus == nullptr || modulus == Py_None) && !as_tolvat(left)->has_array) {
        const double p = PyFloat_CheckExact(right) ? PyFloat_AS_DOUBLE(right) : small_int_as_double(right);
        if (p == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();  // an int beyond the double range is no operand
            Py_RETURN_NOTIMPLEMENTED;
        }
        TolvatObject* self = as_tolvat(left);
        SharedAccess access(self->access);
        if (!access.ok()) Py_RETURN_NOTIMPLEMENTED;
        try {
            return finish(Py_TYPE(left), power_by_number(self->quantity, p));
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    return binary_slot(left, right, modulus, {op_power, ElementOp::Power}, {op_rpower, ElementOp::ReflectedPower});
}

PyObject* tolvat_negative(PyObject* self) noexcept { return unary(self, negate, UnaryOp::Negate); }
PyObject* tolvat_positive(PyObject* self) noexcept { return unary(self, tolvat::positive, UnaryOp::Positive); }
PyObject* tolvat_absolute(PyObject* self_obj) noexcept {
    TolvatObject* self = as_tolvat(self_obj);
    if (self->has_array) [[unlikely]] return array_unary(UnaryOp::Absolute, self_obj);
    SharedAccess access(self->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        return new_tolvat(Py_TYPE(self_obj), absolute(self->quantity));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_div(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return division_method(self, args, nargs, kwnames, "__div__", {op_divide, ElementOp::Divide});
}
PyObject* tolvat_rdiv(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return division_method(self, args, nargs, kwnames, "__rdiv__", {op_rdivide, ElementOp::ReflectedDivide});
}

PyObject* tolvat_exp(PyObject* self, PyObject*) noexcept { return transcendental(self, c_exp, Transcendental::Exp); }
PyObject* tolvat_log(PyObject* self, PyObject*) noexcept { return transcendental(self, c_log, Transcendental::Log); }
PyObject* tolvat_log10(PyObject* self, PyObject*) noexcept {
    return transcendental(self, c_log10, Transcendental::Log10);
}

}  // namespace tolvat::py
