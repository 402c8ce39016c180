/* Events: a set/not-set signal built on a condition variable and a recursive
 * mutex. A manual-reset event stays set and releases every waiter; an
 * auto-reset event releases one waiter, which clears it. */
#ifndef ORV_EVENT_H
#define ORV_EVENT_H

#include <time.h>

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

typedef struct OrvEvent OrvEvent;

/* The first and last arguments are ignored (callers pass 0). manual non-zero
 * makes a manual-reset event; state non-zero creates it set. Null on failure. */
ORV_API OrvEvent *orv_event_create(int32_t reserved, int32_t manual, int32_t state, int32_t reserved2);
/* ms 0 waits without a limit. ORV_OK once the event is (or becomes) set;
 * ORV_FAIL on time-out, platform failure or a null event. */
ORV_API ResultCode orv_event_wait(OrvEvent *event, uint32_t ms);
ORV_API ResultCode orv_event_set(OrvEvent *event);
ORV_API ResultCode orv_event_reset(OrvEvent *event);
/* No thread may be waiting on the event. Null is ignored. */
ORV_API void orv_event_destroy(OrvEvent *event);

/* Absolute wall-clock deadline ms milliseconds after now_sec + now_usec
 * microseconds, with the nanosecond carry into the seconds. */
ORV_API void orv_event_deadline(int64_t now_sec, int32_t now_usec, uint32_t ms, struct timespec *deadline)
    ORV_TIME64_ENTRY(orv_event_deadline);

ORV_EXTERN_C_END

#endif
