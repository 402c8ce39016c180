/* Tracked memory: every runtime heap block carries a tag naming where it was
 * allocated and sits in a list of the thread that made it, so shut-down can
 * report leaks. */
#ifndef ORV_MEM_H
#define ORV_MEM_H

#include "orv_api.h"

ORV_EXTERN_C_BEGIN

/* Largest size a tracked block may have: 2^31 - 1 less the header. */
ORV_API extern const uint32_t orv_mem_max_size;
/* Bytes of the header in front of each block's data. */
ORV_API extern const uint32_t orv_mem_header_size;

ORV_API void *orv_mem_alloc_tag(uint32_t size, const char *tag);
ORV_API void *orv_mem_alloc_at(uint32_t size, const char *file, int line);
ORV_API void *orv_mem_calloc_at(uint32_t size, const char *file, int line);
ORV_API void orv_mem_free(void *data);
ORV_API void *orv_mem_realloc_tag(void *old, uint32_t size, const char *tag);
ORV_API void *orv_mem_realloc_at(void *old, uint32_t size, const char *file, int line);
ORV_API char *orv_mem_strndup_at(const char *src, uint32_t n, const char *file, int line);
ORV_API char *orv_mem_strdup_at(const char *text, const char *file, int line);
ORV_API void *orv_mem_alloc_tag_checked(uint32_t size, const char *tag);
ORV_API void *orv_mem_calloc_tag(uint32_t size, const char *tag);
ORV_API void *orv_mem_memdup_tag(const void *src, uint32_t n, const char *tag);
ORV_API char *orv_mem_strdup_tag(const char *text, const char *tag);
/* Leak report through the log sink, then frees every listed block and the
 * global lock. Each live tagged block is named once; one thread's blocks in
 * the order that thread made them, different threads' blocks by a shared
 * tick (see orv_mem.cpp). Must run when no other thread allocates or frees. */
ORV_API void orv_mem_shutdown(void);

/* Recorded size of a tracked block (the field just before its data). */
ORV_API uint32_t orv_mem_size(const void *data);
/* Number of live tracked blocks; for tests and diagnostics. Exact when no
 * other thread is allocating or freeing. */
ORV_API size_t orv_mem_live_count(void);

/* Entry points tagged with this module's own position. */
ORV_API void *orv_malloc(uint32_t size);
ORV_API void *orv_calloc(uint32_t size);
ORV_API void *orv_realloc(void *old, uint32_t old_size, uint32_t new_size);
ORV_API void *orv_memdup(const void *src, uint32_t n);
ORV_API char *orv_strdup(const char *text);
ORV_API void *orv_mem_copy(const void *src, int32_t n);
ORV_API void *orv_mem_grow(void *ptr, uint32_t *capacity, uint32_t needed);
ORV_API void orv_free(void *ptr);
ORV_API void orv_free_ptr(void *ptr_address);
ORV_API void *orv_page_alloc(size_t *size, int executable);
ORV_API int orv_page_free(void *address, size_t size);

ORV_EXTERN_C_END

/* ORV_TAG_FILE is set per source by the build ("./file" or "./src/file"). */
#ifndef ORV_TAG_FILE
#define ORV_TAG_FILE __FILE__
#endif
#define ORV_ALLOC(size)        orv_mem_alloc_at((uint32_t)(size), ORV_TAG_FILE, __LINE__)
#define ORV_CALLOC(size)       orv_mem_calloc_at((uint32_t)(size), ORV_TAG_FILE, __LINE__)
#define ORV_REALLOC(old, size) orv_mem_realloc_at((old), (uint32_t)(size), ORV_TAG_FILE, __LINE__)
#define ORV_STRDUP(text)       orv_mem_strdup_at((text), ORV_TAG_FILE, __LINE__)
#define ORV_STRNDUP(text, n)   orv_mem_strndup_at((text), (uint32_t)(n), ORV_TAG_FILE, __LINE__)

#endif
