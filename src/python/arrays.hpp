// Quantities whose value is an array: a NumPy ndarray, or any array that follows NumPy's
// protocols (a Dask array, an ndarray subclass).
//
// The unit work of an operation is done once, in the core (array_ops.hpp). The numbers go one of
// two ways:
// - fused: an exact ndarray of native float64 in C order (NumPy's C interface gives its memory,
//   numpy_c.hpp), with an operand of the same shape or a single value; one loop of the core
//   writes into a new array made there;
// - otherwise the array library's own operations (through the number protocol and NumPy's
//   functions), step by step in the same order as the one-value path, so that NumPy broadcasts,
//   an ndarray subclass keeps its class and a Dask array stays lazy.
// Either way each element comes out as the operation on a quantity of that one value gives it.
//
// The access rule: the units and the array are read out of an object under shared access (a copy
// of the units, a new reference to the array), and the access is let go before NumPy or any
// other Python code runs. So no Python code ever runs while an array quantity is held.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "../core/array_ops.hpp"
#include "module_state.hpp"
#include "objects.hpp"

namespace tolvat::py {

// An owned reference.
class Ref {
public:
    Ref() noexcept = default;
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        PyObject* old = object_;
        object_ = other.release();
        Py_XDECREF(old);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }
    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

// The NumPy entry points of the interpreter that made `type` (a tolvat type), importing NumPy
// on first use; nullptr with the exception set.
const NumpyApi* numpy_for(PyTypeObject* type) noexcept;

// Whether `obj` is an array to be taken as a value: an ndarray (or subclass) or an object whose
// type has NumPy's __array_function__ or __array_ufunc__ (not None). Numbers, texts, NumPy's
// scalars and tolvat's own objects are not. Never imports NumPy; sets no exception.
bool is_array_like(const NumpyApi* api, PyObject* obj) noexcept;

// A new reference to `obj` as a value array: float64 arrays as they are, arrays of booleans,
// integers and floats of at most 64 bits converted to float64 (as a multiplication by a float
// would make them); TypeError for any other element type (objects, texts, complex numbers,
// dates, long double).
PyObject* normalise_array(const NumpyApi* api, PyObject* obj) noexcept;

// A new quantity of `type` over `array` in `units` (kept as given). Steals the reference to
// `array`, which must be a value array (normalise_array), also on failure.
PyObject* new_tolvat_array(PyTypeObject* type, Quantity&& units, PyObject* array) noexcept;

// What an operation reads out of a Tolvat: its units and either its value or a new reference to
// its array. Shared access is held only while reading. False, with no exception set, when the
// object is held exclusively.
bool read_tolvat(PyObject* obj, Quantity& units, Ref& array) noexcept;

// The operations, for the slots and methods of tolvat_*.cpp. `self` is the Tolvat the operation
// runs on; at least one operand carries an array.
//
// A two-operand operation with slot semantics: NotImplemented for an operand that fits no kind
// (or a Tolvat held by a writer), TypeError for an array mixed with a LogTolvat or an array of
// another element type, the unit errors of the one-value path. For the two power operations the
// third argument of pow() is checked as the one-value path checks it.
PyObject* array_binary(ElementOp op, PyObject* self, PyObject* other, PyObject* modulus) noexcept;
// Rich comparison: a plain boolean array.
PyObject* array_compare(PyObject* self, PyObject* other, int op) noexcept;

// Unary minus and plus (with the closing step) and abs() (without), of an array quantity.
enum class UnaryOp { Negate, Positive, Absolute };
PyObject* array_unary(UnaryOp op, PyObject* self) noexcept;

// The values of an array quantity converted by `conversion` (then ÷ divisor): a plain array.
PyObject* converted_array(const NumpyApi* api, PyObject* array, const Conversion& conversion,
                          double divisor = 1.0) noexcept;

// The values of `array` through fn and then `closing` (apply_fixed_power) into a new float64
// array, in one loop, when the array is an exact ndarray of contiguous float64; nothing (no
// exception) otherwise, and nullptr with an exception set on failure.
std::optional<PyObject*> fused_fixed_power(const NumpyApi* api, PyObject* array, FixedPowerFn fn,
                                           const Conversion& closing) noexcept;

// The conversions of an array quantity `self` (already read: its units and array).
// Into `target`: a new quantity in `target` over the converted values.
PyObject* array_as_unit(PyTypeObject* type, const UnitCollection& units, PyObject* array,
                        UnitCollection&& target) noexcept;
// exp, log or log10 of the values counted as plain numbers: a plain array.
PyObject* array_transcendental(PyObject* self, Transcendental fn) noexcept;
// simplify_inplace of an array quantity: the units and the array replaced together.
PyObject* array_simplify_inplace(PyObject* self) noexcept;

// The text forms: str() and repr() (Plain), latex(), descriptive(), and format() with a
// non-empty spec applied to each element. The object is not changed.
PyObject* array_text(PyObject* self, UnitText form, PyObject* format_spec = nullptr) noexcept;

// round(q, ndigits) (no digits: nullopt) and round_sfig(q, figures), element by element, in the
// simply simplified units.
PyObject* array_round(PyObject* self, std::optional<std::int32_t> decimals, bool significant_figures) noexcept;

}  // namespace tolvat::py
