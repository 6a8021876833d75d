#include "display.hpp"

#include <utility>

#include "number_text.hpp"
#include "simplify.hpp"

namespace tolvat {

void join_quantity_text(TextBuffer& out, std::string_view number, UnitText form, const TextPieces& unit) {
    out.append(number);
    out.push_back(form == UnitText::Latex ? '~' : ' ');
    for (std::size_t i = 0; i < unit.count; ++i) out.append(unit.pieces[i]);
}

void join_quantity_text(TextBuffer& out, double value, UnitText form, const TextPieces& unit) {
    append_number_text(out, value);
    join_quantity_text(out, std::string_view(), form, unit);
}

Status display_quantity(Quantity& quantity, bool& units_simple, UnitText form, DisplayedQuantity& out) {
    Status simple = simple_simplify_in_place(quantity, units_simple);
    if (!simple) return simple;
    // A simply simplified collection of at most one unit is already fully simplified, and
    // converting into the very same units keeps the value: every form shows the quantity as it is.
    const UnitCollection* shown = &quantity.unit;
    out.value_ = quantity.value;
    if (form == UnitText::Plain && quantity.unit.size() > 1) {
        // Only the shown copy carries the full simplification.
        Expected<UnitCollection> simpler = simplify(quantity.unit);
        if (!simpler) return std::move(simpler).error();
        Expected<double> value = converted_value(quantity, *simpler);
        if (!value) return std::move(value).error();
        out.value_ = *value;
        out.full_ = std::move(simpler).value();
        shown = &*out.full_;
    }
    if (const std::optional<LoneUnitText> lone = lone_unit_text(*shown, form)) {
        // Pieces of the unit's own texts, which live as long as the quantity's units.
        for (std::string_view piece : lone->pieces) out.unit_text_.pieces[out.unit_text_.count++] = piece;
        return Done{};
    }
    out.rendered_.clear();
    append_unit_text(out.rendered_, *shown, form);
    out.unit_text_.pieces[0] = out.rendered_;
    out.unit_text_.count = 1;
    return Done{};
}

Status quantity_text(TextBuffer& out, Quantity& quantity, bool& units_simple, UnitText form) {
    DisplayedQuantity shown;
    Status made = display_quantity(quantity, units_simple, form, shown);
    if (!made) return made;
    join_quantity_text(out, shown.value(), form, shown.unit_text());
    return Done{};
}

}  // namespace tolvat
