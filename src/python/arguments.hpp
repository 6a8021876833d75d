// Argument handling for fast-call methods: positional-or-keyword binding and the conversions
// every method shares (text, 32-bit count), each adding the argument note on failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "python_api.hpp"

namespace tolvat::py {

// Binds `nargs` positional arguments and the keywords in `kwnames` to the parameters `names`
// (all positional-or-keyword). The first `required` parameters must be given; the others are
// left as nullptr when absent. Returns false with Python's usual TypeError on a bad call.
bool bind_arguments(const char* function_name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    const char* const* names, Py_ssize_t count, Py_ssize_t required, PyObject** out) noexcept;

// The UTF-8 text of a str argument; on failure raises (TypeError or the encoding error) with
// the argument note and returns nothing. The view lives as long as the object.
std::optional<std::string_view> text_argument(PyObject* obj, const char* argument_name) noexcept;

// A Python int that fits a signed 32-bit integer; TypeError for non-integers, OverflowError
// ("out of range integral type conversion attempted") outside the range, with the note.
std::optional<std::int32_t> int32_argument(PyObject* obj, const char* argument_name) noexcept;

}  // namespace tolvat::py
