// One resolved unit (prefix already applied): texts, size, offset and dimension.
//
// A table unit is two pointers into the compiled-in tables, so copying one never allocates.
// A user-defined unit points at a reference-counted record that owns its texts; copies share
// it, and the count is atomic so copies may live on worker threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base_exponents.hpp"
#include "catalogue.hpp"

namespace tolvat {

// A text made of a prefix part and a unit part, without joining them in memory.
struct ComposedText {
    std::string_view head;
    std::string_view tail;

    std::size_t size() const noexcept { return head.size() + tail.size(); }
    void append_to(std::string& out) const {
        out.append(head);
        out.append(tail);
    }
    std::string str() const {
        std::string out;
        out.reserve(size());
        append_to(out);
        return out;
    }
    friend bool operator==(const ComposedText& a, const ComposedText& b) noexcept;
};

class SingleUnit {
public:
    // The unit of a row of the unit table, with a row of the prefix table or none; copying it
    // never allocates. A row from elsewhere gives a unit with its own copy of the row's texts and
    // numbers instead, so that no unit refers to a row the tables' caches do not cover.
    static SingleUnit create_from_unit_def_static(const UnitDef& row, const PrefixDef* prefix = nullptr) {
        if (is_table_unit(&row) && (prefix == nullptr || is_table_prefix(prefix))) return SingleUnit(row, prefix);
        return owned_copy(row, prefix);
    }
    // A user-defined unit with offset 0.0.
    static SingleUnit custom(std::string name, std::string symbol, double multiplier,
                             const BaseExponents& exponents);

    SingleUnit(const SingleUnit& other) noexcept : def_(other.def_), prefix_(other.prefix_) { retain(); }
    SingleUnit(SingleUnit&& other) noexcept : def_(other.def_), prefix_(other.prefix_) {
        other.def_ = nullptr;
    }
    SingleUnit& operator=(const SingleUnit& other) noexcept {
        if (this != &other) {
            other.retain();
            release();
            def_ = other.def_;
            prefix_ = other.prefix_;
        }
        return *this;
    }
    SingleUnit& operator=(SingleUnit&& other) noexcept {
        if (this != &other) {
            release();
            def_ = other.def_;
            prefix_ = other.prefix_;
            other.def_ = nullptr;
        }
        return *this;
    }
    ~SingleUnit() { release(); }

    ComposedText name() const noexcept {
        return prefix_ ? ComposedText{prefix_->name, def_->name} : ComposedText{{}, def_->name};
    }
    ComposedText symbol() const noexcept {
        return prefix_ ? ComposedText{prefix_->symbol, def_->symbol} : ComposedText{{}, def_->symbol};
    }
    double multiplier() const noexcept { return prefix_ ? def_->multiplier * prefix_->factor : def_->multiplier; }
    double offset() const noexcept { return prefix_ ? 0.0 : def_->offset; }
    // pow(multiplier(), p) as the C library computes it; pow(m, 1) = m and pow(1, p) = 1 are
    // exact and skip the call.
    double multiplier_power(double p) const noexcept;
    const BaseExponents& exponents() const noexcept { return def_->exponents; }

    bool is_custom() const noexcept { return def_ != nullptr && def_->user_defined; }
    // The table row and prefix (nullptr for none) of a table unit.
    const UnitDef& row() const noexcept { return *def_; }
    const PrefixDef* prefix() const noexcept { return prefix_; }

    // Equal only when every field is equal; a NaN field never compares equal. The same table row
    // with the same prefix is equal at once: its fields are the same and none of them is NaN.
    friend bool operator==(const SingleUnit& a, const SingleUnit& b) noexcept {
        if (a.def_ == b.def_ && a.prefix_ == b.prefix_ && !a.def_->user_defined) return true;
        return fields_equal(a, b);
    }

    // The very same unit: the same table row with the same prefix, or the same user-defined
    // record. Whoever keeps a unit to compare against later keeps the record alive with it, so
    // the same identity always means the same fields. With a hash of that identity.
    bool same_identity(const SingleUnit& other) const noexcept { return def_ == other.def_ && prefix_ == other.prefix_; }
    std::uint64_t identity_hash() const noexcept {
        return (reinterpret_cast<std::uintptr_t>(def_) * 0x9E3779B97F4A7C15ull) ^
               (reinterpret_cast<std::uintptr_t>(prefix_) * 0xC2B2AE3D27D4EB4Full);
    }

private:
    friend std::optional<SingleUnit> search_for_unit_name(std::string_view text) noexcept;
    // `row` is a table row or a user-defined record; `prefix` is a table row or nullptr.
    SingleUnit(const UnitDef& row, const PrefixDef* prefix) noexcept : def_(&row), prefix_(prefix) {}
    // A user-defined record holding the texts and numbers the unit of `row` and `prefix` has.
    static SingleUnit owned_copy(const UnitDef& row, const PrefixDef* prefix);

    // Only user-defined units are counted; table units are static and copying them is free.
    void retain() const noexcept {
        if (def_ != nullptr && def_->user_defined) retain_record();
    }
    void release() noexcept {
        if (def_ != nullptr && def_->user_defined) release_record();
        def_ = nullptr;
    }
    static bool fields_equal(const SingleUnit& a, const SingleUnit& b) noexcept;
    void retain_record() const noexcept;
    void release_record() noexcept;

    const UnitDef* def_;
    const PrefixDef* prefix_;
};

}  // namespace tolvat
