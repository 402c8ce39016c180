/* Small text and number helpers: character classes, bounded copies, the
 * runtime's radix-64 and hexadecimal encodings, rescaling with rounding, and
 * a small formatter and scanner over 32-bit arguments. */
#ifndef ORV_TEXT_H
#define ORV_TEXT_H

#include "orv_api.h"

ORV_EXTERN_C_BEGIN

typedef enum OrvRounding {
    ORV_ROUND_ZERO = 0,
    ORV_ROUND_INF = 1,
    ORV_ROUND_DOWN = 2,
    ORV_ROUND_UP = 3,
    ORV_ROUND_NEAR_INF = 5
} OrvRounding;

typedef struct OrvRational {
    int32_t num;
    int32_t den;
} OrvRational;

ORV_API int orv_is_space(int c);
ORV_API int orv_is_alpha(int c);
ORV_API int orv_is_digit(int c);
ORV_API int orv_hex_value(int c);
ORV_API void orv_str_copy(char *dest, size_t size, const char *src);
ORV_API void orv_str_append(char *dest, size_t size, const char *src);

/* The radix-64 text of n bytes is "<n>*<data>". */
ORV_API uint32_t orv_r64_size(uint32_t n);
ORV_API uint32_t orv_r64_count(const char *text, const char **data);
ORV_API void orv_r64_encode(uint32_t n, const void *bytes, char *dest);
ORV_API void orv_r64_decode(void *dest, const char *text);
ORV_API void orv_hex_encode(uint32_t n, const void *bytes, char *dest);
ORV_API char *orv_hex_encode_alloc(uint32_t n, const void *bytes);
ORV_API size_t orv_hex_decode(void *dest, const char *text);
/* Builds the radix-64 and hexadecimal decode tables (orv_log_init calls it). */
ORV_API void orv_text_init_tables(void);

ORV_API int64_t orv_gcd64(int64_t a, int64_t b);
ORV_API int64_t orv_rescale_rnd(int64_t a, int64_t b, int64_t c, OrvRounding rounding);
ORV_API int64_t orv_rescale(int64_t a, int64_t b, int64_t c);
ORV_API int64_t orv_rescale_q(int64_t a, OrvRational bq, OrvRational cq);

ORV_API int orv_format_small(char *dest, size_t size, const char *format, const int32_t *args);
ORV_API int orv_scan_small(const char *text, const char *format, int32_t **pointers);

ORV_EXTERN_C_END

#endif
