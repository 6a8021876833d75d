// libFuzzer target over the core: name searches, the unit-expression parser, the collection
// algebra, both simplifications, the three renderers and the number text.
//
// An input is one or two unit expressions separated by the first newline. The last byte also
// picks a power from a fixed table, so powers such as NaN, infinities, halves and large whole
// numbers reach the algebra and the search.
//
// Besides the sanitizers' own checks, the target aborts when an operation breaks a rule that holds
// for every input: simplification keeps the dimension and never invents units, renderers frame
// their output, a conversion into the simplified units of the same dimension succeeds. Timing and
// the replay driver: fuzz_support.hpp.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz_support.hpp"
#include "core/catalogue.hpp"
#include "core/constants.hpp"
#include "core/log_catalogue.hpp"
#include "core/number_text.hpp"
#include "core/quantity.hpp"
#include "core/render.hpp"
#include "core/simple_simplify.hpp"
#include "core/simplify.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

using namespace tolvat;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

bool same_dimension(const BaseExponents& a, const BaseExponents& b) {
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(a[i] == b[i]) && !(std::isnan(a[i]) && std::isnan(b[i]))) return false;
    }
    return true;
}

bool has_nan(const BaseExponents& e) {
    for (double x : e) {
        if (std::isnan(x)) return true;
    }
    return false;
}

// Every unit of `out` occurs in `in`.
void check_no_new_units(const UnitCollection& in, const UnitCollection& out) {
    for (const UnitEntry& entry : out.units()) {
        if (in.find(entry.unit) == nullptr) fail("simplification invented a unit");
    }
}

void check_framed(const std::string& text, const char* open, const char* close) {
    const std::string_view t(text);
    if (t.substr(0, std::string_view(open).size()) != open) fail("rendering lost its opening");
    const std::string_view c(close);
    if (t.size() < c.size() || t.substr(t.size() - c.size()) != c) fail("rendering lost its closing");
}

void render_all(const UnitCollection& c) {
    check_framed(as_string(c), "[", "]");
    check_framed(as_descriptive_string(c), "[", "]");
    check_framed(as_latex(c), "\\mathrm{", "}");
}

// The full simplification walks up to a fixed budget of steps (milliseconds in an optimised build)
// when the powers are large whole numbers. Under the sanitizers and coverage that is a hundred times
// slower and would starve the fuzzer of executions, so the instrumented build leaves collections
// whose powers add up to more than 64 to the replay of the corpus in the plain build
// (TOLVAT_FUZZ_EVERYTHING), which times every input with nothing skipped.
bool search_affordable(const UnitCollection& c) {
#ifdef TOLVAT_FUZZ_EVERYTHING
    (void)c;
    return true;
#else
    double depth = 0.0;
    for (const UnitEntry& entry : c.units()) depth += std::fabs(entry.power);
    return depth <= 64.0;  // NaN and infinite sums are left to the replay as well
#endif
}

// One input makes up to five collections; only one of them, picked by the input, goes through
// the full simplification, so that the time of one input is the time of at most one search.
int g_full_pick = 0;

void exercise(const UnitCollection& c, double value) {
    const bool full_here = g_full_pick-- == 0;
    render_all(c);
    std::string number;
    append_number_text(number, value);
    append_number_text(number, c.multiplier());
    (void)exponents_list_text(c.exponents());

    const UnitCollection base = UnitCollection::get_base_units(c);
    render_all(base);

    Expected<UnitCollection> simple = simple_simplify(c);
    if (simple) {
        if (!same_dimension(simple->exponents(), c.exponents())) fail("simple_simplify changed the dimension");
        check_no_new_units(c, *simple);
        render_all(*simple);
    }
    Expected<UnitCollection> full = full_here && search_affordable(c) ? simplify(c) : simple;
    if (full) {
        check_no_new_units(c, *full);
        render_all(*full);
        if (!has_nan(c.exponents())) {
            // What str() of a quantity does: convert into the fully simplified units.
            if (!same_dimension(full->exponents(), c.exponents())) fail("simplify changed the dimension");
            if (!as_unit_internal(Quantity{c, value}, *full)) fail("conversion into simplified units failed");
        }
    }
    Quantity inplace{c, value};
    (void)simple_simplify_in_place(inplace);
    (void)as_unit_internal(Quantity{c, value}, base);
}

constexpr double kPowers[] = {
    0.0, -0.0, 1.0, -1.0, 2.0, -2.0, 3.0, 0.5, -0.5, 1.5, 5.0, -5.0, 10.0, 0.1, 1.0 / 3.0, 16.0,
    40.0, 255.0, 1e6, -1e6, 2147483648.0, -2147483649.0, 1e300, -1e300,
    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::denorm_min(), 4.9e-324, 1e-7,
    std::numeric_limits<double>::max(), 7.0,
};

void run(std::string_view text, double power) {
    (void)search_for_unit_name(text);
    (void)query_unit_names_internal(text, true);
    (void)query_unit_names_internal(text, false);
    (void)query_unit_symbols_internal(text);
    (void)search_for_log_unit_name(text);
    (void)search_for_constant_name(text);

    std::string_view first = text;
    std::string_view second;
    const std::size_t cut = text.find('\n');
    if (cut != std::string_view::npos) {
        first = text.substr(0, cut);
        second = text.substr(cut + 1);
    }
    std::optional<UnitCollection> a = UnitCollection::from_unit_name(first);
    if (!a) return;
    exercise(*a, power);
    exercise(UnitCollection::pow(*a, power), 1.0);
    if (cut == std::string_view::npos) return;
    std::optional<UnitCollection> b = UnitCollection::from_unit_name(second);
    if (!b) return;
    exercise(*a * *b, power);
    exercise(*a / *b, -power);
    exercise(UnitCollection::pow(*a, power) / *b, 2.5);
    // Conversions between the two; offsets apply between single entries.
    (void)as_unit_internal(Quantity{*a, power}, *b);
    (void)as_unit_internal(Quantity{*b, power}, *a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double power = size == 0 ? 1.0 : kPowers[data[size - 1] % (sizeof kPowers / sizeof kPowers[0])];
    g_full_pick = size < 2 ? 0 : data[size - 2] % 5;
    fuzz_support::timed(text, [&] { run(text, power); });
    return 0;
}
