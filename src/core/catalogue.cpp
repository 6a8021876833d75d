#include "catalogue.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>

#include "single_unit.hpp"

namespace tolvat {
namespace {

constexpr UnitDef kUnits[] = {
    {.name = "USD", .symbol = "USD", .multiplier = 1.0, .exponents = dimension({.usd = 1})},
    {.name = "ampere", .symbol = "A", .multiplier = 1.0, .exponents = dimension({.ampere = 1})},
    {.name = "candela", .symbol = "cd", .multiplier = 1.0, .exponents = dimension({.candela = 1})},
    {.name = "kelvin", .symbol = "K", .multiplier = 1.0, .exponents = dimension({.kelvin = 1})},
    {.name = "kilogram", .symbol = "kg", .multiplier = 1.0, .exponents = dimension({.kilogram = 1})},
    {.name = "meter", .symbol = "m", .multiplier = 1.0, .exponents = dimension({.meter = 1})},
    {.name = "mole", .symbol = "mol", .multiplier = 1.0, .exponents = dimension({.mole = 1})},
    {.name = "second", .symbol = "s", .multiplier = 1.0, .exponents = dimension({.second = 1})},
    {.name = "gram", .symbol = "g", .multiplier = 0.001, .exponents = dimension({.kilogram = 1})},
    {.name = "radian", .symbol = "rad", .multiplier = 1.0, .exponents = dimension({})},
    {.name = "steradian", .symbol = "sr", .multiplier = 1.0, .exponents = dimension({})},
    {.name = "hertz", .symbol = "Hz", .multiplier = 1.0, .exponents = dimension({.second = -1})},
    {.name = "newton", .symbol = "N", .multiplier = 1.0,
     .exponents = dimension({.kilogram = 1, .meter = 1, .second = -2})},
    {.name = "pascal", .symbol = "Pa", .multiplier = 1.0,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "joule", .symbol = "J", .multiplier = 1.0,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "watt", .symbol = "W", .multiplier = 1.0,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -3})},
    {.name = "coulomb", .symbol = "C", .multiplier = 1.0, .exponents = dimension({.ampere = 1, .second = 1})},
    {.name = "volt", .symbol = "V", .multiplier = 1.0,
     .exponents = dimension({.ampere = -1, .kilogram = 1, .meter = 2, .second = -3})},
    {.name = "farad", .symbol = "F", .multiplier = 1.0,
     .exponents = dimension({.ampere = 2, .kilogram = -1, .meter = -2, .second = 4})},
    {.name = "ohm", .symbol = "Ω", .multiplier = 1.0,
     .exponents = dimension({.ampere = -2, .kilogram = 1, .meter = 2, .second = -3})},
    {.name = "siemens", .symbol = "S", .multiplier = 1.0,
     .exponents = dimension({.ampere = 2, .kilogram = -1, .meter = -2, .second = 3})},
    {.name = "weber", .symbol = "Wb", .multiplier = 1.0,
     .exponents = dimension({.ampere = -1, .kilogram = 1, .meter = 2, .second = -2})},
    {.name = "tesla", .symbol = "T", .multiplier = 1.0,
     .exponents = dimension({.ampere = -1, .kilogram = 1, .second = -2})},
    {.name = "hour", .symbol = "hr", .multiplier = 3600.0, .exponents = dimension({.second = 1})},
    {.name = "henry", .symbol = "H", .multiplier = 1.0,
     .exponents = dimension({.ampere = -2, .kilogram = 1, .meter = 2, .second = -2})},
    {.name = "degree Celsius", .symbol = "°C", .offset = -273.15, .multiplier = 1.0,
     .exponents = dimension({.kelvin = 1})},
    {.name = "lumen", .symbol = "lm", .multiplier = 1.0, .exponents = dimension({.candela = 1})},
    {.name = "lux", .symbol = "lx", .multiplier = 1.0, .exponents = dimension({.candela = 1, .meter = -2})},
    {.name = "becquerel", .symbol = "Bq", .multiplier = 1.0, .exponents = dimension({.second = -1})},
    {.name = "gray", .symbol = "Gy", .multiplier = 1.0, .exponents = dimension({.meter = 2, .second = -2})},
    {.name = "sievert", .symbol = "Sv", .multiplier = 1.0, .exponents = dimension({.meter = 2, .second = -2})},
    {.name = "katal", .symbol = "kat", .multiplier = 1.0, .exponents = dimension({.mole = 1, .second = -1})},
    {.name = "minute", .symbol = "min", .multiplier = 60.0, .exponents = dimension({.second = 1})},
    {.name = "day", .symbol = "d", .multiplier = 86400.0, .exponents = dimension({.second = 1})},
    {.name = "degree (angle)", .symbol = "°", .multiplier = 0.017453292519943295, .exponents = dimension({})},
    {.name = "minute (angle)", .symbol = "'", .multiplier = 0.0002908882086657216, .exponents = dimension({})},
    {.name = "second (angle)", .symbol = "''", .multiplier = 4.84813681109536e-06, .exponents = dimension({})},
    {.name = "liter", .symbol = "L", .multiplier = 0.001, .exponents = dimension({.meter = 3})},
    {.name = "metric ton", .symbol = "t", .multiplier = 1000.0, .exponents = dimension({.kilogram = 1})},
    {.name = "electronvolt", .symbol = "eV", .multiplier = 1.602176634e-19,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "unified atomic mass unit", .symbol = "amu", .multiplier = 1.66053906892e-27,
     .exponents = dimension({.kilogram = 1})},
    {.name = "foot", .symbol = "ft", .multiplier = 0.3048, .exponents = dimension({.meter = 1})},
    {.name = "mile", .symbol = "mi", .multiplier = 1609.344, .exponents = dimension({.meter = 1})},
    {.name = "nautical mile", .symbol = "nmi", .multiplier = 1852.0, .exponents = dimension({.meter = 1})},
    {.name = "knot", .symbol = "kn", .multiplier = 0.5144444444444445,
     .exponents = dimension({.meter = 1, .second = -1})},
    {.name = "are", .symbol = "are", .multiplier = 100.0, .exponents = dimension({.meter = 2})},
    {.name = "bar", .symbol = "bar", .multiplier = 100000.0,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "angstrom", .symbol = "Å", .multiplier = 1e-10, .exponents = dimension({.meter = 1})},
    {.name = "barn", .symbol = "b", .multiplier = 1e-28, .exponents = dimension({.meter = 2})},
    {.name = "curie", .symbol = "Ci", .multiplier = 37000000000.0, .exponents = dimension({.second = -1})},
    {.name = "roentgen", .symbol = "R", .multiplier = 0.000258,
     .exponents = dimension({.ampere = 1, .kilogram = -1, .second = 1})},
    {.name = "rem", .symbol = "rem", .multiplier = 0.01, .exponents = dimension({.meter = 2, .second = -2})},
    {.name = "pound", .symbol = "lb", .multiplier = 0.45359237, .exponents = dimension({.kilogram = 1})},
    {.name = "inch", .symbol = "in", .multiplier = 0.0254, .exponents = dimension({.meter = 1})},
    {.name = "yard", .symbol = "yd", .multiplier = 0.9144, .exponents = dimension({.meter = 1})},
    {.name = "pound-mol", .symbol = "lbmol", .multiplier = 453.59237, .exponents = dimension({.mole = 1})},
    {.name = "gallon", .symbol = "gal", .multiplier = 0.0037854117839999997, .exponents = dimension({.meter = 3})},
    {.name = "pound-force", .symbol = "lbf", .multiplier = 4.4482216152605,
     .exponents = dimension({.kilogram = 1, .meter = 1, .second = -2})},
    {.name = "grain", .symbol = "gr", .multiplier = 6.479891000000001e-05, .exponents = dimension({.kilogram = 1})},
    {.name = "slug", .symbol = "slug", .multiplier = 14.593903591998501, .exponents = dimension({.kilogram = 1})},
    {.name = "fluid ounce", .symbol = "fl oz", .multiplier = 2.9573529562499998e-05,
     .exponents = dimension({.meter = 3})},
    {.name = "quart", .symbol = "qt", .multiplier = 0.0009463529459999999, .exponents = dimension({.meter = 3})},
    {.name = "pint", .symbol = "pt", .multiplier = 0.00047317647299999996, .exponents = dimension({.meter = 3})},
    {.name = "cup", .symbol = "cup", .multiplier = 0.00023658823649999998, .exponents = dimension({.meter = 3})},
    {.name = "tablespoon", .symbol = "tbsp", .multiplier = 1.4786764781249999e-05,
     .exponents = dimension({.meter = 3})},
    {.name = "teaspoon", .symbol = "tsp", .multiplier = 4.92892159375e-06, .exponents = dimension({.meter = 3})},
    {.name = "ton", .symbol = "ton", .multiplier = 907.18474, .exponents = dimension({.kilogram = 1})},
    {.name = "ounce", .symbol = "oz", .multiplier = 0.028349523125, .exponents = dimension({.kilogram = 1})},
    {.name = "atmosphere", .symbol = "atm", .multiplier = 101325.0,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "torr", .symbol = "torr", .multiplier = 133.32236842105263,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "pounds per square inch", .symbol = "psi", .multiplier = 6894.757293168361,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "calorie", .symbol = "cal", .multiplier = 4.184,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "erg", .symbol = "erg", .multiplier = 1e-07,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "british thermal unit", .symbol = "BTU", .multiplier = 1054.35,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "horsepower", .symbol = "hp", .multiplier = 745.6998715822701,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -3})},
    {.name = "Hartree", .symbol = "hartree", .multiplier = 4.359748199e-18,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "poise", .symbol = "P", .multiplier = 0.1,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -1})},
    {.name = "Rankine", .symbol = "°R", .multiplier = 0.5555555555555556, .exponents = dimension({.kelvin = 1})},
    {.name = "degree Fahrenheit", .symbol = "°F", .offset = -255.3722222222222, .multiplier = 0.5555555555555556,
     .exponents = dimension({.kelvin = 1})},
    {.name = "year", .symbol = "y", .multiplier = 31556925.9746784, .exponents = dimension({.second = 1})},
    {.name = "week", .symbol = "wk", .multiplier = 604800.0, .exponents = dimension({.second = 1})},
    {.name = "month", .symbol = "mo", .multiplier = 2629743.8312232, .exponents = dimension({.second = 1})},
    {.name = "lightyear", .symbol = "ly", .multiplier = 9460730472580800.0, .exponents = dimension({.meter = 1})},
    {.name = "acre", .symbol = "ac", .multiplier = 4046.8564224, .exponents = dimension({.meter = 2})},
    {.name = "hectare", .symbol = "ha", .multiplier = 10000.0, .exponents = dimension({.meter = 2})},
    {.name = "carat", .symbol = "ct", .multiplier = 0.0002, .exponents = dimension({.kilogram = 1})},
    {.name = "watt hour", .symbol = "Wh", .multiplier = 3600.0,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -2})},
    {.name = "cent", .symbol = "¢", .multiplier = 0.01, .exponents = dimension({.usd = 1})},
    {.name = "darcy", .symbol = "d", .multiplier = 9.869233e-13, .exponents = dimension({.meter = 2})},
    {.name = "dyne", .symbol = "dyn", .multiplier = 1e-05,
     .exponents = dimension({.kilogram = 1, .meter = 1, .second = -2})},
    {.name = "astronomical unit", .symbol = "ua", .multiplier = 149597870700.0, .exponents = dimension({.meter = 1})},
    {.name = "sidereal year", .symbol = "syr", .multiplier = 31558149.7635456, .exponents = dimension({.second = 1})},
    {.name = "anomalistic year", .symbol = "ayr", .multiplier = 31558432.5504, .exponents = dimension({.second = 1})},
    {.name = "decade", .symbol = "decade", .multiplier = 315569259.74678403, .exponents = dimension({.second = 1})},
    {.name = "century", .symbol = "century", .multiplier = 3155692597.46784, .exponents = dimension({.second = 1})},
    {.name = "millennium", .symbol = "millenium", .multiplier = 31556925974.678402,
     .exponents = dimension({.second = 1})},
    {.name = "calendar year", .symbol = "calendar year", .multiplier = 31536000.0,
     .exponents = dimension({.second = 1})},
    {.name = "leap year", .symbol = "leap year", .multiplier = 31622400.0, .exponents = dimension({.second = 1})},
    {.name = "julian year", .symbol = "julian year", .multiplier = 31557600.0, .exponents = dimension({.second = 1})},
    {.name = "gregorian year", .symbol = "gregorian year", .multiplier = 31556952.0,
     .exponents = dimension({.second = 1})},
    {.name = "parsec", .symbol = "pc", .multiplier = 3.085677581491367e+16, .exponents = dimension({.meter = 1})},
    {.name = "meter of mercury", .symbol = "mHg", .multiplier = 133322.387415,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "inch of mercury", .symbol = "inHg", .multiplier = 3386.389,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "tolvat (vol)", .symbol = "tlvtv", .multiplier = 0.034068706056, .exponents = dimension({.meter = 3})},
    {.name = "tolvat (mass)", .symbol = "tlvtm", .multiplier = 40.8233133, .exponents = dimension({.kilogram = 1})},
    {.name = "furlong", .symbol = "flg", .multiplier = 201.168, .exponents = dimension({.meter = 1})},
    {.name = "fortnight", .symbol = "ftnt", .multiplier = 1209600.0, .exponents = dimension({.second = 1})},
    {.name = "outhouse", .symbol = "ouths", .multiplier = 1e-34, .exponents = dimension({.meter = 2})},
    {.name = "shed", .symbol = "shed", .multiplier = 1e-52, .exponents = dimension({.meter = 2})},
    {.name = "martian sol", .symbol = "sol", .multiplier = 88775.244, .exponents = dimension({.second = 1})},
    {.name = "jiffy", .symbol = "jfy", .multiplier = 0.01, .exponents = dimension({.second = 1})},
    {.name = "light speed", .symbol = "c", .multiplier = 299792458.0,
     .exponents = dimension({.meter = 1, .second = -1})},
    {.name = "fluid ounce (food)", .symbol = "fl oz (food)", .multiplier = 3e-05, .exponents = dimension({.meter = 3})},
    {.name = "fluid ounce (imperial)", .symbol = "fl oz (imp)", .multiplier = 2.8413062499999998e-05,
     .exponents = dimension({.meter = 3})},
    {.name = "pint (imperial)", .symbol = "pt (imp)", .multiplier = 0.00056826125,
     .exponents = dimension({.meter = 3})},
    {.name = "pint (dry)", .symbol = "pt (dry)", .multiplier = 0.0005506104713575,
     .exponents = dimension({.meter = 3})},
    {.name = "quart (imperial)", .symbol = "qt (imp)", .multiplier = 0.0011365225,
     .exponents = dimension({.meter = 3})},
    {.name = "quart (dry)", .symbol = "qt (dry)", .multiplier = 0.001101220942715,
     .exponents = dimension({.meter = 3})},
    {.name = "gallon (imperial)", .symbol = "gal (imp)", .multiplier = 0.00454609,
     .exponents = dimension({.meter = 3})},
    {.name = "survey foot", .symbol = "survey ft", .multiplier = 0.3048006096012192,
     .exponents = dimension({.meter = 1})},
    {.name = "stone", .symbol = "st", .multiplier = 6.35029318, .exponents = dimension({.kilogram = 1})},
    {.name = "troy ounce", .symbol = "oz t", .multiplier = 0.031103476800000005,
     .exponents = dimension({.kilogram = 1})},
    {.name = "troy pound", .symbol = "lb t", .multiplier = 0.3732417216, .exponents = dimension({.kilogram = 1})},
    {.name = "pennyweight", .symbol = "dwt", .multiplier = 0.00155517384, .exponents = dimension({.kilogram = 1})},
    {.name = "long ton", .symbol = "long ton", .multiplier = 1016.0469088000001,
     .exponents = dimension({.kilogram = 1})},
    {.name = "hundredweight", .symbol = "hundredweight", .multiplier = 45.359237,
     .exponents = dimension({.kilogram = 1})},
    {.name = "hundredweight (imperial)", .symbol = "hundredweight (imp)", .multiplier = 50.80234544,
     .exponents = dimension({.kilogram = 1})},
    {.name = "gill", .symbol = "gill", .multiplier = 0.00011829411824999999, .exponents = dimension({.meter = 3})},
    {.name = "gill (imperial)", .symbol = "gill (imp)", .multiplier = 0.0001420653125,
     .exponents = dimension({.meter = 3})},
    {.name = "chain", .symbol = "ch", .multiplier = 20.1168, .exponents = dimension({.meter = 1})},
    {.name = "rod", .symbol = "rod", .multiplier = 5.0292, .exponents = dimension({.meter = 1})},
    {.name = "poundal", .symbol = "pdl", .multiplier = 0.13825495437600002,
     .exponents = dimension({.kilogram = 1, .meter = 1, .second = -2})},
    {.name = "barye", .symbol = "Ba", .multiplier = 0.1,
     .exponents = dimension({.kilogram = 1, .meter = -1, .second = -2})},
    {.name = "kilogram force", .symbol = "kgf", .multiplier = 9.80665,
     .exponents = dimension({.kilogram = 1, .meter = 1, .second = -2})},
    {.name = "horsepower (metric)", .symbol = "PS", .multiplier = 735.49875,
     .exponents = dimension({.kilogram = 1, .meter = 2, .second = -3})},
    {.name = "link", .symbol = "li", .multiplier = 0.201168, .exponents = dimension({.meter = 1})},
};
static_assert(std::size(kUnits) == kUnitCount, "kUnitCount must count the rows of the unit table");

