// Test seam of the clock: the wall-clock reading can be replaced.
#pragma once

#include <cstdint>

namespace orv {

// Returns microseconds since the Unix epoch.
using WallClockSource = int64_t (*)();

// Replaces the wall-clock reading (null restores gettimeofday); returns the old one.
WallClockSource clock_set_wall_source(WallClockSource source);

struct ClockState {
    uint64_t base_ms;
    uint32_t wrap_count;
    int32_t wrap_flag;
};
ClockState clock_state();

} // namespace orv
