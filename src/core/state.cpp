#include "state.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "catalogue.hpp"
#include "single_unit.hpp"
#include "unit_collection.hpp"

namespace tolvat {
namespace {

// Entry tags: the kind in bits 0-1, how the power is written in bits 2-3, in bit 4 whether a
// custom unit's offset is written (units that custom() makes have none), nothing above.
constexpr unsigned kTableEntry = 0;
constexpr unsigned kCustomEntry = 1;
constexpr unsigned kPowerWritten = 0 << 2;
constexpr unsigned kPowerOne = 1 << 2;
constexpr unsigned kPowerMinusOne = 2 << 2;
constexpr unsigned kKindMask = 3;
constexpr unsigned kPowerMask = 3 << 2;
constexpr unsigned kOffsetWritten = 1 << 4;

// The smallest entry: a tag, a one-byte row and the prefix byte.
constexpr std::size_t kSmallestEntry = 3;

// A multiplier drifts from a fresh computation by a rounding per arithmetic step; anything
// further off was not made by arithmetic.
constexpr double kDrift = 1e-9;

std::uint64_t bits_of(double x) noexcept { return std::bit_cast<std::uint64_t>(x); }

unsigned power_code(double power) noexcept {
    if (bits_of(power) == bits_of(1.0)) return kPowerOne;
    if (bits_of(power) == bits_of(-1.0)) return kPowerMinusOne;
    return kPowerWritten;
}

std::size_t varint_size(std::uint64_t n) noexcept {
    std::size_t size = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++size;
    }
    return size;
}

// The mask of the components that are written: every one whose bits are not those of +0.0.
unsigned dimension_mask(const BaseExponents& e) noexcept {
    unsigned mask = 0;
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (bits_of(e[i]) != 0) mask |= 1u << i;
    }
    return mask;
}

std::size_t dimension_size(const BaseExponents& e) noexcept {
    return 1 + 8 * static_cast<std::size_t>(std::popcount(dimension_mask(e)));
}

struct Writer {
    unsigned char* out;

    void byte(unsigned b) noexcept { *out++ = static_cast<unsigned char>(b); }
    void number(double x) noexcept {
        std::uint64_t bits = bits_of(x);
        for (int i = 0; i < 8; ++i, bits >>= 8) byte(static_cast<unsigned>(bits & 0xFF));
    }
    void varint(std::uint64_t n) noexcept {
        while (n >= 0x80) {
            byte(static_cast<unsigned>(n & 0x7F) | 0x80);
            n >>= 7;
        }
        byte(static_cast<unsigned>(n));
    }
    void text(std::string_view head, std::string_view tail) noexcept {
        varint(head.size() + tail.size());
        for (char c : head) byte(static_cast<unsigned char>(c));
        for (char c : tail) byte(static_cast<unsigned char>(c));
    }
    void dimension(const BaseExponents& e) noexcept {
        const unsigned mask = dimension_mask(e);
        byte(mask);
        for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
            if (mask & (1u << i)) number(e[i]);
        }
    }
};

class Reader {
public:
    explicit Reader(std::string_view state) noexcept : at_(state.data()), end_(state.data() + state.size()) {}

    std::size_t left() const noexcept { return static_cast<std::size_t>(end_ - at_); }
    bool byte(unsigned& b) noexcept {
        if (at_ == end_) return false;
        b = static_cast<unsigned char>(*at_++);
        return true;
    }
    bool number(double& x) noexcept {
        if (left() < 8) return false;
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= std::uint64_t{static_cast<unsigned char>(at_[i])} << (8 * i);
        at_ += 8;
        x = std::bit_cast<double>(bits);
        return true;
    }
    // An unsigned number of at most 63 bits, written in as few bytes as it needs.
    bool varint(std::uint64_t& n) noexcept {
        n = 0;
        for (int shift = 0; shift < 63; shift += 7) {
            unsigned b;
            if (!byte(b)) return false;
            n |= std::uint64_t{b & 0x7F} << shift;
            if ((b & 0x80) == 0) return b != 0 || shift == 0;  // no needless trailing zero byte
        }
        return false;
    }
    bool text(std::string_view& out) noexcept {
        std::uint64_t size;
        if (!varint(size) || size > left()) return false;
        out = std::string_view(at_, static_cast<std::size_t>(size));
        at_ += size;
        return true;
    }
    bool dimension(BaseExponents& e) noexcept {
        unsigned mask;
        if (!byte(mask)) return false;
        for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
            e[i] = 0.0;
            if (mask & (1u << i)) {
                if (!number(e[i])) return false;
                if (bits_of(e[i]) == 0) written_zero_ = true;
            }
        }
        return true;
    }
    // Some dimension wrote a +0.0 component, which a writer leaves out: the state is not one that
    // writing produces.
    bool wrote_a_zero() const noexcept { return written_zero_; }

private:
    const char* at_;
    const char* end_;
    bool written_zero_ = false;
};

