// The few entry points of NumPy's C interface that the fused loops use: the memory of a float64
// ndarray, and new arrays to write results into. Loaded with NumPy, when the first array is met
// (numpy_api in arrays.cpp), so that importing tolvat never imports NumPy. NumPy's own headers
// stay inside numpy_c.cpp.
#pragma once

#include <cstddef>

#include "python_api.hpp"

namespace tolvat::py {

// Loads NumPy's C interface, once per process; NumPy itself must be imported already. False with
// the exception set when the installed NumPy cannot be used.
bool load_numpy_c_api() noexcept;

// The memory of a contiguous float64 ndarray: its values in C order and its shape, valid as long
// as a reference to the array is held.
struct Float64Memory {
    double* data = nullptr;
    std::size_t size = 0;
    int ndim = 0;
    const Py_ssize_t* shape = nullptr;
};

// Fills `out` when `array`, an exact ndarray (the caller checks its type), holds native float64
// values, aligned and in C order, and, with `writable`, may be written. False otherwise, with no
// exception set. Needs load_numpy_c_api first.
bool float64_memory(PyObject* array, Float64Memory& out, bool writable = false) noexcept;

// Whether `array`, an exact ndarray, holds native float64 values (in any order).
bool holds_float64(PyObject* array) noexcept;

// A new, uninitialised C-ordered ndarray of this shape: float64, or numpy.bool_ with `booleans`.
// `data` receives its memory. nullptr with an exception set.
PyObject* new_array(int ndim, const Py_ssize_t* shape, bool booleans, void** data) noexcept;

}  // namespace tolvat::py
