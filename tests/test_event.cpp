#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "orv/orv_event.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Fresh tracked list per test; every event must be gone by the end.
struct Events : ::testing::Test {
    void SetUp() override { ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK); }
    void TearDown() override {
        EXPECT_EQ(orv_mem_live_count(), 0u);
        orv_mem_shutdown();
    }
};

// Starts n threads that each wait once on the event and count their release.
struct Waiters {
    std::atomic<int> released{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;

    Waiters(OrvEvent *event, int n, uint32_t ms) {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([this, event, ms] {
                (orv_event_wait(event, ms) == ORV_OK ? released : failed).fetch_add(1);
            });
    }
    void join() {
        for (auto &t : threads) t.join();
        threads.clear();
    }
    ~Waiters() { join(); }
};

bool wait_until(const std::atomic<int> &value, int expected, int timeout_ms = 5000) {
    auto start = Clock::now();
    while (value.load() != expected) {
        if (ms_since(start) > timeout_ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

TEST(EventDeadline, CarriesNanosecondsIntoSeconds) {
    struct timespec d;
    orv_event_deadline(1000, 600000, 1500, &d);
    EXPECT_EQ(d.tv_sec, 1002);
    EXPECT_EQ(d.tv_nsec, 100000000);

    // Exactly one second of nanoseconds carries; one less does not.
    orv_event_deadline(50, 500000, 500, &d);
    EXPECT_EQ(d.tv_sec, 51);
    EXPECT_EQ(d.tv_nsec, 0);
    orv_event_deadline(50, 499999, 500, &d);
    EXPECT_EQ(d.tv_sec, 50);
    EXPECT_EQ(d.tv_nsec, 999999000);

    // Largest sum of both fractions, and the largest wait.
    orv_event_deadline(7, 999999, 999, &d);
    EXPECT_EQ(d.tv_sec, 8);
    EXPECT_EQ(d.tv_nsec, 998999000);
    orv_event_deadline(0, 0, UINT32_MAX, &d);
    EXPECT_EQ(d.tv_sec, 4294967);
    EXPECT_EQ(d.tv_nsec, 295000000);
}

TEST_F(Events, AutoResetIsConsumedByOneWait) {
    OrvEvent *event = orv_event_create(0, 0, 1, 0);
    ASSERT_NE(event, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(orv_event_wait(event, 10), ORV_OK);
    EXPECT_LT(ms_since(start), 10);

    start = Clock::now();
    EXPECT_EQ(orv_event_wait(event, 30), ORV_FAIL);
    int64_t waited = ms_since(start);
    EXPECT_GE(waited, 29);
    EXPECT_LT(waited, 1000);

    // A set with nobody waiting stays; a second set adds nothing.
    EXPECT_EQ(orv_event_set(event), ORV_OK);
    EXPECT_EQ(orv_event_set(event), ORV_OK);
    EXPECT_EQ(orv_event_wait(event, 0), ORV_OK);
    EXPECT_EQ(orv_event_wait(event, 20), ORV_FAIL);

    EXPECT_EQ(orv_event_set(event), ORV_OK);
    EXPECT_EQ(orv_event_reset(event), ORV_OK);
    EXPECT_EQ(orv_event_wait(event, 5), ORV_FAIL);
    orv_event_destroy(event);
}

TEST_F(Events, AutoResetReleasesOneWaiterPerSet) {
    OrvEvent *event = orv_event_create(0, 0, 0, 0);
    ASSERT_NE(event, nullptr);
    Waiters waiters(event, 3, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(waiters.released.load(), 0);

    for (int expected = 1; expected <= 3; ++expected) {
        ASSERT_EQ(orv_event_set(event), ORV_OK);
        ASSERT_TRUE(wait_until(waiters.released, expected));
        // Nobody else may slip through on the same set.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(waiters.released.load(), expected);
    }
    waiters.join();
    EXPECT_EQ(waiters.failed.load(), 0);
    // The last waiter consumed the last set.
    EXPECT_EQ(orv_event_wait(event, 5), ORV_FAIL);
    orv_event_destroy(event);
}

TEST_F(Events, ManualResetReleasesAllUntilReset) {
    OrvEvent *event = orv_event_create(0, 1, 0, 0);
    ASSERT_NE(event, nullptr);
    {
        Waiters waiters(event, 4, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(orv_event_set(event), ORV_OK);
        ASSERT_TRUE(wait_until(waiters.released, 4));
    }
    EXPECT_EQ(orv_event_wait(event, 0), ORV_OK);
    EXPECT_EQ(orv_event_wait(event, 5), ORV_OK);

    ASSERT_EQ(orv_event_reset(event), ORV_OK);
    auto start = Clock::now();
    EXPECT_EQ(orv_event_wait(event, 25), ORV_FAIL);
    EXPECT_GE(ms_since(start), 24);

    // Timed waiters released by a set before their deadline report it.
    {
        Waiters waiters(event, 2, 5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto set_at = Clock::now();
        ASSERT_EQ(orv_event_set(event), ORV_OK);
        waiters.join();
        EXPECT_EQ(waiters.released.load(), 2);
        EXPECT_LT(ms_since(set_at), 2000);
    }
    orv_event_destroy(event);
}

// A one-shot event: the waiter destroys it as soon as it wakes, while the
// setter may still be inside its set.
TEST_F(Events, WaiterMayDestroyRightAfterWaking) {
    for (int round = 0; round < 300; ++round) {
        OrvEvent *event = orv_event_create(0, round & 1, 0, 0);
        ASSERT_NE(event, nullptr);
        std::thread waiter([event] {
            EXPECT_EQ(orv_event_wait(event, 0), ORV_OK);
            orv_event_destroy(event);
        });
        EXPECT_EQ(orv_event_set(event), ORV_OK);
        waiter.join();
    }
}

TEST_F(Events, NullEventIsRefused) {
    EXPECT_TRUE(ORV_FAILED(orv_event_wait(nullptr, 1)));
    EXPECT_TRUE(ORV_FAILED(orv_event_set(nullptr)));
    EXPECT_TRUE(ORV_FAILED(orv_event_reset(nullptr)));
    orv_event_destroy(nullptr);
}
