/* The runtime's time base: milliseconds since runtime init that keep rising
 * when the wall clock falls below the init instant (one day per fall). */
#ifndef ORV_CLOCK_H
#define ORV_CLOCK_H

#include "orv_api.h"

ORV_EXTERN_C_BEGIN

ORV_API uint64_t orv_clock_ms(void);
ORV_API uint64_t orv_clock_us(void);
/* Sleeps at least ms and returns the milliseconds measured (0 for 0). */
ORV_API uint32_t orv_sleep_ms(uint32_t ms);
/* One nanosleep; 0 when it ran to its end, -1 when interrupted or failed. */
ORV_API int orv_sleep_us(uint64_t us);

/* Runtime start-up and shut-down of the clock state. */
ORV_API void orv_clock_init(void);
ORV_API void orv_clock_reset(void);

ORV_EXTERN_C_END

#endif
