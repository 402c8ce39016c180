/* Text conversion between the "ansi" code page (GB2312) and UTF-8 through the
 * C library's iconv. Encoding codes are those of orv_sys.h: 2 = ansi, 4 = utf8. */
#ifndef ORV_ICONV_H
#define ORV_ICONV_H

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

/* Room of orv_convert_text's result, terminator included: a converted text
 * holds at most 799 bytes. */
#define ORV_CONVERT_BUFFER 800

/* Converts length bytes of source into target (not terminated); the bytes
 * written are size minus what is left. 0 on success, -1 on failure (unknown
 * encoding, invalid or incomplete input, target full, null argument). */
ORV_API int orv_iconv(const char *from, const char *to, const char *source, size_t length, char *target,
                      size_t size);
/* ORV_OK where the C library has iconv, ORV_ERR_NOT_SUPPORT where it has
 * none (Android before 9, API 28, unless the app loaded GNU libiconv): then
 * every conversion fails and logs why. */
ORV_API ResultCode orv_iconv_available(void);
/* orv_iconv from "gb2312" to "utf-8". */
ORV_API int orv_gb2312_to_utf8(const char *source, size_t length, char *target, size_t size);
/* Converts a NUL-terminated text from 2 to 4 or from 4 to 2. Returns a new
 * tracked buffer with the terminated result, or, for any other pair and on
 * any failure, the text itself (the failure goes to the error log). Only a
 * result other than the text is the caller's to free: orv_convert_text_free. */
ORV_API const char *orv_convert_text(const char *text, int from, int to);
/* Frees result when it is a buffer of orv_convert_text, not text itself. */
ORV_API void orv_convert_text_free(const char *text, const char *result);

ORV_EXTERN_C_END

#endif
