#include "core/render.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/catalogue.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

namespace tolvat {
namespace {

UnitCollection parse(const char* text) {
    std::optional<UnitCollection> c = UnitCollection::from_unit_name(text);
    EXPECT_TRUE(c.has_value()) << text;
    return c.value_or(UnitCollection{});
}

struct Forms {
    std::string plain;
    std::string descriptive;
    std::string latex;
};

void expect_forms(const UnitCollection& c, const Forms& expected) {
    EXPECT_EQ(as_string(c), expected.plain);
    EXPECT_EQ(as_descriptive_string(c), expected.descriptive);
    EXPECT_EQ(as_latex(c), expected.latex);
}

TEST(Render, OuterForms) {
    expect_forms(UnitCollection{}, {"[]", "[]", "\\mathrm{}"});
    expect_forms(parse("m"), {"[m]", "[meter]", "\\mathrm{m}"});
    expect_forms(parse("1/s"), {"[1/s]", "[1/second]", "\\mathrm{\\frac{1}{s}}"});
    expect_forms(parse("Hz"), {"[Hz]", "[hertz]", "\\mathrm{Hz}"});
    expect_forms(parse("kg.m2/s2"), {"[kg.m2/s2]", "[kilogram.meter2/second2]", "\\mathrm{\\frac{kg~m^2}{s^2}}"});
    expect_forms(parse("km2"), {"[km2]", "[kilometer2]", "\\mathrm{km^2}"});
    EXPECT_EQ(as_string(parse("m/s")), "[m/s]");
    EXPECT_EQ(as_string(parse("m3")), "[m3]");
}

TEST(Render, FractionalAndSpecialPowers) {
    const UnitCollection m = parse("m");
    const UnitCollection s = parse("s");
    EXPECT_EQ(as_string(UnitCollection::pow(m, 0.5)), "[m0.5]");
    EXPECT_EQ(as_latex(UnitCollection::pow(m, 0.5)), "\\mathrm{m^0.5}");
    EXPECT_EQ(as_string(UnitCollection::pow(s, -0.5)), "[1/s0.5]");
    EXPECT_EQ(as_latex(UnitCollection::pow(s, -1.5)), "\\mathrm{\\frac{1}{s^1.5}}");
    EXPECT_EQ(as_string(UnitCollection::pow(m, 1e-7)), "[m0.0000001]");
    EXPECT_EQ(as_string(UnitCollection::pow(m, 1e20)), "[m100000000000000000000]");
    EXPECT_EQ(as_string(UnitCollection::pow(m, std::numeric_limits<double>::infinity())), "[minf]");
    EXPECT_EQ(as_string(UnitCollection::pow(m, -std::numeric_limits<double>::infinity())), "[1/minf]");
    // Zero, negative zero and NaN powers are left out.
    EXPECT_EQ(as_string(UnitCollection::pow(m, 0.0)), "[]");
    EXPECT_EQ(as_latex(UnitCollection::pow(m, 0.0)), "\\mathrm{}");
    EXPECT_EQ(as_string(UnitCollection::pow(m, -0.0)), "[]");
    EXPECT_EQ(as_string(UnitCollection::pow(m, std::nan("")) * s), "[s]");
    EXPECT_EQ(as_string(UnitCollection::pow(m, 0.0) / s), "[1/s]");
}

TEST(Render, FactorsSortByteWise) {
    // Capitals before lower case, whatever the order of the entries.
    EXPECT_EQ(as_string(parse("mol.kg.K")), "[K.kg.mol]");
    EXPECT_EQ(as_descriptive_string(parse("mol.kg.K")), "[kelvin.kilogram.mole]");
    // The power is part of the sorted text.
    EXPECT_EQ(as_string(parse("mol.m2")), "[m2.mol]");
    EXPECT_EQ(as_latex(parse("mol.m2")), "\\mathrm{m^2~mol}");
    // Each form sorts its own texts: symbols N < m, names meter < newton.
    EXPECT_EQ(as_string(parse("m.N")), "[N.m]");
    EXPECT_EQ(as_descriptive_string(parse("m.N")), "[meter.newton]");
    EXPECT_EQ(as_latex(parse("m.N")), "\\mathrm{N~m}");
    // Non-ASCII symbols after every ASCII one; denominators sort too.
    EXPECT_EQ(as_string(parse("ohm.m")), "[m.Ω]");
    EXPECT_EQ(as_string(parse("1/degree Celsius.s.K")), "[1/K.s.°C]");
    EXPECT_EQ(as_string(parse("kg/s.A2.m")), "[kg/A2.m.s]");
}

TEST(Render, TextsAreCopiedUnchanged) {
    EXPECT_EQ(as_string(parse("fl oz")), "[fl oz]");
    EXPECT_EQ(as_latex(parse("fl oz")), "\\mathrm{fl oz}");
    EXPECT_EQ(as_descriptive_string(parse("fl oz")), "[fluid ounce]");
    EXPECT_EQ(as_string(parse("minute (angle)")), "[']");
    EXPECT_EQ(as_descriptive_string(parse("degree Celsius/s")), "[degree Celsius/second]");
    const UnitCollection custom = UnitCollection::coerce_unit_to_collection(
        SingleUnit::custom("my_unit", "µx\\y", 2.0, BaseExponents{0, 0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(as_latex(UnitCollection::pow(custom, 2.0)), "\\mathrm{µx\\y^2}");
}

TEST(Render, ManyFactorsAndLongTexts) {
    // Enough factors and digits to outgrow any small inline buffer.
    UnitCollection c;
    const char* names[] = {"m", "s", "kg", "A", "K", "mol", "cd", "USD", "g", "N", "J", "W", "Pa"};
    for (int i = 0; i < 13; ++i) {
        c = c * UnitCollection::pow(parse(names[i]), (i % 2 ? -1.0 : 1.0) * (1.0 / 3.0 + i));
    }
    const std::string plain = as_string(c);
    EXPECT_EQ(plain,
              "[J10.333333333333334.K4.333333333333333.Pa12.333333333333334.cd6.333333333333333."
              "g8.333333333333334.kg2.3333333333333335.m0.3333333333333333/A3.3333333333333335."
              "N9.333333333333334.USD7.333333333333333.W11.333333333333334.mol5.333333333333333.s1.3333333333333333]");
    std::ostringstream out;
    out << c;
    EXPECT_EQ(out.str(), plain);
}

// A single unit takes short ways (its pieces handed out as they are, or written without the factor
// lists); an entry at power zero is left out of the text but sends the same unit the general way.
// Every table unit, bare and with a few prefixes, at a few powers, in all three forms.
TEST(Render, SingleUnitShortWaysMatchTheGeneralText) {
    const SingleUnit padding = SingleUnit::create_from_unit_def_static(unit_table()[0]);
    std::vector<SingleUnit> units;
    for (const UnitDef& row : unit_table()) {
        units.push_back(SingleUnit::create_from_unit_def_static(row));
        for (std::size_t p : {std::size_t{0}, std::size_t{9}, kPrefixCount - 1}) {
            units.push_back(SingleUnit::create_from_unit_def_static(row, &prefix_table()[p]));
        }
    }
    units.push_back(SingleUnit::custom("thing", "µth", 3.0, BaseExponents{0, 0, 0, 0, 0, 1, 0, 0}));
    std::size_t compared = 0;
    for (const SingleUnit& unit : units) {
        if (unit == padding) continue;
        for (double power : {1.0, 2.0, 0.5, -1.0, 1e-7}) {
            UnitEntries alone;
            alone.emplace_back(UnitEntry{unit, power});
            UnitEntries padded = alone;
            padded.emplace_back(UnitEntry{padding, 0.0});
            const UnitCollection one = UnitCollection::from_entries(std::move(alone));
            const UnitCollection general = UnitCollection::from_entries(std::move(padded));
            for (UnitText form : {UnitText::Plain, UnitText::Latex, UnitText::Descriptive}) {
                std::string expected;
                append_unit_text(expected, general, form);
                std::string text;
                append_unit_text(text, one, form);
                EXPECT_EQ(text, expected);
                const std::optional<LoneUnitText> lone = lone_unit_text(one, form);
                EXPECT_EQ(lone.has_value(), power == 1.0);
                if (!lone) continue;
                std::string joined;
                for (std::string_view piece : lone->pieces) joined += piece;
                EXPECT_EQ(joined, expected);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 3 * kUnitCount);
}

TEST(Render, FormattingHookWritesPlainText) {
    const UnitCollection c = parse("J/K.mol");
    std::ostringstream out;
    out << "unit " << c << '!';
    EXPECT_EQ(out.str(), "unit " + as_string(c) + "!");
    EXPECT_EQ(as_string(c), "[J/K.mol]");
}

}  // namespace
}  // namespace tolvat
