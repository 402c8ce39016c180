/* GIDs: the framework's 128-bit identifiers, their 32-digit text form, new
 * random values, and the named constants with a lookup by name and by value. */
#ifndef ORV_GID_H
#define ORV_GID_H

#include "orv_api.h"

ORV_EXTERN_C_BEGIN

/* 16 bytes compared by value; passed as four 32-bit words. No byte has a
 * meaning of its own to the runtime. */
typedef union GID {
    uint8_t bytes[16];
    uint32_t words[4];
} GID;

#define ORV_GID_TEXT_DIGITS 32
#define ORV_GID_TEXT_BLOCK  64

/* Fills *gid with a new random value (libuuid; arc4random_buf on Android) and returns it. */
ORV_API GID orv_gid_generate(GID *gid);
/* New tracked 64-byte zero-filled block holding the 32 lower-case digits of
 * the bytes in memory order, or null when memory runs out. */
ORV_API char *orv_gid_to_text(GID gid);
/* Decodes 32 digits of either case (any other character counts as 0) into
 * *gid and returns it. Only the first 32 characters are read: a longer text
 * is decoded for its first 32 digits, a shorter one is padded with zeros. At
 * most 16 bytes are ever written. A null text gives the zero GID. */
ORV_API GID orv_gid_from_text(GID *gid, const char *text);
/* Frees *text when it holds a text and sets it to null. */
ORV_API void orv_gid_free_text(char **text);
ORV_API int orv_gid_equal(GID a, GID b);

/* The constant's name for a value (the first name listed with it), or null. */
ORV_API const char *orv_gid_name(GID gid);
/* The value of a named constant; 0 when the name is unknown (*gid untouched). */
ORV_API int orv_gid_by_name(const char *name, GID *gid);
/* Number of names in the table (aliases included). */
ORV_API uint32_t orv_gid_name_count(void);

/* Every named constant, e.g. ORV_ID_DUMP_LOG_CTX, ORV_GID_UNKNOWN, MEDIATYPE_Video. */
#define ORV_GID_ROW(name, ...) ORV_API extern const GID name;
#define ORV_GID_ALIAS(name, target)
#include "orv_gid_table.inc"
#undef ORV_GID_ROW
#undef ORV_GID_ALIAS

ORV_EXTERN_C_END

#endif
