/* Chained hash tables with a fixed bucket count from ten size classes, keyed
 * by a number (in practice an address) or by a text. Entries hold a caller's
 * value (never owned) or a private copy of bytes (a blob, owned). The table
 * keeps its buckets in order of occupation and its walk cursor inside it. */
#ifndef ORV_HASH_H
#define ORV_HASH_H

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

typedef struct OrvHash OrvHash;
typedef struct OrvHashEntry OrvHashEntry;

/* Numeric keys are pointer-wide: callers pass addresses of tracked blocks. */
typedef uintptr_t OrvHashKey;

typedef void (*OrvHashRelease)(void *value);
typedef int (*OrvHashReport)(const char *format, ...);

/* capacity 0 means 8192; raised to the next size class, at most 65536. */
ORV_API OrvHash *orv_hash_create(uint32_t capacity);
ORV_API void orv_hash_destroy(OrvHash *table);
/* Calls release on each value of the walk (up to the first null), then destroys. */
ORV_API void orv_hash_destroy_with(OrvHash *table, OrvHashRelease release);
ORV_API int32_t orv_hash_count(const OrvHash *table);

/* The value or bytes come before the key; a duplicate key gives ORV_FAIL. */
ORV_API ResultCode orv_hash_insert(OrvHash *table, void *value, OrvHashKey key);
ORV_API void *orv_hash_find(OrvHash *table, OrvHashKey key);
ORV_API ResultCode orv_hash_set(OrvHash *table, void *value, OrvHashKey key);
ORV_API void *orv_hash_remove(OrvHash *table, OrvHashKey key);

ORV_API ResultCode orv_hash_insert_str(OrvHash *table, void *value, const char *key);
ORV_API void *orv_hash_find_str(OrvHash *table, const char *key);
ORV_API ResultCode orv_hash_set_str(OrvHash *table, void *value, const char *key);
ORV_API void *orv_hash_remove_str(OrvHash *table, const char *key);

/* Numeric blob inserts always allocate the blob (length 0 included); text
 * blob inserts only for a length above 0. Null bytes leave the blob zeroed. */
ORV_API ResultCode orv_hash_insert_blob(OrvHash *table, const void *bytes, int32_t length, OrvHashKey key);
/* Copies over the blob only when length equals the stored length. */
ORV_API ResultCode orv_hash_set_blob(OrvHash *table, const void *bytes, int32_t length, OrvHashKey key);
ORV_API void *orv_hash_get_blob(OrvHash *table, OrvHashKey key, int32_t *length);
ORV_API ResultCode orv_hash_insert_blob_str(OrvHash *table, const void *bytes, int32_t length,
                                            const char *key);
/* Replaces the blob (and its length) when the length differs. */
ORV_API ResultCode orv_hash_set_blob_str(OrvHash *table, const void *bytes, int32_t length, const char *key);
ORV_API void *orv_hash_get_blob_str(OrvHash *table, const char *key, int32_t *length);

/* The walk: buckets in the order they became occupied, each chain in
 * insertion order. One walk at a time per table. The value walk ends at the
 * first null value. */
ORV_API void *orv_hash_first(OrvHash *table);
ORV_API void *orv_hash_next(OrvHash *table);
ORV_API OrvHashEntry *orv_hash_first_entry(OrvHash *table);
ORV_API OrvHashEntry *orv_hash_next_entry(OrvHash *table);
/* Any out pointer may be null. */
ORV_API void orv_hash_entry_fields(const OrvHashEntry *entry, void **value, OrvHashKey *key,
                                   const char **key_text, void **blob, int32_t *blob_length);

/* Copies every entry (values shared, blobs copied); moves the source's cursor. */
ORV_API OrvHash *orv_hash_clone(OrvHash *table);

/* Timing run over 1..10000 items, numeric keys for kind 0, text keys
 * otherwise, printed through report. */
ORV_API void orv_hash_self_test(int kind, int32_t count, OrvHashReport report);

/* Diagnostics: the prime modulus, the bucket slots, and the bucket of a
 * text key (UINT32_MAX when it cannot be computed). */
ORV_API uint32_t orv_hash_modulus(const OrvHash *table);
ORV_API uint32_t orv_hash_bucket_slots(const OrvHash *table);
ORV_API uint32_t orv_hash_bucket_str(OrvHash *table, const char *key);

ORV_EXTERN_C_END

#endif
