// The background sampler on its own, over reads that the test controls: units read once a
// period, a read that never ends, the set growing while a read runs, stopping, and a
// fork's child.
#include "background_sampler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kLate = 10;
constexpr int32_t kMissing = 2;

// Unit u serves counters 2u and 2u + 1; a read gives each the number of reads of that
// unit so far. Unit 1 blocks while `blockUnitOne` is set; unit 2 takes `slowMs`.
struct Reads {
    std::atomic<int> count[3] = {};
    std::atomic<bool> blockUnitOne{false};
    std::atomic<bool> unitOneReturned{false};
    std::atomic<int> slowMs{0};
};

void Read(Sampler*, void* context, uint32_t unit, CounterReading* out) {
    Reads& reads = *static_cast<Reads*>(context);
    if (unit == 1) {
        while (reads.blockUnitOne) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        reads.unitOneReturned = true;
    }
    if (unit == 2 && reads.slowMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(reads.slowMs));
    const int n = ++reads.count[unit];
    out[0] = CounterReading{0, static_cast<uint64_t>(n), 1};
    out[1] = CounterReading{0, static_cast<uint64_t>(n), 1};
}

Sampler* Start(Reads* reads, uint32_t lateMs = 200) {
    const std::vector<CounterUnit> units = {{0, 2}, {2, 2}, {4, 2}};
    return sampler_start(units, 6, SamplerSettings{10, lateMs, 2, kLate, kMissing}, Read, reads);
}

// Publishes until `done` holds for the published readings, for at most `seconds`.
template <typename Done>
bool PublishUntil(Sampler* sampler, Done done, double seconds = 5) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        sampler_publish(sampler, 0);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

TEST(BackgroundSampler, OnlyWantedUnitsAreReadEveryPeriodUntilStopped) {
    Reads reads;
    Sampler* sampler = Start(&reads);
    ASSERT_NE(sampler, nullptr);
    sampler_want(sampler, 1);  // unit 0
    sampler_publish(sampler, 1000);
    EXPECT_EQ(sampler_published(sampler, 0).status, 0) << "the first reading is waited for";
    EXPECT_EQ(sampler_published(sampler, 1).value, sampler_published(sampler, 0).value);
    EXPECT_EQ(sampler_published(sampler, 4).status, kMissing) << "unit 2 is not wanted";
    EXPECT_TRUE(PublishUntil(sampler, [&] { return sampler_published(sampler, 0).value >= 5; }))
        << "read again every period";
    EXPECT_EQ(reads.count[2], 0);
    EXPECT_EQ(sampler_published(sampler, 99).status, kMissing);

    sampler_want_none(sampler);
    sampler_publish(sampler, 0);
    EXPECT_EQ(sampler_published(sampler, 0).status, kMissing);
    EXPECT_TRUE(sampler_stop(sampler, 2000)) << "no read left in progress";
    EXPECT_TRUE(sampler_stop(nullptr, 0));
    const int after = reads.count[0];
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(reads.count[0], after) << "nothing is read after the stop";
}

TEST(BackgroundSampler, UnitsOutsideTheCountersServeNothing) {
    Reads reads;
    // An empty unit, one past the end, one running over it: none is read.
    const std::vector<CounterUnit> units = {{0, 0}, {6, 1}, {4, 9}, {0, 2}};
    Sampler* sampler =
        sampler_start(units, 6, SamplerSettings{10, 200, 1, kLate, kMissing}, Read, &reads);
    ASSERT_NE(sampler, nullptr);
    sampler_want(sampler, 4);
    sampler_want(sampler, 6);
    sampler_want(sampler, 0);
    sampler_publish(sampler, 1000);
    EXPECT_EQ(sampler_published(sampler, 4).status, kMissing) << "no unit serves it";
    EXPECT_EQ(sampler_published(sampler, 0).status, 0) << "read as unit 0, the only one kept";
    EXPECT_EQ(reads.count[1] + reads.count[2], 0);
    EXPECT_TRUE(sampler_stop(sampler, 2000));
}

