// Work shared among threads: runShared with and without a team of waiting
// threads, the shares each run once on a thread of their own, failures
// carried back, a team that is busy or too small giving way to threads of
// their own.
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "boundary/parallel.hpp"

namespace powderkit::phase {
namespace {

// Which shares ran, how often, and on which threads.
struct Record {
    std::mutex mutex;
    std::vector<int> runs;
    std::set<pthread_t> threads;

    explicit Record(std::size_t count) : runs(count, 0) {}
    void note(std::size_t k) {
        const std::lock_guard<std::mutex> lock(mutex);
        ++runs[k];
        threads.insert(pthread_self());
    }
};

TEST(Parallel, ATeamRunsEachShareOnceOnAThreadOfItsOwnRoundAfterRound) {
    const ThreadTeam team(3);
    for (int round = 0; round < 200; ++round) {
        Record record(3);
        runShared(3, [&](std::size_t k) { record.note(k); });
        EXPECT_EQ(record.runs, std::vector<int>({1, 1, 1})) << "round " << round;
        EXPECT_EQ(record.threads.size(), 3u) << "round " << round;
        EXPECT_EQ(record.threads.count(pthread_self()), 1u);
    }
    // Fewer shares than the team has threads: the idle helper runs nothing.
    Record two(2);
    runShared(2, [&](std::size_t k) { two.note(k); });
    EXPECT_EQ(two.runs, std::vector<int>({1, 1}));
}

TEST(Parallel, TheFirstFailureByShareComesBackAndTheTeamGoesOn) {
    const ThreadTeam team(2);
    for (const std::size_t failing : {0u, 1u}) {
        std::atomic<int> ran{0};
        try {
            runShared(2, [&](std::size_t k) {
                ++ran;
                if (k == failing) throw std::runtime_error("share " + std::to_string(k));
            });
            ADD_FAILURE() << "share " << failing << "'s failure was lost";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()), "share " + std::to_string(failing));
        }
        EXPECT_EQ(ran.load(), 2) << "a failing share stops no other";
    }
    std::atomic<int> after{0};
    runShared(2, [&](std::size_t) { ++after; });
    EXPECT_EQ(after.load(), 2);
    // Both fail: share 0's is the one thrown again.
    EXPECT_THROW(runShared(2, [](std::size_t k) { throw std::runtime_error(k == 0 ? "0" : "1"); }),
                 std::runtime_error);
    try {
        runShared(2, [](std::size_t k) { throw std::runtime_error(k == 0 ? "0" : "1"); });
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "0");
    }
}

TEST(Parallel, SharesInsideASharedPartOrBeyondTheTeamGetThreadsOfTheirOwn) {
    const ThreadTeam team(2);
    // From inside share 0 the team is at work: the inner call starts its own thread.
    Record inner(2);
    runShared(2, [&](std::size_t k) {
        if (k == 0) runShared(2, [&](std::size_t i) { inner.note(i); });
    });
    EXPECT_EQ(inner.runs, std::vector<int>({1, 1}));
    EXPECT_EQ(inner.threads.size(), 2u);
    // More shares than the team's threads.
    Record four(4);
    runShared(4, [&](std::size_t k) { four.note(k); });
    EXPECT_EQ(four.runs, std::vector<int>({1, 1, 1, 1}));
    EXPECT_EQ(four.threads.size(), 4u);
    // A team inside one as large adds nothing, and ending it leaves the outer one working.
    { const ThreadTeam nested(2); }
    Record again(2);
    runShared(2, [&](std::size_t k) { again.note(k); });
    EXPECT_EQ(again.runs, std::vector<int>({1, 1}));
}

TEST(Parallel, WithoutATeamOrWithOneThreadTheCallerAlone) {
    Record one(1);
    {
        const ThreadTeam single(1);
        runShared(1, [&](std::size_t k) { one.note(k); });
    }
    EXPECT_EQ(one.runs, std::vector<int>({1}));
    EXPECT_EQ(*one.threads.begin(), pthread_self());
    std::atomic<int> none{0};
    runShared(0, [&](std::size_t) { ++none; });
    EXPECT_EQ(none.load(), 0);
}

}  // namespace
}  // namespace powderkit::phase
