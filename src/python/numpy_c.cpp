// NumPy's C interface, seen only from here. The table of entry points is NumPy's own
// (PyArray_API, static in this file); it is filled once per process by load_numpy_c_api.
#include "numpy_c.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

namespace tolvat::py {

namespace {

#ifdef Py_GIL_DISABLED
// Guards the one filling of PyArray_API: the first caller fills it under the lock; every later
// caller, and every reader, comes after the release that published NumPy (numpy_api in
// arrays.cpp), so the table pointer is never written while it is read.
PyMutex g_load_lock = {};
#endif

}  // namespace

bool load_numpy_c_api() noexcept {
#ifdef Py_GIL_DISABLED
    PyMutex_Lock(&g_load_lock);
#endif
    // With the interpreter lock two threads may take turns in here and both fill the table, with
    // the same pointer.
    const bool ok = PyArray_API != nullptr || _import_array() >= 0;
#ifdef Py_GIL_DISABLED
    PyMutex_Unlock(&g_load_lock);
#endif
    return ok;
}

bool float64_memory(PyObject* array, Float64Memory& out, bool writable) noexcept {
    auto* a = reinterpret_cast<PyArrayObject*>(array);
    constexpr int needed = NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED;
    if (PyArray_TYPE(a) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(a) || !PyArray_CHKFLAGS(a, needed)) return false;
    if (writable && !PyArray_ISWRITEABLE(a)) return false;
    out.data = static_cast<double*>(PyArray_DATA(a));
    out.size = static_cast<std::size_t>(PyArray_SIZE(a));
    out.ndim = PyArray_NDIM(a);
    static_assert(sizeof(npy_intp) == sizeof(Py_ssize_t));
    out.shape = reinterpret_cast<const Py_ssize_t*>(PyArray_DIMS(a));
    return true;
}

bool holds_float64(PyObject* array) noexcept {
    auto* a = reinterpret_cast<PyArrayObject*>(array);
    return PyArray_TYPE(a) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(a);
}

PyObject* new_array(int ndim, const Py_ssize_t* shape, bool booleans, void** data) noexcept {
    PyObject* array = PyArray_SimpleNew(ndim, const_cast<npy_intp*>(reinterpret_cast<const npy_intp*>(shape)),
                                        booleans ? NPY_BOOL : NPY_DOUBLE);
    if (array != nullptr) *data = PyArray_DATA(reinterpret_cast<PyArrayObject*>(array));
    return array;
}

}  // namespace tolvat::py