TEST(BackgroundSampler, AReadThatNeverEndsHoldsUpNeitherOtherUnitsNorPublishNorStop) {
    Reads reads;
    reads.blockUnitOne = true;
    Sampler* sampler = Start(&reads);
    ASSERT_NE(sampler, nullptr);
    for (uint32_t counter : {0u, 2u, 4u}) sampler_want(sampler, counter);
    // The blocked unit is waited for only until its read is late (200 ms).
    const auto start = Clock::now();
    sampler_publish(sampler, 5000);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(sampler_published(sampler, 2).status, kLate);
    EXPECT_EQ(sampler_published(sampler, 3).status, kLate);
    EXPECT_EQ(sampler_published(sampler, 0).status, 0);
    // The other units go on being read, more than the workers' count of them at once.
    const uint64_t before = sampler_published(sampler, 4).value;
    EXPECT_TRUE(
        PublishUntil(sampler, [&] { return sampler_published(sampler, 4).value > before + 5; }));
    const auto publishStart = Clock::now();
    for (int i = 0; i < 100; ++i) sampler_publish(sampler, 1000);
    EXPECT_LT(Clock::now() - publishStart, std::chrono::milliseconds(500))
        << "nothing new to wait for";

    const auto stopStart = Clock::now();
    EXPECT_FALSE(sampler_stop(sampler, 2000)) << "a read is still in progress";
    EXPECT_LT(Clock::now() - stopStart, std::chrono::milliseconds(1000))
        << "a late read is not waited for";
    reads.blockUnitOne = false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!reads.unitOneReturned && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(reads.unitOneReturned) << "the stuck thread ends by itself once released";
}

// Every read hangs, and there are more units than workers: the first publish waits until
// each has turned late, sleeping between, and never for a read that is late already.
TEST(BackgroundSampler, APublishSleepsWhileMoreReadsHangThanThereAreWorkers) {
    std::atomic<bool> hang{true};
    std::atomic<int> inRead{0};
    const ReadUnit read = [](Sampler*, void* context, uint32_t, CounterReading* out) {
        auto* state = static_cast<std::pair<std::atomic<bool>*, std::atomic<int>*>*>(context);
        ++*state->second;
        while (*state->first) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --*state->second;
        out[0] = CounterReading{0, 1, 1};
    };
    std::pair<std::atomic<bool>*, std::atomic<int>*> state{&hang, &inRead};
    const std::vector<CounterUnit> units = {{0, 1}, {1, 1}, {2, 1}, {3, 1}};
    Sampler* sampler =
        sampler_start(units, 4, SamplerSettings{10, 200, 1, kLate, kMissing}, read, &state);
    ASSERT_NE(sampler, nullptr);
    for (uint32_t counter = 0; counter < 4; ++counter) sampler_want(sampler, counter);
    const auto start = Clock::now();
    sampler_publish(sampler, 2000);
    const auto waited = Clock::now() - start;
    const SamplerActivity activity = sampler_activity(sampler);
    for (uint32_t counter = 0; counter < 4; ++counter)
        EXPECT_EQ(sampler_published(sampler, counter).status, kLate) << counter;
    EXPECT_LT(waited, std::chrono::milliseconds(1900)) << "returns once every read is late";
    EXPECT_LT(activity.publishWakes, 50u) << "woke " << activity.publishWakes << " times in "
                                          << std::chrono::duration<double>(waited).count() << " s";
    EXPECT_FALSE(sampler_stop(sampler, 100));
    hang = false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (inRead > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(inRead, 0);
}

TEST(BackgroundSampler, AUnitWantedWhileAnotherIsBeingReadIsWaitedForOnce) {
    Reads reads;
    reads.slowMs = 100;
    Sampler* sampler = Start(&reads, 1000);
    ASSERT_NE(sampler, nullptr);
    sampler_want(sampler, 4);                                    // unit 2: a 100 ms read
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // that read is under way
    sampler_want(sampler, 0);
    sampler_publish(sampler, 2000);
    EXPECT_EQ(sampler_published(sampler, 0).status, 0);
    EXPECT_EQ(sampler_published(sampler, 4).status, 0);
    // Once read, nothing is waited for again, however slow the reads.
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i) sampler_publish(sampler, 2000);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_TRUE(sampler_stop(sampler, 2000));
}

#if !defined(_WIN32) && !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
// The sanitizers cannot start threads in the child of a process with threads: their own
// thread registries may be held by a thread that the fork left behind.
TEST(BackgroundSampler, AForkedChildReadsLiveValuesAndStopsAtOnce) {
    Reads reads;
    Sampler* sampler = Start(&reads);
    ASSERT_NE(sampler, nullptr);
    sampler_want(sampler, 0);
    sampler_publish(sampler, 1000);
    ASSERT_EQ(sampler_published(sampler, 0).status, 0);
    const pid_t child = fork();
    if (child == 0) {
        // The threads stayed behind in the parent: the child's sampler starts its own.
        const uint64_t before = sampler_published(sampler, 0).value;
        sampler_want(sampler, 4);
        sampler_publish(sampler, 1000);
        const bool fresh = sampler_published(sampler, 4).status == 0 && PublishUntil(sampler, [&] {
                               return sampler_published(sampler, 0).value > before + 3;
                           });
        const auto stopStart = Clock::now();
        const bool stopped = sampler_stop(sampler, 2000);
        const bool quick = Clock::now() - stopStart < std::chrono::milliseconds(500);
        _exit(fresh && stopped && quick ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(sampler_stop(sampler, 2000));
}
#endif

}  // namespace
