/* Small text and number helpers: character classes, bounded copies, the
 * runtime's radix-64 and hexadecimal encodings, rescaling with rounding, and
 * a small formatter and scanner over 32-bit arguments. */
#ifndef ORV_TEXT_H
#define ORV_TEXT_H

#include "orv_api.h"
#include "orv_error.h"

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
/* Room for the text of n bytes, terminator included (UINT32_MAX if it would
 * not fit in 32 bits). */
ORV_API uint32_t orv_r64_size(uint32_t n);
/* The decimal count before a "*" among the first 256 characters (0 without
 * one); *data gets the position after the "*" (the text itself without one). */
ORV_API uint32_t orv_r64_count(const char *text, const char **data);
/* dest must hold orv_r64_size(n) bytes. */
ORV_API void orv_r64_encode(uint32_t n, const void *bytes, char *dest);
/* Writes the count's bytes (dest must hold orv_r64_count(text) bytes). Reading
 * stops at the terminator: characters missing from a short text count as 0,
 * so the bytes they would have filled come out zero. Returns the number of
 * bytes the text fully covers (the count for a complete text). */
ORV_API uint32_t orv_r64_decode(void *dest, const char *text);
/* 2n lower-case digits and a terminator. */
ORV_API void orv_hex_encode(uint32_t n, const void *bytes, char *dest);
ORV_API char *orv_hex_encode_alloc(uint32_t n, const void *bytes);
/* Writes (length + 1) / 2 bytes: an odd final digit is the high half of a last
 * byte whose low half is 0. Digits of either case; other characters count as 0.
 * Returns the text's length. */
ORV_API size_t orv_hex_decode(void *dest, const char *text);

/* Bounded forms; the library uses only these. They refuse with
 * ORV_ERR_INVALID_PARAM and a log line, writing nothing, when the decoded bytes
 * would not fit in dest_size. *written (may be null) gets the bytes written,
 * 0 on failure.
 * Radix-64: also refuses a text without a "*" in its first 256 characters and
 * one whose data is shorter than its count. */
ORV_API ResultCode orv_r64_decode_bounded(void *dest, size_t dest_size, const char *text, uint32_t *written);
/* Hexadecimal: (length + 1) / 2 bytes, decoded as orv_hex_decode does. */
ORV_API ResultCode orv_hex_decode_bounded(void *dest, size_t dest_size, const char *text, size_t *written);
/* Kept for start-up (orv_log_init calls it); the decode tables are constant,
 * so decoding works the same before and after. */
ORV_API void orv_text_init_tables(void);

ORV_API int64_t orv_gcd64(int64_t a, int64_t b);
/* a * b / c rounded as asked; b >= 0 and c > 0, else INT64_MIN and a log line.
 * A result beyond 64 bits saturates to INT64_MAX / INT64_MIN. */
ORV_API int64_t orv_rescale_rnd(int64_t a, int64_t b, int64_t c, OrvRounding rounding);
ORV_API int64_t orv_rescale(int64_t a, int64_t b, int64_t c);
ORV_API int64_t orv_rescale_q(int64_t a, OrvRational bq, OrvRational cq);

/* Bounded: at most size - 1 characters and a terminator (none for size 0).
 * One word per conversion (32 bits on the target, pointer-wide elsewhere so
 * "%s" can carry a text; numbers use the low 32 bits). Returns the length. */
ORV_API int orv_format_small(char *dest, size_t size, const char *format, const intptr_t *args);
/* Returns the count of values stored, -1 when a literal format character does
 * not match the text. Never reads past either text's terminator. */
ORV_API int orv_scan_small(const char *text, const char *format, int32_t **pointers);

ORV_EXTERN_C_END

#endif
