/* OrvMutex, the runtime's one lock type (recursive), and the global lock that
 * guards the tracked-block list and the platform's non-reentrant calls. */
#ifndef ORV_MUTEX_H
#define ORV_MUTEX_H

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

typedef struct OrvMutex OrvMutex;

/* The three arguments are ignored (callers pass 0, 0, 0). Null on failure. */
ORV_API OrvMutex *orv_mutex_create(int a, int b, int c);
/* wait -1 blocks; any other value tries once. ORV_OK or ORV_WAIT_TIMEOUT. */
ORV_API ResultCode orv_mutex_lock(OrvMutex *mutex, int32_t wait);
ORV_API ResultCode orv_mutex_unlock(OrvMutex *mutex);
ORV_API void orv_mutex_destroy(OrvMutex *mutex);

/* The global lock: taken only while it exists (between orv_log_init and
 * orv_mem_shutdown); both calls do nothing otherwise. Recursive. */
ORV_API void orv_global_lock(void);
ORV_API void orv_global_unlock(void);

ORV_EXTERN_C_END

#endif
