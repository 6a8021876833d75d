#include "python/access.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tolvat::py {
namespace {

TEST(Access, ReadersShareAndWritersExclude) {
    AccessCounter counter;
    {
        SharedAccess a(counter), b(counter);
        EXPECT_TRUE(a.ok() && b.ok());
        ExclusiveAccess w(counter);
        EXPECT_FALSE(w.ok());  // held by readers, even of this very thread
    }
    {
        ExclusiveAccess w(counter);
        EXPECT_TRUE(w.ok());
        SharedAccess r(counter);
        EXPECT_FALSE(r.ok());
        ExclusiveAccess w2(counter);
        EXPECT_FALSE(w2.ok());
    }
    ExclusiveAccess again(counter);
    EXPECT_TRUE(again.ok());
}

TEST(Access, DeepNestingFallsBackToTheCounter) {
    AccessCounter counter, other;
    std::vector<std::unique_ptr<SharedAccess>> held;
    for (int i = 0; i < 20; ++i) {
        held.push_back(std::make_unique<SharedAccess>(i % 2 ? counter : other));
        ASSERT_TRUE(held.back()->ok());
    }
    EXPECT_FALSE(ExclusiveAccess(counter).ok());
    while (!held.empty()) held.pop_back();  // released in reverse order, as scopes do
    EXPECT_TRUE(ExclusiveAccess(counter).ok());
    EXPECT_TRUE(ExclusiveAccess(other).ok());
}

TEST(Access, NoReaderEverOverlapsAWriterAcrossThreads) {
    AccessCounter counter;
    std::atomic<int> readers{0}, writers{0}, violations{0};
    std::atomic<long> reads{0}, writes{0};
    auto body = [&](int seed) {
        unsigned x = static_cast<unsigned>(seed) * 2654435761u + 1;
        for (int i = 0; i < 200000; ++i) {
            x = x * 1664525u + 1013904223u;
            if (x % 8 == 0) {
                ExclusiveAccess w(counter);
                if (!w.ok()) continue;
                if (writers.fetch_add(1) != 0 || readers.load() != 0) violations++;
                writes++;
                writers.fetch_sub(1);
            } else {
                SharedAccess r(counter);
                if (!r.ok()) continue;
                readers.fetch_add(1);
                if (writers.load() != 0) violations++;
                reads++;
                readers.fetch_sub(1);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(body, t);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(writes.load(), 0);
    EXPECT_TRUE(ExclusiveAccess(counter).ok());  // nothing left behind
}

TEST(Access, RecordsOfEndedThreadsAreReused) {
    AccessCounter counter;
    for (int i = 0; i < 3000; ++i) {  // more threads than the registry holds at once
        std::thread([&] { EXPECT_TRUE(SharedAccess(counter).ok()); }).join();
    }
    EXPECT_TRUE(ExclusiveAccess(counter).ok());
}

}  // namespace
}  // namespace tolvat::py
