/* Dump log: error lines of orv_log kept in a memory stream until a host reads
 * them out, at most `cap` bytes: past it the oldest lines are dropped, and the
 * next read begins with a note of how many.
 *
 * Owns: each object's mutex, stream and line-length ring; not the attached
 * pointer's target (its creator does).
 *
 * Locks, outermost first: the attachment lock (guards the attached pointer
 * and the list of live logs; held while a line goes into the attached log,
 * so destroying it waits for writers in flight) -> an object's mutex (guards
 * its stream and ring) -> the global lock (taken briefly by the verbose log's
 * head) -> the allocator's shard locks (the stream and ring grow). Nothing
 * here runs under the global lock. Stream failures go to the verbose log
 * only: orv_log would come back here. The whole lock order:
 * docs/architecture.md. */
#include "orv/orv_dump.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "orv/orv_io_stream.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_mutex.h"
#include "orv_dump_internal.hpp"
#include "orv_sync.hpp"

struct orv_dump_log {
    OrvMutex *mutex; // guards everything below
    xio *stream;     // text from byte `head` on; the bytes before are dropped
    uint32_t head;
    uint32_t cap;
    // Lengths of the kept lines, oldest first, in a ring of ring_size.
    uint32_t *lengths;
    uint32_t ring_size;
    uint32_t ring_first;
    uint32_t ring_count;
    uint32_t dropped; // lines dropped and not yet in a note
    // The note that the next read begins with; note_read bytes of it are out.
    char note[64];
    uint32_t note_length;
    uint32_t note_read;
    orv_dump_log *prev_live; // list of live logs, under g_attach_lock
    orv_dump_log *next_live;
};

