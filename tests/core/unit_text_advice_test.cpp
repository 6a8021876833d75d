#include "core/unit_text_advice.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/catalogue.hpp"
#include "core/unit_collection.hpp"
#include "core/unit_text.hpp"

namespace tolvat {
namespace {

bool reads_fully(std::string_view text) {
    bool dropped = true;
    return UnitCollection::from_unit_name(text, dropped).has_value() && !dropped;
}

// `found` is `expected`, or nothing when `expected` is nullptr.
void expect_found(const std::optional<std::string>& found, const char* expected, const char* input) {
    if (expected == nullptr) {
        EXPECT_FALSE(found.has_value()) << input << " -> " << found.value_or("");
    } else {
        EXPECT_EQ(found.value_or("(none)"), expected) << input;
    }
}

TEST(DroppedPieces, TheParserTellsWhetherAPieceHoldingANameWasDroppedAlsoOnACacheHit) {
    struct Case {
        const char* text;
        bool parses;
        bool dropped;
    };
    const Case cases[] = {
        {"m/s", true, false},      {"1/s", true, false},     {"/s", true, false},   {"m..s", true, false},
        {"N.m2/s.2", true, true},  {"  m  ", true, false},  {"m.s0", true, false}, {"degree Celsius/s", true, false},
        {"km/h", true, true},      {"m.foo", true, true},    {"m2s.m", true, true}, {"kg/m^3", true, true},
        {"m/s²", true, true},      {"m/m", false, false},    {"m/s/s", false, false}, {"foo", false, true},
    };
    for (int round = 0; round < 2; ++round) {  // the second round is served by the parse cache
        for (const Case& c : cases) {
            bool dropped = !c.dropped;
            EXPECT_EQ(UnitCollection::from_unit_name(c.text, dropped).has_value(), c.parses) << c.text;
            EXPECT_EQ(dropped, c.dropped) << c.text << " round " << round;
        }
    }
    // A text too long for the cache is told the same way.
    const std::string long_text = "m" + std::string(60, '.') + "foo";
    bool dropped = false;
    EXPECT_TRUE(UnitCollection::from_unit_name(long_text, dropped).has_value());
    EXPECT_TRUE(dropped);
}

TEST(DroppedPieces, EverySideIsListedEvenOfATextWithTwoSlashes) {
    std::vector<std::string_view> pieces;
    dropped_unit_pieces(" km/h.2.foo/sec ", pieces);
    EXPECT_EQ(pieces, (std::vector<std::string_view>{"h", "2", "foo", "sec"}));
    pieces.clear();
    dropped_unit_pieces("degree Celsius", pieces);  // the whole text is a name
    EXPECT_TRUE(pieces.empty());
}

TEST(Spellings, NearestSpellingsAreCloseAndResolve) {
    struct Case {
        const char* name;
        const char* expected;  // nullptr: no suggestion
    };
    const Case cases[] = {
        {"meters", "meter"},        {"metres", "metre"},       {"Kg", "kg"},          {"kHZ", "kHz"},
        {"kilometres", "kilometre"}, {"kmeter", "kilometer"},  {"kilom", "km"},       {"h", "hr"},
        {"sec", "s"},               {"l", "L"},                {"degC", "°C"},        {"mph", "mi/hr"},
        {"lbs", "lb"},              {"µm", "um"},              {"μs", "us"},          {"sq ft", "ft2"},
        {"cubic meters", "meter3"}, {"sq kg", nullptr},        {"cusec", nullptr},    {"dB", nullptr},
        {"B", nullptr},             {"NP", nullptr},           {"kms", nullptr},      {"kdB", nullptr},
        {"xyzzy", nullptr},         {"", nullptr},             {"m^2", nullptr},
    };
    for (const Case& c : cases) expect_found(nearest_unit_spelling(c.name), c.expected, c.name);
}

TEST(Spellings, EverySuggestionForAMisspeltTableNameResolves) {
    // One letter dropped, doubled or swapped in every long name: whatever is suggested resolves.
    std::size_t suggested = 0;
    for (const UnitDef& row : unit_table()) {
        const std::string name(row.name);
        if (name.size() < 6) continue;
        const std::string variants[] = {name.substr(0, name.size() - 1), name + name.back(),
                                        name.substr(0, 2) + name[3] + name[2] + name.substr(4)};
        for (const std::string& variant : variants) {
            if (search_for_unit_name(variant)) continue;
            const std::optional<std::string> found = nearest_unit_spelling(variant);
            if (!found) continue;
            ++suggested;
            EXPECT_TRUE(reads_fully(*found)) << variant << " -> " << *found;
        }
    }
    EXPECT_GT(suggested, 100u);
}

TEST(Rewrites, OtherSyntaxesAreWrittenInTheParsersOwn) {
    struct Case {
        const char* text;
        const char* expected;  // nullptr: no rewrite
    };
    const Case cases[] = {
        {"kg*m/s^2", "kg.m/s2"},     {"kg m/s2", "kg.m/s2"},     {"W/(m2.K)", "W/m2.K"},  {"J/(kg*K)", "J/kg.K"},
        {"m/s²", "m/s2"},            {"kg·m²/s²", "kg.m2/s2"},   {"m.s-1", "m/s"},        {"s^-1", "1/s"},
        {"m^(-2)", "1/m2"},          {"m**3", "m3"},             {"m/s/s", "m/s2"},       {"m / s", "m/s"},
        {"km/h^2", "km/hr2"},        {"degree Celsius/s^2", "degree Celsius/s2"},       {"m⁻¹", "1/m"},
        {"m/s", nullptr},            {"m/m", nullptr},           {"foo^2", nullptr},      {"m^", nullptr},
        {"(m/s)^2", nullptr},        {"", nullptr},
    };
    for (const Case& c : cases) {
        expect_found(rewritten_unit_text(c.text), c.expected, c.text);
        if (c.expected != nullptr) EXPECT_TRUE(reads_fully(c.expected)) << c.expected;
    }
}

TEST(Reports, WarningsListEveryDroppedPieceAndNotesOnlyWhatHelps) {
    EXPECT_EQ(dropped_unit_text_warning("m/s"), "");
    EXPECT_EQ(dropped_unit_text_warning("xx.qq.m/jj"), "'xx.qq.m/jj': 'xx', 'qq' and 'jj' name no unit and were ignored");
    EXPECT_EQ(dropped_unit_text_warning("m.hrs.foo"),
              "'m.hrs.foo': 'hrs' and 'foo' name no unit and were ignored; did you mean 'hr' for 'hrs' and "
              "'foot' for 'foo'?");
    EXPECT_EQ(unit_not_found_note("xyzzy"), "");
    EXPECT_EQ(unit_not_found_note("m/m"), "");
    EXPECT_EQ(unit_not_found_note("foo^2/s/s"),
              "write products with '.', one '/', and powers as trailing digits");
    EXPECT_EQ(log_unit_not_found_note("Bel"), "did you mean 'bel'?");
    EXPECT_EQ(log_unit_not_found_note("m"), "");
    EXPECT_EQ(constant_not_found_note("boltzman"), "did you mean 'boltzmann'?");
    EXPECT_EQ(constant_not_found_note(""), "");
}

TEST(Reports, LongTextsAreReportedWithoutSearching) {
    // Half a megabyte of dropped pieces: every piece is named, nothing is searched or rewritten.
    std::string text = "m";
    for (int i = 0; i < 100000; ++i) text += ".x^2 y";
    const std::string warning = dropped_unit_text_warning(text);
    EXPECT_EQ(warning.find("did you mean"), std::string::npos);
    const std::string ending = "'x^2 y' and 'x^2 y' name no unit and were ignored; "
                               "write products with '.', one '/', and powers as trailing digits";
    EXPECT_EQ(warning.substr(warning.size() - ending.size()), ending);
    EXPECT_EQ(unit_not_found_note(std::string(1 << 20, '/')),
              "write products with '.', one '/', and powers as trailing digits");
}

}  // namespace
}  // namespace tolvat
