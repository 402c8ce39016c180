#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orv/orv_dump.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_thread.h"
#include "orv_log_internal.hpp"

namespace {

std::mutex g_lines_mutex;
std::vector<std::string> g_lines;
int capture_android(int, const char *, const char *text)
{
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    g_lines.emplace_back(text);
    return 0;
}
int count_logged(const std::string &piece)
{
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    int n = 0;
    for (const auto &line : g_lines)
        n += line.find(piece) != std::string::npos;
    return n;
}

// Runtime started with the thread module; every cell must be gone at the end.
struct Threads : ::testing::Test {
    orv::AndroidWriter old_writer = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK);
        old_writer = orv::log_set_android_writer(capture_android);
        ASSERT_EQ(orv_thread_module_init(), ORV_OK);
    }
    void TearDown() override
    {
        orv_thread_module_uninit();
        orv::log_set_android_writer(old_writer);
        EXPECT_EQ(orv_mem_live_count(), 0u);
        orv_mem_shutdown();
    }
};

struct Seen {
    std::atomic<OrvThread *> current{nullptr};
    std::atomic<bool> stop_seen{false};
    std::atomic<uintptr_t> own_slot{0};
};

// Waits on its own stop event without a limit: only orv_thread_stop ends it.
void wait_for_stop(void *arg)
{
    auto *seen = static_cast<Seen *>(arg);
    OrvThread *me = orv_thread_current();
    seen->current = me;
    if (!me)
        return;
    me->set_slot(me, 0, 0x1234);
    seen->own_slot = me->get_slot(me, 0);
    seen->stop_seen = orv_event_wait(me->event, 0) == ORV_OK;
}

} // namespace

