#include "catalogue.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>

#include "single_unit.hpp"

namespace tolvat {
namespace {

constexpr UnitDef kUnits[kUnitCount] = {
    {"USD", "USD", 0.0, 1.0, {1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"ampere", "A", 0.0, 1.0, {0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"candela", "cd", 0.0, 1.0, {0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"kelvin", "K", 0.0, 1.0, {0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0}},
    {"kilogram", "kg", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"meter", "m", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"mole", "mol", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0}},
    {"second", "s", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"gram", "g", 0.0, 0.001, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"radian", "rad", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"steradian", "sr", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"hertz", "Hz", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -1.0}},
    {"newton", "N", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, -2.0}},
    {"pascal", "Pa", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"joule", "J", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"watt", "W", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -3.0}},
    {"coulomb", "C", 0.0, 1.0, {0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"volt", "V", 0.0, 1.0, {0.0, -1.0, 0.0, 0.0, 1.0, 2.0, 0.0, -3.0}},
    {"farad", "F", 0.0, 1.0, {0.0, 2.0, 0.0, 0.0, -1.0, -2.0, 0.0, 4.0}},
    {"ohm", "Ω", 0.0, 1.0, {0.0, -2.0, 0.0, 0.0, 1.0, 2.0, 0.0, -3.0}},
    {"siemens", "S", 0.0, 1.0, {0.0, 2.0, 0.0, 0.0, -1.0, -2.0, 0.0, 3.0}},
    {"weber", "Wb", 0.0, 1.0, {0.0, -1.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"tesla", "T", 0.0, 1.0, {0.0, -1.0, 0.0, 0.0, 1.0, 0.0, 0.0, -2.0}},
    {"hour", "hr", 0.0, 3600.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"henry", "H", 0.0, 1.0, {0.0, -2.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"degree Celsius", "°C", -273.15, 1.0, {0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0}},
    {"lumen", "lm", 0.0, 1.0, {0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"lux", "lx", 0.0, 1.0, {0.0, 0.0, 1.0, 0.0, 0.0, -2.0, 0.0, 0.0}},
    {"becquerel", "Bq", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -1.0}},
    {"gray", "Gy", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, -2.0}},
    {"sievert", "Sv", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, -2.0}},
    {"katal", "kat", 0.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, -1.0}},
    {"minute", "min", 0.0, 60.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"day", "d", 0.0, 86400.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"degree (angle)", "°", 0.0, 0.017453292519943295, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"minute (angle)", "'", 0.0, 0.0002908882086657216, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"second (angle)", "''", 0.0, 4.84813681109536e-06, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"liter", "L", 0.0, 0.001, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"metric ton", "t", 0.0, 1000.0, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"electronvolt", "eV", 0.0, 1.602176634e-19, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"unified atomic mass unit", "amu", 0.0, 1.66053906892e-27, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"foot", "ft", 0.0, 0.3048, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"mile", "mi", 0.0, 1609.344, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"nautical mile", "nmi", 0.0, 1852.0, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"knot", "kn", 0.0, 0.5144444444444445, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, -1.0}},
    {"are", "are", 0.0, 100.0, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"bar", "bar", 0.0, 100000.0, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"angstrom", "Å", 0.0, 1e-10, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"barn", "b", 0.0, 1e-28, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"curie", "Ci", 0.0, 37000000000.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -1.0}},
    {"roentgen", "R", 0.0, 0.000258, {0.0, 1.0, 0.0, 0.0, -1.0, 0.0, 0.0, 1.0}},
    {"rem", "rem", 0.0, 0.01, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, -2.0}},
    {"pound", "lb", 0.0, 0.45359237, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"inch", "in", 0.0, 0.0254, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"yard", "yd", 0.0, 0.9144, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"pound-mol", "lbmol", 0.0, 453.59237, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0}},
    {"gallon", "gal", 0.0, 0.0037854117839999997, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"pound-force", "lbf", 0.0, 4.4482216152605, {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, -2.0}},
    {"grain", "gr", 0.0, 6.479891000000001e-05, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"slug", "slug", 0.0, 14.593903591998501, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"fluid ounce", "fl oz", 0.0, 2.9573529562499998e-05, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"quart", "qt", 0.0, 0.0009463529459999999, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"pint", "pt", 0.0, 0.00047317647299999996, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"cup", "cup", 0.0, 0.00023658823649999998, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"tablespoon", "tbsp", 0.0, 1.4786764781249999e-05, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"teaspoon", "tsp", 0.0, 4.92892159375e-06, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"ton", "ton", 0.0, 907.18474, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"ounce", "oz", 0.0, 0.028349523125, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"atmosphere", "atm", 0.0, 101325.0, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"torr", "torr", 0.0, 133.32236842105263, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"pounds per square inch", "psi", 0.0, 6894.757293168361, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"calorie", "cal", 0.0, 4.184, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"erg", "erg", 0.0, 1e-07, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"british thermal unit", "BTU", 0.0, 1054.35, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"horsepower", "hp", 0.0, 745.6998715822701, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -3.0}},
    {"Hartree", "hartree", 0.0, 4.359748199e-18, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"poise", "P", 0.0, 0.1, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -1.0}},
    {"Rankine", "°R", 0.0, 0.5555555555555556, {0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0}},
    {"degree Fahrenheit", "°F", -255.3722222222222, 0.5555555555555556, {0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0}},
    {"year", "y", 0.0, 31556925.9746784, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"week", "wk", 0.0, 604800.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"month", "mo", 0.0, 2629743.8312232, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"lightyear", "ly", 0.0, 9460730472580800.0, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"acre", "ac", 0.0, 4046.8564224, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"hectare", "ha", 0.0, 10000.0, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"carat", "ct", 0.0, 0.0002, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"watt hour", "Wh", 0.0, 3600.0, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -2.0}},
    {"cent", "¢", 0.0, 0.01, {1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    {"darcy", "d", 0.0, 9.869233e-13, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"dyne", "dyn", 0.0, 1e-05, {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, -2.0}},
    {"astronomical unit", "ua", 0.0, 149597870700.0, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"sidereal year", "syr", 0.0, 31558149.7635456, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"anomalistic year", "ayr", 0.0, 31558432.5504, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"decade", "decade", 0.0, 315569259.74678403, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"century", "century", 0.0, 3155692597.46784, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"millennium", "millenium", 0.0, 31556925974.678402, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"calendar year", "calendar year", 0.0, 31536000.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"leap year", "leap year", 0.0, 31622400.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"julian year", "julian year", 0.0, 31557600.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"gregorian year", "gregorian year", 0.0, 31556952.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"parsec", "pc", 0.0, 3.085677581491367e+16, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"meter of mercury", "mHg", 0.0, 133322.387415, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"inch of mercury", "inHg", 0.0, 3386.389, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"tolvat (vol)", "tlvtv", 0.0, 0.034068706056, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"tolvat (mass)", "tlvtm", 0.0, 40.8233133, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"furlong", "flg", 0.0, 201.168, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"fortnight", "ftnt", 0.0, 1209600.0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"outhouse", "ouths", 0.0, 1e-34, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"shed", "shed", 0.0, 1e-52, {0.0, 0.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
    {"martian sol", "sol", 0.0, 88775.244, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"jiffy", "jfy", 0.0, 0.01, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0}},
    {"light speed", "c", 0.0, 299792458.0, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, -1.0}},
    {"fluid ounce (food)", "fl oz (food)", 0.0, 3e-05, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"fluid ounce (imperial)", "fl oz (imp)", 0.0, 2.8413062499999998e-05, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"pint (imperial)", "pt (imp)", 0.0, 0.00056826125, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"pint (dry)", "pt (dry)", 0.0, 0.0005506104713575, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"quart (imperial)", "qt (imp)", 0.0, 0.0011365225, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"quart (dry)", "qt (dry)", 0.0, 0.001101220942715, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"gallon (imperial)", "gal (imp)", 0.0, 0.00454609, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"survey foot", "survey ft", 0.0, 0.3048006096012192, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"stone", "st", 0.0, 6.35029318, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"troy ounce", "oz t", 0.0, 0.031103476800000005, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"troy pound", "lb t", 0.0, 0.3732417216, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"pennyweight", "dwt", 0.0, 0.00155517384, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"long ton", "long ton", 0.0, 1016.0469088000001, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"hundredweight", "hundredweight", 0.0, 45.359237, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"hundredweight (imperial)", "hundredweight (imp)", 0.0, 50.80234544, {0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
    {"gill", "gill", 0.0, 0.00011829411824999999, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"gill (imperial)", "gill (imp)", 0.0, 0.0001420653125, {0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 0.0, 0.0}},
    {"chain", "ch", 0.0, 20.1168, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"rod", "rod", 0.0, 5.0292, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
    {"poundal", "pdl", 0.0, 0.13825495437600002, {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, -2.0}},
    {"barye", "Ba", 0.0, 0.1, {0.0, 0.0, 0.0, 0.0, 1.0, -1.0, 0.0, -2.0}},
    {"kilogram force", "kgf", 0.0, 9.80665, {0.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, -2.0}},
    {"horsepower (metric)", "PS", 0.0, 735.49875, {0.0, 0.0, 0.0, 0.0, 1.0, 2.0, 0.0, -3.0}},
    {"link", "li", 0.0, 0.201168, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0}},
};

constexpr PrefixDef kPrefixes[kPrefixCount] = {
    {"kibi", "Ki", 1024.0},
    {"mebi", "Mi", 1048576.0},
    {"gibi", "Gi", 1073741824.0},
    {"tebi", "Ti", 1099511627776.0},
    {"pebi", "Pi", 1125899906842624.0},
    {"exbi", "Ei", 1.152921504606847e+18},
    {"zebi", "Zi", 1.1805916207174113e+21},
    {"yobi", "Yi", 1.2089258196146292e+24},
    {"quetta", "Q", 1e+30},
    {"ronna", "R", 1e+27},
    {"yotta", "Y", 1e+24},
    {"zetta", "Z", 1e+21},
    {"exa", "E", 1e+18},
    {"peta", "P", 1000000000000000.0},
    {"tera", "T", 1000000000000.0},
    {"giga", "G", 1000000000.0},
    {"mega", "M", 1000000.0},
    {"myria", "myria", 10000.0},
    {"kilo", "k", 1000.0},
    {"hecto", "h", 100.0},
    {"deca", "da", 10.0},
    {"deka", "da", 10.0},
    {"deci", "d", 0.1},
    {"centi", "c", 0.01},
    {"milli", "m", 0.001},
    {"micro", "u", 1e-06},
    {"nano", "n", 1e-09},
    {"pico", "p", 1e-12},
    {"femto", "f", 1e-15},
    {"atto", "a", 1e-18},
    {"zepto", "z", 1e-21},
    {"yocto", "y", 1e-24},
    {"ronto", "r", 1e-27},
    {"quecto", "q", 1e-30},
};

constexpr UnitAlias kUnitAliases[kUnitAliasCount] = {
    {"metre", "meter"},
    {"deg", "degree (angle)"},
    {"degree", "degree (angle)"},
    {"da", "day"},
    {"tropical year", "year"},
    {"solar year", "year"},
    {"common year", "calendar year"},
    {"AU", "astronomical unit"},
    {"micron", "micrometer"},
    {"cc", "milliliter"},
    {"deg C", "degree Celsius"},
    {"deg F", "degree Fahrenheit"},
    {"deg c", "degree Celsius"},
    {"deg f", "degree Fahrenheit"},
    {"rankine", "Rankine"},
    {"Celsius", "degree Celsius"},
    {"Fahrenheit", "degree Fahrenheit"},
    {"celsius", "degree Celsius"},
    {"fahrenheit", "degree Fahrenheit"},
    {"statute mile", "mile"},
    {"tolvat", "tolvat (mass)"},
    {"speed of light", "light speed"},
    {"lightspeed", "light speed"},
    {"arc minute", "minute (angle)"},
    {"arc second", "second (angle)"},
    {"arc degree", "degree (angle)"},
    {"dalton", "unified atomic mass unit"},
    {"tonne", "metric ton"},
    {"teacup", "gill"},
    {"pole", "rod"},
    {"perch", "rod"},
    {"pound mass", "pound"},
    {"pound-mass", "pound"},
};

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
