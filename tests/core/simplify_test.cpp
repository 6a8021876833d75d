#include "core/simplify.hpp"
#include "core/simple_simplify.hpp"
#include "core/simplify_search.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/catalogue.hpp"
#include "core/render.hpp"
#include "core/single_unit.hpp"
#include "core/unit_collection.hpp"

namespace tolvat {
namespace {

using simplify_detail::Powers;
using simplify_detail::SearchMode;
using simplify_detail::SearchProblem;
using simplify_detail::SearchResult;
using simplify_detail::SearchStatus;

constexpr double kInf = std::numeric_limits<double>::infinity();

UnitCollection parse(const char* text) {
    std::optional<UnitCollection> c = UnitCollection::from_unit_name(text);
    EXPECT_TRUE(c.has_value()) << text;
    return c.value_or(UnitCollection{});
}

// Symbol to power, zero powers included.
std::map<std::string, double> powers(const UnitCollection& c) {
    std::map<std::string, double> out;
    for (const UnitEntry& e : c.units()) out[e.unit.symbol().str()] = e.power;
    return out;
}

using PowerMap = std::map<std::string, double>;

UnitCollection ok(Expected<UnitCollection> result) {
    EXPECT_TRUE(result.has_value()) << (result.has_value() ? "" : result.error().message());
    return result.has_value() ? std::move(result).value() : UnitCollection{};
}

UnitCollection simple(const UnitCollection& c) { return ok(simple_simplify(c)); }
UnitCollection full(const UnitCollection& c) { return ok(simplify(c)); }

// Waits for workers of earlier searches to end so that counts start clean. The deadline only
// keeps a test whose workers never end from hanging; no machine is that slow.
void settle_workers() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (simplify_detail::worker_stats().live != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    simplify_detail::reset_worker_stats();
}

// ---- simple_simplify ------------------------------------------------------------------------

TEST(SimpleSimplify, CancelsEqualDimensionsOfOppositeSign) {
    const UnitCollection m_km = parse("m/km");
    EXPECT_DOUBLE_EQ(m_km.multiplier(), 0.001);
    const UnitCollection r = simple(m_km);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.multiplier(), 1.0);

