#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_thread.h"
#include "orv_log_internal.hpp"

namespace {

std::mutex g_lines_mutex;
std::vector<std::string> g_lines;
int capture_android(int, const char *, const char *text) {
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    g_lines.emplace_back(text);
    return 0;
}

int count_logged(const std::string &piece) {
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    int n = 0;
    for (const auto &line : g_lines) n += line.find(piece) != std::string::npos;
    return n;
}

// Runtime started with the thread module; every cell must be gone at the end.
struct Threads : ::testing::Test {
    orv::AndroidWriter old_writer = nullptr;
    void SetUp() override {
        ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK);
        {
            std::lock_guard<std::mutex> lock(g_lines_mutex);
            g_lines.clear();
        }
        old_writer = orv::log_set_android_writer(capture_android);
        ASSERT_EQ(orv_thread_module_init(), ORV_OK);
    }
    void TearDown() override {
        orv_thread_module_uninit();
        orv::log_set_android_writer(old_writer);
        EXPECT_EQ(orv_mem_live_count(), 0u);
        orv_mem_shutdown();
    }
};

struct Seen {
    std::atomic<OrvThread *> current{nullptr};
    std::atomic<bool> self_matches{false};
    std::atomic<bool> stop_seen{false};
    std::atomic<uintptr_t> own_slot{0};
};

// Waits on its own stop event without a limit: only orv_thread_stop ends it.
void wait_for_stop(void *arg) {
    auto *seen = static_cast<Seen *>(arg);
    OrvThread *me = orv_thread_current();
    seen->current = me;
    seen->self_matches = me && pthread_equal(std::atomic_ref<pthread_t>(me->self).load(), pthread_self()) &&
                         pthread_equal(orv_thread_self(), pthread_self());
    if (!me) return;
    me->set_slot(me, 0, 0x1234);
    seen->own_slot = me->get_slot(me, 0);
    seen->stop_seen = orv_event_wait(me->event, 0) == ORV_OK;
}

} // namespace

