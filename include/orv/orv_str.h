/* Formatting into bounded buffers under the global lock, the string family
 * with destination sizes, aligned tracked blocks and IEEE 754 conversions. */
#ifndef ORV_STR_H
#define ORV_STR_H

#include <stdarg.h>
#include <stdio.h>

#include "orv_api.h"

ORV_EXTERN_C_BEGIN

/* Formatting. orv_sprintf/orv_snprintf/orv_fprintf take the global lock.
 * orv_sprintf writes at most size - 1 characters and a terminator and returns
 * the length stored (truncating); size 0 gives -1. orv_snprintf never writes
 * the buffer's last byte and returns the length the whole text would have. */
ORV_API int orv_sprintf(char *buffer, size_t size, const char *format, ...) ORV_PRINTF(3, 4);
ORV_API int orv_snprintf(char *buffer, size_t size, const char *format, ...) ORV_PRINTF(3, 4);
ORV_API int orv_vsnprintf(char *buffer, size_t size, const char *format, va_list args);
ORV_API int orv_fprintf(FILE *file, const char *format, ...) ORV_PRINTF(2, 3);
ORV_API int orv_printf(const char *format, ...) ORV_PRINTF(1, 2);
ORV_API int orv_sscanf(const char *text, const char *format, ...);
ORV_API char *orv_int_to_text(int32_t value, char *buffer);
ORV_API char *orv_int64_to_text(int64_t value, char *buffer);
ORV_API char *orv_uint64_to_text(uint64_t value, char *buffer);
ORV_API long long orv_atoll(const char *text);

/* Strings. orv_strcpy, orv_strcat and orv_strncpy stay inside size bytes:
 * orv_strcpy/orv_strcat truncate and always terminate (when size > 0). */
ORV_API char *orv_strcpy(char *dest, size_t size, const char *src);
ORV_API char *orv_strncpy(char *dest, size_t size, const char *src, size_t count);
ORV_API char *orv_strcat(char *dest, size_t size, const char *src);
ORV_API char *orv_strncat(char *dest, const char *src, size_t count);
ORV_API char *orv_strlcpy(char *dest, size_t size, const char *src);
ORV_API char *orv_os_strdup(const char *text);
ORV_API char *orv_memdup_z(const void *bytes, size_t n);
ORV_API char *orv_strupr(char *text);
ORV_API char *orv_strlwr(char *text);
ORV_API char *orv_strcasestr(const char *text, const char *pattern);

/* Memory and alignment. The aligned address A has the block start in the
 * pointer-sized word before it and the size in the word before that. Null for
 * an alignment that is not a power of two or a size that cannot be tracked. */
ORV_API void *orv_aligned_alloc(uint32_t size, int clear, uint32_t alignment, const char *file, int line);
ORV_API void orv_aligned_free(void *aligned);
ORV_API uintptr_t orv_align_down(uintptr_t value, uintptr_t alignment);
ORV_API uintptr_t orv_align_up(uintptr_t value, uintptr_t alignment);
ORV_API void *orv_page_alloc_data(size_t *size);
ORV_API void *orv_page_alloc_code(size_t *size);

/* IEEE 754 conversions; the 80-bit extended record is stored big-endian.
 * Decoding gives 0.0 for a NaN pattern (and for an extended infinity);
 * encoding writes NaN as the infinity pattern plus 1. */
typedef struct OrvExtFloat {
    uint8_t exponent[2];
    uint8_t mantissa[8];
} OrvExtFloat;

ORV_API double orv_bits_to_double(uint64_t bits);
ORV_API float orv_bits_to_float(uint32_t bits);
ORV_API double orv_ext_to_double(OrvExtFloat ext);
ORV_API uint64_t orv_double_to_bits(double value);
ORV_API uint32_t orv_float_to_bits(float value);
ORV_API OrvExtFloat orv_double_to_ext(double value);

ORV_EXTERN_C_END

#endif
