// The runtime's clock and sleeps. Readings count from runtime init; a wall
// clock that falls below the init instant adds one day per fall, so readings
// keep rising. The wrap count and flag share one atomic word, read before the
// wall clock and changed by one compare-and-swap from what was read, so each
// fall is counted once even when a reading arrives late on another thread.
#include "orv/orv_clock.h"

#include <atomic>
#include <sys/time.h>
#include <time.h>

#include "orv_clock_internal.hpp"

namespace {

constexpr uint64_t kDayMs = 86400000ull;

std::atomic<uint64_t> g_base_ms{0};
// Wrap count in the upper 32 bits, wrap flag in bit 0.
std::atomic<uint64_t> g_wrap{0};

constexpr uint64_t kFlag = 1;
constexpr uint64_t kOneFall = uint64_t{1} << 32;

uint32_t count_of(uint64_t wrap)
{
    return static_cast<uint32_t>(wrap >> 32);
}

int64_t system_wall_us()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

std::atomic<orv::WallClockSource> g_wall{system_wall_us};

// Reads the wall clock in `unit` (1: microseconds, 1000: milliseconds) and
// the day count that goes with it. A fall is counted by the reader that moves
// the state from "above" to "below"; the state is read before the wall clock,
// so a reading taken before another thread counted or cleared a fall fails
// its swap and is taken again.
uint32_t read_wall(int64_t unit, uint64_t base, int64_t *now)
{
    uint64_t wrap = g_wrap.load();
    for (;;) {
        *now = g_wall.load()() / unit;
        const bool below = static_cast<uint64_t>(*now) < base;
        uint64_t next = wrap;
        if (below && !(wrap & kFlag))
            next = (wrap + kOneFall) | kFlag;
        else if (!below)
            next = wrap & ~kFlag;
        if (next == wrap || g_wrap.compare_exchange_strong(wrap, next))
            return count_of(next);
    }
}

} // namespace

orv::WallClockSource orv::clock_set_wall_source(WallClockSource source)
{
    return g_wall.exchange(source ? source : system_wall_us);
}

int64_t orv::clock_monotonic_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

orv::ClockState orv::clock_state()
{
    const uint64_t wrap = g_wrap.load();
    return {g_base_ms.load(), count_of(wrap), static_cast<int32_t>(wrap & kFlag)};
}

extern "C" {

uint64_t orv_clock_ms(void)
{
    const uint64_t base = g_base_ms.load();
    int64_t now;
    const uint64_t days = read_wall(1000, base, &now);
    return (static_cast<uint64_t>(now) - base) + days * kDayMs;
}

uint64_t orv_clock_us(void)
{
    const uint64_t base = g_base_ms.load() * 1000u;
    int64_t now;
    const uint64_t days = read_wall(1, base, &now);
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
    g_wrap.store(0);
    g_base_ms.store(orv_clock_ms());
    g_wrap.store(0);
}

void orv_clock_reset(void)
{
    g_base_ms.store(0);
    g_wrap.store(0);
}

} // extern "C"