StateError problem(std::string message) { return StateError{std::move(message)}; }
StateError cut_short() { return problem("it ends too early"); }
StateError unknown_format(unsigned format, bool arrays = true) {
    if (!arrays) {
        return problem("format " + std::to_string(format) + " is unknown (this version reads format " +
                       std::to_string(kStateFormat) + ")");
    }
    return problem("format " + std::to_string(format) + " is unknown (this version reads formats " +
                   std::to_string(kStateFormat) + " and " + std::to_string(kArrayStateFormat) + ")");
}

// Strict UTF-8: shortest forms only, no surrogate halves, nothing beyond U+10FFFF.
bool valid_utf8(std::string_view text) noexcept {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) low = 0xA0;
            if (b0 == 0xED) high = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) low = 0x90;
            if (b0 == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length) return false;
        const auto b1 = static_cast<unsigned char>(text[i + 1]);
        if (b1 < low || b1 > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// True when `carried` is `fresh`, or what arithmetic could have drifted `fresh` into.
bool within_drift(double carried, double fresh) noexcept {
    if (bits_of(carried) == bits_of(fresh)) return true;
    if (std::isnan(carried) || std::isnan(fresh)) return std::isnan(carried) && std::isnan(fresh);
    if (!std::isfinite(carried) || !std::isfinite(fresh)) return carried == fresh;
    return std::fabs(carried - fresh) <=
           kDrift * std::max({std::numeric_limits<double>::min(), std::fabs(carried), std::fabs(fresh)});
}

// Whether the summaries a collection carries belong to its entries: nothing when they do, or the
// one that does not.
const char* foreign_summary(const UnitEntries& units, const BaseExponents& exponents, double multiplier) noexcept {
    // The same products and sums, in the same order, as from_entries.
    double product = 1.0;
    BaseExponents sum{};
    for (const UnitEntry& entry : units) {
        product *= entry.unit.multiplier_power(entry.power);
        const BaseExponents& e = entry.unit.exponents();
        for (std::size_t i = 0; i < kBaseDimensionCount; ++i) sum[i] += entry.power * e[i];
    }
    // The dimension must be the sum exactly (NaN matching NaN), as simplification demands; a
    // collection whose dimension drifted cannot be simplified, so it is not written either.
    for (std::size_t i = 0; i < kBaseDimensionCount; ++i) {
        if (!(exponents[i] == sum[i]) && !(std::isnan(exponents[i]) && std::isnan(sum[i]))) return "dimension";
    }
    if (!within_drift(multiplier, product)) return "multiplier";
    return nullptr;
}

StateError foreign(const char* what) {
    return problem(std::string("its ") + what + " does not belong to its units");
}

std::string unit_name(const SingleUnit& unit) { return unit.name().str(); }

Expected<UnitEntry, StateError> read_entry(Reader& in) {
    unsigned tag;
    if (!in.byte(tag)) return cut_short();
    if ((tag & ~(kKindMask | kPowerMask | kOffsetWritten)) != 0 || (tag & kKindMask) > kCustomEntry ||
        (tag & kPowerMask) > kPowerMinusOne || ((tag & kOffsetWritten) && (tag & kKindMask) != kCustomEntry)) {
        return problem("an entry has the unknown tag " + std::to_string(tag));
    }
    std::optional<SingleUnit> unit;
    if ((tag & kKindMask) == kTableEntry) {
        std::uint64_t row;
        unsigned prefix;
        if (!in.varint(row) || !in.byte(prefix)) return cut_short();
        if (row >= kUnitCount) return problem("unit row " + std::to_string(row) + " does not exist");
        if (prefix > kPrefixCount) return problem("prefix row " + std::to_string(prefix - 1) + " does not exist");
        unit = SingleUnit::create_from_unit_def_static(unit_table()[static_cast<std::size_t>(row)],
                                                       prefix == 0 ? nullptr : &prefix_table()[prefix - 1]);
    } else {
        UnitDef def{};
        if (!in.text(def.name) || !in.text(def.symbol) || !in.number(def.multiplier) ||
            ((tag & kOffsetWritten) && !in.number(def.offset)) || !in.dimension(def.exponents)) {
            return cut_short();
        }
        if (!valid_utf8(def.name) || !valid_utf8(def.symbol)) {
            return problem("a custom unit's name or symbol is not UTF-8");
        }
        // A row from outside the tables: the unit gets its own copy of the texts.
        unit = SingleUnit::create_from_unit_def_static(def);
    }
    double power = 1.0;
    switch (tag & kPowerMask) {
        case kPowerMinusOne: power = -1.0; break;
        case kPowerWritten:
            if (!in.number(power)) return cut_short();
            break;
        default: break;
    }
    return UnitEntry{std::move(*unit), power};
}

}  // namespace