// Units are found by pointer arithmetic on the table, and the base units by their row.
constexpr bool base_units_lead_the_table() noexcept {
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        BaseExponents only{};
        only[i] = 1.0;
        if (kUnits[i].exponents != only || kUnits[i].multiplier != 1.0 || kUnits[i].offset != 0.0) return false;
    }
    return true;
}
static_assert(base_units_lead_the_table(), "rows 0 to 7 must be the base units, in BaseExponents order");

constexpr PrefixDef kPrefixes[] = {
    {.name = "kibi", .symbol = "Ki", .factor = 1024.0},
    {.name = "mebi", .symbol = "Mi", .factor = 1048576.0},
    {.name = "gibi", .symbol = "Gi", .factor = 1073741824.0},
    {.name = "tebi", .symbol = "Ti", .factor = 1099511627776.0},
    {.name = "pebi", .symbol = "Pi", .factor = 1125899906842624.0},
    {.name = "exbi", .symbol = "Ei", .factor = 1.152921504606847e+18},
    {.name = "zebi", .symbol = "Zi", .factor = 1.1805916207174113e+21},
    {.name = "yobi", .symbol = "Yi", .factor = 1.2089258196146292e+24},
    {.name = "quetta", .symbol = "Q", .factor = 1e+30},
    {.name = "ronna", .symbol = "R", .factor = 1e+27},
    {.name = "yotta", .symbol = "Y", .factor = 1e+24},
    {.name = "zetta", .symbol = "Z", .factor = 1e+21},
    {.name = "exa", .symbol = "E", .factor = 1e+18},
    {.name = "peta", .symbol = "P", .factor = 1000000000000000.0},
    {.name = "tera", .symbol = "T", .factor = 1000000000000.0},
    {.name = "giga", .symbol = "G", .factor = 1000000000.0},
    {.name = "mega", .symbol = "M", .factor = 1000000.0},
    {.name = "myria", .symbol = "myria", .factor = 10000.0},
    {.name = "kilo", .symbol = "k", .factor = 1000.0},
    {.name = "hecto", .symbol = "h", .factor = 100.0},
    {.name = "deca", .symbol = "da", .factor = 10.0},
    {.name = "deka", .symbol = "da", .factor = 10.0},
    {.name = "deci", .symbol = "d", .factor = 0.1},
    {.name = "centi", .symbol = "c", .factor = 0.01},
    {.name = "milli", .symbol = "m", .factor = 0.001},
    {.name = "micro", .symbol = "u", .factor = 1e-06},
    {.name = "nano", .symbol = "n", .factor = 1e-09},
    {.name = "pico", .symbol = "p", .factor = 1e-12},
    {.name = "femto", .symbol = "f", .factor = 1e-15},
    {.name = "atto", .symbol = "a", .factor = 1e-18},
    {.name = "zepto", .symbol = "z", .factor = 1e-21},
    {.name = "yocto", .symbol = "y", .factor = 1e-24},
    {.name = "ronto", .symbol = "r", .factor = 1e-27},
    {.name = "quecto", .symbol = "q", .factor = 1e-30},
};
static_assert(std::size(kPrefixes) == kPrefixCount, "kPrefixCount must count the rows of the prefix table");

