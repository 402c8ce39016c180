/* The interface-record plumbing every render-path object shares: finding the
 * object behind an interface pointer, and (in C++) making, undoing and
 * tearing down such an object. Private to the render module and its tests.
 *
 * Every object is one zero-filled tracked block: word 0 holds the object's
 * own address, the operation slots follow (destroy last), and the pointer
 * handed out is the address of the first slot. */
#ifndef ORV_DEVICE_RECORD_H
#define ORV_DEVICE_RECORD_H

#include <stdint.h>

#include "device_render.h"

ORV_EXTERN_C_BEGIN

/* The object behind an interface pointer: the self word just before it. */
static inline void *orv_record_of(const void *interface_pointer)
{
    return interface_pointer ? *((void *const *)interface_pointer - 1) : NULL;
}

/* Test control: the n-th allocation of a render-path object from now on fails
 * (1 = the next one); 0 turns it off. */
void orv_device_fail_alloc(int n);
/* Tracked, zero-filled allocation of a render-path object. */
void *orv_device_alloc(uint32_t size, const char *file, int line);

ORV_EXTERN_C_END

#ifdef __cplusplus

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace orv_device {

template <class Record, class Interface>
Record *record_of(Interface *interface_pointer)
{
    return static_cast<Record *>(orv_record_of(interface_pointer));
}

// A zero-filled record tagged file::line with its self link set; on failure
// the object's own message is logged and null returned.
template <class Record>
Record *new_record(const char *file, int line, const char *failure)
{
    auto *rec = static_cast<Record *>(orv_device_alloc(sizeof(Record), file, line));
    if (rec == nullptr) {
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_FAIL, "%s", failure);
        return nullptr;
    }
    rec->self = rec;
    return rec;
}

// Destroys the object an owning field points at, through its own slot, and
// clears the field; an empty field is skipped (partly built owners).
template <class Interface>
void destroy_owned(Interface *&field)
{
    if (field == nullptr)
        return;
    field->destroy(field);
    field = nullptr;
}

} // namespace orv_device

#endif

#endif