TEST_F(Threads, CurrentAndStopThroughTheEvent)
{
    EXPECT_EQ(orv_thread_current(), nullptr);
    std::thread([] { EXPECT_EQ(orv_thread_current(), nullptr); }).join();

    for (int round = 0; round < 2; ++round) { // a stopped object can be created again
        Seen seen;
        OrvThread thread = {};
        ASSERT_EQ(orv_thread_create(&seen, wait_for_stop, &thread), ORV_OK);
        while (!seen.own_slot.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(thread.get_slot(&thread, 0), 0x1234u); // reached through the object
        EXPECT_FALSE(seen.stop_seen.load());
        orv_thread_stop(&thread);
        EXPECT_TRUE(seen.stop_seen.load());
        EXPECT_EQ(seen.current.load(), &thread);
        EXPECT_EQ(thread.started, 1);
        EXPECT_EQ(thread.handle, pthread_t{});
        EXPECT_EQ(thread.event, nullptr);
        EXPECT_EQ(thread.slots, nullptr);
        orv_thread_stop(&thread); // twice is harmless
    }
    EXPECT_EQ(
        count_logged("ERR=0x0,ORV_OK, INF=VRE: VR: Thread Proc!(pid:" + std::to_string(getpid()) + " tid:"),
        2);
    OrvThread never = {};
    orv_thread_stop(&never);
}

TEST_F(Threads, NullProcAndSpawn)
{
    OrvThread thread = {};
    ASSERT_EQ(orv_thread_create(nullptr, nullptr, &thread), ORV_OK);
    while (count_logged("ORV_ERR_INVALID_PARAM, INF=VRE: VR: thread proc thread func is null") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    orv_thread_stop(&thread);
    EXPECT_EQ(thread.event, nullptr);

    Seen seen;
    OrvThread spawned = {};
    spawned.proc = [](void *arg) { static_cast<Seen *>(arg)->current = orv_thread_current(); };
    spawned.arg = &seen;
    pthread_t handle = orv_thread_spawn(0, 0, &spawned);
    ASSERT_NE(handle, pthread_t{});
    EXPECT_EQ(orv_thread_join(handle), ORV_OK);
    EXPECT_EQ(seen.current.load(), &spawned);
    EXPECT_EQ(spawned.event, nullptr);
    EXPECT_NE(orv_thread_join_result(0), 0);
}

TEST_F(Threads, GlobalAndThreadSlotsFromSeveralThreads)
{
    size_t before = orv_mem_live_count();
    ASSERT_EQ(orv_global_slot_set(0, 7), ORV_OK);
    EXPECT_EQ(orv_global_slot_get(0), 7u);
    size_t with_cell = orv_mem_live_count();
    ASSERT_EQ(orv_global_slot_set(0, 9), ORV_OK);
    EXPECT_EQ(orv_global_slot_get(0), 9u);
    EXPECT_EQ(orv_mem_live_count(), with_cell); // the same cell, overwritten
    EXPECT_GT(with_cell, before);
    EXPECT_EQ(orv_global_slot_get(12345), 0u);

    constexpr int kThreads = 4;
    constexpr uintptr_t kKeys = 200;
    std::vector<Seen> seen(kThreads);
    std::vector<OrvThread> threads(kThreads);
    for (int i = 0; i < kThreads; ++i)
        ASSERT_EQ(orv_thread_create(&seen[i], wait_for_stop, &threads[i]), ORV_OK);
    std::vector<std::thread> writers;
    for (int i = 0; i < kThreads; ++i)
        writers.emplace_back([&, i] {
            OrvThread *next = &threads[(i + 1) % kThreads];
            for (uintptr_t k = 1; k <= kKeys; ++k) {
                uintptr_t key = k * 16 + (uintptr_t)i;
                EXPECT_EQ(orv_global_slot_set(key, key * 3), ORV_OK);
                EXPECT_EQ(next->set_slot(next, key, key + 1), ORV_OK);
                EXPECT_EQ(orv_global_slot_set(0, key), ORV_OK); // all on the default key
            }
        });
    for (auto &w : writers)
        w.join();
    for (int i = 0; i < kThreads; ++i) {
        OrvThread *t = &threads[i];
        uintptr_t writer = (uintptr_t)((i + kThreads - 1) % kThreads);
        for (uintptr_t k = 1; k <= kKeys; ++k) {
            ASSERT_EQ(orv_global_slot_get(k * 16 + writer), (k * 16 + writer) * 3);
            ASSERT_EQ(t->get_slot(t, k * 16 + writer), k * 16 + writer + 1);
            ASSERT_EQ(t->get_slot(t, k * 16 + (uintptr_t)i), 0u);
        }
    }
    for (auto &t : threads)
        orv_thread_stop(&t);
    for (auto &s : seen)
        EXPECT_EQ(s.own_slot.load(), 0x1234u);

    orv_thread_module_uninit();
    EXPECT_EQ(orv_global_slot_set(1, 1), ORV_ERR_OBJ_UNINIT);
    EXPECT_EQ(orv_global_slot_get(1), 0u);
    EXPECT_EQ(orv_thread_module_init(), ORV_OK);
}

namespace {
int quiet_android(int, const char *, const char *)
{
    return 0;
}

// Runs `body` on a thread of its own; a body still running after `limit` is
// taken for a hang and ends the whole test program, so CI fails instead of
// waiting for ever.
template <typename Body>
void with_watchdog(std::chrono::seconds limit, const char *what, Body body)
{
    std::packaged_task<void()> task(body);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(limit) != std::future_status::ready) {
        fprintf(stderr, "watchdog: %s still running after %d s: deadlock\n", what, int(limit.count()));
        fflush(stderr);
        std::_Exit(3);
    }
    runner.join();
}
} // namespace

// The global lock and the dump log once took each other in opposite orders:
// a slot set logged under the global lock into the dump log, while a logging
// thread held the dump log and grew its stream, which allocated.
TEST(GlobalLock, SlotSetsAndDumpLoggingDoNotDeadlock)
{
    ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK); // thread module off: every set logs
    orv::AndroidWriter old = orv::log_set_android_writer(quiet_android);
    std::atomic<orv_dump_log *> attached{orv_dump_log_create()};
    ASSERT_NE(attached.load(), nullptr);
    ASSERT_EQ(orv_dump_log_attach(attached.load()), ORV_OK);
    std::atomic<long> sets{0}, lines{0};
    with_watchdog(std::chrono::seconds(30), "slot sets beside dump logging", [&] {
        std::atomic<bool> stop{false};
        std::thread setter([&] {
            while (!stop.load()) {
                EXPECT_EQ(orv_global_slot_set(1, 1), ORV_ERR_OBJ_UNINIT);
                ++sets;
            }
        });
        std::thread logger([&] {
            const std::string big(20000, 'x');
            while (!stop.load()) {
                orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: %s", big.c_str());
                // A fresh log now and then, so the stream keeps growing.
                if (++lines % 64 == 0) {
                    orv_dump_log *fresh = orv_dump_log_create();
                    ASSERT_NE(fresh, nullptr);
                    orv_dump_log_attach(fresh);
                    orv_dump_log_destroy(attached.exchange(fresh));
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(3));
        stop = true;
        setter.join();
        logger.join();
    });
    EXPECT_GT(sets.load(), 0);
    EXPECT_GT(lines.load(), 0);
    orv_dump_log_destroy(attached.load());
    orv::log_set_android_writer(old);
    orv_mem_shutdown();
}

// A thread's slot table is reached through its object while it is stopped:
// the table pointer must be read under the lock that the stop clears it in.
TEST_F(Threads, SlotsReachedWhileTheThreadStops)
{
    for (int round = 0; round < 200; ++round) {
        Seen seen;
        OrvThread thread = {};
        ASSERT_EQ(orv_thread_create(&seen, wait_for_stop, &thread), ORV_OK);
        std::atomic<bool> go{false}, stop{false};
        std::thread user([&] {
            go = true;
            for (uintptr_t k = 1; !stop.load(); ++k) {
                thread.set_slot(&thread, k % 8 + 1, k);
                (void)thread.get_slot(&thread, k % 8 + 1);
            }
        });
        while (!go.load())
            std::this_thread::yield();
        orv_thread_stop(&thread);
        stop = true;
        user.join();
        EXPECT_EQ(thread.get_slot(&thread, 1), 0u); // stopped: no table, nothing found
        EXPECT_NE(thread.set_slot(&thread, 1, 1), ORV_OK);
    }
}
