/* Plane copies into a YV12 window buffer: Android's YV12 layout of a locked
 * buffer, and the frame copy that walks the rows with the kernel layer's row
 * copies (interleaved chroma, NV12 or NV21, is split into two planes). The
 * compositor converts such a buffer itself, so nothing here does arithmetic
 * on a sample. Private to the render module and its tests; knows nothing of
 * the overlay. */
#ifndef ORV_DEVICE_COPY_H
#define ORV_DEVICE_COPY_H

#include <stddef.h>
#include <stdint.h>

#include "device_render.h"
#include "kernels/kernels.h"

ORV_EXTERN_C_BEGIN

/* Written into the padding of every chroma row. */
#define ORV_YV12_CHROMA_PAD ORV_COPY_PAD

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

/* Copies the frame's rows into the planes. chroma_step 1: u and v are
 * planes; 2: one row of pairs, u and v one sample apart (NV12: v after u,
 * NV21: u after v). samples: DEVICE_SAMPLES_* (widths count samples, strides bytes); 10-bit samples are rounded
 * to 8 bits on the way. Each chroma row's padding up to c_stride gets
 * ORV_YV12_CHROMA_PAD. Width and height must be even (the caller checks). */
void orv_yv12_copy_frame(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step, int samples,
                         const DeviceCopyKernels *kernels);

/* Copies the frame into planes laid out for the picture turned by transform
 * (DEVICE_TRANSFORM_* bits: flips first, then a clockwise quarter
 * turn; with a quarter turn the planes are height x width), rounding 10-bit
 * samples to 8 bits (bits outside the 10 ignored). For windows that cannot
 * turn buffers themselves, and for 10-bit input. Chroma padding as above;
 * width and height even (the caller checks). */
void orv_yv12_copy_turned(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step, int samples,
                          int transform);

ORV_EXTERN_C_END

#endif
