#include "core/log_catalogue.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>

#include "core/catalogue.hpp"
#include "core/log_quantity.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

namespace tolvat {
namespace {

TEST(LogCatalogue, RowsAndBasesAreTheStoredDoubles) {
    const auto table = log_unit_table();
    EXPECT_EQ(table[0].name, "bel");
    EXPECT_EQ(table[0].symbol, "B");
    EXPECT_EQ(table[0].base, 10.0);
    EXPECT_EQ(table[1].name, "decibel");
    EXPECT_EQ(table[1].symbol, "dB");
    EXPECT_EQ(table[1].base, std::pow(10.0, 0.1));
    EXPECT_EQ(table[1].base, 1.2589254117941673);
    EXPECT_EQ(table[2].name, "neper");
    EXPECT_EQ(table[2].symbol, "Np");
    EXPECT_EQ(table[2].base, std::exp(1.0));
    EXPECT_EQ(table[2].base, 2.718281828459045);
    EXPECT_EQ(table[3].name, "semitone");
    EXPECT_EQ(table[3].symbol, "stn");
    EXPECT_EQ(table[3].base, std::pow(2.0, 1.0 / 12.0));
    EXPECT_EQ(table[3].base, 1.0594630943592953);
}

TEST(LogCatalogue, NameAndSymbolFindTheSameRow) {
    for (const LogUnitDef& row : log_unit_table()) {
        EXPECT_EQ(search_for_log_unit_name(row.name), &row) << row.name;
        EXPECT_EQ(search_for_log_unit_name(row.symbol), &row) << row.symbol;
    }
}

TEST(LogCatalogue, OnlyTheEightExactTextsAreAccepted) {
    const std::string_view refused[] = {
        "",        "db",       "DB",       "Db",       "b",         "BEL",     "Bel",      "Decibel",
        "NP",      "np",       "nP",       "STN",      "Stn",       " dB",     "dB ",      " B",
        "B\t",     "bels",     "decibels", "nepers",   "semitones", "be",      "decibe",   "d",
        "mB",      "kdB",      "ddB",      "dB2",      "dB^2",      "dB/s",    "dB.dB",    "1/dB",
        "dB-1",    "m",        "s",        "meter",    "deciB",     "decineper", "semi tone", "Np.",
    };
    for (std::string_view text : refused) EXPECT_EQ(search_for_log_unit_name(text), nullptr) << '"' << text << '"';
}

TEST(LogCatalogue, ComparisonCoversEveryByteOfTheText) {
    // An embedded NUL or a longer text sharing the prefix is another text.
    EXPECT_EQ(search_for_log_unit_name(std::string_view("dB\0", 3)), nullptr);
    EXPECT_EQ(search_for_log_unit_name(std::string_view("\0dB", 3)), nullptr);
    EXPECT_EQ(search_for_log_unit_name(std::string_view("B\0", 2)), nullptr);
    const std::string longer = "decibel" + std::string(1000, 'x');
    EXPECT_EQ(search_for_log_unit_name(longer), nullptr);
    // A view into a longer buffer matches by its own length only.
    const std::string_view buffer = "stnx";
    EXPECT_EQ(search_for_log_unit_name(buffer.substr(0, 3)), &log_unit_table()[3]);
    // Non-ASCII look-alikes (Cyrillic "В", fullwidth "ｄB").
    EXPECT_EQ(search_for_log_unit_name("\xD0\x92"), nullptr);
    EXPECT_EQ(search_for_log_unit_name("\xEF\xBD\x84" "B"), nullptr);
}

TEST(LogCatalogue, LogarithmicAndOrdinaryVocabulariesAreSeparate) {
    for (const LogUnitDef& row : log_unit_table()) {
        // Names never resolve as ordinary units, not even through a prefix ("d" + "B" ...).
        EXPECT_FALSE(search_for_unit_name(row.name).has_value()) << row.name;
        EXPECT_FALSE(UnitCollection::from_unit_name(row.name).has_value()) << row.name;
    }
    for (const UnitDef& row : unit_table()) {
        EXPECT_EQ(search_for_log_unit_name(row.name), nullptr) << row.name;
        EXPECT_EQ(search_for_log_unit_name(row.symbol), nullptr) << row.symbol;
    }
    // No prefix step: "decibel" is a row of its own, but "kilobel" or "mB" are nothing.
    for (const PrefixDef& prefix : prefix_table()) {
        if (prefix.name == "deci") continue;
        EXPECT_EQ(search_for_log_unit_name(std::string(prefix.name) + "bel"), nullptr) << prefix.name;
        EXPECT_EQ(search_for_log_unit_name(std::string(prefix.symbol) + "B"), nullptr) << prefix.symbol;
    }
    for (const UnitAlias& alias : unit_alias_table()) {
        EXPECT_EQ(search_for_log_unit_name(alias.alias), nullptr) << alias.alias;
    }
}

TEST(LogQuantityRatio, IsThePowerOfTheBase) {
    const LogUnit bel = search_for_log_unit_name("B");
    const LogUnit decibel = search_for_log_unit_name("dB");
    const LogUnit semitone = search_for_log_unit_name("stn");
    EXPECT_EQ((LogQuantity{bel, 1.0}.ratio()), 10.0);
    EXPECT_EQ((LogQuantity{bel, 3.0}.ratio()), 1000.0);
    EXPECT_EQ((LogQuantity{bel, -1.0}.ratio()), 0.1);
    EXPECT_EQ((LogQuantity{decibel, 20.0}.ratio()), 100.00000000000011);
    EXPECT_EQ((LogQuantity{semitone, 12.0}.ratio()), 2.000000000000001);
    EXPECT_EQ((LogQuantity{bel, 400.0}.ratio()), INFINITY);
    EXPECT_TRUE(std::isnan(LogQuantity{bel, NAN}.ratio()));
}

}  // namespace
}  // namespace tolvat