TEST_F(Threads, CurrentAndStopThroughTheEvent) {
    EXPECT_EQ(orv_thread_current(), nullptr);
    std::thread([] { EXPECT_EQ(orv_thread_current(), nullptr); }).join();

    Seen seen;
    OrvThread thread = {};
    ASSERT_EQ(orv_thread_create(&seen, wait_for_stop, &thread), ORV_OK);
    EXPECT_NE(thread.handle, pthread_t{});
    ASSERT_NE(thread.event, nullptr);
    ASSERT_NE(thread.slots, nullptr);
    while (!seen.own_slot.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The creator reaches the thread's slots through the object.
    EXPECT_EQ(thread.get_slot(&thread, 0), 0x1234u);
    EXPECT_EQ(thread.set_slot(&thread, 77, 5), ORV_OK);
    EXPECT_EQ(thread.get_slot(&thread, 77), 5u);
    EXPECT_FALSE(seen.stop_seen.load());

    orv_thread_stop(&thread);
    EXPECT_TRUE(seen.stop_seen.load());
    EXPECT_EQ(seen.current.load(), &thread);
    EXPECT_TRUE(seen.self_matches.load());
    EXPECT_EQ(thread.started, 1);
    EXPECT_EQ(thread.handle, pthread_t{});
    EXPECT_EQ(thread.self, pthread_t{});
    EXPECT_EQ(thread.event, nullptr);
    EXPECT_EQ(thread.slots, nullptr);
    EXPECT_EQ(count_logged("ERR=0x0,ORV_OK, INF=VRE: VR: Thread Proc!(pid:" + std::to_string(getpid()) + " tid:"), 1);

    // A stopped object can be created again; stopping twice or never is harmless.
    orv_thread_stop(&thread);
    Seen again;
    ASSERT_EQ(orv_thread_create(&again, wait_for_stop, &thread), ORV_OK);
    orv_thread_stop(&thread);
    EXPECT_TRUE(again.stop_seen.load());
    EXPECT_EQ(again.current.load(), &thread);
    OrvThread never = {};
    orv_thread_stop(&never);
    orv_thread_stop(nullptr);
}

TEST_F(Threads, NullProcSpawnAndJoin) {
    OrvThread thread = {};
    ASSERT_EQ(orv_thread_create(nullptr, nullptr, &thread), ORV_OK);
    while (count_logged("VRE: VR: thread proc thread func is null") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(std::atomic_ref<int32_t>(thread.started).load(), 1);
    orv_thread_stop(&thread);
    EXPECT_EQ(thread.event, nullptr);
    EXPECT_EQ(count_logged("ORV_ERR_INVALID_PARAM, INF=VRE: VR: thread proc thread func is null"), 1);

    // Spawn runs the filled proc with no event or slots of its own.
    Seen seen;
    OrvThread spawned = {};
    spawned.proc = [](void *arg) {
        auto *s = static_cast<Seen *>(arg);
        s->current = orv_thread_current();
    };
    spawned.arg = &seen;
    pthread_t handle = orv_thread_spawn(0, 0, &spawned);
    ASSERT_NE(handle, pthread_t{});
    EXPECT_EQ(orv_thread_join(handle), ORV_OK);
    EXPECT_EQ(seen.current.load(), &spawned);
    EXPECT_EQ(spawned.started, 1);
    EXPECT_EQ(spawned.event, nullptr);
    EXPECT_EQ(spawned.slots, nullptr);

    EXPECT_NE(orv_thread_join_result(0), 0);
    EXPECT_EQ(orv_thread_join(0), ORV_OK);
    EXPECT_EQ(orv_thread_spawn(0, 0, nullptr), pthread_t{});
    EXPECT_EQ(orv_thread_create(nullptr, wait_for_stop, nullptr), ORV_ERR_INVALID_PARAM);
}

TEST_F(Threads, GlobalAndThreadSlots) {
    size_t before = orv_mem_live_count();
    EXPECT_EQ(orv_global_slot_get(0), 0u);
    ASSERT_EQ(orv_global_slot_set(0, 7), ORV_OK);
    EXPECT_EQ(orv_global_slot_get(0), 7u);
    size_t with_cell = orv_mem_live_count();
    EXPECT_GT(with_cell, before);
    ASSERT_EQ(orv_global_slot_set(0, 9), ORV_OK);
    EXPECT_EQ(orv_global_slot_get(0), 9u);
    EXPECT_EQ(orv_mem_live_count(), with_cell); // same cell overwritten
    EXPECT_EQ(orv_global_slot_get(12345), 0u);
    ASSERT_EQ(orv_global_slot_set(12345, 0), ORV_OK);
    EXPECT_EQ(orv_global_slot_get(12345), 0u);
    EXPECT_EQ(orv_slot_set(nullptr, 1, 1), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_slot_get(nullptr, 1), 0u);

    // Several threads share the registry and each other's tables at once.
    constexpr int kThreads = 4;
    constexpr uintptr_t kKeys = 200;
    std::vector<Seen> seen(kThreads);
    std::vector<OrvThread> threads(kThreads);
    for (int i = 0; i < kThreads; ++i) ASSERT_EQ(orv_thread_create(&seen[i], wait_for_stop, &threads[i]), ORV_OK);
    std::vector<std::thread> writers;
    for (int i = 0; i < kThreads; ++i)
        writers.emplace_back([&, i] {
            for (uintptr_t k = 1; k <= kKeys; ++k) {
                uintptr_t key = k * 16 + (uintptr_t)i;
                EXPECT_EQ(orv_global_slot_set(key, key * 3), ORV_OK);
                EXPECT_EQ(orv_global_slot_get(key), key * 3);
                OrvThread *other = &threads[(i + 1) % kThreads];
                EXPECT_EQ(other->set_slot(other, key, key + 1), ORV_OK);
                EXPECT_EQ(orv_global_slot_set(0, key), ORV_OK); // all fight over the default key
            }
        });
    for (auto &w : writers) w.join();
    for (int i = 0; i < kThreads; ++i) {
        OrvThread *t = &threads[i];
        int writer = (i + kThreads - 1) % kThreads;
        for (uintptr_t k = 1; k <= kKeys; ++k) {
            uintptr_t key = k * 16 + (uintptr_t)writer;
            ASSERT_EQ(orv_global_slot_get(key), key * 3);
            ASSERT_EQ(t->get_slot(t, key), key + 1);
            ASSERT_EQ(t->get_slot(t, k * 16 + (uintptr_t)i), 0u);
        }
    }
    EXPECT_LT(orv_global_slot_get(0) % 16, (uintptr_t)kThreads);
    for (auto &t : threads) orv_thread_stop(&t);
    for (auto &s : seen) EXPECT_EQ(s.own_slot.load(), 0x1234u);

    // Without the module the registry is gone, and says so.
    orv_thread_module_uninit();
    EXPECT_EQ(orv_global_slot_set(1, 1), ORV_ERR_OBJ_UNINIT);
    EXPECT_EQ(orv_global_slot_get(1), 0u);
    EXPECT_EQ(orv_thread_module_init(), ORV_OK);
    EXPECT_EQ(orv_global_slot_get(0), 0u);
}
