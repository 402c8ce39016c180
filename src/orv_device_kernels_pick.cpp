// Run-time choice of the row kernels: the fastest tier this CPU runs, found
// once per process. The blitter asks when it is created, never per frame.
// Every tier gives the reference kernels' bytes, so the choice changes speed
// only. Takes no lock (the one-time probe is a function-local static).
#include "orv_device_kernels.h"

#include <initializer_list>

extern "C" DeviceRowKernels orv_device_row_kernels(int tier)
{
    switch (tier) {
    case ORV_KERNELS_REFERENCE:
        return {device_yuv_rgb32_neon,           device_filter_yuv_rgb565_neon,
                device_yuv_rgb32_semi_neon,      device_filter_yuv_rgb565_semi_neon,
                device_yuv_rgb32_pair_neon,      device_filter_yuv_rgb565_pair_neon,
                device_yuv_rgb32_semi_pair_neon, device_filter_yuv_rgb565_semi_pair_neon};
#if defined(__x86_64__) || defined(__i386__)
    case ORV_KERNELS_SSE41:
        return orv_device_row_kernels_sse41();
    case ORV_KERNELS_AVX2:
        return orv_device_row_kernels_avx2();
#endif
    default:
        return {};
    }
}

extern "C" DeviceRowKernels orv_device_pick_kernels(void)
{
    static const DeviceRowKernels best = [] {
        for (int tier : {ORV_KERNELS_AVX2, ORV_KERNELS_SSE41}) {
            const DeviceRowKernels set = orv_device_row_kernels(tier);
            if (set.rgb32 != nullptr)
                return set;
        }
        return orv_device_row_kernels(ORV_KERNELS_REFERENCE);
    }();
    return best;
}