    EXPECT_EQ(powers(simple(parse("ft2/m"))), (PowerMap{{"ft", 1.0}}));
    EXPECT_EQ(powers(simple(parse("m.km"))), (PowerMap{{"m", 1.0}, {"km", 1.0}}));
    EXPECT_EQ(powers(simple(parse("s/min2"))), (PowerMap{{"min", -1.0}}));
    // Dimensionless units are all of one dimension.
    EXPECT_TRUE(simple(parse("rad/sr")).empty());
    EXPECT_EQ(powers(simple(parse("rad.sr"))), (PowerMap{{"rad", 1.0}, {"sr", 1.0}}));
}

TEST(SimpleSimplify, CancelsInverseDimensionsOfEqualSign) {
    EXPECT_TRUE(simple(parse("Hz.s")).empty());
    EXPECT_EQ(powers(simple(parse("Hz.s3"))), (PowerMap{{"s", 2.0}}));
    // Two negative powers: the one of larger magnitude reaches zero, the other changes sign.
    const UnitCollection r = simple(parse("1/Hz.s3"));
    EXPECT_EQ(powers(r), (PowerMap{{"Hz", 2.0}}));
    EXPECT_EQ(r.exponents(), parse("1/s2").exponents());
    // Opposite signs of inverse dimensions do not merge.
    EXPECT_EQ(powers(simple(parse("Hz/s"))), (PowerMap{{"Hz", 1.0}, {"s", -1.0}}));
}

TEST(SimpleSimplify, ScanOrderDecidesBetweenPartners) {
    // m meets ft first, then km: {km: -2}. The other order would give {ft: -1, km: -1}.
    const UnitCollection r = simple(parse("m2/ft.km3"));
    EXPECT_EQ(powers(r), (PowerMap{{"km", -2.0}}));
    EXPECT_DOUBLE_EQ(r.multiplier(), 1e-6);
    // Reordering the entries gives the other outcome.
    const UnitCollection reordered = parse("1/km3") * parse("m2/ft");
    EXPECT_EQ(powers(simple(reordered)), (PowerMap{{"ft", -1.0}, {"km", -1.0}}));
}

TEST(SimpleSimplify, ZeroPowerEntries) {
    // A zero power pairs with any partner of equal dimension and opposite sign and goes.
    const UnitCollection zero_m = UnitCollection::pow(parse("m"), 0.0) / parse("km");
    ASSERT_EQ(zero_m.size(), 2u);
    EXPECT_EQ(powers(simple(zero_m)), (PowerMap{{"km", -1.0}}));
    // Without a partner it stays.
    const UnitCollection zero_s = UnitCollection::pow(parse("s"), 0.0) * parse("m");
    EXPECT_EQ(powers(simple(zero_s)), (PowerMap{{"s", 0.0}, {"m", 1.0}}));
    // Base units with zero powers vanish against each other's dimensions only when paired.
    const UnitCollection base = UnitCollection::get_base_units(parse("N"));
    const UnitCollection r = simple(base);
    EXPECT_EQ(r.exponents(), parse("N").exponents());
    EXPECT_EQ(r.size(), 8u);
}

TEST(SimpleSimplify, WithoutCancellationsKeepsEveryEntryAndRecomputesTheSummaries) {
    // Nothing cancels in any of these (a dimensionless pair of equal sign included): the result is
    // the entries in their order, summarised from scratch, to the last bit.
    const UnitCollection cases[] = {
        parse("m.km"),
        parse("kg.m2/s2"),
        parse("rad.sr"),
        UnitCollection::pow(parse("km/hr"), 2.0),
        UnitCollection::pow(UnitCollection::pow(parse("km/hr"), 0.5), 2.0),
        UnitCollection::pow(parse("s"), -0.0) * parse("m"),
        UnitCollection::get_base_units(parse("N")),
    };
    for (const UnitCollection& c : cases) {
        const UnitCollection r = simple(c);
        const UnitCollection expected = UnitCollection::from_entries(c.units());
        ASSERT_EQ(r.size(), c.size()) << as_string(c);
        for (std::size_t i = 0; i < r.size(); ++i) {
            EXPECT_TRUE(r.units()[i].unit == c.units()[i].unit) << as_string(c);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(r.units()[i].power), std::bit_cast<std::uint64_t>(c.units()[i].power));
        }
        EXPECT_EQ(std::bit_cast<std::uint64_t>(r.multiplier()), std::bit_cast<std::uint64_t>(expected.multiplier()));
        for (std::size_t d = 0; d < kBaseDimensionCount; ++d) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(r.exponents()[d]), std::bit_cast<std::uint64_t>(expected.exponents()[d]));
        }
    }
}

TEST(SimpleSimplify, MultiplierIsRecomputed) {
    const UnitCollection r = simple(parse("km.ft/m"));
    EXPECT_EQ(powers(r), (PowerMap{{"ft", 1.0}}));
    EXPECT_DOUBLE_EQ(r.multiplier(), 0.3048);
}

TEST(SimpleSimplify, DimensionDriftIsAnInternalError) {
    const UnitCollection c =
        UnitCollection::pow(parse("m"), 0.1) * UnitCollection::pow(parse("km"), 0.2) / UnitCollection::pow(parse("ft"), 0.3);
    const Expected<UnitCollection> r = simple_simplify(c);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, ErrorKind::Internal);
    EXPECT_EQ(r.error().message(),
              "Error on simple_simplify\n"
              "Started with: [km0.2.m0.1/ft0.3], [0.0, 0.0, 0.0, 0.0, 0.0, 5.551115123125783e-17, 0.0, 0.0]\n"
              "Ended with: [km0.000000000000000027755575615628914], "
              "[0.0, 0.0, 0.0, 0.0, 0.0, 2.7755575615628914e-17, 0.0, 0.0]");
    // simplify reports the same error.
    const Expected<UnitCollection> f = simplify(c);
    ASSERT_FALSE(f.has_value());
    EXPECT_EQ(f.error().message(), r.error().message());
}

TEST(SimpleSimplify, NonFinitePowersEndTheScanAndFailAsOverflow) {
    const UnitCollection m_inf = UnitCollection::pow(parse("m"), kInf);
    const UnitCollection km_inf = UnitCollection::pow(parse("km"), -kInf);
    // inf against -inf cannot reach zero, an infinite power against a finite one drops the finite
    // one, and a NaN power poisons the dimension: each scan ends, and the result is refused.
    for (const UnitCollection& c : {m_inf * km_inf, m_inf / parse("km"),
                                    UnitCollection::pow(parse("m"), std::nan("")) / parse("km"),
                                    UnitCollection::pow(parse("rad"), kInf) * parse("s/min")}) {
        const Expected<UnitCollection> r = simple_simplify(c);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind, ErrorKind::PowerOverflow);
        EXPECT_EQ(r.error().message(), "unit power overflow: " + as_string(c));
    }
}

