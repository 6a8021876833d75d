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
        // Anything that does not coerce is left to Python's fallback (== False, != True, ordering
        // raises its TypeError).
        std::optional<Quantity> operand = coerce_to_quantity(other, OnFailure::Discard);
        if (!operand) {
            PyErr_Clear();
            Py_RETURN_NOTIMPLEMENTED;
        }
        // The other operand is the source of the conversion, so its units come first in an error.
        Expected<Quantity> converted = as_unit_internal(*operand, object->quantity.unit);
        if (!converted) return raise_error(converted.error());
        const double x = object->quantity.value;
        const double y = converted->value;
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
