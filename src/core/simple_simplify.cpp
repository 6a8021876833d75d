#include "simple_simplify.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "number_text.hpp"
#include "render.hpp"

namespace tolvat {

namespace {

enum class Relation : unsigned char { None, Equal, Inverse };

// Entries are grouped into classes of equal dimension so that the repeated scans compare small
// integers instead of eight doubles per pair.
struct DimensionClasses {
    SmallVector<std::uint32_t, 8> of_entry;    // class of each entry
    SmallVector<std::uint32_t, 8> inverse_of;  // class whose dimension is the exact inverse, or none

    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

    explicit DimensionClasses(const UnitEntries& units) {
        SmallVector<std::uint32_t, 8> representative;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const BaseExponents& e = units[i].unit.exponents();
            std::uint32_t found = kNone;
            for (std::uint32_t c = 0; c < representative.size(); ++c) {
                if (exponents_equal(units[representative[c]].unit.exponents(), e)) {
                    found = c;
                    break;
                }
            }
            if (found == kNone) {
                found = static_cast<std::uint32_t>(representative.size());
                representative.push_back(static_cast<std::uint32_t>(i));
            }
            of_entry.push_back(found);
        }
        for (std::uint32_t c = 0; c < representative.size(); ++c) {
            std::uint32_t inverse = kNone;
            for (std::uint32_t d = 0; d < representative.size(); ++d) {
                if (exponents_inverse(units[representative[c]].unit.exponents(),
                                      units[representative[d]].unit.exponents())) {
                    inverse = d;
                    break;
                }
            }
            inverse_of.push_back(inverse);
        }
    }

    Relation relation(std::size_t a, std::size_t b) const noexcept {
        const std::uint32_t ca = of_entry[a];
        const std::uint32_t cb = of_entry[b];
        if (ca == cb) return Relation::Equal;
        if (inverse_of[ca] == cb) return Relation::Inverse;
        return Relation::None;
    }
};

// New powers of a merging pair, or false when the pair does not merge. A merge always brings one
// of the two to exactly zero; with infinite powers it cannot, and such a pair is left alone so
// that every merge removes an entry and the scan ends.
bool merge_pair(Relation relation, double a, double b, double& new_a, double& new_b) noexcept {
    const bool a_negative = std::signbit(a);
    const bool b_negative = std::signbit(b);
    if (relation == Relation::Equal) {
        if (!a_negative && b_negative) {
            const double t = std::fmin(a, std::fabs(b));
            new_a = a - t;
            new_b = b + t;
        } else if (a_negative && !b_negative) {
            const double t = std::fmin(std::fabs(a), b);
            new_a = a + t;
            new_b = b - t;
        } else {
            return false;
        }
    } else if (relation == Relation::Inverse) {
        if (a_negative != b_negative) return false;
        const double t = std::fmin(a, b);
        new_a = a - t;
        new_b = b - t;
    } else {
        return false;
    }
    return new_a == 0.0 || new_b == 0.0;
}

}  // namespace

