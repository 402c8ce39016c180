/* The ARM tiers' tables: the NEON intrinsics (built on every architecture,
 * through SIMDe off ARM) and the assembly row pairs of ARMv7 and AArch64. */
#ifndef ORV_KERNELS_ARM_H
#define ORV_KERNELS_ARM_H

#include "kernels/kernels.h"

ORV_EXTERN_C_BEGIN

DeviceRowKernels orv_kernels_neon(void);
/* arm/turn.cpp: the turn stores of every ARM tier (and of the NEON tier
 * through SIMDe elsewhere). */
DeviceTurnKernels orv_turn_kernels_neon(void);
/* arm/copy.cpp: the plane copies in intrinsics. */
DeviceCopyKernels orv_copy_kernels_neon(void);
/* The 10-bit set of one sample layout (DEVICE_SAMPLES_10_*); all null else. */
DeviceRowKernels orv_kernels_neon10(int samples);

#if defined(__arm__) && !defined(__aarch64__)
#define ORV_KERNELS_HAVE_A32 1
/* NEON rows; row pairs in assembly for blocks without bias (every library
 * block), the NEON pairs for the rest. */
DeviceRowKernels orv_kernels_a32(void);
/* The NEON tier's 10-bit rows, row pairs in assembly; all null for a layout
 * that is no 10-bit one. */
DeviceRowKernels orv_kernels_a32_10(int samples);
/* Plane copies whose inner loops are arm/32/copy.S. */
DeviceCopyKernels orv_copy_kernels_a32(void);
/* arm/32/copy.S: 64-byte blocks (blocks >= 1); 16 pairs per block. */
void orv_a32_copy_blocks(uint8_t *dst, const uint8_t *src, int blocks);
void orv_a32_split_blocks(uint8_t *a, uint8_t *b, const uint8_t *pairs, int blocks);
DeviceMirrorKernels orv_mirror_kernels_a32(void);

/* arm/32/yuv_pair.S: count / 16 groups, at least one; the block has
 * no bias; u and v as the layout in the name reads them (uv: Cb first from
 * u, vu: Cr first from v). Save what AAPCS asks them to. */