// ---- simplify -------------------------------------------------------------------------------

TEST(Simplify, SpecifiedOutcomes) {
    EXPECT_EQ(powers(full(parse("m.km"))), (PowerMap{{"m", 1.0}, {"km", 1.0}}));

    const UnitCollection m_rad = full(parse("m.rad"));
    EXPECT_EQ(powers(m_rad), (PowerMap{{"m", 1.0}, {"rad", 0.0}}));
    EXPECT_EQ(as_string(m_rad), "[m]");

    const UnitCollection kg = full(parse("N.m.kg/J"));
    EXPECT_EQ(powers(kg), (PowerMap{{"N", 0.0}, {"m", 0.0}, {"kg", 1.0}, {"J", 0.0}}));
    EXPECT_EQ(as_string(kg), "[kg]");
    EXPECT_EQ(kg.multiplier(), 1.0);

    const UnitCollection none = full(parse("kg.m/s2.N"));
    EXPECT_EQ(powers(none), (PowerMap{{"kg", 0.0}, {"m", 0.0}, {"s", 0.0}, {"N", 0.0}}));
    EXPECT_EQ(none.multiplier(), 1.0);
    EXPECT_EQ(as_string(none), "[]");

    EXPECT_EQ(powers(full(parse("J/N"))), (PowerMap{{"J", 1.0}, {"N", -1.0}}));
    EXPECT_EQ(powers(full(parse("N5.m5.s5.kg5"))), (PowerMap{{"N", 5.0}, {"m", 5.0}, {"s", 5.0}, {"kg", 5.0}}));
    // The result keeps every unit; the multiplier is that of the units left at nonzero powers.
    const UnitCollection hours = full(parse("kW.hr.s/J"));
    EXPECT_EQ(hours.exponents(), parse("s").exponents());
    EXPECT_EQ(powers(hours), (PowerMap{{"kW", 0.0}, {"hr", 1.0}, {"s", 0.0}, {"J", 0.0}}));
    EXPECT_EQ(hours.multiplier(), 3600.0);
}

TEST(Simplify, ReturnsSimpleResultUnchanged) {
    // Fractional powers.
    const UnitCollection root = UnitCollection::pow(parse("m.s"), 0.5);
    EXPECT_EQ(powers(full(root)), powers(simple(root)));
    // One unit, or none.
    EXPECT_EQ(powers(full(parse("km"))), (PowerMap{{"km", 1.0}}));
    EXPECT_TRUE(full(UnitCollection{}).empty());
    EXPECT_EQ(full(UnitCollection{}).multiplier(), 1.0);
    // Every unit is the only carrier of a dimension.
    EXPECT_EQ(powers(full(parse("kg.m/s2"))), (PowerMap{{"kg", 1.0}, {"m", 1.0}, {"s", -2.0}}));
    // What simple_simplify already settles.
    EXPECT_EQ(powers(full(parse("m2/ft.km3"))), (PowerMap{{"km", -2.0}}));
    EXPECT_TRUE(full(parse("m/km")).empty());
}

TEST(Simplify, NonFinitePowersFailAsOverflow) {
    // An infinite power makes every other dimension NaN, which no unit carries; a NaN power is no
    // whole number. The simple step refuses both before the search looks at them.
    for (const UnitCollection& c : {UnitCollection::pow(parse("m"), kInf) * parse("s"),
                                    UnitCollection::pow(parse("m"), std::nan("")) * parse("km")}) {
        const Expected<UnitCollection> r = simplify(c);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind, ErrorKind::PowerOverflow);
    }
}

TEST(Simplify, ResultStaysWithinTheInputPowers) {
    const char* texts[] = {"N.m/J", "W.s/J.N", "J2/N.m.kg", "Pa.m2/N.kg", "km.ft.m/L", "C.V/J.A.s", "Hz.J/W.N",
                           "lbf.ft.hr/BTU.s", "kg2.m.m/N.J.s2"};
    for (const char* text : texts) {
        const UnitCollection input = parse(text);
        const UnitCollection ss = simple(input);
        const UnitCollection r = full(input);
        EXPECT_EQ(r.exponents(), input.exponents()) << text;
        for (const UnitEntry& e : r.units()) {
            const double* before = ss.find(e.unit);
            ASSERT_NE(before, nullptr) << text;
            EXPECT_LE(std::fabs(e.power), std::fabs(*before)) << text;
            EXPECT_TRUE(e.power == 0.0 || std::signbit(e.power) == std::signbit(*before)) << text;
        }
    }
}

