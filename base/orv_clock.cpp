// The runtime's clock and sleeps. Readings count from runtime init; a wall
// clock that falls below the init instant adds one day per fall, so readings
// keep rising. The wrap state is atomic so that each fall is counted once even
// when several threads read the clock at the moment it falls.
#include "orv/orv_clock.h"

#include <atomic>
#include <sys/time.h>
#include <time.h>

#include "orv_clock_internal.hpp"

namespace {

constexpr uint64_t kDayMs = 86400000ull;

std::atomic<uint64_t> g_base_ms{0};
std::atomic<uint32_t> g_wrap_count{0};
std::atomic<int32_t> g_wrap_flag{0};

int64_t system_wall_us()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

std::atomic<orv::WallClockSource> g_wall{system_wall_us};

// Counts a fall below the base once; returns the day count to add.
uint64_t track_fall(bool below)
{
    if (below) {
        int32_t expected = 0;
        if (g_wrap_flag.compare_exchange_strong(expected, 1))
            g_wrap_count.fetch_add(1);
    } else {
        g_wrap_flag.store(0);
    }
    return g_wrap_count.load();
}

}  // namespace

orv::WallClockSource orv::clock_set_wall_source(WallClockSource source)
{
    return g_wall.exchange(source ? source : system_wall_us);
}

orv::ClockState orv::clock_state()
{
    return {g_base_ms.load(), g_wrap_count.load(), g_wrap_flag.load()};
}

extern "C" {

uint64_t orv_clock_ms(void)
{
    const int64_t now = g_wall.load()() / 1000;
    const uint64_t base = g_base_ms.load();
    const uint64_t days = track_fall(static_cast<uint64_t>(now) < base);
    return (static_cast<uint64_t>(now) - base) + days * kDayMs;
}

uint64_t orv_clock_us(void)
{
    const int64_t now = g_wall.load()();
    const uint64_t base = g_base_ms.load() * 1000u;
    const uint64_t days = track_fall(static_cast<uint64_t>(now) < base);
    return (static_cast<uint64_t>(now) - base) + days * kDayMs * 1000u;
}

uint32_t orv_sleep_ms(uint32_t ms)
{
    if (ms == 0)
        return 0;
    const uint64_t start = orv_clock_ms();
    const timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    for (;;) {
        // Each pass sleeps the whole request again; the clock decides when to stop.
        nanosleep(&request, nullptr);
        const auto elapsed = static_cast<int64_t>(orv_clock_ms() - start);
        if (elapsed < 0 || elapsed >= static_cast<int64_t>(ms))
            return static_cast<uint32_t>(elapsed);
    }
}

int orv_sleep_us(uint64_t us)
{
    const timespec request{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
    return nanosleep(&request, nullptr) == 0 ? 0 : -1;
}

void orv_clock_init(void)
{
    g_base_ms.store(0);
    g_wrap_count.store(0);
    g_wrap_flag.store(0);
    g_base_ms.store(orv_clock_ms());
    g_wrap_count.store(0);
    g_wrap_flag.store(0);
}

void orv_clock_reset(void)
{
    g_base_ms.store(0);
    g_wrap_count.store(0);
    g_wrap_flag.store(0);
}

}  // extern "C"
