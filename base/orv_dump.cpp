/* Dump log: error lines of orv_log kept in a memory stream until a host reads
 * them out. Owns: each object's mutex and stream; not the attached pointer's
 * target (its creator does). Each object's mutex guards every stream call.
 * Stream failures go to the verbose log only: orv_log would come back here. */
#include "orv/orv_dump.h"

#include <string.h>

#include <atomic>

#include "orv/orv_io_stream.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_mutex.h"

struct orv_dump_log {
    OrvMutex *mutex; // guards stream
    xio *stream;
};

namespace {

std::atomic<orv_dump_log *> g_attached{nullptr};

class Locked {
public:
    explicit Locked(OrvMutex *mutex) : mutex_(mutex) { orv_mutex_lock(mutex_, -1); }
    ~Locked() { orv_mutex_unlock(mutex_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    OrvMutex *mutex_;
};

ResultCode append(const char *text, uint32_t length)
{
    orv_dump_log *log = g_attached.load(std::memory_order_acquire);
    if (!log || !text || length > INT32_MAX)
        return ORV_ERR_INVALID_PARAM;
    Locked lock(log->mutex);
    if (!log->stream)
        return ORV_ERR_NOT_IMP;
    int32_t done = 0;
    const ResultCode rc = log->stream->vt.write(log->stream, text, static_cast<int32_t>(length), &done);
    if (rc != ORV_OK) {
        orv_log_android_info("VRV: VR: orv_dump_log stream write:%d", rc);
        return ORV_ERR_IO_WRITE;
    }
    return ORV_OK;
}

} // namespace

extern "C" {

orv_dump_log *orv_dump_log_create(void)
{
    auto *log = static_cast<orv_dump_log *>(ORV_CALLOC(sizeof(orv_dump_log)));
    if (!log)
        return nullptr;
    log->mutex = orv_mutex_create(0, 0, 0);
    log->stream = log->mutex ? ORV_IO_STREAM_CREATE() : nullptr;
    if (!log->stream) {
        orv_dump_log_destroy(log);
        return nullptr;
    }
    return log;
}

void orv_dump_log_destroy(orv_dump_log *log)
{
    if (!log)
        return;
    // orv_log must not write into a freed object.
    orv_dump_log *expected = log;
    g_attached.compare_exchange_strong(expected, nullptr);
    if (log->stream)
        log->stream->vt.release(log->stream);
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
    g_attached.store(log, std::memory_order_release);
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
    const int32_t rc =
        attributes->get_attribute ? attributes->get_attribute(attributes, ORV_ID_DUMP_LOG_CTX, &found, &size) : -1;
    if (attributes->release)
        attributes->release(attributes);
    // Anything but a whole pointer is not a dump log.
    if (rc != 0 || size != sizeof found)
        return ORV_OK;
    g_attached.store(found, std::memory_order_release);
    return found ? ORV_OK : ORV_ERR_NOT_IMP;
}

ResultCode orv_dump_log_read(orv_dump_log *log, void *buffer, uint32_t *size)
{
    if (!log || !size) {
        orv_log_android_info("VRV: VR: orv_dump_log_read: null dump log or size");
        return ORV_ERR_INVALID_PARAM;
    }
    Locked lock(log->mutex);
    xio *s = log->stream;
    if (!s)
        return ORV_ERR_NOT_IMP;
    if (!buffer) {
        *size = static_cast<uint32_t>(s->vt.size(s));
        return ORV_OK;
    }
    s->vt.seek(s, 0, XIO_SEEK_SET);
    int32_t done = 0;
    const ResultCode rc = s->vt.read(s, buffer, *size, &done);
    if (rc != ORV_OK) {
        orv_log_android_info("VRV: VR: orv_dump_log stream read:%d", rc);
        return ORV_ERR_IO_READ;
    }
    if (static_cast<uint32_t>(done) < *size)
        static_cast<char *>(buffer)[done] = '\0';
    // Drop only what was read: a short buffer must not lose the rest.
    XioParam drop{};
    drop.count = done;
    s->vt.set(s, XIO_MEM_SET_DISCARD, &drop);
    s->vt.seek(s, 0, XIO_SEEK_END); // writes append after what is left
    return ORV_OK;
}

ResultCode orv_dump_log_write(const char *text)
{
    if (!text)
        return ORV_ERR_INVALID_PARAM;
    const size_t length = strlen(text);
    return append(text, length > INT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length));
}

ResultCode orv_dump_log_write_attached(const char *line, uint32_t length) { return append(line, length); }

} // extern "C"
