// The one error value of the core, and a small expected-style result.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tolvat {

enum class ErrorKind {
    UnitNotFound,
    LogUnitNotFound,
    ConstantNotFound,
    IncompatibleUnits,
    NotCoercibleToUnit,
    NotCoercibleToNumber,
    // A unit raised to a NaN or infinite power: no unit has such a power. Raised as ValueError.
    NonFinitePower,
    // A result whose unit powers or dimension leave the range of a double. Raised as ValueError.
    PowerOverflow,
    // A unit raised to an array of powers: the units would differ per element. Raised as
    // TypeError, as the power operator raises it.
    ArrayExponent,
    // Not a user-facing kind: a consistency failure of the unit algebra. The binding raises
    // it as an exception deriving directly from BaseException.
    Internal,
};

struct Error {
    ErrorKind kind;
    std::string first;
    std::string second;  // only IncompatibleUnits and NonFinitePower use it

    static Error unit_not_found(std::string text) { return {ErrorKind::UnitNotFound, std::move(text), {}}; }
    static Error log_unit_not_found(std::string text) {
        return {ErrorKind::LogUnitNotFound, std::move(text), {}};
    }
    static Error constant_not_found(std::string text) {
        return {ErrorKind::ConstantNotFound, std::move(text), {}};
    }
    static Error incompatible(std::string first, std::string second) {
        return {ErrorKind::IncompatibleUnits, std::move(first), std::move(second)};
    }
    static Error non_finite_power(std::string unit_text, std::string power_text) {
        return {ErrorKind::NonFinitePower, std::move(unit_text), std::move(power_text)};
    }
    // `operation` names the operands and the operator ("[m1e300] ** 1e300"), or the units.
    static Error power_overflow(std::string operation) { return {ErrorKind::PowerOverflow, std::move(operation), {}}; }
    static Error array_exponent(std::string unit_text) { return {ErrorKind::ArrayExponent, std::move(unit_text), {}}; }
    static Error internal(std::string message) { return {ErrorKind::Internal, std::move(message), {}}; }

    // The text the user sees.
    std::string message() const;
};

// Either a value or an error (an Error unless said otherwise). Deliberately tiny: has_value /
// value / error, and nothing throws.
template <typename T, typename E = Error>
class [[nodiscard]] Expected {
public:
    Expected(T value) : data_(std::in_place_index<0>, std::move(value)) {}
    Expected(E error) : data_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return data_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & noexcept { return *std::get_if<0>(&data_); }
    const T& value() const& noexcept { return *std::get_if<0>(&data_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&data_)); }
    T& operator*() & noexcept { return value(); }
    const T& operator*() const& noexcept { return value(); }
    T* operator->() noexcept { return &value(); }
    const T* operator->() const noexcept { return &value(); }

    E& error() & noexcept { return *std::get_if<1>(&data_); }
    const E& error() const& noexcept { return *std::get_if<1>(&data_); }
    E&& error() && noexcept { return std::move(*std::get_if<1>(&data_)); }

private:
    std::variant<T, E> data_;
};

// Result of an operation that yields nothing on success.
struct Done {};
using Status = Expected<Done>;

}  // namespace tolvat
