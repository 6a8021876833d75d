// The two Python types, their instance layouts and the helpers every binding file shares.
#pragma once

#include <new>
#include <utility>

#include "../core/log_quantity.hpp"
#include "../core/quantity.hpp"
#include "access.hpp"
#include "python_api.hpp"

namespace tolvat::py {

struct TolvatObject {
    PyObject_HEAD
    AccessCounter access;
    Quantity quantity;
};

struct LogTolvatObject {
    PyObject_HEAD
    AccessCounter access;
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

// New Python objects holding the given values; nullptr with an exception set on failure.
PyObject* new_tolvat(Quantity quantity) noexcept;
PyObject* new_log_tolvat(const LogQuantity& quantity) noexcept;

}  // namespace tolvat::py