#define ORV_A32_PAIR(name)                                                                                   \
    void name(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,    \
              const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
ORV_A32_PAIR(orv_a32_rgba_pair_planar);
ORV_A32_PAIR(orv_a32_rgba_pair_uv);
ORV_A32_PAIR(orv_a32_rgba_pair_vu);
ORV_A32_PAIR(orv_a32_rgb565_pair_planar);
ORV_A32_PAIR(orv_a32_rgb565_pair_uv);
ORV_A32_PAIR(orv_a32_rgb565_pair_vu);
/* Mirrored (see DeviceMirrorKernels); dst is the span's leftmost pixel. */
ORV_A32_PAIR(orv_a32_rgba_pair_mirror_planar);
ORV_A32_PAIR(orv_a32_rgba_pair_mirror_uv);
ORV_A32_PAIR(orv_a32_rgba_pair_mirror_vu);
ORV_A32_PAIR(orv_a32_rgb565_pair_mirror_planar);
ORV_A32_PAIR(orv_a32_rgb565_pair_mirror_uv);
ORV_A32_PAIR(orv_a32_rgb565_pair_mirror_vu);
/* arm/32/yuv10_pair.S: 10-bit words, bits 0-9 (low) or 6-15 (high); uv and
 * vu pointers one word apart. Any block (the 10-bit model has no bias). */
ORV_A32_PAIR(orv_a32_rgba_pair10_low_planar);
ORV_A32_PAIR(orv_a32_rgba_pair10_low_uv);
ORV_A32_PAIR(orv_a32_rgba_pair10_low_vu);
ORV_A32_PAIR(orv_a32_rgba_pair10_high_planar);
ORV_A32_PAIR(orv_a32_rgba_pair10_high_uv);
ORV_A32_PAIR(orv_a32_rgba_pair10_high_vu);
ORV_A32_PAIR(orv_a32_rgb565_pair10_low_planar);
ORV_A32_PAIR(orv_a32_rgb565_pair10_low_uv);
ORV_A32_PAIR(orv_a32_rgb565_pair10_low_vu);
ORV_A32_PAIR(orv_a32_rgb565_pair10_high_planar);
ORV_A32_PAIR(orv_a32_rgb565_pair10_high_uv);
ORV_A32_PAIR(orv_a32_rgb565_pair10_high_vu);
#undef ORV_A32_PAIR

/* arm/32/turn.S: whole blocks only (rows a multiple of 8 for 32-bit
 * elements, of 16 for 16-bit ones; columns of 4); the turn stores of the
 * tier finish the edges. */
void orv_a32_transpose32_blocks(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                                int rows, int cols);
void orv_a32_transpose16_blocks(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                                int rows, int cols);
/* Columns in groups of 16 split as the split bands store them; cols a
 * multiple of 16, rows of 8. */
void orv_a32_transpose32_split_blocks(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                                      ptrdiff_t dst_stride, int rows, int cols);
/* arm/32/yuv_pair.S: DeviceSplitBandKernel for blocks without bias. */
void orv_a32_rgba_band_split_planar(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                    const YuvCoefficients *coefficients);
void orv_a32_rgba_band_split_uv(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                const YuvCoefficients *coefficients);
void orv_a32_rgba_band_split_vu(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                const YuvCoefficients *coefficients);
DeviceTurnKernels orv_turn_kernels_a32(void);
#endif

#if defined(__aarch64__)
#define ORV_KERNELS_HAVE_A64 1
/* NEON rows; row pairs in assembly for blocks without bias, the NEON pairs
 * for the rest. */
DeviceRowKernels orv_kernels_a64(void);
/* The NEON tier's 10-bit rows, row pairs in assembly; all null for a layout
 * that is no 10-bit one. */
DeviceRowKernels orv_kernels_a64_10(int samples);
/* Plane copies whose inner loops are arm/64/copy.S. */
DeviceCopyKernels orv_copy_kernels_a64(void);
/* arm/64/copy.S, as the ARMv7 ones above. */
void orv_a64_copy_blocks(uint8_t *dst, const uint8_t *src, int blocks);
void orv_a64_split_blocks(uint8_t *a, uint8_t *b, const uint8_t *pairs, int blocks);
DeviceMirrorKernels orv_mirror_kernels_a64(void);

/* arm/64/yuv_pair.S, with the contract of the ARMv7 ones above. */
#define ORV_A64_PAIR(name)                                                                                   \
    void name(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,    \
              const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
ORV_A64_PAIR(orv_a64_rgba_pair_planar);
ORV_A64_PAIR(orv_a64_rgba_pair_uv);
ORV_A64_PAIR(orv_a64_rgba_pair_vu);
ORV_A64_PAIR(orv_a64_rgb565_pair_planar);
ORV_A64_PAIR(orv_a64_rgb565_pair_uv);
ORV_A64_PAIR(orv_a64_rgb565_pair_vu);
ORV_A64_PAIR(orv_a64_rgba_pair_mirror_planar);
ORV_A64_PAIR(orv_a64_rgba_pair_mirror_uv);
ORV_A64_PAIR(orv_a64_rgba_pair_mirror_vu);
ORV_A64_PAIR(orv_a64_rgb565_pair_mirror_planar);
ORV_A64_PAIR(orv_a64_rgb565_pair_mirror_uv);
ORV_A64_PAIR(orv_a64_rgb565_pair_mirror_vu);
/* arm/64/yuv10_pair.S: as the ARMv7 10-bit pairs. */
ORV_A64_PAIR(orv_a64_rgba_pair10_low_planar);
ORV_A64_PAIR(orv_a64_rgba_pair10_low_uv);
ORV_A64_PAIR(orv_a64_rgba_pair10_low_vu);
ORV_A64_PAIR(orv_a64_rgba_pair10_high_planar);
ORV_A64_PAIR(orv_a64_rgba_pair10_high_uv);
ORV_A64_PAIR(orv_a64_rgba_pair10_high_vu);
ORV_A64_PAIR(orv_a64_rgb565_pair10_low_planar);
ORV_A64_PAIR(orv_a64_rgb565_pair10_low_uv);
ORV_A64_PAIR(orv_a64_rgb565_pair10_low_vu);
ORV_A64_PAIR(orv_a64_rgb565_pair10_high_planar);
ORV_A64_PAIR(orv_a64_rgb565_pair10_high_uv);
ORV_A64_PAIR(orv_a64_rgb565_pair10_high_vu);
#undef ORV_A64_PAIR

/* arm/64/turn.S, with the contract of the ARMv7 ones above. */
void orv_a64_transpose32_blocks(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                                int rows, int cols);
void orv_a64_transpose16_blocks(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                                int rows, int cols);
void orv_a64_transpose32_split_blocks(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                                      ptrdiff_t dst_stride, int rows, int cols);
void orv_a64_rgba_band_split_planar(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                    const YuvCoefficients *coefficients);
void orv_a64_rgba_band_split_uv(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                const YuvCoefficients *coefficients);
void orv_a64_rgba_band_split_vu(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                const YuvCoefficients *coefficients);
DeviceTurnKernels orv_turn_kernels_a64(void);
#endif

ORV_EXTERN_C_END

#endif /* ORV_KERNELS_ARM_H */
