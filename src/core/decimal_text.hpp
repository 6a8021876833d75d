// Reading a double from decimal text, exactly rounded, independent of the C locale.
#pragma once

#include <charconv>
#include <system_error>

#if defined(_LIBCPP_VERSION)
#include <clocale>
#include <cstdlib>
#include <string>
#if defined(__APPLE__)
#include <xlocale.h>
#endif
#endif

namespace tolvat {

// std::from_chars for a double where the C++ library has it. LLVM's libc++ (macOS) lacks the
// floating-point overload; there strtod_l reads a copy in the "C" locale, which rounds exactly
// too. A value out of range then comes back as strtod gives it (±infinity, or a subnormal or
// zero) with no error, which is what Python's float() gives for the same text.
inline std::from_chars_result read_double(const char* first, const char* last, double& value) {
#if defined(_LIBCPP_VERSION)
    // Made once, never freed, never changed: a read-only handle that any thread may use.
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const std::string copy(first, last);
    char* end = nullptr;
    const double parsed = strtod_l(copy.c_str(), &end, c_locale);
    if (end == copy.c_str()) return {first, std::errc::invalid_argument};
    value = parsed;
    return {first + (end - copy.c_str()), std::errc{}};
#else
    return std::from_chars(first, last, value);
#endif
}

}  // namespace tolvat