Expected<std::size_t, StateError> state_size(const Quantity& quantity) {
    const UnitCollection& unit = quantity.unit;
    if (unit.size() > kMaxStateEntries) {
        return problem("it has " + std::to_string(unit.size()) + " units, more than the " +
                       std::to_string(kMaxStateEntries) + " a state holds");
    }
    if (const char* what = foreign_summary(unit.units(), unit.exponents(), unit.multiplier())) {
        return problem(std::string("its ") + what +
                       " no longer matches its units (rounding or an overflow on the way)");
    }
    std::size_t size = 1 + 8 + 8 + dimension_size(unit.exponents()) + varint_size(unit.size());
    for (const UnitEntry& entry : unit.units()) {
        size += 1;
        if (entry.unit.is_custom()) {
            const std::size_t name = entry.unit.name().size(), symbol = entry.unit.symbol().size();
            size += varint_size(name) + name + varint_size(symbol) + symbol + 8 + dimension_size(entry.unit.exponents());
            if (bits_of(entry.unit.offset()) != 0) size += 8;
        } else {
            size += varint_size(static_cast<std::uint64_t>(&entry.unit.row() - unit_table().data())) + 1;
        }
        if (power_code(entry.power) == kPowerWritten) size += 8;
    }
    return size;
}

void write_state(const Quantity& quantity, unsigned char* out, std::uint8_t format) noexcept {
    const UnitCollection& unit = quantity.unit;
    Writer w{out};
    w.byte(format);
    w.number(quantity.value);
    w.number(unit.multiplier());
    w.dimension(unit.exponents());
    w.varint(unit.size());
    for (const UnitEntry& entry : unit.units()) {
        const SingleUnit& u = entry.unit;
        const unsigned code = power_code(entry.power);
        if (u.is_custom()) {
            const bool offset = bits_of(u.offset()) != 0;
            w.byte(kCustomEntry | code | (offset ? kOffsetWritten : 0));
            w.text(u.name().head, u.name().tail);
            w.text(u.symbol().head, u.symbol().tail);
            w.number(u.multiplier());
            if (offset) w.number(u.offset());
            w.dimension(u.exponents());
        } else {
            w.byte(kTableEntry | code);
            w.varint(static_cast<std::uint64_t>(&u.row() - unit_table().data()));
            w.byte(u.prefix() == nullptr ? 0 : static_cast<unsigned>(u.prefix() - prefix_table().data()) + 1);
        }
        if (code == kPowerWritten) w.number(entry.power);
    }
}

Expected<std::string, StateError> encode_state(const Quantity& quantity) {
    Expected<std::size_t, StateError> size = state_size(quantity);
    if (!size) return std::move(size).error();
    std::string out(*size, '\0');
    write_state(quantity, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

Expected<Quantity, StateError> decode_state(std::string_view state, std::uint8_t expected_format) {
    Reader in(state);
    unsigned format;
    if (!in.byte(format)) return problem("it is empty");
    if (format != expected_format) {
        if (format == kArrayStateFormat) return problem("format 2 describes a quantity over an array, given without its array");
        if (format == kStateFormat) return problem("format 1 describes a quantity of one value, given with an array");
        return unknown_format(format);
    }
    double value, multiplier;
    BaseExponents exponents;
    std::uint64_t count;
    if (!in.number(value) || !in.number(multiplier) || !in.dimension(exponents) || !in.varint(count)) {
        return cut_short();
    }
    if (count > kMaxStateEntries) {
        return problem("it claims " + std::to_string(count) + " units, more than the " +
                       std::to_string(kMaxStateEntries) + " a state holds");
    }
    if (count * kSmallestEntry > in.left()) return cut_short();
    UnitEntries units;
    units.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t k = 0; k < count; ++k) {
        Expected<UnitEntry, StateError> entry = read_entry(in);
        if (!entry) return std::move(entry).error();
        for (const UnitEntry& earlier : units) {
            if (earlier.unit == entry->unit) return problem("the unit '" + unit_name(earlier.unit) + "' appears twice");
        }
        units.emplace_back(std::move(entry).value());
    }
    if (in.left() != 0) return problem(std::to_string(in.left()) + " bytes follow its end");
    if (in.wrote_a_zero()) return problem("a dimension writes out a +0.0 component");
    if (const char* what = foreign_summary(units, exponents, multiplier)) return foreign(what);
    // No operation makes units whose powers overflow (nor would simplifying them work).
    if (!exponents_finite(exponents)) return problem("its units' powers overflow");
    return Quantity{UnitCollection::with_summaries(std::move(units), exponents, multiplier), value};
}

void write_log_state(const LogQuantity& quantity, unsigned char* out) noexcept {
    Writer w{out};
    w.byte(kStateFormat);
    w.byte(static_cast<unsigned>(quantity.unit - log_unit_table().data()));
    w.number(quantity.value);
}

Expected<LogQuantity, StateError> decode_log_state(std::string_view state) {
    Reader in(state);
    unsigned format, row;
    double value;
    if (!in.byte(format)) return problem("it is empty");
    if (format != kStateFormat) return unknown_format(format, false);
    if (!in.byte(row) || !in.number(value)) return cut_short();
    if (row >= kLogUnitCount) return problem("logarithmic unit row " + std::to_string(row) + " does not exist");
    if (in.left() != 0) return problem(std::to_string(in.left()) + " bytes follow its end");
    return LogQuantity{&log_unit_table()[row], value};
}

}  // namespace tolvat
