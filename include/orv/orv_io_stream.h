/* The memory stream: a growable in-memory buffer behind the xio slots, with
 * one position shared by reading and writing. */
#ifndef ORV_IO_STREAM_H
#define ORV_IO_STREAM_H

#include "orv_io.h"
#include "orv_mem.h"

ORV_EXTERN_C_BEGIN

/* Control codes of the memory stream's get and set slots. */
#define XIO_MEM_GET_VIEW    1u  /* get: buffer, length, buffer2 = capacity, position */
#define XIO_MEM_SET_RESERVE 3u  /* set: grow to buffer2 bytes */
#define XIO_MEM_SET_CUT     4u  /* set: keep the first length bytes, position to 0 */
#define XIO_MEM_SET_DISCARD 5u  /* set: drop count bytes from the front (flag: keep count read bytes) */
#define XIO_MEM_GET_STATS   11u /* get: buffer2 = buffer, length = capacity, remain = size, position */
#define XIO_MEM_SET_LIMIT   11u /* set: raise the growth limit to buffer2 */
#define XIO_MEM_GET_DIRECT  12u /* get: reserve buffer bytes at the position, address in buffer2 */

#define XIO_MEM_INITIAL_CAPACITY 65536
#define XIO_MEM_NO_LIMIT         2147483647

/* Invariants: begin <= pos <= end <= begin + capacity; the data is begin..end;
 * the stream owns begin. limit stops growth only once capacity has reached
 * it; XIO_MEM_NO_LIMIT means no limit was ever set. */
typedef struct orv_io_stream {
    xio io;
    uint8_t *begin;
    uint8_t *pos;
    uint8_t *end;
    int32_t capacity;
    int32_t limit;
} orv_io_stream;

/* A new empty stream of 65536 bytes, or null. file and line tag both tracked
 * blocks so leak reports name the creator. reserved is ignored. */
ORV_API xio *orv_io_stream_create(int32_t reserved, const char *file, int line);

ORV_EXTERN_C_END

#define ORV_IO_STREAM_CREATE() orv_io_stream_create(0, ORV_TAG_FILE, __LINE__)

#endif
