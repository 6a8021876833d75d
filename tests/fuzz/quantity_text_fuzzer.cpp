// libFuzzer target over the strict reading of quantity texts (core/quantity_text.hpp).
//
// An input is one text. The last byte picks whether a few extra names are given, so that the
// caller's names take part too. Besides the sanitizers' own checks, the target aborts when a
// reading breaks a rule that holds for every text: a result has finite powers and renders; a
// failure points inside the text and its caret note frames it; the memo gives what a fresh read
// gives; and reading the printed form of a result gives the same dimension, unless a printed
// symbol is an earlier unit's own ("d" is the day's, never the darcy's). Timing and the replay
// driver: fuzz_support.hpp.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "core/number_text.hpp"
#include "core/quantity_text.hpp"
#include "core/render.hpp"
#include "core/unit_collection.hpp"

using namespace tolvat;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "fuzz invariant broken: %s (%zu bytes)\n", what, text.size());
    std::abort();
}

std::size_t code_points(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// Equal powers, up to the digits a printed power keeps: sums of long fractional powers, printed
// and read again, may differ in their last bits. A dimension is summed from the units' powers
// (times their own dimensions, a few at most), so it is known only to the digits of the largest
// of them: units with powers of 1e19 that nearly cancel (W^p / V^q) leave a dimension that
// printing cannot keep.
bool same_dimension(const BaseExponents& a, const BaseExponents& b, const UnitCollection& units) {
    double largest = 1.0;
    for (const UnitEntry& entry : units.units()) largest = std::max(largest, 8.0 * std::fabs(entry.power));
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        const double x = a[i], y = b[i];
        if (!(std::fabs(x - y) <= 1e-9 * std::max({largest, std::fabs(x), std::fabs(y)}))) return false;
    }
    return true;
}

// Every table unit's printed symbol reads as that unit unless an earlier row holds the same text.
bool prints_unambiguously(const UnitCollection& c) {
    for (const UnitEntry& entry : c.units()) {
        const std::string symbol = entry.unit.symbol().str();
        const std::optional<SingleUnit> read = search_for_unit_name(symbol);
        if (entry.unit.is_custom() || !read || !(*read == entry.unit)) return false;
    }
    return true;
}

void check(std::string_view text, bool with_names) {
    const Quantity metre{*UnitCollection::from_unit_name("m"), 1.7018};
    const TextName names[] = {{"smoot", metre}, {"per cent", Quantity{UnitCollection(), 0.01}}};
    const Expected<Quantity, QuantityTextError> q =
        with_names ? parse_quantity_text(text, names) : parse_quantity_text(text);
    if (!with_names) {
        const Expected<Quantity, QuantityTextError> memo = parse_quantity_text_memo(text);
        if (memo.has_value() != q.has_value()) fail("the memo disagrees", text);
        if (q && !(memo->unit.same_entries(q->unit) &&
                   (memo->value == q->value || (std::isnan(memo->value) && std::isnan(q->value))))) {
            fail("the memo gives another quantity", text);
        }
    }
    if (!q) {
        const QuantityTextError& e = q.error();
        if (e.kind != QuantityTextError::Kind::Arithmetic) {
            if (e.position > code_points(text)) fail("an error points past the text", text);
            const std::string note = caret_note(text, e);
            if (note.find('\n') == std::string::npos || note.back() != '^') fail("a caret note lost its caret", text);
        } else if (e.message.empty()) {
            fail("an arithmetic error without a message", text);
        }
        return;
    }
    if (!exponents_finite(q->unit.exponents())) fail("a result with powers out of range", text);
    for (const UnitEntry& entry : q->unit.units()) {
        if (!std::isfinite(entry.power)) fail("a unit with a power out of range", text);
    }
    // The printed form reads back with the same dimension.
    std::string printed;
    append_number_text(printed, q->value);
    printed += " " + as_string(q->unit);
    if (!with_names && prints_unambiguously(q->unit)) {
        const Expected<Quantity, QuantityTextError> back = parse_quantity_text(printed);
        if (!back) fail("the printed form does not read back", text);
        if (!same_dimension(back->unit.exponents(), q->unit.exponents(), q->unit)) fail("the printed form reads as another dimension", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool with_names = size > 0 && (data[size - 1] & 1) != 0 && (data[size - 1] & 0x80) != 0;
    fuzz_support::timed(text, [&] { check(text, with_names); });
    return 0;
}