// ---- the search itself ----------------------------------------------------------------------

// The search exactly as first described: no record of mappings seen, one path at a time.
std::optional<Powers> reference_search(const SearchProblem& p, const Powers& m) {
    std::vector<Powers> children;
    for (std::size_t k = 0; k < m.size(); ++k) {
        const std::int32_t s = p.powers[k];
        Powers child = m;
        if (m[k] < s && s > 0) {
            child[k] += 1;
        } else if (m[k] > s && s < 0) {
            child[k] -= 1;
        } else {
            continue;
        }
        if (simplify_detail::check_satisfies_base_units(p, child.data())) return child;
        children.push_back(child);
    }
    for (const Powers& child : children) {
        if (std::optional<Powers> r = reference_search(p, child)) return r;
    }
    return std::nullopt;
}

std::vector<std::int32_t> as_vector(const Powers& p) { return std::vector<std::int32_t>(p.begin(), p.end()); }

SearchProblem random_problem(std::mt19937& rng, int units, int max_power, bool fractional) {
    std::uniform_int_distribution<int> small(-2, 2);
    std::uniform_int_distribution<int> power(-max_power, max_power);
    std::uniform_int_distribution<int> pick(0, 9);
    SearchProblem p;
    Powers inner;
    for (int k = 0; k < units; ++k) {
        BaseExponents e{};
        for (int d = 0; d < 3; ++d) e[d] = fractional ? small(rng) * 0.1 : small(rng);
        p.exponents.push_back(e);
        const std::int32_t full_power = power(rng);
        p.powers.push_back(full_power);
        p.start.push_back(pick(rng) < 2 ? full_power : 0);
        std::uniform_int_distribution<int> between(std::min(0, full_power), std::max(0, full_power));
        inner.push_back(p.start[k] == full_power ? full_power : between(rng));
    }
    // Target: the full powers, some mapping inside, or something out of reach.
    const int kind = pick(rng);
    const Powers& source = kind < 4 ? p.powers : inner;
    for (int d = 0; d < 3; ++d) {
        for (int k = 0; k < units; ++k) p.target[d] += source[k] * p.exponents[k][d];
    }
    if (kind == 9) p.target[0] += 1.0;
    return p;
}

TEST(SimplifySearch, AgreesWithThePlainSearchInEveryMode) {
    std::mt19937 rng(12345);
    int found = 0;
    int nothing = 0;
    for (int round = 0; round < 600; ++round) {
        const int units = 2 + round % 3;
        const SearchProblem p = random_problem(rng, units, units == 4 ? 2 : 3, round % 4 == 3);
        const std::optional<Powers> expected = reference_search(p, p.start);
        for (SearchMode mode : {SearchMode::Automatic, SearchMode::ExhaustiveSequential, SearchMode::ExhaustiveEager}) {
            const SearchResult r = simplify_detail::search_mappings(p, mode);
            if (expected) {
                ASSERT_EQ(r.status, SearchStatus::Found) << "round " << round;
                EXPECT_EQ(as_vector(r.mapping), as_vector(*expected)) << "round " << round;
            } else {
                EXPECT_EQ(r.status, SearchStatus::Nothing) << "round " << round;
            }
        }
        (expected ? found : nothing) += 1;
    }
    // Both outcomes were exercised.
    EXPECT_GT(found, 100);
    EXPECT_GT(nothing, 20);
}

// A range of 6^6 mappings whose full powers do not satisfy, so the general search runs, with an
// answer deep inside or none at all.
SearchProblem large_problem(bool with_answer, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> small(-2, 2);
    SearchProblem p;
    for (int k = 0; k < 6; ++k) {
        BaseExponents e{};
        for (int d = 0; d < 3; ++d) e[d] = small(rng);
        e[3] = 1.0;  // nobody is alone in every dimension
        p.exponents.push_back(e);
        p.powers.push_back(k % 2 ? 5 : -5);
        p.start.push_back(0);
    }
    const std::int32_t inner[6] = {-4, 3, -5, 1, -2, 4};
    for (int d = 0; d < 4; ++d) {
        for (int k = 0; k < 6; ++k) p.target[d] += inner[k] * p.exponents[k][d];
    }
    if (!with_answer) p.target[0] = std::nan("");
    return p;
}

