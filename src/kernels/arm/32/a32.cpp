// The A32 tier's table: the NEON rows, and row pairs that hand blocks
// without bias to the assembly in yuv_pair.S (every block the library has),
// the rest to the NEON pairs. The checks here run once per row pair.
#include "kernels/arm/arm.h"

#ifdef ORV_KERNELS_HAVE_A32

namespace {

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

// Pointers that are not one byte apart are no semi-planar row: nothing is drawn.
template <DeviceRowPairKernel Uv, DeviceRowPairKernel Vu, DeviceRowPairKernel Neon>
void semi_pair_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                     const uint8_t *u, const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients,
                     int count)
{
    if (v == u + 1)
        pair_entry<Uv, Neon>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
    else if (u == v + 1)
        pair_entry<Vu, Neon>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

} // namespace

extern "C" DeviceRowKernels orv_kernels_a32(void)
{
    DeviceRowKernels set = orv_kernels_neon();
    set.rgb32_pair = pair_entry<orv_a32_rgba_pair_planar, device_yuv_rgb32_pair_neon>;
    set.filter565_pair = pair_entry<orv_a32_rgb565_pair_planar, device_filter_yuv_rgb565_pair_neon>;
    set.rgb32_semi_pair =
        semi_pair_entry<orv_a32_rgba_pair_uv, orv_a32_rgba_pair_vu, device_yuv_rgb32_semi_pair_neon>;
    set.filter565_semi_pair = semi_pair_entry<orv_a32_rgb565_pair_uv, orv_a32_rgb565_pair_vu,
                                              device_filter_yuv_rgb565_semi_pair_neon>;
    return set;
}

#endif
