// The one way a text made by the core becomes a Python str.
#pragma once

#include <cstddef>
#include <string_view>

#include "../core/text_buffer.hpp"
#include "python_api.hpp"

namespace tolvat::py {

// A new str holding the UTF-8 `text`. Nearly every text is ASCII, which is copied straight into
// a new one-byte string; anything else is decoded, with replacement characters for bad bytes.
inline PyObject* python_text(std::string_view text) noexcept {
    if (!is_ascii(text)) return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (result != nullptr) copy_text(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(result)), text.data(), text.size());
    return result;
}

}  // namespace tolvat::py