constexpr UnitAlias kUnitAliases[] = {
    {.alias = "metre", .canonical = "meter"},
    {.alias = "deg", .canonical = "degree (angle)"},
    {.alias = "degree", .canonical = "degree (angle)"},
    {.alias = "da", .canonical = "day"},
    {.alias = "tropical year", .canonical = "year"},
    {.alias = "solar year", .canonical = "year"},
    {.alias = "common year", .canonical = "calendar year"},
    {.alias = "AU", .canonical = "astronomical unit"},
    {.alias = "micron", .canonical = "micrometer"},
    {.alias = "cc", .canonical = "milliliter"},
    {.alias = "deg C", .canonical = "degree Celsius"},
    {.alias = "deg F", .canonical = "degree Fahrenheit"},
    {.alias = "deg c", .canonical = "degree Celsius"},
    {.alias = "deg f", .canonical = "degree Fahrenheit"},
    {.alias = "rankine", .canonical = "Rankine"},
    {.alias = "Celsius", .canonical = "degree Celsius"},
    {.alias = "Fahrenheit", .canonical = "degree Fahrenheit"},
    {.alias = "celsius", .canonical = "degree Celsius"},
    {.alias = "fahrenheit", .canonical = "degree Fahrenheit"},
    {.alias = "statute mile", .canonical = "mile"},
    {.alias = "tolvat", .canonical = "tolvat (mass)"},
    {.alias = "speed of light", .canonical = "light speed"},
    {.alias = "lightspeed", .canonical = "light speed"},
    {.alias = "arc minute", .canonical = "minute (angle)"},
    {.alias = "arc second", .canonical = "second (angle)"},
    {.alias = "arc degree", .canonical = "degree (angle)"},
    {.alias = "dalton", .canonical = "unified atomic mass unit"},
    {.alias = "tonne", .canonical = "metric ton"},
    {.alias = "teacup", .canonical = "gill"},
    {.alias = "pole", .canonical = "rod"},
    {.alias = "perch", .canonical = "rod"},
    {.alias = "pound mass", .canonical = "pound"},
    {.alias = "pound-mass", .canonical = "pound"},
};
static_assert(std::size(kUnitAliases) == kUnitAliasCount, "kUnitAliasCount must count the rows of the alias table");

