/* The row-kernel layer: the kernel signatures, the coefficient blocks of
 * every colour matrix and range, the tiers and the table of one tier's
 * kernels, and the one pick the blitter makes from them. Private to the
 * render module, its tests and benchmarks; it knows nothing of the blitter.
 * Layout: coefficients.cpp, pick.cpp here; arm/ (NEON intrinsics, also
 * built through SIMDe off ARM), arm/32 and arm/64 (assembly), x86/. */
#ifndef ORV_KERNELS_H
#define ORV_KERNELS_H

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

/* Whether a block adds a bias to any channel (the ARMv7 assembly has none). */
static inline int orv_yuv_has_bias(const YuvCoefficients *c)
{
    return (c->red_bias | c->green_bias | c->blue_bias) != 0;
}

/* coefficients.cpp: the library's blocks. The legacy block (BT.601 limited range, no bias): what the
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

/* The row kernels of one tier: planar and semi-planar chroma, 32-bit and
 * RGB565 with the error carry, single rows and row pairs (a tier may leave
 * the pairs null; the blitter then walks single rows). Every tier gives the
 * bytes of the scalar model (tests/support/yuv_model.h) exactly. */
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

/* Stores of a turned picture, in elements of 2 or 4 bytes (the name says
 * which): a block of `rows` rows of `cols` elements at src, src_stride bytes
 * apart (negative walks up), written to dst with dst_stride bytes between
 * its rows. Transpose: element i of row j goes to row i, element j.
 * Reverse: element i of row j goes to row j, element cols - 1 - i. They
 * carry converted pixels out of a small block that stays in the first-level
 * cache, so the window is written once, turned or mirrored; they know
 * nothing of the pixels, so they serve the output of any row-kernel table. */
typedef void (*DeviceTurnKernel)(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                                 int rows, int cols);

/* A band of rows for a kernel that converts many row pairs in one call:
 * rows (even, above 0) rows of count pixels (a multiple of 16, above 0),
 * chroma row k serving rows 2k and 2k + 1. */
typedef struct DeviceRowBand {
    const uint8_t *y, *u, *v;
    ptrdiff_t y_stride, u_stride, v_stride;
    int rows, count;
} DeviceRowBand;

/* RGBA of a band at dst (rows dst_stride bytes apart), each group of 16
 * pixels stored split: its 8 even pixels, then its 8 odd ones, the order
 * the vector arithmetic leaves them in. Blocks without bias only (with bias
 * nothing is drawn). The semi-planar one takes u and v one byte apart, in
 * either order. */
typedef void (*DeviceSplitBandKernel)(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                      const YuvCoefficients *coefficients);

typedef struct DeviceTurnKernels {
    DeviceTurnKernel transpose32;
    DeviceTurnKernel transpose16;
    DeviceTurnKernel reverse32;
    DeviceTurnKernel reverse16;
    /* Quarter turns of RGBA without a permute, on tiers that have them
     * (else null): the split bands, and the transpose of a block stored so,
     * cols a multiple of 16 (element i of a group of 16 is its pixel 2i, or
     * 2(i - 8) + 1 from i = 8). */
    DeviceSplitBandKernel rgb32_split_band;
    DeviceSplitBandKernel rgb32_semi_split_band;
    DeviceTurnKernel transpose32_split;
} DeviceTurnKernels;

/* Row pairs that write right to left, for a mirrored picture without a
 * turn: source pixel x of the span (count / 16 whole groups) lands at pixel
 * count - 1 - x from dst. The RGB565 carry of each group of 16 is read and
 * written lane-reversed (lane k holds column 15 - k of the group), so a
 * caller reverses the groups' carries around a mirrored frame and the carry
 * still runs down source columns. Blocks without bias only; a tier may have
 * none (all null), and the blitter then mirrors through its turn block. */
typedef struct DeviceMirrorKernels {
    DeviceRowPairKernel rgb32_pair;
    DeviceRowPairKernel filter565_pair;
    DeviceRowPairKernel rgb32_semi_pair;
    DeviceRowPairKernel filter565_semi_pair;
} DeviceMirrorKernels;

/* Tiers, named for what they are: NEON intrinsics (through SIMDe off ARM),
 * the ARMv7 and the AArch64 assembly row pairs (NEON rows beside them),
 * SSE4.1, AVX2. */
typedef enum OrvKernelTier {
    ORV_KERNELS_AUTO = -1,
    ORV_KERNELS_NEON = 0,
    ORV_KERNELS_A32 = 1,
    ORV_KERNELS_SSE41 = 2,
    ORV_KERNELS_AVX2 = 3,
    ORV_KERNELS_A64 = 4,
    ORV_KERNELS_TIERS = 5
} OrvKernelTier;

