// Test seam of the memory stream: its growth step, checked without
// allocating the gigabytes where the step matters.
#pragma once

#include <cstdint>

namespace orv {

// The capacity a write grows to when `needed` bytes (position plus the write)
// no longer fit: at least half as much again, never past the allocator's
// largest block unless the write itself needs more (which then fails).
int64_t stream_grown_size(int32_t capacity, int64_t needed);

} // namespace orv
