#include "core/state.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/catalogue.hpp"
#include "core/render.hpp"
#include "core/simple_simplify.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

namespace tolvat {
namespace {

Quantity parsed(const char* text, double value = 1.0) { return Quantity{*UnitCollection::from_unit_name(text), value}; }

std::vector<Quantity> samples() {
    const SingleUnit furlong = SingleUnit::custom("furlong", "fur", 201.168, base_unit(kMeter).exponents);
    const SingleUnit odd = SingleUnit::custom(std::string("nul\0inside", 10), "", -2.0,
                                              BaseExponents{0, 0, 0, 0, 5e-324, 1, 0, 0});
    std::vector<Quantity> out = {
        parsed("m"),
        parsed("km/hr", -0.0),
        parsed("kN.m/s2", std::numeric_limits<double>::infinity()),
        Quantity{UnitCollection::pow(*UnitCollection::from_unit_name("mm.kg/s"), -2.5), std::nan("")},
        Quantity{UnitCollection::get_base_units(*UnitCollection::from_unit_name("N")), 3.0},
        Quantity{UnitCollection(), 7.0},
        Quantity{UnitCollection::coerce_unit_to_collection(furlong) * UnitCollection::coerce_unit_to_collection(odd), 2},
        // A unit with an offset, made from a row outside the tables.
        Quantity{UnitCollection::coerce_unit_to_collection(SingleUnit::create_from_unit_def_static(
                     UnitDef{"degree Rømer", "°Rø", -7.5, 40.0 / 21.0, base_unit(kKelvin).exponents})),
                 1.5},
    };
    return out;
}

TEST(State, RoundTripsKeepEveryBit) {
    for (const Quantity& q : samples()) {
        const Expected<std::string, StateError> state = encode_state(q);
        ASSERT_TRUE(state.has_value()) << state.error().message;
        const Expected<Quantity, StateError> back = decode_state(*state);
        ASSERT_TRUE(back.has_value()) << back.error().message;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back->value), std::bit_cast<std::uint64_t>(q.value));
        EXPECT_EQ(as_string(back->unit), as_string(q.unit));
        ASSERT_EQ(back->unit.size(), q.unit.size());
        for (std::size_t i = 0; i < q.unit.size(); ++i) {
            EXPECT_EQ(back->unit.units()[i].unit.offset(), q.unit.units()[i].unit.offset());
        }
        EXPECT_EQ(*encode_state(*back), *state);  // the state says every field
    }
    for (const LogUnitDef& row : log_unit_table()) {
        unsigned char bytes[kLogStateSize];
        write_log_state(LogQuantity{&row, -0.5}, bytes);
        const auto back = decode_log_state(std::string_view(reinterpret_cast<char*>(bytes), sizeof bytes));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->unit, &row);
        EXPECT_EQ(back->value, -0.5);
    }
}

TEST(State, TableOrderIsPartOfTheFormat) {
    // States name table units by row: rows may be added at the end, never moved or removed. The
    // digest covers the rows there were when states were first written, so appended rows leave it
    // alone.
    constexpr std::size_t kUnitRows = 136, kPrefixRows = 34, kLogUnitRows = 4;
    ASSERT_GE(unit_table().size(), kUnitRows);
    ASSERT_GE(prefix_table().size(), kPrefixRows);
    ASSERT_GE(log_unit_table().size(), kLogUnitRows);
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&](std::string_view text) {
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        h = (h ^ 0xFF) * 1099511628211ull;
    };
    for (std::size_t i = 0; i < kUnitRows; ++i) mix(unit_table()[i].name);
    for (std::size_t i = 0; i < kPrefixRows; ++i) mix(prefix_table()[i].name);
    for (std::size_t i = 0; i < kLogUnitRows; ++i) mix(log_unit_table()[i].name);
    EXPECT_EQ(h, 13065914485534224854u) << "a row that states name by number moved or went";
}

TEST(State, RefusesWhatItCouldNotReadBack) {
    UnitEntries many;
    for (std::size_t i = 0; i <= kMaxStateEntries; ++i) {
        many.emplace_back(UnitEntry{SingleUnit::custom("u" + std::to_string(i), "u", 2.0, BaseExponents{}), 1.0});
    }
    const Expected<std::string, StateError> too_many =
        encode_state(Quantity{UnitCollection::from_entries(std::move(many)), 1.0});
    ASSERT_FALSE(too_many.has_value());
    EXPECT_NE(too_many.error().message.find("4097 units"), std::string::npos);

    // A multiplier that an overflow cut loose from its units, and a dimension off by a rounding.
    const UnitCollection km = *UnitCollection::from_unit_name("km");
    for (const UnitCollection& bad : {UnitCollection::with_summaries(km.units(), km.exponents(), std::nan("")),
                                      UnitCollection::with_summaries(
                                          km.units(), BaseExponents{0, 0, 0, 0, 0, 1 + 0x1p-52, 0, 0}, 1000.0)}) {
        const Expected<std::string, StateError> refused = encode_state(Quantity{bad, 1.0});
        ASSERT_FALSE(refused.has_value());
        EXPECT_NE(refused.error().message.find("no longer matches its units"), std::string::npos);
    }
    // Units whose powers overflow, as no operation makes: written out, but not read back.
    const SingleUnit poisoned = SingleUnit::custom("nan", "", 2.0, BaseExponents{0, 0, 0, 0, std::nan(""), 1, 0, 0});
    const Expected<std::string, StateError> written =
        encode_state(Quantity{UnitCollection::coerce_unit_to_collection(poisoned), 1.0});
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(decode_state(*written).error().message, "its units' powers overflow");
    // A multiplier within rounding of its units is what arithmetic leaves, and travels as it is.
    const UnitCollection drifted = UnitCollection::with_summaries(km.units(), km.exponents(), 1000.0000000000001);
    EXPECT_EQ(decode_state(*encode_state(Quantity{drifted, 1.0}))->unit.multiplier(), 1000.0000000000001);
}

// Every state within a few edits of a valid one either loads a quantity that writes back the same
// bytes and simplifies as any other, or is refused; run under the sanitizers, this is where a
// read past the end or a bad row would show.
TEST(State, MutatedStatesLoadCleanlyOrAreRefused) {
    std::vector<std::string> states;
    for (const Quantity& q : samples()) states.push_back(*encode_state(q));
    std::mt19937_64 rng(20240611);
    std::size_t loaded = 0, refused = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string s = states[static_cast<std::size_t>(round) % states.size()];
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const std::size_t at = rng() % s.size();
            switch (rng() % 4) {
                case 0: s[at] = static_cast<char>(rng()); break;
                case 1: s[at] = static_cast<char>(s[at] ^ (1 << (rng() % 8))); break;
                case 2: s.insert(at, 1, static_cast<char>(rng())); break;
                default: s.resize(at); break;
            }
        }
        const Expected<Quantity, StateError> q = decode_state(s);
        if (!q) {
            EXPECT_FALSE(q.error().message.empty());
            ++refused;
            continue;
        }
        ++loaded;
        EXPECT_EQ(*encode_state(*q), s);
        const Expected<UnitCollection> simple = simple_simplify(q->unit);
        EXPECT_TRUE(simple.has_value()) << simple.error().message();
        (void)as_string(q->unit);
        (void)decode_log_state(s);
    }
    EXPECT_GT(loaded, 100u);
    EXPECT_GT(refused, 1000u);
}

}  // namespace
}  // namespace tolvat