// An open-addressing index from a text to the first table row carrying it. The tables are
// fixed, so each index is built once, on first use, and only read afterwards; a lookup costs one
// hash of the text and, almost always, one comparison.
class TextIndex {
public:
    template <typename Row, std::size_t N>
    TextIndex(const Row (&rows)[N], std::string_view Row::*field) noexcept {
        slots_.fill(kEmpty);
        for (std::size_t i = 0; i < N; ++i) {
            const std::string_view key = rows[i].*field;
            std::size_t slot = hash(key) & kMask;
            bool seen = false;
            while (slots_[slot] != kEmpty) {
                if (keys_[slots_[slot]] == key) {
                    seen = true;  // an earlier row already holds this text and wins
                    break;
                }
                slot = (slot + 1) & kMask;
            }
            keys_[i] = key;
            if (!seen) slots_[slot] = static_cast<std::uint16_t>(i);
        }
    }

    // The row number of the first row whose text equals `text`, or -1.
    int find(std::string_view text) const noexcept {
        std::size_t slot = hash(text) & kMask;
        while (slots_[slot] != kEmpty) {
            if (keys_[slots_[slot]] == text) return slots_[slot];
            slot = (slot + 1) & kMask;
        }
        return -1;
    }

private:
    static constexpr std::size_t kSize = 512;  // a power of two, well above the largest table
    static constexpr std::size_t kMask = kSize - 1;
    static constexpr std::uint16_t kEmpty = 0xFFFF;

