#include "render.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "number_text.hpp"
#include "small_vector.hpp"

namespace tolvat {
namespace {

// The pieces that differ between the three forms.
struct Style {
    bool use_name;             // long names instead of symbols
    std::string_view marker;   // between unit text and power
    std::string_view separator;
    std::string_view open;     // no negative powers: open + N + close
    std::string_view close;
    std::string_view open_fraction;  // otherwise open_fraction + N + middle + D + close_fraction
    std::string_view middle;
    std::string_view close_fraction;
};

constexpr Style kPlain{false, "", ".", "[", "]", "[", "/", "]"};
constexpr Style kDescriptive{true, "", ".", "[", "]", "[", "/", "]"};
constexpr Style kLatex{false, "^", "~", "\\mathrm{", "}", "\\mathrm{\\frac{", "}{", "}}"};

// Factor texts are written one after another into a buffer that lives on the stack unless the
// collection is unusually long; each factor is then a slice of it.
using FactorBuffer = TextBuffer;

struct Slice {
    std::uint32_t begin;
    std::uint32_t size;
};

using SliceList = SmallVector<Slice, 8>;

// The text of one factor: unit text, then the marker and the power unless the power is one.
// Written into the factor buffer or straight into the output.
template <typename Out>
void append_factor(Out& out, const SingleUnit& unit, double magnitude, const Style& style) {
    const ComposedText text = style.use_name ? unit.name() : unit.symbol();
    out.append(text.head);
    out.append(text.tail);
    if (magnitude != 1.0) {
        out.append(style.marker);
        append_number_text(out, magnitude);
    }
}

void add_factor(FactorBuffer& buffer, SliceList& list, const SingleUnit& unit, double magnitude,
                const Style& style) {
    const std::size_t begin = buffer.size();
    append_factor(buffer, unit, magnitude, style);
    list.push_back(Slice{static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(buffer.size() - begin)});
}

// Stable insertion sort by byte-wise comparison of the factor texts.
void sort_factors(SliceList& list, const char* base) {
    auto view = [base](const Slice& s) { return std::string_view(base + s.begin, s.size); };
    for (std::size_t i = 1; i < list.size(); ++i) {
        const Slice current = list[i];
        const std::string_view key = view(current);
        std::size_t j = i;
        while (j > 0 && key < view(list[j - 1])) {
            list[j] = list[j - 1];
            --j;
        }
        list[j] = current;
    }
}

std::size_t joined_size(const SliceList& list, const Style& style) {
    std::size_t total = 0;
    for (const Slice& s : list) total += s.size;
    if (list.size() > 1) total += (list.size() - 1) * style.separator.size();
    return total;
}

void reserve_for(std::string& out, std::size_t more) { out.reserve(out.size() + more); }
void reserve_for(TextBuffer&, std::size_t) noexcept {}

template <typename Out>
void append_joined(Out& out, const SliceList& list, const char* base, const Style& style) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i != 0) out.append(style.separator);
        out.append(std::string_view(base + list[i].begin, list[i].size));
    }
}

template <typename Out>
void render_into(Out& out, const UnitCollection& collection, const Style& style) {
    const UnitEntries& units = collection.units();
    // A single unit, the commonest collection of all: nothing to sort, no factor buffer.
    if (units.size() == 1 && units[0].power > 0.0) {
        out.append(style.open);
        append_factor(out, units[0].unit, units[0].power, style);
        out.append(style.close);
        return;
    }
    FactorBuffer buffer;
    SliceList numerator;
    SliceList denominator;
    for (const UnitEntry& entry : units) {
        // Zero and NaN powers fall through both tests and are left out.
        if (entry.power > 0.0) {
            add_factor(buffer, numerator, entry.unit, entry.power, style);
        } else if (entry.power < 0.0) {
            add_factor(buffer, denominator, entry.unit, -entry.power, style);
        }
    }
    const char* base = buffer.data();
    sort_factors(numerator, base);
    sort_factors(denominator, base);

    if (denominator.empty()) {
        reserve_for(out, style.open.size() + joined_size(numerator, style) + style.close.size());
        out.append(style.open);
        append_joined(out, numerator, base, style);
        out.append(style.close);
        return;
    }
    const std::string_view one = "1";
    const std::size_t n_size = numerator.empty() ? one.size() : joined_size(numerator, style);
    reserve_for(out, style.open_fraction.size() + n_size + style.middle.size() + joined_size(denominator, style) +
                         style.close_fraction.size());
    out.append(style.open_fraction);
    if (numerator.empty()) {
        out.append(one);
    } else {
        append_joined(out, numerator, base, style);
    }
    out.append(style.middle);
    append_joined(out, denominator, base, style);
    out.append(style.close_fraction);
}

std::string render(const UnitCollection& collection, const Style& style) {
    std::string out;
    render_into(out, collection, style);
    return out;
}

const Style& style_of(UnitText form) noexcept {
    switch (form) {
        case UnitText::Latex: return kLatex;
        case UnitText::Descriptive: return kDescriptive;
        case UnitText::Plain: break;
    }
    return kPlain;
}

}  // namespace

std::string as_string(const UnitCollection& collection) { return render(collection, kPlain); }

std::string as_latex(const UnitCollection& collection) { return render(collection, kLatex); }

std::string as_descriptive_string(const UnitCollection& collection) { return render(collection, kDescriptive); }

void append_unit_text(std::string& out, const UnitCollection& collection, UnitText form) {
    render_into(out, collection, style_of(form));
}

void append_unit_text(TextBuffer& out, const UnitCollection& collection, UnitText form) {
    render_into(out, collection, style_of(form));
}

std::optional<LoneUnitText> lone_unit_text(const UnitCollection& collection, UnitText form) noexcept {
    const UnitEntries& units = collection.units();
    if (units.size() != 1 || !(units[0].power == 1.0)) return std::nullopt;
    const Style& style = style_of(form);
    const ComposedText text = style.use_name ? units[0].unit.name() : units[0].unit.symbol();
    return LoneUnitText{{style.open, text.head, text.tail, style.close}};
}

std::ostream& operator<<(std::ostream& out, const UnitCollection& collection) {
    return out << as_string(collection);
}

}  // namespace tolvat
