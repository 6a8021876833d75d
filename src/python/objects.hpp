// The two Python types, their instance layouts and the helpers every binding file shares.
#pragma once

#include <new>
#include <utility>

#include "../core/log_quantity.hpp"
#include "../core/quantity.hpp"
#include "../core/access.hpp"
#include "python_api.hpp"

namespace tolvat::py {

// The access rule this build needs: real concurrency without the interpreter lock, re-entry only
// with it.
#ifdef Py_GIL_DISABLED
using concurrent::ExclusiveAccess;
using concurrent::SharedAccess;
using concurrent::SharedAccessPair;
#else
using serial::ExclusiveAccess;
using serial::SharedAccess;
using serial::SharedAccessPair;
#endif

struct TolvatObject {
    PyObject_HEAD
    // Guards the two fields below for the length of one call (access.hpp); atomic itself.
    AccessCounter access;
    // The units are known to be their own simple simplification, so the in-place simple
    // simplification that text and rounding start with has nothing to do. Read and written only
    // under exclusive access; it sits in what would otherwise be padding.
    bool units_simple;
    // Whether the value is an array (`array` below) rather than `quantity.value`. Set while the
    // object is made and never changed, so it is read without taking access: the kind of a
    // quantity's value is fixed for its life.
    bool has_array;
    // Read under shared access (or exclusive); replaced only under exclusive access, by
    // simplify_inplace and by the in-place simple simplification of text and rounding. Written
    // without access only while the object is being made, before any other thread can see it.
    // With an array value `quantity.value` is unused (1.0) and `quantity.unit` are its units.
    Quantity quantity;
    // The value array (a strong reference), or nullptr for a float value. Read under shared
    // access, and only to take a new reference: the access is let go before NumPy or any other
    // Python code is called with it (arrays.hpp). Replaced only under exclusive access, by
    // simplify_inplace. The array's contents are not guarded by the access rule, as no NumPy
    // array's are.
    PyObject* array;
};

// The in-place simple simplification of an object held exclusively, done at most once until its
// units change. On failure the object is unchanged and the error is returned.
inline Status simple_simplify_in_place(TolvatObject* object) {
    return simple_simplify_in_place(object->quantity, object->units_simple);
}

struct LogTolvatObject {
    PyObject_HEAD
    // Guards `quantity` for the length of one call (access.hpp); atomic itself.
    AccessCounter access;
    // Written only while the object is being made, before any other thread can see it; read
    // under shared access afterwards (exclusive in round_sfig), so it never changes once shared.
    LogQuantity quantity;
};

// Each interpreter that imports the module has its own two type objects (see module_state.hpp),
// and an instance counts a reference to its type: PyObject_Init takes it, and the end of the
// instance gives it back.
//
// How an instance ends. With the interpreter lock, the type's deallocator ends the members,
// frees the memory and gives the type back. On the free-threaded build a type's count is one
// cache line written by every thread that frees an instance, unless the interpreter's own
// deallocator does it, which keeps a count per thread: there the type has no deallocator of its
// own and ends the members in its finalizer, which that deallocator calls first.
//
// Either function also marks the type: comparing it tells instances of every interpreter's type
// apart from everything else at the cost of one load from the type object, as comparing with a
// type kept in a global did.
void tolvat_release(PyObject* self) noexcept;  // ends the members only
void log_tolvat_release(PyObject* self) noexcept;
void tolvat_dealloc(PyObject* self) noexcept;
void log_tolvat_dealloc(PyObject* self) noexcept;
#ifdef Py_GIL_DISABLED
#define INSTANCE_END_SLOT(prefix) {Py_tp_finalize, reinterpret_cast<void*>(prefix##_release)}
inline bool is_tolvat(PyObject* obj) noexcept { return Py_TYPE(obj)->tp_finalize == tolvat_release; }
inline bool is_log_tolvat(PyObject* obj) noexcept { return Py_TYPE(obj)->tp_finalize == log_tolvat_release; }
#else
#define INSTANCE_END_SLOT(prefix) {Py_tp_dealloc, reinterpret_cast<void*>(prefix##_dealloc)}
inline bool is_tolvat(PyObject* obj) noexcept { return Py_TYPE(obj)->tp_dealloc == tolvat_dealloc; }
inline bool is_log_tolvat(PyObject* obj) noexcept { return Py_TYPE(obj)->tp_dealloc == log_tolvat_dealloc; }
#endif

// New type objects for the module being executed; nullptr with an exception set on failure.
PyTypeObject* create_tolvat_type(PyObject* module) noexcept;
PyTypeObject* create_log_tolvat_type(PyObject* module) noexcept;

inline TolvatObject* as_tolvat(PyObject* obj) noexcept { return reinterpret_cast<TolvatObject*>(obj); }
inline LogTolvatObject* as_log_tolvat(PyObject* obj) noexcept {
    return reinterpret_cast<LogTolvatObject*>(obj);
}
// The class a class method is called on, which is one of the module's types.
inline PyTypeObject* as_type(PyObject* cls) noexcept { return reinterpret_cast<PyTypeObject*>(cls); }

// The error for an operator code that Python never passes.
PyObject* invalid_compare_op() noexcept;

// x compared with y by the rich-comparison operator `op`, exactly, as IEEE doubles: Python's
// True or False.
inline PyObject* compared(double x, double y, int op) noexcept {
    bool result;
    switch (op) {
        case Py_LT: result = x < y; break;
        case Py_LE: result = x <= y; break;
        case Py_EQ: result = x == y; break;
        case Py_NE: result = x != y; break;
        case Py_GT: result = x > y; break;
        case Py_GE: result = x >= y; break;
        default: return invalid_compare_op();
    }
    return Py_NewRef(result ? Py_True : Py_False);
}

// New Python objects of the given type (the type of an operand, or the class of a class method)
// holding the given values; nullptr with an exception set on failure.
PyObject* new_tolvat(PyTypeObject* type, Quantity&& quantity) noexcept;
PyObject* new_log_tolvat(PyTypeObject* type, const LogQuantity& quantity) noexcept;

}  // namespace tolvat::py
