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
int64_t ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Fresh tracked list per test; every event must be gone by the end.
struct Events : ::testing::Test {
    void SetUp() override { ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK); }
    void TearDown() override
    {
        EXPECT_EQ(orv_mem_live_count(), 0u);
        orv_mem_shutdown();
    }
};

// n threads that each wait once on the event and count their release.
struct Waiters {
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    Waiters(OrvEvent *event, int n, uint32_t ms)
    {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([this, event, ms] { released += orv_event_wait(event, ms) == ORV_OK; });
    }
    void expect_soon(int count)
    {
        for (auto start = Clock::now(); released < count && ms_since(start) < 5000;)
            sleep_ms(1);
        sleep_ms(30); // and nobody more slips through
        EXPECT_EQ(released.load(), count);
    }
    ~Waiters()
    {
        for (auto &t : threads)
            t.join();
    }
};

} // namespace

TEST(EventDeadline, CarriesNanosecondsIntoSeconds)
{
    struct Case {
        int32_t usec;
        uint32_t ms;
        int64_t sec;
        long nsec;
    };
    for (Case c : {Case{600000, 1500, 1002, 100000000}, Case{500000, 500, 1001, 0},
                   Case{499999, 500, 1000, 999999000}, Case{999999, 999, 1001, 998999000}}) {
        struct timespec d;
        orv_event_deadline(1000, c.usec, c.ms, &d);
        EXPECT_EQ(d.tv_sec, c.sec) << c.usec << " " << c.ms;
        EXPECT_EQ(d.tv_nsec, c.nsec) << c.usec << " " << c.ms;
    }
}

#ifdef ORV_TIME64_SPLIT
// What a host built with a 32-bit time_t calls.
struct Timespec32 {
    int32_t tv_sec;
    int32_t tv_nsec;
};
extern "C" void host32_deadline(int64_t, int32_t, uint32_t, Timespec32 *) __asm__("orv_event_deadline");
#endif

// Deadlines past January 2038 keep their seconds on 32-bit targets; a host
// with a 32-bit timespec gets two words written, nothing past them.
TEST(EventDeadline, StaysRightPast2038)
{
    const int64_t past = INT64_C(2208988800); // 2040-01-01
    struct timespec d;
    orv_event_deadline(past + 5, 600000, 1500, &d);
    EXPECT_EQ(static_cast<int64_t>(d.tv_sec), past + 7);
    EXPECT_EQ(d.tv_nsec, 100000000);
    orv_event_deadline(INT32_MAX, 999999, 999, &d);
    EXPECT_EQ(static_cast<int64_t>(d.tv_sec), INT64_C(2147483648));
    EXPECT_EQ(sizeof(d.tv_sec), 8u) << "32-bit builds need a 64-bit time_t";
#ifdef ORV_TIME64_SPLIT
    struct {
        Timespec32 ts;
        int32_t guard[2];
    } narrow{{0, 0}, {0x5A5A5A5A, 0x5A5A5A5A}};
    host32_deadline(1000, 600000, 1500, &narrow.ts);
    EXPECT_EQ(narrow.ts.tv_sec, 1002);
    EXPECT_EQ(narrow.ts.tv_nsec, 100000000);
    EXPECT_EQ(narrow.guard[0], 0x5A5A5A5A);
    EXPECT_EQ(narrow.guard[1], 0x5A5A5A5A);
#endif
}

TEST_F(Events, AutoResetReleasesOneWaitPerSet)
{
    OrvEvent *event = orv_event_create(0, 0, 1, 0);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(orv_event_wait(event, 10), ORV_OK); // created set
    auto start = Clock::now();
    EXPECT_EQ(orv_event_wait(event, 30), ORV_FAIL);
    EXPECT_GE(ms_since(start), 29);
    EXPECT_LT(ms_since(start), 1000);

    // Two sets with nobody waiting are one.
    EXPECT_EQ(orv_event_set(event), ORV_OK);
    EXPECT_EQ(orv_event_set(event), ORV_OK);
    EXPECT_EQ(orv_event_wait(event, 0), ORV_OK);
    EXPECT_EQ(orv_event_wait(event, 20), ORV_FAIL);

    {
        Waiters waiters(event, 3, 0);
        waiters.expect_soon(0);
        for (int n = 1; n <= 3; ++n) {
            EXPECT_EQ(orv_event_set(event), ORV_OK);
            waiters.expect_soon(n);
        }
    }
    EXPECT_EQ(orv_event_wait(event, 5), ORV_FAIL);
    orv_event_destroy(event);
}

TEST_F(Events, ManualResetReleasesAllUntilReset)
{
    OrvEvent *event = orv_event_create(0, 1, 0, 0);
    ASSERT_NE(event, nullptr);
    {
        Waiters untimed(event, 3, 0), timed(event, 2, 5000);
        sleep_ms(20);
        ASSERT_EQ(orv_event_set(event), ORV_OK);
        untimed.expect_soon(3);
        timed.expect_soon(2);
    }
    EXPECT_EQ(orv_event_wait(event, 5), ORV_OK);
    ASSERT_EQ(orv_event_reset(event), ORV_OK);
    auto start = Clock::now();
    EXPECT_EQ(orv_event_wait(event, 25), ORV_FAIL);
    EXPECT_GE(ms_since(start), 24);
    orv_event_destroy(event);
    EXPECT_TRUE(ORV_FAILED(orv_event_set(nullptr)));
    EXPECT_TRUE(ORV_FAILED(orv_event_wait(nullptr, 1)));
}

// A one-shot event: the waiter destroys it as soon as it wakes, while the
// setter may still be inside its set.
TEST_F(Events, WaiterMayDestroyRightAfterWaking)
{
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
