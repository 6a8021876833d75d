#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/catalogue.hpp"
#include "core/quantity_arithmetic.hpp"
#include "core/quantity_text.hpp"
#include "core/render.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

using namespace tolvat;

namespace {

// The text means `value` of the unit expression `unit_text` (Tolvat.unit's syntax): the same
// dimension, and the same size in base units.
void expect_means(std::string_view text, std::string_view unit_text, double value) {
    const Expected<Quantity, QuantityTextError> q = parse_quantity_text(text);
    ASSERT_TRUE(q.has_value()) << text << ": " << q.error().message;
    const UnitCollection oracle = unit_text.empty() ? UnitCollection() : *UnitCollection::from_unit_name(unit_text);
    EXPECT_TRUE(exponents_equal(q->unit.exponents(), oracle.exponents())) << text << " is " << as_string(q->unit);
    const double got = q->value * q->unit.multiplier();
    const double want = value * oracle.multiplier();
    if (std::isinf(want)) {
        EXPECT_EQ(got, want) << text;
    } else {
        EXPECT_NEAR(got, want, std::fabs(want) * 1e-14) << text;
    }
}

}  // namespace

TEST(QuantityText, TheGrammarReadsWhatPeopleWrite) {
    struct Case {
        const char* text;
        const char* unit_text;
        double value;
    };
    const Case cases[] = {
        // numbers
        {"9.81 m/s^2", "m/s2", 9.81}, {"1e3", "", 1000.0}, {"1E-3 m", "m", 0.001}, {"-2.5 m", "m", -2.5},
        {"\u22125 m", "m", -5.0}, {"+3 s", "s", 3.0}, {".5 kg", "kg", 0.5}, {"5. kg", "kg", 5.0},
        {"1_000_000 m", "m", 1e6}, {"6.02\u00D710^23", "", 6.02e23}, {"6.02\u00B710\u00B2\u00B3", "", 6.02e23},
        {"2 \u00D7 10^-3 m", "m", 2e-3}, {"1.5*10**3 g", "g", 1500.0}, {"5ft", "ft", 5.0},
        {"1e400 m", "m", INFINITY}, {"1e-400 m", "m", 0.0}, {"1_0e1_0", "", 1e11},
        // products and their precedence
        {"kg m", "kg.m", 1.0}, {"N m", "N.m", 1.0}, {"N\u00B7m", "N.m", 1.0}, {"N-m", "N.m", 1.0},
        {"W/m2.K", "W/m2.K", 1.0}, {"W/m^2 K", "W/m2.K", 1.0}, {"W/(m2\u00B7K)", "W/m2.K", 1.0},
        {"J/kg*K", "J.K/kg", 1.0}, {"J/kg\u00D7K", "J.K/kg", 1.0}, {"m/s/s", "m/s2", 1.0},
        {"meters per second", "m/s", 1.0}, {"m per s per s", "m/s2", 1.0}, {"per second", "1/s", 1.0}, {"/min", "1/min", 1.0}, {"mL/(/s)", "mL.s", 1.0},
        {"J per kg K", "J/kg.K", 1.0}, {"m / s", "m/s", 1.0}, {"mg/100 g", "", 1e-5},
        // powers
        {"m2", "m2", 1.0}, {"m^2", "m2", 1.0}, {"m**2", "m2", 1.0}, {"m\u00B2", "m2", 1.0}, {"m\u00B3", "m3", 1.0},
        {"s\u207B\u00B9", "1/s", 1.0}, {"s^-1", "1/s", 1.0}, {"s^\u22121", "1/s", 1.0}, {"s-1", "1/s", 1.0},
        {"kg m-2 s-1", "kg/m2.s", 1.0}, {"m^0.5 m^0.5", "m", 1.0}, {"m^(1/2).m^(1/2)", "m", 1.0},
        {"Hz^(-1/2) Hz^(-1/2)", "s", 1.0}, {"square meters", "m2", 1.0}, {"cubic feet", "ft3", 1.0},
        {"sq ft", "ft2", 1.0}, {"meters squared", "m2", 1.0}, {"seconds cubed", "s3", 1.0},
        {"meters per second squared", "m/s2", 1.0}, {"(m/s)^2", "m2/s2", 1.0}, {"(m/s)2", "m2/s2", 1.0},
        {"10^3 m", "m", 1000.0}, {"m ^ 2", "m2", 1.0}, {"m0", "", 1.0},
        // parentheses and brackets
        {"((((m))))", "m", 1.0}, {"kg/(m.(s.s))", "kg/m.s2", 1.0}, {"9.81 [m/s2]", "m/s2", 9.81}, {"5 []", "", 5.0},
        {"1 [1/s]", "1/s", 1.0}, {"3 [J/K.mol]", "J/K.mol", 3.0},
        // sums
        {"5 ft 2 in", "in", 62.0}, {"5 ft + 2 in", "in", 62.0}, {"1 h 30 min", "min", 90.0},
        {"5 ft - 2 in", "in", 58.0}, {"2 m 50 cm", "cm", 250.0}, {"1 m + 1 km", "m", 1001.0},
        // names
        {"20 degC", "degree Celsius", 20.0}, {"20 \u00B0C", "degree Celsius", 20.0}, {"degree Celsius", "degree Celsius", 1.0},
        {"20 degrees Celsius", "degree Celsius", 20.0}, {"2 fl oz", "fl oz", 2.0}, {"light speed", "c", 1.0},
        {"metric ton", "t", 1.0}, {"3 fl oz (imp)", "fl oz (imp)", 3.0}, {"1 pounds per square inch", "psi", 1.0},
        {"unified atomic mass unit", "amu", 1.0}, {"pound-force", "lbf", 1.0}, {"5 kilometres", "km", 5.0},
        {"meters", "m", 1.0}, {"feet", "ft", 1.0}, {"inches", "in", 1.0}, {"hours", "hr", 1.0}, {"miles", "mi", 1.0},
        {"pounds", "lb", 1.0}, {"degrees", "deg", 1.0}, {"centuries", "century", 1.0}, {"inches of mercury", "inHg", 1.0},
        {"\u00B5m", "um", 1.0}, {"\u03BCs", "us", 1.0}, {"h", "hr", 1.0}, {"sec", "s", 1.0}, {"hrs", "hr", 1.0},
        {"mins", "min", 1.0}, {"l", "L", 1.0}, {"ml", "mL", 1.0}, {"lbs", "lb", 1.0}, {"degF", "degree Fahrenheit", 1.0},
        {"deg_C", "degree Celsius", 1.0}, {"degree_Celsius", "degree Celsius", 1.0}, {"mph", "mi/hr", 1.0},
        {"kph", "km/hr", 1.0}, {"kmh", "km/hr", 1.0}, {"rpm", "1/min", 1.0}, {"gpm", "gal/min", 1.0},
        {"cfm", "ft3/min", 1.0}, {"5 %", "", 0.05}, {"50 percent", "", 0.5}, {"100 km/h", "km/hr", 100.0},
    };
    for (const Case& c : cases) expect_means(c.text, c.unit_text, c.value);
    // The square root of a meter: no unit text of the lenient syntax writes it.
    const Expected<Quantity, QuantityTextError> root = parse_quantity_text("2 [m0.5]");
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->unit.exponents()[kMeter], 0.5);
    EXPECT_EQ(root->value, 2.0);
}

