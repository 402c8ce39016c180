// Private view of the tracked allocator for the other runtime modules.
#pragma once

#include "orv/orv_mutex.h"

namespace orv {

// The global lock: the tracked-block list mutex. Null before orv_log_init and
// after orv_mem_shutdown.
OrvMutex *global_lock();
// Starts a fresh, empty list (blocks listed before are forgotten, not freed)
// and creates the list mutex. False when the mutex cannot be created.
bool mem_start();

} // namespace orv
