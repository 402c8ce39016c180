// Test seam of the clock: the wall-clock reading can be replaced. And the
// monotonic reading, for spans measured inside the runtime.
#pragma once

#include <cstdint>

namespace orv {

// Returns microseconds since the Unix epoch.
using WallClockSource = int64_t (*)();

// Replaces the wall-clock reading (null restores gettimeofday); returns the old one.
WallClockSource clock_set_wall_source(WallClockSource source);

// Nanoseconds of the monotonic clock: for spans that must not follow a
// stepped wall clock (stall budgets, deadlines, timings). Not replaceable.
int64_t clock_monotonic_ns();

struct ClockState {
    uint64_t base_ms;
    uint32_t wrap_count;
    int32_t wrap_flag;
};
ClockState clock_state();

} // namespace orv
