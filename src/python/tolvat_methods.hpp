// The methods and slots of Tolvat, implemented across the tolvat_*.cpp files by concern.
#pragma once

#include "python_api.hpp"

namespace tolvat::py {

// Constructors (class methods).
PyObject* tolvat_unit(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_empty(PyObject* cls, PyObject* unused) noexcept;
PyObject* tolvat_constant(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_custom(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_parse(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// Inspection: the value, the units, the dimension, and whether another operand shares it.
PyObject* tolvat_get_value(PyObject* self, void* unused) noexcept;
PyObject* tolvat_get_units(PyObject* self, void* unused) noexcept;
PyObject* tolvat_get_dimension(PyObject* self, void* unused) noexcept;
PyObject* tolvat_is_compatible(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// Conversion.
PyObject* tolvat_as_unit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_as_number(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_as_unitless(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_as_base_units(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_simplify(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_simplify_inplace(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_float(PyObject* self) noexcept;
PyObject* tolvat_int(PyObject* self) noexcept;

// Arithmetic.
PyObject* tolvat_add(PyObject* left, PyObject* right) noexcept;
PyObject* tolvat_subtract(PyObject* left, PyObject* right) noexcept;
PyObject* tolvat_multiply(PyObject* left, PyObject* right) noexcept;
PyObject* tolvat_true_divide(PyObject* left, PyObject* right) noexcept;
PyObject* tolvat_power(PyObject* left, PyObject* right, PyObject* modulus) noexcept;
PyObject* tolvat_negative(PyObject* self) noexcept;
PyObject* tolvat_positive(PyObject* self) noexcept;
PyObject* tolvat_absolute(PyObject* self) noexcept;
PyObject* tolvat_div(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_rdiv(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_exp(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_log(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_log10(PyObject* self, PyObject* unused) noexcept;

// Text forms and rounding.
PyObject* tolvat_str(PyObject* self) noexcept;
PyObject* tolvat_latex(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_descriptive(PyObject* self, PyObject* unused) noexcept;
PyObject* tolvat_round(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* tolvat_round_sfig(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// Array values (tolvat_array_methods.cpp).
PyObject* tolvat_wrap(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
Py_ssize_t tolvat_length(PyObject* self) noexcept;
PyObject* tolvat_subscript(PyObject* self, PyObject* key) noexcept;
int tolvat_assign_subscript(PyObject* self, PyObject* key, PyObject* value) noexcept;
PyObject* tolvat_iter(PyObject* self) noexcept;
int tolvat_bool(PyObject* self) noexcept;
PyObject* tolvat_get_shape(PyObject* self, void* unused) noexcept;
PyObject* tolvat_get_ndim(PyObject* self, void* unused) noexcept;
PyObject* tolvat_get_size(PyObject* self, void* unused) noexcept;
PyObject* tolvat_get_dtype(PyObject* self, void* unused) noexcept;

// Comparison.
PyObject* tolvat_richcompare(PyObject* self, PyObject* other, int op) noexcept;

}  // namespace tolvat::py
