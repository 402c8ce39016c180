/* The YUV-to-RGB blitter (a DeviceBlit component object) and what it shares
 * with the row kernels; private to the render module and its tests. */
#ifndef ORV_DEVICE_BLIT_H
#define ORV_DEVICE_BLIT_H

#include "device_render.h"

ORV_EXTERN_C_BEGIN

/* The interface of a DeviceBlit: its slots, in order. The object's own
 * address sits in the word just before them. */
typedef struct DeviceBlitOps DeviceBlitOps;
struct DeviceBlitOps {
    /* Sizes the error carry for frame->width (8 bytes per column). */
    ResultCode (*update_buffer)(DeviceBlitOps *self, const YuvFrame *frame);
    /* bits_per_pixel 16: RGB565 with error carry; 32: bytes R, G, B, 0xFF;
     * anything else draws nothing. */
    ResultCode (*blit)(DeviceBlitOps *self, const YuvFrame *frame, uint8_t *dst, int dst_stride,
                       int bits_per_pixel);
    ResultCode (*destroy)(DeviceBlitOps *self);
};

/* Null (and a log line) when the allocation fails. */
DeviceBlitOps *orv_device_blit_create(void);

/* Bytes of error carry per column, and where column x's carry lives for a
 * frame of the given width: vector columns (below width rounded down to 16)
 * use 48-byte blocks of 16 red, 16 green, 16 blue bytes; the rest 6-byte
 * slots of three int16 from byte width16 * 8. */
#define ORV_DITHER_BYTES_PER_COLUMN 8

/* The library's coefficient block (BT.601 limited range, no bias). */
extern const YuvCoefficients orv_yuv_coefficients;

/* Bytes B, G, R per pixel; not exported and not used by the blitter. */
void device_yuv_bgr24_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                           uint8_t *errors, const YuvCoefficients *coefficients, int count);

typedef void (*DeviceRowKernel)(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                uint8_t *errors, const YuvCoefficients *coefficients, int count);

/* The two kernels the blitter calls, as one set per instruction tier. The
 * x86 tiers give the reference kernels' bytes exactly. */
typedef struct DeviceRowKernels {
    DeviceRowKernel rgb32;
    DeviceRowKernel filter565;
} DeviceRowKernels;

enum { ORV_KERNELS_REFERENCE = 0, ORV_KERNELS_SSE41 = 1, ORV_KERNELS_AVX2 = 2 };

/* The set of a tier; both null when this CPU or build lacks it. */
DeviceRowKernels orv_device_row_kernels(int tier);
/* The fastest set that gives the reference bytes for these coefficients. */
DeviceRowKernels orv_device_pick_kernels(const YuvCoefficients *coefficients);

ORV_EXTERN_C_END

#endif