    static std::size_t hash(std::string_view text) noexcept {
        std::uint64_t h = 1469598103934665603ull;
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

    std::array<std::uint16_t, kSize> slots_;
    std::array<std::string_view, kSize> keys_;
};

const TextIndex& name_index() noexcept {
    static const TextIndex index(kUnits, &UnitDef::name);
    return index;
}
const TextIndex& symbol_index() noexcept {
    static const TextIndex index(kUnits, &UnitDef::symbol);
    return index;
}
const TextIndex& alias_index() noexcept {
    static const TextIndex index(kUnitAliases, &UnitAlias::alias);
    return index;
}

std::string_view apply_unit_alias(std::string_view text) noexcept {
    const int row = alias_index().find(text);
    return row < 0 ? text : kUnitAliases[row].canonical;
}

bool starts_with(std::string_view text, std::string_view head) noexcept {
    // Most prefixes fail on the first byte; test it before comparing the rest.
    if (head.empty()) return true;
    return text.size() >= head.size() && text[0] == head[0] &&
           std::memcmp(text.data() + 1, head.data() + 1, head.size() - 1) == 0;
}

}  // namespace

std::span<const UnitDef, kUnitCount> unit_table() noexcept { return std::span<const UnitDef, kUnitCount>(kUnits); }
std::span<const PrefixDef, kPrefixCount> prefix_table() noexcept {
    return std::span<const PrefixDef, kPrefixCount>(kPrefixes);
}
std::span<const UnitAlias, kUnitAliasCount> unit_alias_table() noexcept {
    return std::span<const UnitAlias, kUnitAliasCount>(kUnitAliases);
}