TEST(SimplifySearch, WorkersAreCappedAndDoNotChangeTheAnswer) {
    settle_workers();
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        for (bool with_answer : {true, false}) {
            const SearchProblem p = large_problem(with_answer, seed);
            const SearchResult sequential = simplify_detail::search_mappings(p, SearchMode::ExhaustiveSequential);
            if (!with_answer) {
                EXPECT_EQ(sequential.status, SearchStatus::Nothing);
            }
            for (int repeat = 0; repeat < 15; ++repeat) {
                for (SearchMode mode : {SearchMode::ExhaustiveEager, SearchMode::Automatic}) {
                    const SearchResult r = simplify_detail::search_mappings(p, mode);
                    ASSERT_EQ(r.status, sequential.status) << seed;
                    EXPECT_EQ(as_vector(r.mapping), as_vector(sequential.mapping)) << seed;
                }
            }
        }
    }
    const simplify_detail::WorkerStats stats = simplify_detail::worker_stats();
    EXPECT_GT(stats.started, 0u);
    EXPECT_GE(stats.peak, 1u);
    EXPECT_LE(stats.peak, stats.cap);
    EXPECT_LE(stats.cap, std::max(1u, std::thread::hardware_concurrency()));
}

TEST(SimplifySearch, DetachedWorkersWindDown) {
    settle_workers();
    for (int i = 0; i < 20; ++i) {
        // The answer is found at once on the calling thread while workers are still busy.
        const SearchResult r = simplify_detail::search_mappings(large_problem(true, 7), SearchMode::ExhaustiveEager);
        EXPECT_EQ(r.status, SearchStatus::Found);
    }
    settle_workers();
    EXPECT_EQ(simplify_detail::worker_stats().live, 0u);
}

TEST(SimplifySearch, OversizedRangesAreRefused) {
    SearchProblem p;
    for (int k = 0; k < 3; ++k) {
        p.exponents.push_back(BaseExponents{1, 0, 0, 0, 0, 0, 0, 0});
        p.powers.push_back(std::numeric_limits<std::int32_t>::max());
        p.start.push_back(0);
    }
    p.target[0] = 1.5;  // never satisfied
    EXPECT_EQ(simplify_detail::search_mappings(p).status, SearchStatus::TooLarge);
    p.target[0] = 3.0 * std::numeric_limits<std::int32_t>::max();  // satisfied only at the end of a long walk
    p.exponents[0][1] = 1.0;                                        // ...which is never reached
    p.exponents[1][1] = -1.0;
    EXPECT_EQ(simplify_detail::search_mappings(p).status, SearchStatus::TooLarge);
}

// ---- the worst cases (bench/simplify_cost.py times them) -----------------------------------

// Simplifies `c` again and again: every answer equals the first, whichever thread found it.
void expect_repeatable(const UnitCollection& c, int repeats, const std::string& label) {
    const UnitCollection first = full(c);
    EXPECT_EQ(first.exponents(), c.exponents()) << label;
    for (int i = 0; i < repeats; ++i) {
        const Expected<UnitCollection> again = simplify(c);
        EXPECT_TRUE(again.has_value() && powers(*again) == powers(first)) << label << " repeat " << i;
    }
}

TEST(SimplifySearch, WorstCasesAreCappedAndRepeatable) {
    settle_workers();
    for (const char* text : {"N5.m5.s5.kg5", "N5.m5.s5.kg5.J5.W5.Pa5.km5", "J5.N5.W5.Pa5.g5.m5.s5.min5",
                             "N5.J4.W3.Pa5.kg2.km5.ft4.hr5", "kg5.m5.s5.N5.ft5.lb5.min5.J5"}) {
        expect_repeatable(parse(text), 20, text);
    }
    // Its only answer is the whole collection.
    EXPECT_EQ(powers(full(parse("N5.m5.s5.kg5"))), (PowerMap{{"N", 5.0}, {"m", 5.0}, {"s", 5.0}, {"kg", 5.0}}));

    // Random collections of eight movable units with powers up to 5.
    const char* pool[] = {"N", "J", "W", "Pa", "kg", "g", "m", "km", "ft", "s", "min", "hr", "lb", "L", "bar", "C", "A", "V"};
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> power(1, 5);
    int tried = 0;
    while (tried < 40) {
        std::vector<int> chosen;
        while (chosen.size() < 8) {
            const int i = std::uniform_int_distribution<int>(0, 17)(rng);
            if (std::find(chosen.begin(), chosen.end(), i) == chosen.end()) chosen.push_back(i);
        }
        UnitCollection c;
        for (int i : chosen) c = c * UnitCollection::pow(parse(pool[i]), power(rng));
        if (simple(c).size() != 8) continue;
        ++tried;
        expect_repeatable(c, 5, as_string(c));
    }
    const simplify_detail::WorkerStats stats = simplify_detail::worker_stats();
    EXPECT_LE(stats.peak, stats.cap);
}

