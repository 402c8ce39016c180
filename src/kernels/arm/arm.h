/* The ARM tiers' tables: the NEON intrinsics (built on every architecture,
 * through SIMDe off ARM) and the assembly row pairs of ARMv7 and AArch64. */
#ifndef ORV_KERNELS_ARM_H
#define ORV_KERNELS_ARM_H

#include "kernels/kernels.h"

ORV_EXTERN_C_BEGIN

DeviceRowKernels orv_kernels_neon(void);
/* The 10-bit set of one sample layout (DEVICE_SAMPLES_10_*); all null else. */
DeviceRowKernels orv_kernels_neon10(int samples);

#if defined(__arm__) && !defined(__aarch64__)
#define ORV_KERNELS_HAVE_A32 1
/* NEON rows; row pairs in assembly for blocks without bias (every library
 * block), the NEON pairs for the rest. */
DeviceRowKernels orv_kernels_a32(void);

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
#undef ORV_A32_PAIR
#endif

#if defined(__aarch64__)
#define ORV_KERNELS_HAVE_A64 1
/* NEON rows; row pairs in assembly for blocks without bias, the NEON pairs
 * for the rest. */
DeviceRowKernels orv_kernels_a64(void);

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
#undef ORV_A64_PAIR
#endif

ORV_EXTERN_C_END

#endif /* ORV_KERNELS_ARM_H */
