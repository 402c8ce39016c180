// Auto-reset event ping-pong between two threads against the same exchange
// built on std::mutex and std::condition_variable.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "orv/orv_event.h"

namespace {

void event_ping_pong(benchmark::State &state)
{
    OrvEvent *ping = orv_event_create(0, 0, 0, 0);
    OrvEvent *pong = orv_event_create(0, 0, 0, 0);
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        while (orv_event_wait(ping, 0) == ORV_OK && !stop.load(std::memory_order_relaxed))
            orv_event_set(pong);
    });
    for (auto _ : state) {
        orv_event_set(ping);
        orv_event_wait(pong, 0);
    }
    stop = true;
    orv_event_set(ping);
    partner.join();
    orv_event_destroy(ping);
    orv_event_destroy(pong);
}

// One direction of the exchange: an auto-reset flag with its own lock.
struct Signal {
    std::mutex mutex;
    std::condition_variable cv;
    bool set = false;

    void post()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            set = true;
        }
        cv.notify_one();
    }
    void take()
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return set; });
        set = false;
    }
};

void cv_ping_pong(benchmark::State &state)
{
    Signal ping, pong;
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        for (;;) {
            ping.take();
            if (stop.load(std::memory_order_relaxed))
                break;
            pong.post();
        }
    });
    for (auto _ : state) {
        ping.post();
        pong.take();
    }
    stop = true;
    ping.post();
    partner.join();
}

} // namespace

BENCHMARK(event_ping_pong)->Name("BM_event_pingpong/ours")->UseRealTime();
BENCHMARK(cv_ping_pong)->Name("BM_event_pingpong/condition_variable")->UseRealTime();
