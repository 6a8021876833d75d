// Writes docs/catalogue.md, the reference of every compiled-in unit, prefix, alias, logarithmic
// unit and constant, to standard output. The text comes from the tables themselves, so the
// checked-in file can be compared with a fresh run to catch a stale reference.
//
// Numbers are the shortest texts that read back as the stored doubles (std::to_chars).
#include <charconv>
#include <cstddef>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/base_exponents.hpp"
#include "core/catalogue.hpp"
#include "core/constants.hpp"
#include "core/log_catalogue.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

namespace {

using namespace tolvat;

std::string number(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// "kg m2 s-2" over the base symbols in their fixed order; "none" when dimensionless.
std::string dimension(const BaseExponents& exponents) {
    static constexpr std::string_view kSymbols[kBaseDimensionCount] = {"USD", "A", "cd", "K", "kg", "m", "mol", "s"};
    std::string out;
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (exponents[i] == 0.0) continue;
        if (!out.empty()) out += ' ';
        out += kSymbols[i];
        if (exponents[i] != 1.0) out += number(exponents[i]);
    }
    return out.empty() ? "none" : out;
}

// A table cell holding an exact text. Every text in the tables is free of backticks and pipes.
std::string code(std::string_view text) {
    std::string out = "`";
    out += text;
    out += '`';
    return out;
}

void units(std::ostream& out) {
    out << "## Units (" << kUnitCount << ")\n\n"
        << "One unit of a row stands for *multiplier* base units of its dimension; a value v in it is the\n"
        << "base value v × multiplier − offset. Rows are searched in this order and the first match wins.\n\n"
        << "| # | name | symbol | multiplier | offset | dimension |\n"
        << "|---:|---|---|---:|---:|---|\n";
    std::size_t row = 0;
    for (const UnitDef& unit : unit_table()) {
        out << "| " << row++ << " | " << code(unit.name) << " | " << code(unit.symbol) << " | "
            << number(unit.multiplier) << " | " << (unit.offset == 0.0 ? "" : number(unit.offset)) << " | "
            << dimension(unit.exponents) << " |\n";
    }

    // Texts that more than one row carries, as a name or a symbol: only the first row is reachable
    // through that text.
    std::map<std::string_view, std::vector<std::size_t>> owners;
    row = 0;
    for (const UnitDef& unit : unit_table()) {
        owners[unit.symbol].push_back(row);
        if (unit.name != unit.symbol) owners[unit.name].push_back(row);
        ++row;
    }
    out << "\nTexts shared by several rows (the first row wins):\n\n";
    for (const auto& [text, rows] : owners) {
        if (rows.size() < 2) continue;
        out << "- " << code(text) << ":";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            out << (i == 0 ? " " : ", ") << unit_table()[rows[i]].name << " (row " << rows[i] << ")";
        }
        out << "\n";
    }
    out << "\n";
}

// Texts that mean a unit alone and a prefix in front of another unit: "m" is the meter, "mm" the
// millimeter. Aliases are applied first, so an alias text hides any other reading.
void shared_with_prefixes(std::ostream& out) {
    out << "Texts that are a unit (or an alias) on their own and a prefix in front of a unit:\n\n";
    std::set<std::string_view> seen;  // of two prefixes with one text, the first is the one used
    for (const PrefixDef& prefix : prefix_table()) {
        for (const std::string_view text : {prefix.symbol, prefix.name}) {
            if (!seen.insert(text).second) continue;
            const std::optional<SingleUnit> unit = search_for_unit_name(text);
            if (!unit) continue;
            out << "- " << code(text) << ": " << unit->name().str() << " alone, " << prefix.name << " ("
                << number(prefix.factor) << ") in front of a unit " << (text == prefix.name ? "name" : "symbol")
                << "\n";
        }
    }
    out << "\n";
}

