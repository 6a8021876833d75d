#include "error.hpp"

namespace tolvat {

std::string Error::message() const {
    switch (kind) {
        case ErrorKind::UnitNotFound:
            return "Unit " + first + " not found";
        case ErrorKind::LogUnitNotFound:
            return "Logarithmic ratio unit " + first + " not found";
        case ErrorKind::ConstantNotFound:
            return "Constant " + first + " not found";
        case ErrorKind::IncompatibleUnits:
            return first + " and " + second + " are not compatible";
        case ErrorKind::NotCoercibleToUnit:
            return first + " cannot be coerced into a unit";
        case ErrorKind::NotCoercibleToNumber:
            return first + " cannot be coerced into a number";
        case ErrorKind::NonFinitePower:
            return "cannot raise " + first + " to a non-finite power " + second;
        case ErrorKind::PowerOverflow:
            return "unit power overflow: " + first;
        case ErrorKind::ArrayExponent:
            return "cannot raise " + first + " to an array of powers: the units would differ per element; "
                   "use one number as the exponent, or q.as_number(unit) ** array";
        case ErrorKind::Internal:
            return first;
    }
    return first;
}

}  // namespace tolvat
