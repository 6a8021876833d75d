// Text forms (str/repr, latex, descriptive) and rounding (__round__, round_sfig) of Tolvat.
//
// All six take exclusive access and first bring the object into its simple simplification in
// place, so a printed or rounded quantity keeps the simplified units afterwards.
#include <cstdint>
#include <new>
#include <optional>

#include "../core/display.hpp"
#include "../core/rounding.hpp"
#include "arguments.hpp"
#include "arrays.hpp"
#include "errors.hpp"
#include "float_round.hpp"
#include "objects.hpp"
#include "python_text.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

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

// The text form of the object in `form`, under exclusive access: the core makes the whole text
// (and simplifies the object in place on the way); only the Python string is made here.
PyObject* text_form(PyObject* self, UnitText form) noexcept {
    TolvatObject* object = as_tolvat(self);
    if (object->has_array) [[unlikely]] return array_text(self, form);
    ExclusiveAccess access(object->access);
    if (!access.ok()) return raise_already_borrowed();
    try {
        TextBuffer text;
        Status made = quantity_text(text, object->quantity, object->units_simple, form);
        if (!made) return raise_error(made.error());
        return python_text(text.view());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
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
        return new_tolvat(Py_TYPE(self), Quantity{quantity.unit, value});
    });
}

}  // namespace

PyObject* tolvat_str(PyObject* self) noexcept { return text_form(self, UnitText::Plain); }

PyObject* tolvat_latex(PyObject* self, PyObject*) noexcept { return text_form(self, UnitText::Latex); }

PyObject* tolvat_descriptive(PyObject* self, PyObject*) noexcept { return text_form(self, UnitText::Descriptive); }

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
        if (as_tolvat(self)->has_array) [[unlikely]] return array_round(self, digits, false);
        return rounded_copy(self, [digits](double v) { return round_to_decimals(v, digits); });
    }
    if (as_tolvat(self)->has_array) [[unlikely]] return array_round(self, std::nullopt, false);
    return rounded_copy(self, [](double v) { return DecimalRounding{round_half_away_from_zero(v), false, 0}; });
}

PyObject* tolvat_round_sfig(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"n_sig_figs"};
    PyObject* arg;
    if (!bind_arguments("round_sfig", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::int32_t> figures = int32_argument(arg, "n_sig_figs");
    if (!figures) return nullptr;
    const std::int32_t n = *figures;
    if (as_tolvat(self)->has_array) [[unlikely]] return array_round(self, n, true);
    return rounded_copy(self, [n](double v) { return round_to_significant_figures(v, n); });
}

}  // namespace tolvat::py