namespace {

constexpr uint32_t kMinCap = 1024;
constexpr uint32_t kMaxCap = 1u << 30;
constexpr uint32_t kFirstRing = 256;

// Written only under g_attach_lock; read without it just to skip the lock
// when nothing is attached.
std::atomic<orv_dump_log *> g_attached{nullptr};
// Recursive: a stream call that logged with the dump flag would come back.
std::recursive_mutex g_attach_lock;
orv_dump_log *g_live = nullptr;

void set_attached(orv_dump_log *log)
{
    std::lock_guard<std::recursive_mutex> hold(g_attach_lock);
    g_attached.store(log, std::memory_order_release);
}

orv_io_stream *stream_of(orv_dump_log *log)
{
    return reinterpret_cast<orv_io_stream *>(log->stream);
}

uint32_t stream_end(orv_dump_log *log)
{
    return static_cast<uint32_t>(stream_of(log)->end - stream_of(log)->begin);
}

uint32_t kept_bytes(orv_dump_log *log)
{
    return stream_end(log) - log->head;
}

// Drops the oldest line; false when none is kept.
bool drop_oldest(orv_dump_log *log)
{
    if (log->ring_count == 0)
        return false;
    log->head += log->lengths[log->ring_first];
    log->ring_first = (log->ring_first + 1) % log->ring_size;
    --log->ring_count;
    ++log->dropped;
    return true;
}

// Room in the ring for one more line's length. When the ring cannot grow the
// new line joins the one before it, so only the count of dropped lines can
// come out low; false only when there is no line to join.
bool ring_room(orv_dump_log *log)
{
    if (log->ring_count < log->ring_size)
        return true;
    const uint32_t size = log->ring_size ? log->ring_size * 2 : kFirstRing;
    auto *ring = static_cast<uint32_t *>(ORV_ALLOC(size * sizeof(uint32_t)));
    if (!ring)
        return log->ring_count > 0;
    for (uint32_t i = 0; i < log->ring_count; ++i)
        ring[i] = log->lengths[(log->ring_first + i) % log->ring_size];
    orv_free(log->lengths);
    log->lengths = ring;
    log->ring_size = size;
    log->ring_first = 0;
    return true;
}

// Records a new line's length, after ring_room said where.
void remember_line(orv_dump_log *log, uint32_t length)
{
    if (log->ring_count == log->ring_size) {
        log->lengths[(log->ring_first + log->ring_count - 1) % log->ring_size] += length;
        return;
    }
    log->lengths[(log->ring_first + log->ring_count) % log->ring_size] = length;
    ++log->ring_count;
}

// Moves the kept text to the front of the stream; writes go after it.
void compact(orv_dump_log *log)
{
    if (log->head > 0) {
        XioParam drop{};
        drop.count = static_cast<int32_t>(log->head);
        log->stream->vt.set(log->stream, XIO_MEM_SET_DISCARD, &drop);
        log->head = 0;
    }
    log->stream->vt.seek(log->stream, 0, XIO_SEEK_END);
}

void enforce_cap(orv_dump_log *log, uint32_t incoming)
{
    while (kept_bytes(log) + incoming > log->cap && drop_oldest(log)) {
    }
}

ResultCode append(const char *text, uint32_t length)
{
    if (!text || length > INT32_MAX || !g_attached.load(std::memory_order_acquire))
        return ORV_ERR_INVALID_PARAM;
    std::lock_guard<std::recursive_mutex> hold(g_attach_lock);
    orv_dump_log *log = g_attached.load(std::memory_order_relaxed);
    if (!log)
        return ORV_ERR_INVALID_PARAM;
    orv::MutexGuard lock(log->mutex);
    if (!log->stream)
        return ORV_ERR_NOT_IMP;
    // A line longer than the whole cap keeps its beginning.
    const uint32_t n = std::min(length, log->cap);
    if (n == 0)
        return ORV_OK;
    enforce_cap(log, n);
    // Past the end of the buffer: move the text down when a quarter of the
    // buffer is dropped bytes, else let the stream grow. Growth so stops
    // near 4/3 of the cap and each byte is moved a few times at most.
    const orv_io_stream *s = stream_of(log);
    if (stream_end(log) + static_cast<int64_t>(n) > s->capacity &&
        log->head >= static_cast<uint32_t>(s->capacity) / 4)
        compact(log);
    // A line the ring cannot record is not written: it would be read out
    // as dropped although its write succeeded.
    if (!ring_room(log)) {
        orv_log_android_info("VRV: VR: orv_dump_log no memory to record a line");
        return ORV_ERR_MEM_ALLOC;
    }
    int32_t done = 0;
    const ResultCode rc = log->stream->vt.write(log->stream, text, static_cast<int32_t>(n), &done);
    if (rc != ORV_OK) {
        orv_log_android_info("VRV: VR: orv_dump_log stream write:%d", rc);
        return ORV_ERR_IO_WRITE;
    }
    remember_line(log, n);
    return ORV_OK;
}

// Turns lines dropped since the last note into a note once the last one is out.
void refresh_note(orv_dump_log *log)
{
    if (log->note_read < log->note_length || log->dropped == 0)
        return;
    const int n =
        snprintf(log->note, sizeof log->note, "VRV: VR: orv_dump_log dropped %u lines;", log->dropped);
    log->note_length = n > 0 ? std::min<uint32_t>(static_cast<uint32_t>(n), sizeof log->note - 1) : 0;
    log->note_read = 0;
    log->dropped = 0;
}

// Forgets `count` bytes from the front of the kept lines.
void consume(orv_dump_log *log, uint32_t count)
{
    log->head += count;
    while (count > 0 && log->ring_count > 0) {
        uint32_t &front = log->lengths[log->ring_first];
        const uint32_t take = std::min(front, count);
        front -= take;
        count -= take;
        if (front == 0) {
            log->ring_first = (log->ring_first + 1) % log->ring_size;
            --log->ring_count;
        }
    }
}

void link_live(orv_dump_log *log)
{
    std::lock_guard<std::recursive_mutex> hold(g_attach_lock);
    log->next_live = g_live;
    if (g_live)
        g_live->prev_live = log;
    g_live = log;
}

void unlink_live(orv_dump_log *log)
{
    if (log->prev_live)
        log->prev_live->next_live = log->next_live;
    else if (g_live == log)
        g_live = log->next_live;
    if (log->next_live)
        log->next_live->prev_live = log->prev_live;
    log->prev_live = log->next_live = nullptr;
}

} // namespace

void orv::dump_log_shutdown()
{
    std::lock_guard<std::recursive_mutex> hold(g_attach_lock);
    g_attached.store(nullptr, std::memory_order_release);
    while (orv_dump_log *log = g_live) {
        unlink_live(log);
        if (log->mutex)
            orv_mutex_destroy(log->mutex);
        log->mutex = nullptr;
    }
}

