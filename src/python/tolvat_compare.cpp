// Rich comparison of Tolvat: the other operand is converted into the left operand's units and
// the values are compared exactly, as IEEE doubles.
#include <new>
#include <optional>

#include "arrays.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* invalid_compare_op() noexcept {
    try {
        return raise_error(Error::internal("invalid compareop"));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

namespace {

// x compared with the other operand in different units (or of another dimension: the error).
[[gnu::noinline]] PyObject* compared_after_conversion(double x, const Quantity& other, const UnitCollection& units, int op) {
    const Expected<double> converted = converted_value(other, units);
    if (!converted) return raise_error(converted.error());
    return compared(x, *converted, op);
}

// x compared with the other operand converted into `units`. May throw std::bad_alloc while
// reporting incompatible units.
inline PyObject* compared_in_units(double x, const Quantity& other, const UnitCollection& units, int op) {
    // Quantities in the same units, the commonest comparison, need no conversion at all.
    if (exponents_equal(other.unit.exponents(), units.exponents()) && same_units(other.unit, units)) {
        return compared(x, other.value, op);
    }
    return compared_after_conversion(x, other, units, op);
}

// Every comparison but two quantities that no writer holds: the accesses one after the other, or
// the other operand coerced into a quantity. Kept apart so that the common case stays small.
[[gnu::noinline]] PyObject* compared_the_long_way(PyObject* self, PyObject* other, int op) noexcept {
    TolvatObject* object = as_tolvat(self);
    try {
        {
            // One after the other, as the rule has it: a writer on self raises, and a writer on the
            // other operand, seen while self is held, declines.
            SharedAccess access(object->access);
            if (!access.ok()) return raise_already_mutably_borrowed();
            if (is_tolvat(other)) {
                SharedAccess other_access(as_tolvat(other)->access);
                if (!other_access.ok()) Py_RETURN_NOTIMPLEMENTED;
                return compared_in_units(object->quantity.value, as_tolvat(other)->quantity, object->quantity.unit, op);
            }
            std::optional<Quantity> operand = coerce_to_quantity(other, OnFailure::Discard);
            if (operand) return compared_in_units(object->quantity.value, *operand, object->quantity.unit, op);
            if (PyErr_Occurred()) return nullptr;  // the warning about a text, raised
        }
        // Anything that does not coerce is left to Python's fallback (== False, != True, ordering
        // raises its TypeError), but an array, which is compared element by element.
        if (is_array_like(nullptr, other)) return array_compare(self, other, op);
        Py_RETURN_NOTIMPLEMENTED;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace

PyObject* tolvat_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    TolvatObject* object = as_tolvat(self);
    if (object->has_array || (is_tolvat(other) && as_tolvat(other)->has_array)) [[unlikely]] {
        return array_compare(self, other, op);
    }
    // The other operand is the source of the conversion, so its units come first in an error.
    if (is_tolvat(other)) {
        // Another quantity is read in place, under shared access, rather than copied; both reads
        // are taken at once when neither is held by a writer.
        SharedAccessPair both(object->access, as_tolvat(other)->access);
        if (both.ok()) {
            try {
                return compared_in_units(object->quantity.value, as_tolvat(other)->quantity, object->quantity.unit, op);
            } catch (const std::bad_alloc&) {
                return PyErr_NoMemory();
            }
        }
    }
    return compared_the_long_way(self, other, op);
}

}  // namespace tolvat::py
