/* Diagnostic output: the error log (Android log and dump log), the information
 * log through the host's sink, and the verbose log straight to Android. */
#ifndef ORV_LOG_H
#define ORV_LOG_H

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

typedef int (*LogSink)(const char *text);

#define LOG_TO_ANDROID 1u
#define LOG_TO_DUMP    2u

#define ORV_LOG_LINE_MAX 32766
#define ORV_LOG_PIECE    1024
#define ORV_ANDROID_TAG  "Trelvano"
#define ORV_ANDROID_PRIO 4

ORV_API int orv_log(unsigned flags, ResultCode code, const char *format, ...) ORV_PRINTF(3, 4);
ORV_API int orv_trace(const char *format, ...) ORV_PRINTF(1, 2);
ORV_API int orv_log_android_info(const char *format, ...) ORV_PRINTF(1, 2);
ORV_API int orv_log_android(const char *text);
ORV_API ResultCode orv_log_init(LogSink sink, unsigned flags);
ORV_API void orv_hex_dump(const void *data, uint32_t length);

/* The registered sink, or null. */
ORV_API LogSink orv_log_sink(void);
/* A sink that drops everything. */
ORV_API int orv_log_null_sink(const char *text);

ORV_EXTERN_C_END

#endif
