/* Memory stream: the xio kind that keeps its bytes in one tracked buffer.
 * Owns: the record and its buffer. No lock: callers serialise (the dump log
 * holds its own mutex around every call). Failures are logged to the Android
 * log only, never to the dump log, since the dump log writes through here. */
#include "orv/orv_io_stream.h"

#include <string.h>

#include <algorithm>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_io_stream_internal.hpp"

int64_t orv::stream_grown_size(int32_t capacity, int64_t needed)
{
    // In 64 bits: in 32 the step overflows once capacity passes 1,431,655,765.
    const int64_t step = std::min<int64_t>(int64_t{capacity} + capacity / 2, orv_mem_max_size);
    return std::max(needed, step);
}

namespace {

// Fixed tag lines of the growth paths, so leak reports name the path that grew.
constexpr int kTagLineWrite = 207;
constexpr int kTagLineReserve = 429;
constexpr int kTagLineDirect = 523;

orv_io_stream *stream_of(xio *io)
{
    return reinterpret_cast<orv_io_stream *>(io);
}

int64_t data_size(const orv_io_stream *s)
{
    return s->end - s->begin;
}
int64_t position(const orv_io_stream *s)
{
    return s->pos - s->begin;
}

ResultCode bad_param(const char *what)
{
    orv_log(LOG_TO_ANDROID, ORV_ERR_INVALID_PARAM, "VRE: VR: orv_io_stream %s", what);
    return ORV_ERR_INVALID_PARAM;
}

// Moves the data into a new buffer of exactly new_size bytes, keeping the
// offsets of pos and end. On failure the stream keeps its old buffer.
ResultCode grow_to(orv_io_stream *s, int64_t new_size, int tag_line)
{
    if (new_size <= s->capacity)
        return ORV_OK;
    if (new_size > static_cast<int64_t>(orv_mem_max_size)) {
        orv_log(LOG_TO_ANDROID, ORV_FAIL, "VRE: VR: orv_io_stream grow to %lld bytes: too large",
                static_cast<long long>(new_size));
        return ORV_FAIL;
    }
    auto *fresh =
        static_cast<uint8_t *>(orv_mem_alloc_at(static_cast<uint32_t>(new_size), ORV_TAG_FILE, tag_line));
    if (!fresh) {
        orv_log(LOG_TO_ANDROID, ORV_FAIL, "VRE: VR: orv_io_stream grow to %lld bytes failed",
                static_cast<long long>(new_size));
        return ORV_FAIL;
    }
    const int64_t size = data_size(s);
    const int64_t pos = position(s);
    if (size > 0)
        memcpy(fresh, s->begin, static_cast<size_t>(size));
    orv_mem_free(s->begin);
    s->begin = fresh;
    s->pos = fresh + pos;
    s->end = fresh + size;
    s->capacity = static_cast<int32_t>(new_size);
    return ORV_OK;
}

ResultCode stream_nop(xio *)
{
    return ORV_OK;
}
ResultCode stream_open(xio *, const char *, uint32_t)
{
    return ORV_OK;
}

ResultCode stream_release(xio *io)
{
    if (!io)
        return ORV_OK;
    orv_io_stream *s = stream_of(io);
    if (s->begin)
        orv_mem_free(s->begin);
    orv_mem_free(s);
    return ORV_OK;
}

ResultCode stream_read(xio *io, void *dest, uint32_t length, int32_t *done)
{
    if (!io || (!dest && length > 0))
        return bad_param("read: null stream or destination");
    orv_io_stream *s = stream_of(io);
    if (s->pos == s->end) {
        if (done)
            *done = 0;
        return ORV_WOUNLD_BLOCK;
    }
    const uint32_t n = std::min(length, static_cast<uint32_t>(s->end - s->pos));
    if (n > 0)
        memcpy(dest, s->pos, n);
    s->pos += n;
    if (done)
        *done = static_cast<int32_t>(n);
    return ORV_OK;
}

ResultCode stream_write(xio *io, const void *src, int32_t length, int32_t *done)
{
    if (!io || length < 0 || (!src && length > 0))
        return bad_param("write: null stream, null source or negative length");
    orv_io_stream *s = stream_of(io);
    const int64_t free_bytes = s->capacity - position(s);
    if (free_bytes < length) {
        if (s->capacity >= s->limit)
            return ORV_WOUNLD_BLOCK;
        // Grow by at least half so appends stay amortised linear.
        ResultCode rc = grow_to(s, orv::stream_grown_size(s->capacity, position(s) + length), kTagLineWrite);
        if (ORV_FAILED(rc))
            return rc;
    }
    if (length > 0)
        memcpy(s->pos, src, static_cast<size_t>(length));
    s->pos += length;
    if (s->pos > s->end)
        s->end = s->pos;
    if (done)
        *done = length;
    return ORV_OK;
}

int64_t stream_seek(xio *io, int64_t offset, int32_t origin)
{
    if (!io) {
        bad_param("seek: null stream");
        return static_cast<int64_t>(ORV_FAIL);
    }
    orv_io_stream *s = stream_of(io);
    const int64_t size = data_size(s);
    switch (origin) {
    case XIO_SEEK_SET: {
        const int64_t o = std::max<int64_t>(std::min(offset, size), 0);
        s->pos = s->begin + o;
        return o;
    }
    case XIO_SEEK_CUR: {
        const int64_t o = std::max<int64_t>(std::min<int64_t>(offset, s->end - s->pos), s->begin - s->pos);
        s->pos += o;
        return position(s);
    }
    case XIO_SEEK_END: {
        const int64_t o = std::max<int64_t>(std::min<int64_t>(offset, 0), -size);
        s->pos = s->end + o;
        return position(s);
    }
    default:
        orv_log(LOG_TO_ANDROID, ORV_FAIL, "VRE: VR: orv_io_stream seek: origin %d", origin);
        return static_cast<int64_t>(ORV_FAIL);
    }
}

int64_t stream_tell(xio *io)
{
    return io ? position(stream_of(io)) : static_cast<int64_t>(ORV_FAIL);
}
int64_t stream_size(xio *io)
{
    return io ? data_size(stream_of(io)) : static_cast<int64_t>(ORV_FAIL);
}

ResultCode stream_reset(xio *io)
{
    if (!io)
        return bad_param("reset: null stream");
    orv_io_stream *s = stream_of(io);
    s->pos = s->end = s->begin;
    return ORV_OK;
}

ResultCode get_direct(orv_io_stream *s, XioParam *p)
{
    if (s->limit == XIO_MEM_NO_LIMIT || s->limit < p->value)
        s->limit = std::max(s->capacity, p->value);
    const uint64_t n = p->buffer;
    const int64_t free_bytes = s->capacity - position(s);
    if (n > static_cast<uint64_t>(free_bytes)) {
        if (n > static_cast<uint64_t>(s->limit)) // also keeps the sum below from wrapping
            return ORV_WOUNLD_BLOCK;
        const uint64_t new_size =
            static_cast<uint64_t>(s->capacity) + (n - static_cast<uint64_t>(free_bytes));
        if (new_size > static_cast<uint64_t>(s->limit))
            return ORV_WOUNLD_BLOCK;
        ResultCode rc = grow_to(s, static_cast<int64_t>(new_size), kTagLineDirect);
        if (ORV_FAILED(rc))
            return rc;
    }
    p->buffer2 = reinterpret_cast<uintptr_t>(s->pos);
    s->pos += n;
    if (s->pos > s->end)
        s->end = s->pos;
    return ORV_OK;
}

ResultCode stream_get(xio *io, uint32_t code, XioParam *p)
{
    if (!io || !p)
        return bad_param("get: null stream or parameter");
    orv_io_stream *s = stream_of(io);
    switch (code) {
    case XIO_MEM_GET_VIEW:
        p->buffer = reinterpret_cast<uintptr_t>(s->begin);
        p->length = data_size(s);
        p->buffer2 = static_cast<uintptr_t>(s->capacity);
        p->position = position(s);
        return ORV_OK;
    case XIO_MEM_GET_STATS:
        p->buffer2 = reinterpret_cast<uintptr_t>(s->begin);
        p->length = s->capacity;
        p->remain = data_size(s);
        p->position = position(s);
        return ORV_OK;
    case XIO_MEM_GET_DIRECT:
        return get_direct(s, p);
    default:
        return ORV_ERR_INVALID_PARAM;
    }
}

void discard_front(orv_io_stream *s, const XioParam *p)
{
    const int64_t k = p->flag ? position(s) - p->count : p->count;
    const int64_t size = data_size(s);
    if (k < 1)
        return;
    if (k >= size) {
        s->pos = s->end = s->begin;
        return;
    }
    memmove(s->begin, s->begin + k, static_cast<size_t>(size - k));
    s->pos = s->pos - s->begin >= k ? s->pos - k : s->begin;
    s->end -= k;
}

ResultCode stream_set(xio *io, uint32_t code, void *param)
{
    if (!io || !param)
        return bad_param("set: null stream or parameter");
    orv_io_stream *s = stream_of(io);
    auto *p = static_cast<XioParam *>(param);
    switch (code) {
    case XIO_MEM_SET_RESERVE:
        if (static_cast<uint64_t>(s->capacity) >= p->buffer2)
            return ORV_OK;
        if (p->buffer2 > orv_mem_max_size)
            return bad_param("set reserve: capacity beyond the allocator's limit");
        return grow_to(s, static_cast<int64_t>(p->buffer2), kTagLineReserve);
    case XIO_MEM_SET_CUT:
        s->pos = s->begin;
        s->end = s->begin + std::clamp<int64_t>(p->length, 0, data_size(s));
        return ORV_OK;
    case XIO_MEM_SET_DISCARD:
        discard_front(s, p);
        return ORV_OK;
    case XIO_MEM_SET_LIMIT: {
        const uint64_t wanted = std::min<uint64_t>(p->buffer2, XIO_MEM_NO_LIMIT);
        if (s->limit != XIO_MEM_NO_LIMIT && static_cast<uint64_t>(s->limit) >= wanted)
            return ORV_OK;
        s->limit = std::max(s->capacity, static_cast<int32_t>(wanted));
        return ORV_OK;
    }
    default:
        return ORV_ERR_INVALID_PARAM;
    }
}

constexpr XioVtbl kStreamSlots = {
    stream_open, stream_release, stream_read, stream_write, stream_seek, stream_tell,
    stream_size, stream_set,     stream_get,  stream_reset, stream_nop,  stream_nop,
};

} // namespace

extern "C" xio *orv_io_stream_create(int32_t, const char *file, int line)
{
    auto *buffer = static_cast<uint8_t *>(orv_mem_alloc_at(XIO_MEM_INITIAL_CAPACITY, file, line));
    if (!buffer)
        return nullptr;
    auto *s = static_cast<orv_io_stream *>(orv_mem_calloc_at(sizeof(orv_io_stream), file, line));
    if (!s) {
        orv_mem_free(buffer);
        return nullptr;
    }
    s->io.vt = kStreamSlots;
    s->begin = s->pos = s->end = buffer;
    s->capacity = XIO_MEM_INITIAL_CAPACITY;
    s->limit = XIO_MEM_NO_LIMIT;
    return &s->io;
}
