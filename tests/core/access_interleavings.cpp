// The access handshake under many threads with random pauses between its steps. This program is
// built apart from the library, with TOLVAT_ACCESS_PAUSES: every step of access.hpp/access.cpp
// calls pause_between_steps() below, and the registry holds only 8 records, so that threads also
// go without one. Objects hold two plain fields that writers change one after the other; a reader
// that sees them differ, or ThreadSanitizer seeing a writer and a reader touch them unordered,
// means the rule let both proceed.
//
// TOLVAT_ACCESS_ITERATIONS sets the operations per thread and round (scripts/run-tsan.sh runs
// millions in all).

#include "core/access.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tolvat {
namespace {

thread_local std::uint64_t t_random = 0;

std::uint64_t next_random() noexcept {
    if (t_random == 0) t_random = 0x9E3779B97F4A7C15ull * (std::hash<std::thread::id>{}(std::this_thread::get_id()) | 1);
    t_random ^= t_random << 13;
    t_random ^= t_random >> 7;
    t_random ^= t_random << 17;
    return t_random;
}

}  // namespace

// Most steps go straight on; some spin a little, a few give up the processor, so that another
// thread's steps fall in between.
void access_detail::pause_between_steps() noexcept {
    const std::uint64_t r = next_random();
    switch (r & 31) {
        case 0:
            std::this_thread::yield();
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
            for (std::uint64_t i = (r >> 8) & 127; i > 0; --i) std::atomic_signal_fence(std::memory_order_seq_cst);
            break;
        default:
            break;
    }
}

namespace {

using concurrent::ExclusiveAccess;
using concurrent::SharedAccess;
using concurrent::SharedAccessPair;

struct Guarded {
    AccessCounter access;
    long first = 0;  // plain fields: only the access rule orders them
    long second = 0;
};

// Each thread counts in its own tally, summed after the threads end: shared atomic counters would
// order the threads' steps among themselves and hide from ThreadSanitizer a race that only the
// access rule should prevent.
struct Tally {
    long reads = 0, writes = 0, refused = 0, torn = 0, without_record = 0;
    void add(const Tally& other) {
        reads += other.reads;
        writes += other.writes;
        refused += other.refused;
        torn += other.torn;
        without_record += other.without_record;
    }
};

constexpr int kObjects = 16;
constexpr int kThreads = 12;  // more than the 8 records of this build

bool intact(const Guarded& g) { return g.first == g.second; }

// Nested shared reads of `depth` random objects, deeper than the six slots a record has.
void nested_reads(Guarded* objects, int depth, Tally& tally) {
    if (depth == 0) return;
    Guarded& g = objects[next_random() % kObjects];
    SharedAccess read(g.access);
    if (!read.ok()) {
        tally.refused++;
        return;
    }
    const long seen = g.first;
    access_detail::pause_between_steps();
    if (seen != g.second) tally.torn++;
    tally.reads++;
    nested_reads(objects, depth - 1, tally);
}

void one_operation(Guarded* objects, Tally& tally) {
    const std::uint64_t r = next_random();
    Guarded& a = objects[(r >> 8) % kObjects];
    Guarded& b = objects[(r >> 16) % kObjects];
    switch (r % 8) {
        case 0:
        case 1: {
            ExclusiveAccess write(a.access);
            if (!write.ok()) {
                tally.refused++;
                return;
            }
            ++a.first;
            access_detail::pause_between_steps();
            ++a.second;
            tally.writes++;
            return;
        }
        case 2:
        case 3: {
            SharedAccessPair both(a.access, b.access);  // a and b may be one object
            if (!both.ok()) {
                tally.refused++;
                return;
            }
            if (!intact(a)) tally.torn++;
            access_detail::pause_between_steps();
            if (!intact(b)) tally.torn++;
            tally.reads++;
            return;
        }
        case 4:
            nested_reads(objects, 1 + static_cast<int>((r >> 24) % 8), tally);
            return;
        default: {
            SharedAccess read(a.access);
            if (!read.ok()) {
                tally.refused++;
                return;
            }
            if (!intact(a)) tally.torn++;
            tally.reads++;
            return;
        }
    }
}

long iterations_per_thread() {
    const char* text = std::getenv("TOLVAT_ACCESS_ITERATIONS");
    return text != nullptr ? std::atol(text) : 1000;
}

// Rounds of fresh threads, all alive at once: they claim records as writers scan, the ones past
// the eighth go without, and each round's threads hand their records to the next round's.
TEST(AccessInterleavings, NoReaderAndWriterEverBothProceed) {
    auto objects = std::make_unique<Guarded[]>(kObjects);
    Tally tally;
    const long iterations = iterations_per_thread();
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        std::latch all_alive(kThreads), all_claimed(kThreads);
        std::vector<Tally> tallies(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                Tally& mine = tallies[t];
                all_alive.arrive_and_wait();
                { SharedAccess first_read(objects[0].access); }
                if (access_detail::t_record == nullptr) mine.without_record++;
                all_claimed.arrive_and_wait();  // no thread ends, handing its record on, before all tried
                for (long i = 0; i < iterations; ++i) one_operation(objects.get(), mine);
            });
        }
        for (std::thread& t : threads) t.join();
        for (const Tally& t : tallies) tally.add(t);
    }
    EXPECT_EQ(tally.torn, 0);
    EXPECT_GT(tally.reads, 0);
    EXPECT_GT(tally.writes, 0);
    EXPECT_GT(tally.refused, 0);  // the two sides did meet
    // 12 threads alive at once and 8 records: every round, at least 4 read through the counters.
    EXPECT_GE(tally.without_record, (kThreads - 8) * kRounds);
    long total_writes = 0;
    for (int k = 0; k < kObjects; ++k) {
        EXPECT_TRUE(ExclusiveAccess(objects[k].access).ok());  // nothing left held
        EXPECT_TRUE(intact(objects[k]));
        total_writes += objects[k].first;
    }
    EXPECT_EQ(total_writes, tally.writes);
    std::printf("%d threads x %d rounds x %ld operations: %ld reads, %ld writes, %ld refused\n", kThreads, kRounds,
                iterations, tally.reads, tally.writes, tally.refused);
}

// Every read of a thread whose record is gone goes through the counter, and still excludes
// writers: after the registry's records are all taken, a new thread's reads are still seen.
TEST(AccessInterleavings, ACounterReadStillExcludesAWriter) {
    Guarded g;
    std::latch hold(1), held(8), done(1);
    std::vector<std::thread> holders;
    for (int t = 0; t < 8; ++t) {  // take all 8 records and keep them
        holders.emplace_back([&] {
            { SharedAccess claim(g.access); }
            held.count_down();
            hold.wait();
        });
    }
    held.wait();
    std::thread late([&] {
        SharedAccess read(g.access);
        EXPECT_TRUE(read.ok());
        EXPECT_EQ(access_detail::t_record, nullptr);
        EXPECT_FALSE(ExclusiveAccess(g.access).ok());
        done.count_down();
        hold.wait();
    });
    done.wait();
    EXPECT_FALSE(ExclusiveAccess(g.access).ok());
    hold.count_down();
    late.join();
    for (std::thread& t : holders) t.join();
    EXPECT_TRUE(ExclusiveAccess(g.access).ok());
}

}  // namespace
}  // namespace tolvat