/* "neon", "a32", "sse41", "avx2", "a64"; "auto" for ORV_KERNELS_AUTO; null
 * else. */
const char *orv_kernel_tier_name(int tier);
/* The tier of a name above (as ORV_KERNELS takes it); -2 for no tier. */
int orv_kernel_tier_of(const char *name);

/* Whether this build has the tier and this CPU runs it. */
int orv_device_kernels_runnable(int tier);
/* The set of a tier; all null when it is not runnable here. */
DeviceRowKernels orv_device_row_kernels(int tier);

/* The turn stores of a tier (any tier has the first four); all null when
 * it is not runnable here. */
DeviceTurnKernels orv_device_turn_kernels(int tier);
DeviceMirrorKernels orv_device_mirror_kernels(int tier);

/* The tier the blitter gets: the one forced, else the fastest runnable one.
 * ORV_KERNELS (neon, a32, a64, sse41, avx2, auto) is read once per process; a
 * tier this machine cannot run is logged and ignored. */
int orv_device_kernel_tier(void);
DeviceRowKernels orv_device_pick_kernels(void);
DeviceTurnKernels orv_device_pick_turn_kernels(void);
DeviceMirrorKernels orv_device_pick_mirror_kernels(void);
/* Forces a runnable tier, or ORV_KERNELS_AUTO for the fastest, over
 * ORV_KERNELS; for tests and benchmarks. Blitters created later follow it.
 * ORV_ERR_INVALID_PARAM (and a log line) for any other value. */
ResultCode orv_device_kernels_force(int tier);

/* Plane copies for windows that take YUV as it is (YV12): no sample is
 * changed, and the padding of a row up to its stride gets ORV_COPY_PAD
 * (mid-grey, so a compositor filtering across the picture's edge shows no
 * green fringe).
 * copy: count bytes from src to dst (no overlap), then dst[count, padded)
 * padded. split: count pairs, pairs[2i] to a[i] and pairs[2i + 1] to b[i],
 * then both rows padded up to padded. padded >= count >= 0. */
#define ORV_COPY_PAD 128
typedef void (*DeviceCopyRow)(uint8_t *dst, const uint8_t *src, int count, int padded);
typedef void (*DeviceSplitRow)(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded);

/* The same for 10-bit samples in 16-bit little-endian words, src and pairs
 * being words (count of them per row or pair member): each rounded to the
 * nearest 8-bit value, (v + 2) >> 2 capped at 255, where v is bits 0-9 of
 * the word (low) or bits 6-15 (high); the other bits are ignored. */
/* One 10-bit word's 8-bit value by that rule (the scalar ends of the
 * narrowing copies, and the YV12 copy's turned path). */
static inline uint8_t orv_narrow10(const uint8_t *word, int high)
{
    const unsigned w = (unsigned)word[0] | (unsigned)word[1] << 8;
    const unsigned v = ((high ? w >> 6 : w & 0x3FF) + 2) >> 2;
    return (uint8_t)(v > 255 ? 255 : v);
}

typedef struct DeviceCopyKernels {
    DeviceCopyRow copy;
    DeviceSplitRow split;
    DeviceCopyRow narrow_low;
    DeviceCopyRow narrow_high;
    DeviceSplitRow split_low;
    DeviceSplitRow split_high;
} DeviceCopyKernels;

/* The copies of a tier (same tiers and runnability as the row kernels); all
 * null when it is not runnable here. Every tier gives the same bytes. */
DeviceCopyKernels orv_device_copy_kernels(int tier);
/* The copies of orv_device_kernel_tier(). */
DeviceCopyKernels orv_device_pick_copy_kernels(void);
/* 10-bit samples (DEVICE_SAMPLES_10_LOW or _HIGH): blocks and kernels of
 * the same shape. Pointers stay byte pointers, strides bytes, counts pixels;
 * semi-planar pointers lie one word apart (v = u + 2 or u = v + 2). The
 * carry is the 8-bit layout holding the finer carries of kernels/ten_bit.h,
 * the one model every tier follows. */
/* The block of a matrix and range for 10-bit samples, computed from the
 * standards for every pair (BT.601 limited too); null for other values. */
const YuvCoefficients *orv_yuv_coefficients10(int matrix, int range);
/* A tier's 10-bit set for one sample layout; all null when the tier is not
 * runnable or the layout is no 10-bit one. A32 has assembly row pairs
 * beside the NEON rows; A64 answers with the NEON intrinsics. */
DeviceRowKernels orv_device_row_kernels10(int tier, int samples);
/* The set of orv_device_kernel_tier() for the layout. */
DeviceRowKernels orv_device_pick_kernels10(int samples);

ORV_EXTERN_C_END

#endif /* ORV_KERNELS_H */
