/* The row-kernel layer: the kernel signature, the coefficient blocks of every
 * colour matrix and range, and the kernel sets the blitter picks from once.
 * Private to the render module and its tests; it knows nothing of the
 * blitter. */
#ifndef ORV_DEVICE_KERNELS_H
#define ORV_DEVICE_KERNELS_H

#include <stddef.h>

#include "device_render.h"

ORV_EXTERN_C_BEGIN

/* dst, luma row, Cb row, Cr row, error carry, coefficients, pixel count: the
 * signature of every row kernel (count / 16 whole groups are converted). */
typedef void (*DeviceRowKernel)(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                uint8_t *errors, const YuvCoefficients *coefficients, int count);

/* Bytes B, G, R per pixel; not exported and not used by the blitter. */
void device_yuv_bgr24_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                           uint8_t *errors, const YuvCoefficients *coefficients, int count);

/* Semi-planar rows (chroma step 2): U and V samples interleave in one row,
 * so the two pointers lie one byte apart (v = u + 1 for NV12, u = v + 1 for
 * NV21). Same bytes as the planar kernels for the same samples. */
void device_yuv_rgb32_semi_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                uint8_t *errors, const YuvCoefficients *coefficients, int count);
void device_filter_yuv_rgb565_semi_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                        uint8_t *errors, const YuvCoefficients *coefficients, int count);

/* Two rows sharing one chroma row (rows 2k and 2k + 1 of 4:2:0): the row at
 * y and dst, and the one y_stride and dst_stride bytes further; the error
 * carry runs down each column through the first row into the second. Bytes
 * equal two calls of the row kernel, first row first. */
typedef void (*DeviceRowPairKernel)(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                    const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                    const YuvCoefficients *coefficients, int count);

void device_yuv_rgb32_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                const YuvCoefficients *coefficients, int count);
void device_filter_yuv_rgb565_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y,
                                        ptrdiff_t y_stride, const uint8_t *u, const uint8_t *v,
                                        uint8_t *errors, const YuvCoefficients *coefficients, int count);
void device_yuv_rgb32_semi_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                     const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                     const YuvCoefficients *coefficients, int count);
void device_filter_yuv_rgb565_semi_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y,
                                             ptrdiff_t y_stride, const uint8_t *u, const uint8_t *v,
                                             uint8_t *errors, const YuvCoefficients *coefficients, int count);

/* The library's legacy block (BT.601 limited range, no bias): what the
 * blitter used before matrices could be chosen. */
extern const YuvCoefficients orv_yuv_coefficients;

/* The scalar tail's Q13 arithmetic for one matrix and range:
 * L = luma * (Y - luma_offset), u = U - 128, v = V - 128,
 * R = (L + cr_red * v + rounding) / 8192, G = (L - cb_green * u - cr_green * v
 * + rounding) / 8192, B = (L + cb_blue * u + rounding) / 8192, truncating. */
typedef struct YuvTailCoefficients {
    int32_t luma_offset;
    int32_t luma;
    int32_t cr_red;
    int32_t cb_green;
    int32_t cr_green;
    int32_t cb_blue;
    int32_t rounding;
} YuvTailCoefficients;

/* One matrix and range: the block the kernels read and the tail's weights. */
typedef struct YuvColourCoefficients {
    YuvCoefficients lanes;
    YuvTailCoefficients tail;
} YuvColourCoefficients;

/* DEVICE_MATRIX_* and DEVICE_RANGE_* of device_render.h; null for any
 * other value. BT.601 limited is the legacy block and tail, bit for bit. */
const YuvColourCoefficients *orv_yuv_colour_coefficients(int matrix, int range);

/* The row kernels of one instruction tier: planar and semi-planar chroma,
 * 32-bit and RGB565 with the error carry. Every tier gives the reference
 * kernels' bytes exactly. */
typedef struct DeviceRowKernels {
    DeviceRowKernel rgb32;
    DeviceRowKernel filter565;
    DeviceRowKernel rgb32_semi;
    DeviceRowKernel filter565_semi;
    DeviceRowPairKernel rgb32_pair;
    DeviceRowPairKernel filter565_pair;
    DeviceRowPairKernel rgb32_semi_pair;
    DeviceRowPairKernel filter565_semi_pair;
} DeviceRowKernels;

enum { ORV_KERNELS_REFERENCE = 0, ORV_KERNELS_SSE41 = 1, ORV_KERNELS_AVX2 = 2 };

/* The set of a tier; all null when this CPU or build lacks it. */
DeviceRowKernels orv_device_row_kernels(int tier);
/* The fastest set this CPU runs; the library's blocks never hold the one
 * weight (-32768) where the x86 multiply parts from the reference. */
DeviceRowKernels orv_device_pick_kernels(void);

#if defined(__x86_64__) || defined(__i386__)
/* The x86 tiers, each null when the CPU lacks it (orv_device_kernels_x86). */
DeviceRowKernels orv_device_row_kernels_sse41(void);
DeviceRowKernels orv_device_row_kernels_avx2(void);
#endif

ORV_EXTERN_C_END

#endif