TEST(QuantityText, FailuresNameThePieceAndItsPlace) {
    using Kind = QuantityTextError::Kind;
    struct Case {
        const char* text;
        Kind kind;
        std::size_t position;  // in code points
        const char* message;
    };
    const Case cases[] = {
        {"9.81 m/s^x", Kind::UnknownPiece, 9, "'x' is not a number or unit at position 9"},
        {"5 foo", Kind::UnknownPiece, 2, "'foo' is not a number or unit at position 2"},
        {"\u00B0C/fortnights/\u00B5x", Kind::UnknownPiece, 14, nullptr},
        {"", Kind::Malformed, 0, "empty quantity text at position 0"},
        {"   ", Kind::Malformed, 0, nullptr},
        {"(m", Kind::Malformed, 0, "unbalanced '(' at position 0"},
        {"m)", Kind::Malformed, 1, "unbalanced ')' at position 1"},
        {"[m)", Kind::Malformed, 2, nullptr},
        {"()", Kind::Malformed, 0, nullptr},
        {"m/", Kind::Malformed, 1, "'/' has nothing after it at position 1"},
        {"m/(/s", Kind::Malformed, 2, nullptr},
        {"*s", Kind::Malformed, 0, nullptr},
        {"m..s", Kind::Malformed, 2, nullptr},
        {"N.m2/s.2", Kind::Malformed, 7, nullptr},
        {"m^", Kind::Malformed, 1, "'^' needs a power at position 1"},
        {"m^(1/2", Kind::Malformed, 2, nullptr},
        {"5 m +", Kind::Malformed, 4, nullptr},
        {"meters per", Kind::Malformed, 7, nullptr},
        {"squared", Kind::Malformed, 0, nullptr},
        {"m\u207B", Kind::Malformed, 1, nullptr},
        {"1,5 m", Kind::UnknownPiece, 1, nullptr},
        {"6.02e23 1/mol", Kind::Malformed, 8, "a number cannot follow a number at position 8"},
        {"12 5 m", Kind::Malformed, 3, nullptr},
        {"5 m 2 s", Kind::Arithmetic, 0, "[m] and [s] are not compatible"},
        {"m^1e999", Kind::UnknownPiece, 3, nullptr},
        {"m^99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
         "99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
         "99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
         "999999999999999999",
         Kind::Malformed, 1, nullptr},
        {"(m^1e300)^1e300", Kind::UnknownPiece, 4, nullptr},
    };
    for (const Case& c : cases) {
        const Expected<Quantity, QuantityTextError> q = parse_quantity_text(c.text);
        ASSERT_FALSE(q.has_value()) << c.text;
        EXPECT_EQ(q.error().kind, c.kind) << c.text << ": " << q.error().message;
        if (c.kind != Kind::Arithmetic) EXPECT_EQ(q.error().position, c.position) << c.text;
        if (c.message) EXPECT_EQ(q.error().message, c.message) << c.text;
    }
    // Powers each finite, whose product is not.
    const std::string huge = "(m^" + std::string(300, '9') + ")^" + std::string(300, '9');
    const Expected<Quantity, QuantityTextError> overflow = parse_quantity_text(huge);
    ASSERT_FALSE(overflow.has_value());
    EXPECT_EQ(overflow.error().kind, Kind::Arithmetic);
    EXPECT_EQ(overflow.error().error.kind, ErrorKind::PowerOverflow);
    const Expected<Quantity, QuantityTextError> q = parse_quantity_text("9.81 m/s^x");
    EXPECT_EQ(caret_note("9.81 m/s^x", q.error()), "9.81 m/s^x\n         ^");
}