void prefixes(std::ostream& out) {
    out << "## Prefixes (" << kPrefixCount << ")\n\n"
        << "At most one prefix applies: a prefix name before a unit name (or alias), a prefix symbol before a\n"
        << "unit symbol. Prefixes are tried in this order; units with an offset take none.\n\n"
        << "| # | name | symbol | factor |\n"
        << "|---:|---|---|---:|\n";
    std::size_t row = 0;
    for (const PrefixDef& prefix : prefix_table()) {
        out << "| " << row++ << " | " << code(prefix.name) << " | " << code(prefix.symbol) << " | "
            << number(prefix.factor) << " |\n";
    }
    out << "\n";
}

void aliases(std::ostream& out) {
    out << "## Unit aliases (" << kUnitAliasCount << ")\n\n"
        << "An alias replaces the whole text once, before any other lookup; the last columns show the\n"
        << "unit the alias resolves to.\n\n"
        << "| alias | stands for | unit | symbol | multiplier | dimension |\n"
        << "|---|---|---|---|---:|---|\n";
    for (const UnitAlias& alias : unit_alias_table()) {
        out << "| " << code(alias.alias) << " | " << code(alias.canonical) << " | ";
        const std::optional<SingleUnit> unit = search_for_unit_name(alias.alias);
        if (unit) {
            out << code(unit->name().str()) << " | " << code(unit->symbol().str()) << " | "
                << number(unit->multiplier()) << " | " << dimension(unit->exponents()) << " |\n";
        } else {
            out << "(none) | | | |\n";
        }
    }
    out << "\n";
}

void log_units(std::ostream& out) {
    out << "## Logarithmic units (" << kLogUnitCount << ")\n\n"
        << "For `LogTolvat.unit` only; a value v stands for the ratio base ** v. Exactly the names and\n"
        << "symbols below are accepted: no prefixes, aliases or expressions.\n\n"
        << "| # | name | symbol | base |\n"
        << "|---:|---|---|---:|\n";
    std::size_t row = 0;
    for (const LogUnitDef& unit : log_unit_table()) {
        out << "| " << row++ << " | " << code(unit.name) << " | " << code(unit.symbol) << " | " << number(unit.base)
            << " |\n";
    }
    out << "\n";
}

void constants(std::ostream& out) {
    out << "## Constants (" << kConstantCount << ")\n\n"
        << "For `Tolvat.constant`: the value in the units of the unit expression, kept as parsed.\n\n"
        << "| # | name | value | unit expression | dimension | alternative names |\n"
        << "|---:|---|---:|---|---|---|\n";
    std::size_t row = 0;
    for (const ConstantDef& constant : constant_table()) {
        const std::optional<UnitCollection> unit = UnitCollection::from_unit_name(constant.unit_text);
        out << "| " << row++ << " | " << code(constant.name) << " | " << number(constant.value) << " | "
            << code(constant.unit_text) << " | " << (unit ? dimension(unit->exponents()) : "(no unit)") << " | ";
        bool first = true;
        for (const ConstantAlias& alias : constant_alias_table()) {
            if (alias.canonical != constant.name) continue;
            out << (first ? "" : ", ") << code(alias.alias);
            first = false;
        }
        out << " |\n";
    }
    out << "\n";
}

}  // namespace

int main() {
    std::ostream& out = std::cout;
    out << "# Catalogue reference\n\n"
        << "Every unit, prefix, unit alias, logarithmic unit and constant compiled into tolvat. Generated\n"
        << "from the tables by `tools/catalogue_reference.cpp`; do not edit by hand, run\n"
        << "`scripts/check-catalogue-doc.sh --update` instead. Names and symbols are exact texts:\n"
        << "case-sensitive, spaces included. Numbers are the shortest texts that read back as the stored\n"
        << "doubles. A dimension lists the base units USD, A, cd, K, kg, m, mol, s with their nonzero powers.\n\n";
    units(out);
    shared_with_prefixes(out);
    prefixes(out);
    aliases(out);
    log_units(out);
    constants(out);
    out.flush();
    return out ? 0 : 1;
}
