// The entries of an assembly tier's row pairs (arm/32, arm/64): the checks
// made once per row pair in C++, blocks without bias to the assembly, the
// rest to the NEON pairs.
#pragma once

#include "kernels/arm/arm.h"

namespace orv_arm_pairs {

template <DeviceRowPairKernel Assembly, DeviceRowPairKernel Neon>
void pair_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (count < 16)
        return;
    if (orv_yuv_has_bias(coefficients))
        Neon(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
    else
        Assembly(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

// The mirrored pairs have no NEON twin: a block with bias draws nothing
// here, and the blitter takes its turn block for it instead.
template <DeviceRowPairKernel Assembly>
void mirror_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                  const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (count >= 16 && !orv_yuv_has_bias(coefficients))
        Assembly(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

// 10-bit: the model has no bias, so every block goes to the assembly; the
// semi-planar pointers lie one word apart.
template <DeviceRowPairKernel Assembly>
void pair10_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                  const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (count >= 16)
        Assembly(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

// A semi-planar row goes to the kernel of its chroma order, the pointers a
// sample (Gap bytes) apart; pointers otherwise are no semi-planar row, and
// nothing is drawn.
template <ptrdiff_t Gap, DeviceRowPairKernel Uv, DeviceRowPairKernel Vu>
void by_order(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
              const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (v == u + Gap)
        Uv(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
    else if (u == v + Gap)
        Vu(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

template <DeviceRowPairKernel Uv, DeviceRowPairKernel Vu, DeviceRowPairKernel Neon>
inline constexpr DeviceRowPairKernel semi_pair_entry =
    by_order<1, pair_entry<Uv, Neon>, pair_entry<Vu, Neon>>;
template <DeviceRowPairKernel Uv, DeviceRowPairKernel Vu>
inline constexpr DeviceRowPairKernel semi_mirror_entry = by_order<1, mirror_entry<Uv>, mirror_entry<Vu>>;
template <DeviceRowPairKernel Uv, DeviceRowPairKernel Vu>
inline constexpr DeviceRowPairKernel semi_pair10_entry = by_order<2, pair10_entry<Uv>, pair10_entry<Vu>>;

} // namespace orv_arm_pairs
