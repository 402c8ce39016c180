/* The dump log: an in-memory text stream that collects the error lines of
 * orv_log written with LOG_TO_DUMP, for a host to read out later. One dump
 * log at a time is attached process-wide; its creator keeps ownership. */
#ifndef ORV_DUMP_H
#define ORV_DUMP_H

#include "orv_error.h"
#include "orv_gid.h"

ORV_EXTERN_C_BEGIN

typedef struct orv_dump_log orv_dump_log;

/* The framework component view that orv_dump_log_attach_from needs. Both are
 * interface records: the pointer is the address of the first slot and is
 * passed as the first argument of every slot. */
typedef struct OrvAttributeSlots OrvAttributeSlots;
struct OrvAttributeSlots {
    /* 0 on success; *size holds the buffer's size on entry, the value's after. */
    int32_t (*get_attribute)(OrvAttributeSlots *self, GID key, void *buffer, uint32_t *size);
    void (*release)(OrvAttributeSlots *self);
};
typedef struct OrvComponentSlots OrvComponentSlots;
struct OrvComponentSlots {
    /* The component's attribute interface, or null. */
    OrvAttributeSlots *(*attributes)(OrvComponentSlots *self, void *a, void *b);
};

/* Bytes of text a dump log keeps unless told otherwise. */
#define ORV_DUMP_LOG_DEFAULT_CAP (512u * 1024u)

/* A new dump log (65536-byte stream, grows on demand up to its cap), or null. */
ORV_API orv_dump_log *orv_dump_log_create(void);
/* Null is ignored. Destroying the attached dump log detaches it. */
ORV_API void orv_dump_log_destroy(orv_dump_log *log);
ORV_API ResultCode orv_dump_log_attach(orv_dump_log *log);
/* Attaches the dump log that the component keeps under ORV_ID_DUMP_LOG_CTX.
 * ORV_OK and no change when it has none; ORV_ERR_NOT_IMP when it holds null. */
ORV_API ResultCode orv_dump_log_attach_from(OrvComponentSlots *component, void *a, void *b);
/* Sets how many bytes of text the log keeps (raised to 1024 at least, cut to
 * 1 GiB at most); past it the oldest lines are dropped, at once and on each
 * later write. A line longer than the cap keeps its first cap bytes. */
ORV_API ResultCode orv_dump_log_set_cap(orv_dump_log *log, uint32_t bytes);
/* With a null buffer, stores the byte count in *size. Otherwise reads up to
 * *size bytes from the start (zero-terminated when room is left; *size is
 * left as it was) and drops what was read, so each text is read out once.
 * When lines were dropped for the cap since the last read, the text begins
 * with the note "VRV: VR: orv_dump_log dropped <count> lines;". */
ORV_API ResultCode orv_dump_log_read(orv_dump_log *log, void *buffer, uint32_t *size);
/* Appends text (no terminator, no separator) to the attached dump log.
 * ORV_OK only when the text is kept; out of memory, nothing is appended. */
ORV_API ResultCode orv_dump_log_write(const char *text);
/* orv_log's entry: appends length bytes of line to the attached dump log. */
ORV_API ResultCode orv_dump_log_write_attached(const char *line, uint32_t length);

ORV_EXTERN_C_END

#endif
