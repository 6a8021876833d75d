#include "core/access.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace tolvat {
namespace {

using concurrent::ExclusiveAccess;
using concurrent::SharedAccess;
using concurrent::SharedAccessPair;

// Both implementations of the rule: the free-threaded one and the one under the interpreter lock.
struct Concurrent {
    using Shared = concurrent::SharedAccess;
    using Pair = concurrent::SharedAccessPair;
    using Exclusive = concurrent::ExclusiveAccess;
};
struct Serial {
    using Shared = serial::SharedAccess;
    using Pair = serial::SharedAccessPair;
    using Exclusive = serial::ExclusiveAccess;
};

template <typename Rule>
class AccessRule : public ::testing::Test {};
using Rules = ::testing::Types<Concurrent, Serial>;
TYPED_TEST_SUITE(AccessRule, Rules);

TYPED_TEST(AccessRule, ReadersShareAndWritersExclude) {
    using Shared = typename TypeParam::Shared;
    using Exclusive = typename TypeParam::Exclusive;
    AccessCounter counter;
    {
        Shared a(counter), b(counter);
        EXPECT_TRUE(a.ok() && b.ok());
        Exclusive w(counter);
        EXPECT_FALSE(w.ok());  // held by readers, even of this very thread
    }
    {
        Exclusive w(counter);
        EXPECT_TRUE(w.ok());
        Shared r(counter);
        EXPECT_FALSE(r.ok());
        Exclusive w2(counter);
        EXPECT_FALSE(w2.ok());
    }
    Exclusive again(counter);
    EXPECT_TRUE(again.ok());
}

TYPED_TEST(AccessRule, APairFailsWholeAndReleasesWhatItTook) {
    using Pair = typename TypeParam::Pair;
    using Exclusive = typename TypeParam::Exclusive;
    AccessCounter first, second;
    {
        Pair both(first, first);  // an object read twice, as in a + a
        EXPECT_TRUE(both.ok());
        EXPECT_FALSE(Exclusive(first).ok());
    }
    {
        Exclusive w(second);
        EXPECT_FALSE(Pair(first, second).ok());
        EXPECT_FALSE(Pair(second, first).ok());
    }
    EXPECT_TRUE(Exclusive(first).ok());
    EXPECT_TRUE(Exclusive(second).ok());
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
    AccessCounter counter, other;
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
            } else if (x % 8 < 4) {
                SharedAccessPair r(counter, other);
                if (!r.ok()) continue;
                readers.fetch_add(1);
                if (writers.load() != 0) violations++;
                reads++;
                readers.fetch_sub(1);
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
}  // namespace tolvat

namespace tolvat {
namespace {

// A child of fork() has only the forking thread: the holds another thread had at that moment
// (an announced read, a counted read, a writer's mark) must not outlive it there. The forking
// thread's own read goes on and ends normally.
TYPED_TEST(AccessRule, AChildForgetsTheHoldsOfThreadsItDoesNotHave) {
    using Shared = typename TypeParam::Shared;
    using Exclusive = typename TypeParam::Exclusive;
    AccessCounter written, read, deep, mine;
    std::atomic<bool> holding{false}, release{false};
    std::thread other([&] {
        Exclusive w(written);
        Shared r(read);
        // Past the slots of this thread's record, so the last reads are counted in the object.
        std::vector<std::unique_ptr<Shared>> nest;
        for (std::size_t i = 0; i < access_detail::kSlotsPerThread + 1; ++i) nest.push_back(std::make_unique<Shared>(deep));
        EXPECT_TRUE(w.ok() && r.ok() && nest.back()->ok());
        holding = true;
        while (!release) std::this_thread::yield();
    });
    while (!holding) std::this_thread::yield();
    Shared own(mine);
    const pid_t child = fork();
    if (child == 0) {
        bool fine = own.ok();
        for (AccessCounter* c : {&written, &read, &deep}) {
            {
                Shared s(*c);
                fine = fine && s.ok();
            }
            Exclusive e(*c);
            fine = fine && e.ok();
        }
        _exit(fine ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The parent still has every hold.
    EXPECT_FALSE(Shared(written).ok());
    EXPECT_FALSE(Exclusive(read).ok());
    EXPECT_FALSE(Exclusive(deep).ok());
    release = true;
    other.join();
    EXPECT_TRUE(Exclusive(written).ok() && Exclusive(read).ok() && Exclusive(deep).ok());
}

}  // namespace
}  // namespace tolvat
