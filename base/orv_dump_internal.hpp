// Private view of the dump log for the tracked allocator's shut-down.
#pragma once

namespace orv {

// Detaches the attached dump log and destroys the mutex of every live one:
// their tracked blocks are about to be reported and freed. Logging afterwards
// finds no dump log.
void dump_log_shutdown();

} // namespace orv
