#include "single_unit.hpp"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>

namespace tolvat {
namespace {

struct CustomUnitRecord : UnitDef {
    CustomUnitRecord(std::string name, std::string symbol, double offset, double multiplier,
                     const BaseExponents& exponents)
        : UnitDef{.offset = offset, .multiplier = multiplier, .exponents = exponents, .user_defined = true},
          name_text(std::move(name)),
          symbol_text(std::move(symbol)) {
        this->name = name_text;
        this->symbol = symbol_text;
    }
    mutable std::atomic<long> refs{1};
    std::string name_text;
    std::string symbol_text;
};

// Powers of table units by small whole exponents, which unit algebra produces over and over
// (squares, cubes, inverses): one slot per unit row, prefix (or none) and exponent, filled on
// first use. pow is a pure function, so threads that fill a slot at once store the same bits; a
// zero slot is empty (a result of +0.0 is simply never remembered).
constexpr int kMaxRememberedPower = 4;
constexpr std::size_t kPowerSlots = 2 * kMaxRememberedPower + 1;
std::atomic<std::uint64_t> g_table_powers[kUnitCount][kPrefixCount + 1][kPowerSlots];

}  // namespace

double SingleUnit::multiplier_power(double p) const noexcept {
    const double m = multiplier();
    if (p == 1.0) return m;
    if (m == 1.0) return 1.0;
    if (!def_->user_defined && p >= -kMaxRememberedPower && p <= kMaxRememberedPower &&
        p == static_cast<double>(static_cast<int>(p))) {
        const std::size_t row = static_cast<std::size_t>(def_ - unit_table().data());
        const std::size_t prefix = prefix_ ? static_cast<std::size_t>(prefix_ - prefix_table().data()) + 1 : 0;
        std::atomic<std::uint64_t>& slot =
            g_table_powers[row][prefix][static_cast<std::size_t>(static_cast<int>(p) + kMaxRememberedPower)];
        const std::uint64_t bits = slot.load(std::memory_order_relaxed);
        if (bits != 0) return std::bit_cast<double>(bits);
        const double result = std::pow(m, p);
        slot.store(std::bit_cast<std::uint64_t>(result), std::memory_order_relaxed);
        return result;
    }
    return std::pow(m, p);
}

bool operator==(const ComposedText& a, const ComposedText& b) noexcept {
    if (a.size() != b.size()) return false;
    if (a.head.size() == b.head.size()) return a.head == b.head && a.tail == b.tail;
    // Different split points: compare byte by byte across the seams.
    auto at = [](const ComposedText& t, std::size_t i) {
        return i < t.head.size() ? t.head[i] : t.tail[i - t.head.size()];
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (at(a, i) != at(b, i)) return false;
    }
    return true;
}

SingleUnit SingleUnit::owned_copy(const UnitDef& row, const PrefixDef* prefix) {
    // The texts and numbers as name(), symbol(), offset() and multiplier() give them.
    std::string name(row.name);
    std::string symbol(row.symbol);
    if (prefix != nullptr) {
        name.insert(0, prefix->name);
        symbol.insert(0, prefix->symbol);
    }
    auto* record = new CustomUnitRecord(std::move(name), std::move(symbol), prefix ? 0.0 : row.offset,
                                        prefix ? row.multiplier * prefix->factor : row.multiplier, row.exponents);
    // The constructor does not retain; the record starts with one reference, the unit's.
    return SingleUnit(*record, nullptr);
}

SingleUnit SingleUnit::custom(std::string name, std::string symbol, double multiplier,
                              const BaseExponents& exponents) {
    auto* record = new CustomUnitRecord(std::move(name), std::move(symbol), 0.0, multiplier, exponents);
    // The constructor does not retain; the record starts with one reference, the unit's.
    return SingleUnit(*record, nullptr);
}

void SingleUnit::retain_record() const noexcept {
    static_cast<const CustomUnitRecord*>(def_)->refs.fetch_add(1, std::memory_order_relaxed);
}

void SingleUnit::release_record() noexcept {
    auto* record = const_cast<CustomUnitRecord*>(static_cast<const CustomUnitRecord*>(def_));
    if (record->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete record;
}

bool SingleUnit::fields_equal(const SingleUnit& a, const SingleUnit& b) noexcept {
    if (!(a.multiplier() == b.multiplier()) || !(a.offset() == b.offset())) return false;
    if (!exponents_equal(a.exponents(), b.exponents())) return false;
    if (a.def_ == b.def_ && a.prefix_ == b.prefix_) return true;
    return a.name() == b.name() && a.symbol() == b.symbol();
}

}  // namespace tolvat