SimpleSimplifyKind simple_simplify_kind(const UnitCollection& unit, double& multiplier,
                                         BaseExponents& exponents) noexcept {
    const UnitEntries& units = unit.units();
    const std::size_t n = units.size();
    multiplier = 1.0;
    exponents = BaseExponents{};
    if (n == 1 && units[0].power == 1.0) {
        // The loop below for a lone unit at power 1, which has no pair to test and whose sums
        // the compiler folds.
        add_to_summaries(units[0].unit, 1.0, multiplier, exponents);
        if (!exponents_equal(exponents, unit.exponents())) return SimpleSimplifyKind::Drifts;
        return multiplier == unit.multiplier() ? SimpleSimplifyKind::Keeps : SimpleSimplifyKind::Resums;
    }
    // Summed in locals, which the compiler keeps in registers, then handed out.
    double product = 1.0;
    BaseExponents sum{};
    for (std::size_t i = 0; i < n; ++i) {
        const SingleUnit& a = units[i].unit;
        const double p = units[i].power;
        for (std::size_t j = i + 1; j < n; ++j) {
            const SingleUnit& b = units[j].unit;
            const bool same_sign = std::signbit(p) == std::signbit(units[j].power);
            if (!same_sign && exponents_equal(a.exponents(), b.exponents())) return SimpleSimplifyKind::Merges;
            if (same_sign && exponents_inverse(a.exponents(), b.exponents())) return SimpleSimplifyKind::Merges;
        }
        add_to_summaries(a, p, product, sum);
    }
    multiplier = product;
    exponents = sum;
    // A power beyond the range of a double (or NaN) makes every component of the sum non-finite,
    // and a dimension beyond it at least one; the long way reports either. Equal infinities
    // would pass a plain comparison.
    if (!exponents_equal_and_finite(sum, unit.exponents())) return SimpleSimplifyKind::Drifts;
    return product == unit.multiplier() ? SimpleSimplifyKind::Keeps : SimpleSimplifyKind::Resums;
}

bool simple_simplify_keeps(const UnitCollection& unit) noexcept {
    double multiplier;
    BaseExponents exponents;
    return simple_simplify_kind(unit, multiplier, exponents) == SimpleSimplifyKind::Keeps;
}

Expected<UnitCollection> simple_simplify(const UnitCollection& collection) {
    // Most collections have no pair that cancels. Their form is every entry as it stands, with the
    // summaries that from_entries computes, which the classification has just
    // computed the same way; a drifted dimension still takes the long way to its report.
    {
        double multiplier;
        BaseExponents exponents;
        const SimpleSimplifyKind kind = simple_simplify_kind(collection, multiplier, exponents);
        if (kind == SimpleSimplifyKind::Keeps || kind == SimpleSimplifyKind::Resums) {
            UnitCollection result(collection);
            result.resum(exponents, multiplier);
            return result;
        }
    }
    const UnitEntries& input = collection.units();
    const std::size_t n = input.size();
    const DimensionClasses classes(input);
    SmallVector<double, 8> power;
    SmallVector<unsigned char, 8> present;
    for (const UnitEntry& entry : input) {
        power.push_back(entry.power);
        present.push_back(1);
    }

    bool merged = true;
    while (merged) {
        merged = false;
        for (std::size_t a = 0; a < n && !merged; ++a) {
            if (!present[a]) continue;
            for (std::size_t b = 0; b < n; ++b) {
                if (b == a || !present[b]) continue;
                double new_a = 0.0;
                double new_b = 0.0;
                if (!merge_pair(classes.relation(a, b), power[a], power[b], new_a, new_b)) continue;
                power[a] = new_a;
                power[b] = new_b;
                if (new_a == 0.0) present[a] = 0;
                if (new_b == 0.0) present[b] = 0;
                merged = true;  // scan again from the first pair
                break;
            }
        }
    }

    UnitEntries kept;
    kept.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (present[i]) kept.emplace_back(UnitEntry{input[i].unit, power[i]});
    }
    UnitCollection result = UnitCollection::from_entries(std::move(kept));
    // Powers that overflowed on the way here (a product or power of large ones) are no drift but
    // input no unit can hold; the operation that made them names its operands.
    if (!exponents_finite(collection.exponents()) || !exponents_finite(result.exponents())) [[unlikely]] {
        return Error::power_overflow(as_string(collection));
    }
    if (!exponents_equal(collection.exponents(), result.exponents())) {
        std::string message = "Error on simple_simplify\nStarted with: ";
        message += as_string(collection);
        message += ", ";
        message += exponents_list_text(collection.exponents());
        message += "\nEnded with: ";
        message += as_string(result);
        message += ", ";
        message += exponents_list_text(result.exponents());
        return Error::internal(std::move(message));
    }
    return result;
}

}  // namespace tolvat
