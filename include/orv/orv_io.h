/* The xio byte-stream interface: a record that begins with twelve operation
 * slots and is passed itself as the first argument. Kinds: memory, file, TCP. */
#ifndef ORV_IO_H
#define ORV_IO_H

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

typedef struct xio xio;

typedef struct XioParam {
    int32_t value;
    uintptr_t buffer;  /* a buffer address or a byte count, by code */
    uintptr_t buffer2; /* a buffer address, a capacity or a size, by code */
    uint32_t flag;
    int64_t remain;
    uint64_t reserved;
    int64_t position;
    int64_t length;
    uint64_t unused;
    int64_t count;
} XioParam;

#define XIO_SEEK_SET 0
#define XIO_SEEK_CUR 1
#define XIO_SEEK_END 2

typedef struct XioVtbl {
    ResultCode (*open)(xio *io, const char *target, uint32_t mode);
    ResultCode (*release)(xio *io);
    ResultCode (*read)(xio *io, void *dest, uint32_t length, int32_t *done);
    ResultCode (*write)(xio *io, const void *src, int32_t length, int32_t *done);
    int64_t (*seek)(xio *io, int64_t offset, int32_t origin);
    int64_t (*tell)(xio *io);
    int64_t (*size)(xio *io);
    ResultCode (*set)(xio *io, uint32_t code, void *param);
    ResultCode (*get)(xio *io, uint32_t code, XioParam *param);
    ResultCode (*reset)(xio *io);
    ResultCode (*close)(xio *io);
    ResultCode (*flush)(xio *io);
} XioVtbl;

/* Every stream kind's record starts with the slots themselves (no self word). */
struct xio {
    XioVtbl vt;
};

ORV_EXTERN_C_END

#endif