TEST(QuantityText, PrintedFormsReadBackForEveryTableUnitAndPrefix) {
    // Every unit (bare and with every prefix it takes), and the same over seconds squared, in the
    // plain and the descriptive form, reads back as the operators build it: the same units where
    // nothing cancels ("ks/s2" is 1000/s, as ks / s2 gives).
    for (const UnitDef& row : unit_table()) {
        for (int p = -1; p < static_cast<int>(kPrefixCount); ++p) {
            const PrefixDef* prefix = p < 0 ? nullptr : &prefix_table()[static_cast<std::size_t>(p)];
            if (prefix && row.offset != 0.0) continue;
            const SingleUnit unit = SingleUnit::create_from_unit_def_static(row, prefix);
            const UnitCollection one = UnitCollection::coerce_unit_to_collection(unit);
            const UnitCollection s2 = *UnitCollection::from_unit_name("s2");
            const UnitCollection per_s2 = one / s2;
            // A prefixed symbol may be another unit's own ("min" is the minute, not a milli-inch):
            // the catalogue reads it as that unit, and so does the text.
            const std::optional<SingleUnit> by_symbol = search_for_unit_name(unit.symbol().str());
            const bool symbol_reads_back = (!by_symbol || *by_symbol == unit) && query_unit_symbols_internal(row.symbol) == &row;
            const std::optional<SingleUnit> by_name = search_for_unit_name(unit.name().str());
            const bool name_reads_back = (!by_name || *by_name == unit) && query_unit_names_internal(row.name, false) == &row;
            for (const UnitCollection* c : {&one, &per_s2}) {
                std::vector<std::string> texts;
                if (symbol_reads_back) texts.push_back("2.5 " + as_string(*c));
                if (name_reads_back) texts.push_back("2.5 " + as_descriptive_string(*c));
                const Expected<Quantity> built = c == &one ? multiply(Quantity{one, 2.5}, Quantity{})
                                                           : divide(Quantity{one, 2.5}, Quantity{s2, 1.0});
                ASSERT_TRUE(built.has_value());
                for (const std::string& text : texts) {
                    const Expected<Quantity, QuantityTextError> q = parse_quantity_text(text);
                    ASSERT_TRUE(q.has_value()) << text << ": " << q.error().message;
                    EXPECT_TRUE(q->unit.same_entries(built->unit)) << text;
                    EXPECT_TRUE(exponents_equal(q->unit.exponents(), c->exponents())) << text;
                    EXPECT_EQ(q->value, built->value) << text;
                    EXPECT_NEAR(q->value * q->unit.multiplier(), 2.5 * c->multiplier(), 2.5 * c->multiplier() * 1e-15)
                        << text;
                }
            }
        }
    }
}

