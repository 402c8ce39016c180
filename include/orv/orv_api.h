/* Export and linkage macros shared by every public header of the runtime. */
#ifndef ORV_API_H
#define ORV_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ORV_API __attribute__((visibility("default")))
#define ORV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORV_API
#define ORV_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
#define ORV_EXTERN_C_BEGIN extern "C" {
#define ORV_EXTERN_C_END }
#else
#define ORV_EXTERN_C_BEGIN
#define ORV_EXTERN_C_END
#endif

#endif