extern "C" {

orv_dump_log *orv_dump_log_create(void)
{
    auto *log = static_cast<orv_dump_log *>(ORV_CALLOC(sizeof(orv_dump_log)));
    if (!log)
        return nullptr;
    log->cap = ORV_DUMP_LOG_DEFAULT_CAP;
    log->mutex = orv_mutex_create(0, 0, 0);
    log->stream = log->mutex ? ORV_IO_STREAM_CREATE() : nullptr;
    if (!log->stream) {
        orv_dump_log_destroy(log);
        return nullptr;
    }
    link_live(log);
    return log;
}

void orv_dump_log_destroy(orv_dump_log *log)
{
    if (!log)
        return;
    // orv_log must not write into a freed object: detach, and wait for a
    // line still going in.
    {
        std::lock_guard<std::recursive_mutex> hold(g_attach_lock);
        if (g_attached.load(std::memory_order_relaxed) == log)
            g_attached.store(nullptr, std::memory_order_release);
        unlink_live(log);
    }
    if (log->stream)
        log->stream->vt.release(log->stream);
    orv_free(log->lengths);
    if (log->mutex)
        orv_mutex_destroy(log->mutex);
    orv_mem_free(log);
}

ResultCode orv_dump_log_attach(orv_dump_log *log)
{
    if (!log) {
        orv_log_android_info("VRV: VR: orv_dump_log_attach: null dump log");
        return ORV_ERR_INVALID_PARAM;
    }
    set_attached(log);
    return ORV_OK;
}

ResultCode orv_dump_log_attach_from(OrvComponentSlots *component, void *a, void *b)
{
    if (!component || !component->attributes) {
        orv_log_android_info("VRV: VR: orv_dump_log_attach_from: null component");
        return ORV_ERR_INVALID_PARAM;
    }
    OrvAttributeSlots *attributes = component->attributes(component, a, b);
    if (!attributes)
        return ORV_OK;
    orv_dump_log *found = nullptr;
    uint32_t size = sizeof found;
    const int32_t rc = attributes->get_attribute
                           ? attributes->get_attribute(attributes, ORV_ID_DUMP_LOG_CTX, &found, &size)
                           : -1;
    if (attributes->release)
        attributes->release(attributes);
    // Anything but a whole pointer is not a dump log.
    if (rc != 0 || size != sizeof found)
        return ORV_OK;
    set_attached(found);
    return found ? ORV_OK : ORV_ERR_NOT_IMP;
}

ResultCode orv_dump_log_set_cap(orv_dump_log *log, uint32_t bytes)
{
    if (!log) {
        orv_log_android_info("VRV: VR: orv_dump_log_set_cap: null dump log");
        return ORV_ERR_INVALID_PARAM;
    }
    orv::MutexGuard lock(log->mutex);
    log->cap = std::clamp(bytes, kMinCap, kMaxCap);
    if (log->stream) {
        enforce_cap(log, 0);
        compact(log);
    }
    return ORV_OK;
}

ResultCode orv_dump_log_read(orv_dump_log *log, void *buffer, uint32_t *size)
{
    if (!log || !size) {
        orv_log_android_info("VRV: VR: orv_dump_log_read: null dump log or size");
        return ORV_ERR_INVALID_PARAM;
    }
    orv::MutexGuard lock(log->mutex);
    xio *s = log->stream;
    if (!s)
        return ORV_ERR_NOT_IMP;
    refresh_note(log);
    const uint32_t note_left = log->note_length - log->note_read;
    if (!buffer) {
        *size = note_left + kept_bytes(log);
        return ORV_OK;
    }
    auto *out = static_cast<char *>(buffer);
    const uint32_t from_note = std::min(*size, note_left);
    memcpy(out, log->note + log->note_read, from_note);
    int32_t done = 0;
    if (from_note < *size && (from_note == 0 || kept_bytes(log) > 0)) {
        s->vt.seek(s, log->head, XIO_SEEK_SET);
        const ResultCode rc = s->vt.read(s, out + from_note, *size - from_note, &done);
        if (rc != ORV_OK) {
            s->vt.seek(s, 0, XIO_SEEK_END);
            orv_log_android_info("VRV: VR: orv_dump_log stream read:%d", rc);
            return ORV_ERR_IO_READ;
        }
    }
    const uint32_t total = from_note + static_cast<uint32_t>(done);
    if (total < *size)
        out[total] = '\0';
    // Drop only what was read: a short buffer must not lose the rest.
    log->note_read += from_note;
    consume(log, static_cast<uint32_t>(done));
    compact(log);
    return ORV_OK;
}

ResultCode orv_dump_log_write(const char *text)
{
    if (!text)
        return ORV_ERR_INVALID_PARAM;
    const size_t length = strlen(text);
    return append(text, length > INT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length));
}

ResultCode orv_dump_log_write_attached(const char *line, uint32_t length)
{
    return append(line, length);
}

} // extern "C"
