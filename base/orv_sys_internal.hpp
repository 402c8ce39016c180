// Test seams: the loopback listener's process-wide link counter, and a hook
// that runs in orv_remove_tree between finding a directory and opening it.
#pragma once

#include <cstdint>

namespace orv {

// Sets the number the next link takes; returns the old one.
uint16_t local_link_set_counter(uint16_t next);

// Called with the directory's path just before the walk opens it; null
// removes it. Returns the old hook.
using RemoveTreeHook = void (*)(const char *path);
RemoveTreeHook remove_tree_set_hook(RemoveTreeHook hook);

} // namespace orv
