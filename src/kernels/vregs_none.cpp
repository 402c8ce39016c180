// device_vstore / device_vload where no assembly of ours knows the register
// file (the .S files under arm/ and x86/ cover ARMv7, AArch64, x86-64).
#include <cstring>

#include "device_render.h"

#if !defined(__arm__) && !defined(__aarch64__) && !defined(__x86_64__)
extern "C" {
// No register file of that shape here: report zeros and accept any block.
ORV_API void device_vstore(void *block)
{
    std::memset(block, 0, 256);
}
ORV_API void device_vload(const void *block) {}
}
#endif
