// Private view of the tracked allocator for the other runtime modules.
#pragma once

#include "orv/orv_mutex.h"

namespace orv {

// The global lock (it guards no tracked-block list). Null before
// orv_log_init and after orv_mem_shutdown.
OrvMutex *global_lock();
// Starts fresh, empty lists (blocks listed before are forgotten, not freed)
// and creates the global lock. False when the mutex cannot be created. Must
// run when no other thread allocates or frees.
bool mem_start();

} // namespace orv
