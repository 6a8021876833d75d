// Rich comparison of Tolvat: the other operand is converted into the left operand's units and
// the values are compared exactly, as IEEE doubles.
#include <new>
#include <optional>

#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {

PyObject* tolvat_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    TolvatObject* object = as_tolvat(self);
    SharedAccess access(object->access);
    if (!access.ok()) return raise_already_mutably_borrowed();
    try {
        // The other operand is the source of the conversion, so its units come first in an error.
        Expected<double> converted = 0.0;
        if (is_tolvat(other)) {
            // Another quantity is read in place, under shared access, rather than copied.
            SharedAccess other_access(as_tolvat(other)->access);
            if (!other_access.ok()) Py_RETURN_NOTIMPLEMENTED;
            converted = converted_value(as_tolvat(other)->quantity, object->quantity.unit);
        } else {
            // Anything that does not coerce is left to Python's fallback (== False, != True,
            // ordering raises its TypeError).
            std::optional<Quantity> operand = coerce_to_quantity(other, OnFailure::Discard);
            if (!operand) {
                PyErr_Clear();
                Py_RETURN_NOTIMPLEMENTED;
            }
            converted = converted_value(*operand, object->quantity.unit);
        }
        if (!converted) return raise_error(converted.error());
        const double x = object->quantity.value;
        const double y = *converted;
        bool result;
        switch (op) {
            case Py_LT: result = x < y; break;
            case Py_LE: result = x <= y; break;
            case Py_EQ: result = x == y; break;
            case Py_NE: result = x != y; break;
            case Py_GT: result = x > y; break;
            case Py_GE: result = x >= y; break;
            default: return raise_error(Error::internal("invalid compareop"));
        }
        return PyBool_FromLong(result);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py
