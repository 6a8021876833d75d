// Text forms (str/repr, latex, descriptive) and rounding (__round__, round_sfig) of Tolvat.
//
// All six take exclusive access and first bring the object into its simple simplification in
// place, so a printed or rounded quantity keeps the simplified units afterwards.
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "../core/number_text.hpp"
#include "../core/render.hpp"
#include "../core/rounding.hpp"
#include "../core/simplify.hpp"
#include "arguments.hpp"
#include "errors.hpp"
#include "float_round.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

PyObject* to_python_text(const std::string& text) noexcept {
    // Nearly every text is ASCII, which is copied straight into a new one-byte string.
    bool ascii = true;
    for (unsigned char c : text) ascii &= c < 0x80;
    if (!ascii) return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (result != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(result), text.data(), text.size());
    return result;
}

// Runs `body` on the object's quantity under exclusive access, once the quantity has been brought
// into its simply simplified form in place: the common start of every text and rounding method.
template <typename Body>
PyObject* with_simplified(PyObject* self, Body body) noexcept {
    TolvatObject* object = as_tolvat(self);
    ExclusiveAccess access(object->access);
    if (!access.ok()) return raise_already_borrowed();
    try {
        Status simplified = simple_simplify_in_place(object);
        if (!simplified) return raise_error(simplified.error());
        return body(object->quantity);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// One unit at power one and a short number, the commonest text of all: the pieces are measured
// and copied straight into the new string. Nothing when the text takes the general way.
std::optional<PyObject*> lone_unit_joined_text(const Quantity& quantity, char separator, UnitText form) noexcept {
    const std::optional<LoneUnitText> unit = lone_unit_text(quantity.unit, form);
    if (!unit) return std::nullopt;
    char number[32];
    const std::size_t number_size = number_text_into(number, sizeof number, quantity.value);
    if (number_size == 0) return std::nullopt;
    std::size_t size = number_size + 1;
    for (std::string_view piece : unit->pieces) {
        for (unsigned char c : piece) {
            if (c >= 0x80) return std::nullopt;
        }
        size += piece.size();
    }
    PyObject* result = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
    if (result == nullptr) return nullptr;
    // A few characters a piece: copied in place rather than through a library call each.
    char* out = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(result));
    for (std::size_t i = 0; i < number_size; ++i) *out++ = number[i];
    *out++ = separator;
    for (std::string_view piece : unit->pieces) {
        for (char c : piece) *out++ = c;
    }
    return result;
}

// The value as number text, the separator, and the units in the given form.
PyObject* joined_text(const Quantity& quantity, char separator, UnitText form) {
    if (const std::optional<PyObject*> quick = lone_unit_joined_text(quantity, separator, form)) return *quick;
    std::string text;
    append_number_text(text, quantity.value);
    text.push_back(separator);
    append_unit_text(text, quantity.unit, form);
    return to_python_text(text);
}

// The value followed by the separator and the object's simply simplified units.
PyObject* simple_text(PyObject* self, char separator, UnitText form) noexcept {
    return with_simplified(self, [&](Quantity& quantity) { return joined_text(quantity, separator, form); });
}

// Simplifies the object in place, rounds its value with `round`, and returns a new quantity in
// the simplified units.
template <typename Round>
PyObject* rounded_copy(PyObject* self, Round round) noexcept {
    return with_simplified(self, [&](Quantity& quantity) -> PyObject* {
        const DecimalRounding outcome = round(quantity.value);
        double value = outcome.value;
        if (outcome.needs_exact) {
            const std::optional<double> exact = python_float_round(quantity.value, outcome.digits);
            if (!exact) return nullptr;
            value = *exact;
        }
        return new_tolvat(Quantity{quantity.unit, value});
    });
}

}  // namespace

PyObject* tolvat_str(PyObject* self) noexcept {
    return with_simplified(self, [&](Quantity& quantity) -> PyObject* {
        // A simply simplified collection of at most one unit is already fully simplified, and
        // converting into the very same units keeps the value.
        if (quantity.unit.size() <= 1) return joined_text(quantity, ' ', UnitText::Plain);
        // Only the printed copy carries the full simplification.
        Expected<UnitCollection> full = simplify(quantity.unit);
        if (!full) return raise_error(full.error());
        Expected<Quantity> shown = as_unit_internal(quantity, std::move(full).value());
        if (!shown) return raise_error(shown.error());
        return joined_text(*shown, ' ', UnitText::Plain);
    });
}

PyObject* tolvat_latex(PyObject* self, PyObject*) noexcept {
    return simple_text(self, '~', UnitText::Latex);
}

PyObject* tolvat_descriptive(PyObject* self, PyObject*) noexcept {
    return simple_text(self, ' ', UnitText::Descriptive);
}

PyObject* tolvat_round(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"ndigits"};
    PyObject* arg;
    if (!bind_arguments("__round__", args, nargs, kwnames, names, 1, 0, &arg)) return nullptr;
    // The argument is converted before the object is touched.
    std::optional<std::int32_t> ndigits;
    if (arg != nullptr && arg != Py_None) {
        ndigits = int32_argument(arg, "ndigits");
        if (!ndigits) return nullptr;
        const std::int32_t digits = *ndigits;
        return rounded_copy(self, [digits](double v) { return round_to_decimals(v, digits); });
    }
    return rounded_copy(self, [](double v) { return DecimalRounding{round_half_away_from_zero(v), false, 0}; });
}

PyObject* tolvat_round_sfig(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"n_sig_figs"};
    PyObject* arg;
    if (!bind_arguments("round_sfig", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::int32_t> figures = int32_argument(arg, "n_sig_figs");
    if (!figures) return nullptr;
    const std::int32_t n = *figures;
    return rounded_copy(self, [n](double v) { return round_to_significant_figures(v, n); });
}

}  // namespace tolvat::py
