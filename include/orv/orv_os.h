/* Operating-system services of the runtime. This first section is the
 * runtime's start-up and shut-down and the process-wide state they fill. */
#ifndef ORV_OS_H
#define ORV_OS_H

#include "orv_log.h"

ORV_EXTERN_C_BEGIN

/* ---- Runtime start-up, shut-down and state ------------------------------ */

/* Bits of orv_base_init's i_flag and of the runtime flags. */
#define ORV_BASE_FLAG_MASK_LOW 0x3u    /* kept as given; no meaning here */
#define ORV_BASE_THREADS       0x4u    /* start the thread module (key, registry) */
#define ORV_BASE_WORK_FROM_CWD 0x10u   /* work path from the current directory */
#define ORV_BASE_LIB_FROM_CWD  0x1000u /* library path from the current directory */
#define ORV_BASE_PATH_MAX      1024

/* Registers sink, starts tracked memory and the clock, reads the processor
 * count and fills the paths (an absent path is null). ORV_FAIL when the sink
 * cannot be registered or a path asked from the current directory cannot be
 * read. Not thread-safe: run it before any other call into the runtime. */
ORV_API ResultCode orv_base_init(LogSink sink, uint32_t i_flag, const char *sz_lib_path,
                                 const char *sz_work_path);
/* Reports and frees every tracked block still alive; clears the flags and the
 * clock. Paths, processor count and the sink stay. */
ORV_API void orv_base_uninit(void);

/* The current directory in a malloc'd buffer (release with free); null on
 * failure. No length limit. */
ORV_API char *get_current_dir(void);

/* The runtime state. The paths are empty strings until set. */
ORV_API const char *get_lib_path(void);
ORV_API const char *get_work_path(void);
ORV_API int32_t get_processor_count(void);
ORV_API uint32_t get_runtime_flags(void);

ORV_EXTERN_C_END

#endif