TEST(QuantityText, ExtraNamesComeFirstAndAnythingLongOrDeepIsRead) {
    const Quantity smoot{*UnitCollection::from_unit_name("m"), 1.7018};
    const TextName names[] = {{"smoot", smoot}, {"m", Quantity{*UnitCollection::from_unit_name("ft"), 1.0}}};
    const Expected<Quantity, QuantityTextError> q = parse_quantity_text("364.4 smoots", names);
    EXPECT_FALSE(q.has_value());  // extra names take no plural
    const Expected<Quantity, QuantityTextError> r = parse_quantity_text("2 smoot/m", names);
    ASSERT_TRUE(r.has_value());
    EXPECT_DOUBLE_EQ(r->value * r->unit.multiplier(), 2 * 1.7018 / 0.3048);
    // Deep nesting and long texts: no recursion, no quadratic search.
    const std::string deep = std::string(200000, '(') + "m" + std::string(200000, ')');
    EXPECT_TRUE(parse_quantity_text(deep).has_value());
    std::string longsum;
    for (int i = 0; i < 20000; ++i) longsum += "1 m ";
    const Expected<Quantity, QuantityTextError> s = parse_quantity_text(longsum);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->value, 20000.0);
    EXPECT_FALSE(parse_quantity_text(std::string(100000, 'x')).has_value());
    EXPECT_FALSE(parse_quantity_text(std::string(100000, '(')).has_value());
}

TEST(QuantityText, ValuesStayRightWhereTheWholeUnitsLeaveTheRangeOfADouble) {
    // hr^42·kWh^18·min^21/g^3·lb^3 is about 1e315 in base units: its multiplier is inf, or 0 in
    // a denominator. What cancels must still convert the value exactly, not as inf / inf or
    // 0 / 0 through the multipliers of the whole text; the operators give these values.
    struct Case {
        const char* text;
        const char* units;  // as printed
        double value;
    };
    const double ft_in = 0.3048 * 0.0254;
    const Case cases[] = {
        {"2 (ft.in/m^2)^3 hr^42.kWh^18.min^21/g^3.lb^3", "[hr42.kWh18.min21/g3.lb3]", 2 * ft_in * ft_in * ft_in},
        {"2 hr^42.kWh^18.min^21/g^3.lb^3.(m^2/ft.in)^3", "[hr42.kWh18.min21/g3.lb3]", 2 * ft_in * ft_in * ft_in},
        {"(km/m)^100 hr^42.kWh^18.min^21/g^3.lb^3", "[hr42.kWh18.min21/g3.lb3]", 1e300},
        {"3 (m/km)/(hr^42.kWh^18.min^21/g^3.lb^3)", "[g3.lb3/hr42.kWh18.min21]", 3e-3},
        {"5 (mm.km)/(hr^42.kWh^18.min^21/g^3.lb^3)/m^2", "[g3.lb3/hr42.kWh18.min21]", 5.0},
    };
    for (const Case& c : cases) {
        const Expected<Quantity, QuantityTextError> q = parse_quantity_text(c.text);
        ASSERT_TRUE(q.has_value()) << c.text << ": " << q.error().message;
        EXPECT_EQ(as_string(q->unit), c.units) << c.text;
        EXPECT_NEAR(q->value, c.value, c.value * 1e-13) << c.text;
    }
}
