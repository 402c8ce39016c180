// Test seam of the loopback listener: the process-wide link counter.
#pragma once

#include <cstdint>

namespace orv {

// Sets the number the next link takes; returns the old one.
uint16_t local_link_set_counter(uint16_t next);

}  // namespace orv
