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
    // Read under shared access (or exclusive); replaced only under exclusive access, by
    // simplify_inplace and by the in-place simple simplification of text and rounding. Written
    // without access only while the object is being made, before any other thread can see it.
    Quantity quantity;
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

// Type objects, created once per process by the module's execution step.
extern PyTypeObject* g_tolvat_type;
extern PyTypeObject* g_log_tolvat_type;

// Create the type objects (if not yet created). Return 0, or -1 with an exception set.
int ensure_tolvat_type();
int ensure_log_tolvat_type();

inline bool is_tolvat(PyObject* obj) noexcept { return Py_IS_TYPE(obj, g_tolvat_type); }
inline bool is_log_tolvat(PyObject* obj) noexcept {
    return g_log_tolvat_type != nullptr && Py_IS_TYPE(obj, g_log_tolvat_type);
}
inline TolvatObject* as_tolvat(PyObject* obj) noexcept { return reinterpret_cast<TolvatObject*>(obj); }
inline LogTolvatObject* as_log_tolvat(PyObject* obj) noexcept {
    return reinterpret_cast<LogTolvatObject*>(obj);
}

// Instances and their type. On the free-threaded build an instance does not count a reference
// to its type: the type lives for the whole process (the module keeps it), and a counted
// reference would make every thread that frees a quantity write to the type object's shared
// count, one cache line fought over by all threads. The default build counts as usual.
inline void init_instance(PyObject* obj, PyTypeObject* type) noexcept {
#ifdef Py_GIL_DISABLED
    Py_SET_TYPE(obj, type);
    _Py_NewReference(obj);
#else
    PyObject_Init(obj, type);
#endif
}
inline void release_instance_type(PyTypeObject* type) noexcept {
#ifdef Py_GIL_DISABLED
    (void)type;
#else
    Py_DECREF(type);
#endif
}

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

// New Python objects holding the given values; nullptr with an exception set on failure.
PyObject* new_tolvat(Quantity&& quantity) noexcept;
PyObject* new_log_tolvat(const LogQuantity& quantity) noexcept;

}  // namespace tolvat::py
