/* Plane copies into a YV12 window buffer: Android's YV12 layout of a locked
 * buffer, the row kernels that split interleaved chroma (NV12, NV21) into two
 * planes, and the frame copy that walks the rows. The compositor converts
 * such a buffer itself, so nothing here does arithmetic on a sample. Private
 * to the render module and its tests; knows nothing of the overlay. */
#ifndef ORV_DEVICE_COPY_H
#define ORV_DEVICE_COPY_H

#include <stddef.h>
#include <stdint.h>

#include "device_render.h"

ORV_EXTERN_C_BEGIN

/* Written into the padding of every chroma row: mid-grey, so a compositor
 * that filters across the picture's edge shows no green fringe. */
#define ORV_YV12_CHROMA_PAD 128

/* The planes of a YV12 buffer: Y with the buffer's stride, then V (Cr), then
 * U (Cb), each chroma row ALIGN(stride / 2, 16) bytes, height / 2 rows. */
typedef struct OrvYv12Planes {
    uint8_t *y;
    uint8_t *v;
    uint8_t *u;
    int32_t y_stride;
    int32_t c_stride;
} OrvYv12Planes;

/* Layout of a buffer of the given stride (pixels, = bytes) and height. */
OrvYv12Planes orv_yv12_planes(void *bits, int32_t stride, int32_t height);
/* Bytes such a buffer spans. */
size_t orv_yv12_size(int32_t stride, int32_t height);

/* Copies count bytes (the buffers do not overlap) and fills dst from count
 * up to padded (padded >= count) with ORV_YV12_CHROMA_PAD. */
typedef void (*OrvCopyRow)(uint8_t *dst, const uint8_t *src, int count, int padded);
/* Splits count pairs: pairs[2i] to a[i], pairs[2i + 1] to b[i]; both rows
 * are filled from count up to padded with ORV_YV12_CHROMA_PAD. */
typedef void (*OrvSplitRow)(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded);

/* The row kernels of one tier. */
typedef struct OrvCopyKernels {
    OrvCopyRow copy;
    OrvSplitRow split;
} OrvCopyKernels;

enum {
    ORV_COPY_REFERENCE = 0,
    ORV_COPY_NEON = 1,
    ORV_COPY_SSE2 = 2,
    ORV_COPY_SSSE3 = 3,
    ORV_COPY_AVX2 = 4,
    ORV_COPY_TIERS = 5
};

/* The kernels of a tier; both null when this CPU or build lacks it. Every
 * tier gives the reference's bytes. The copy is the C library's memcpy
 * where that is as good as a kernel of ours (x86), hand-written elsewhere. */
OrvCopyKernels orv_copy_kernels(int tier);
/* The fastest tier this CPU runs, found once per process. */
OrvCopyKernels orv_copy_pick(void);

/* Copies the frame's rows into the planes. chroma_step 1: u and v are
 * planes; 2: one row of pairs, u and v one byte apart (NV12: v = u + 1, NV21:
 * u = v + 1). Each chroma row's padding up to c_stride gets
 * ORV_YV12_CHROMA_PAD. Width and height must be even (the caller checks). */
void orv_yv12_copy_frame(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step,
                         const OrvCopyKernels *kernels);

ORV_EXTERN_C_END

#endif
