// The class methods constant() (a physical constant from the catalogue) and custom() (a one-off
// unit defined by a quantity).
#include <array>
#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "../core/constants.hpp"
#include "../core/single_unit.hpp"
#include "../core/unit_collection.hpp"
#include "arguments.hpp"
#include "coerce.hpp"
#include "errors.hpp"
#include "objects.hpp"
#include "tolvat_methods.hpp"

namespace tolvat::py {
namespace {

// The parser's collection for a row's unit text. The texts are fixed, so each is parsed once (on
// first use, thread-safely) and copied from then on; the copy is what a fresh parse would give.
const std::optional<UnitCollection>& constant_unit(const ConstantDef& row) {
    static const auto parsed = [] {
        std::array<std::optional<UnitCollection>, kConstantCount> units;
        for (std::size_t i = 0; i < kConstantCount; ++i) {
            units[i] = UnitCollection::from_unit_name(constant_table()[i].unit_text);
        }
        return units;
    }();
    return parsed[static_cast<std::size_t>(&row - constant_table().data())];
}

}  // namespace

PyObject* tolvat_constant(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"constant_name"};
    PyObject* arg;
    if (!bind_arguments("constant", args, nargs, kwnames, names, 1, 1, &arg)) return nullptr;
    const std::optional<std::string_view> name = text_argument(arg, "constant_name");
    if (!name) return nullptr;
    try {
        const ConstantDef* row = search_for_constant_name(*name);
        if (row == nullptr) return raise_constant_not_found(*name);
        const std::optional<UnitCollection>& unit = constant_unit(*row);
        if (!unit) return raise_error(Error::unit_not_found(std::string(row->unit_text)));
        return new_tolvat(as_type(cls), Quantity{*unit, row->value});
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* tolvat_custom(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* const names[] = {"name", "abbr", "definition"};
    PyObject* arg[3];
    if (!bind_arguments("custom", args, nargs, kwnames, names, 3, 3, arg)) return nullptr;
    const std::optional<std::string_view> name = text_argument(arg[0], "name");
    if (!name) return nullptr;
    const std::optional<std::string_view> abbr = text_argument(arg[1], "abbr");
    if (!abbr) return nullptr;
    const std::optional<Quantity> definition = coerce_argument(arg[2], "definition");
    if (!definition) return nullptr;
    try {
        // Only the definition's dimension and overall size survive; its offset does not.
        const double multiplier = definition->unit.multiplier() * definition->value;
        SingleUnit unit = SingleUnit::custom(std::string(*name), std::string(*abbr), multiplier,
                                             definition->unit.exponents());
        return new_tolvat(as_type(cls), Quantity{UnitCollection::coerce_unit_to_collection(std::move(unit)), 1.0});
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace tolvat::py