bool is_table_unit(const UnitDef* def) noexcept {
    const std::less<const UnitDef*> before;
    return !before(def, kUnits) && before(def, kUnits + kUnitCount);
}

bool is_table_prefix(const PrefixDef* prefix) noexcept {
    const std::less<const PrefixDef*> before;
    return !before(prefix, kPrefixes) && before(prefix, kPrefixes + kPrefixCount);
}

const UnitDef& base_unit(std::size_t dimension) noexcept { return kUnits[dimension]; }

const UnitDef* query_unit_names_internal(std::string_view text, bool apply_aliases) noexcept {
    if (apply_aliases) text = apply_unit_alias(text);
    const int row = name_index().find(text);
    return row < 0 ? nullptr : &kUnits[row];
}

const UnitDef* query_unit_symbols_internal(std::string_view text) noexcept {
    const int row = symbol_index().find(text);
    return row < 0 ? nullptr : &kUnits[row];
}

std::optional<SingleUnit> search_for_unit_name(std::string_view text) noexcept {
    text = apply_unit_alias(text);
    if (const UnitDef* row = query_unit_names_internal(text, false)) return SingleUnit(*row, nullptr);
    if (const UnitDef* row = query_unit_symbols_internal(text)) return SingleUnit(*row, nullptr);

    for (const PrefixDef& prefix : kPrefixes) {
        const UnitDef* row = nullptr;
        if (starts_with(text, prefix.name)) {
            row = query_unit_names_internal(text.substr(prefix.name.size()), true);
        } else if (starts_with(text, prefix.symbol)) {
            row = query_unit_symbols_internal(text.substr(prefix.symbol.size()));
        }
        if (row == nullptr) continue;
        // Affine units never take a prefix, and trying one ends the search.
        if (row->offset != 0.0) return std::nullopt;
        return SingleUnit(*row, &prefix);
    }
    return std::nullopt;
}

}  // namespace tolvat
