/* Export and linkage macros shared by every public header of the runtime. */
#ifndef ORV_API_H
#define ORV_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ORV_API               __attribute__((visibility("default")))
#define ORV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORV_API
#define ORV_PRINTF(fmt, args)
#endif

/* A 32-bit glibc host picks its time_t width with _TIME_BITS. Calls whose
 * arguments hold time types have one entry point per width and the header
 * binds the host's: the plain name keeps 32-bit time, "<name>_time64" takes
 * 64-bit time. Elsewhere time_t has one width and the plain name is the call. */
#if defined(__USE_TIME_BITS64) && defined(__TIMESIZE) && __TIMESIZE == 32
#define ORV_TIME64_ENTRY(name) __asm__(#name "_time64")
#define ORV_TIME64_SPLIT       1
#else
#define ORV_TIME64_ENTRY(name)
#endif

#ifdef __cplusplus
#define ORV_EXTERN_C_BEGIN extern "C" {
#define ORV_EXTERN_C_END   }
#else
#define ORV_EXTERN_C_BEGIN
#define ORV_EXTERN_C_END
#endif

#endif