// ---- bad input ------------------------------------------------------------------------------

// Units whose money exponents are square roots: no whole-number mix of them sums to the rounded
// total exactly, not even the full powers, so nothing ever satisfies and the general search runs
// over its whole range (5^7 mappings), large enough for simplify to use workers.
TEST(SimplifyBadInput, UnsatisfiableSearchThroughSimplify) {
    settle_workers();
    UnitCollection c;
    for (int k = 0; k < 7; ++k) {
        BaseExponents e{};
        e[kUsd] = std::sqrt(2.0 + k);
        e[kMeter] = 1.0 + k;
        const SingleUnit u = SingleUnit::custom("u" + std::to_string(k), "u" + std::to_string(k), 1.0, e);
        c = c * UnitCollection::pow(UnitCollection::coerce_unit_to_collection(u), 4.0);
    }
    const std::map<std::string, double> expected = powers(c);
    for (int i = 0; i < 5; ++i) {
        const Expected<UnitCollection> r = simplify(c);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(powers(*r), expected);
    }
    const simplify_detail::WorkerStats stats = simplify_detail::worker_stats();
    EXPECT_GT(stats.started, 0u);
    EXPECT_LE(stats.peak, stats.cap);
}

TEST(SimplifyBadInput, HugeAndNonFinitePowers) {
    const UnitCollection m = parse("m");
    const UnitCollection km = parse("km");
    const double huge[] = {1e300, -1e300, 2147483647.0, -2147483648.0, 4294967296.0, 1e18, kInf, -kInf,
                           std::nan("")};
    for (double h : huge) {
        for (const UnitCollection& c : {UnitCollection::pow(m, h) * km, UnitCollection::pow(m, h) / km,
                                        UnitCollection::pow(m, h) * parse("rad.s"),
                                        UnitCollection::pow(parse("N"), h) * parse("kg.m.s")}) {
            const Expected<UnitCollection> r = simplify(c);
            ASSERT_EQ(r.has_value(), std::isfinite(h)) << h;
            if (!r.has_value()) EXPECT_EQ(r.error().kind, ErrorKind::PowerOverflow) << h;
        }
    }
    // A long but finite walk still gives the exact answer.
    const UnitCollection long_walk = UnitCollection::pow(parse("rad"), 100000.0) * parse("m.km");
    const UnitCollection r = full(long_walk);
    EXPECT_EQ(r.exponents(), long_walk.exponents());
}

TEST(SimplifyBadInput, HundredsOfEntries) {
    // Every prefix on several base units: hundreds of distinct units sharing dimensions.
    UnitCollection positive;
    UnitCollection mixed;
    int count = 0;
    for (const PrefixDef& prefix : prefix_table()) {
        for (const char* unit : {"m", "g", "s", "A", "K", "mol", "cd", "Hz"}) {
            const std::string text = std::string(prefix.symbol) + unit;
            const std::optional<UnitCollection> c = UnitCollection::from_unit_name(text);
            if (!c || c->size() != 1 || !(c->multiplier() > 0.0)) continue;
            positive = positive * UnitCollection::pow(*c, 1.0 + count % 3);
            mixed = count % 2 ? mixed * *c : mixed / *c;
            ++count;
        }
    }
    ASSERT_GT(positive.size(), 200u);
    for (const UnitCollection* c : {&positive, &mixed}) {
        const Expected<UnitCollection> r = simplify(*c);
        ASSERT_TRUE(r.has_value()) << r.error().message();
        EXPECT_EQ(r->exponents(), simple(*c).exponents());
    }
}

}  // namespace
}  // namespace tolvat
