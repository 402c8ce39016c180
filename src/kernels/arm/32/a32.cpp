// The A32 tier's table: the NEON rows, and row pairs that hand blocks
// without bias to the assembly in yuv_pair.S (every block the library has),
// the rest to the NEON pairs. The checks here run once per row pair.
#include "kernels/arm/asm_pairs.h"

#ifdef ORV_KERNELS_HAVE_A32

extern "C" DeviceRowKernels orv_kernels_a32(void)
{
    using namespace orv_arm_pairs;
    DeviceRowKernels set = orv_kernels_neon();
    set.rgb32_pair = pair_entry<orv_a32_rgba_pair_planar, device_yuv_rgb32_pair_neon>;
    set.filter565_pair = pair_entry<orv_a32_rgb565_pair_planar, device_filter_yuv_rgb565_pair_neon>;
    set.rgb32_semi_pair =
        semi_pair_entry<orv_a32_rgba_pair_uv, orv_a32_rgba_pair_vu, device_yuv_rgb32_semi_pair_neon>;
    set.filter565_semi_pair = semi_pair_entry<orv_a32_rgb565_pair_uv, orv_a32_rgb565_pair_vu,
                                              device_filter_yuv_rgb565_semi_pair_neon>;
    return set;
}

extern "C" DeviceMirrorKernels orv_mirror_kernels_a32(void)
{
    using namespace orv_arm_pairs;
    return {mirror_entry<orv_a32_rgba_pair_mirror_planar>, mirror_entry<orv_a32_rgb565_pair_mirror_planar>,
            semi_mirror_entry<orv_a32_rgba_pair_mirror_uv, orv_a32_rgba_pair_mirror_vu>,
            semi_mirror_entry<orv_a32_rgb565_pair_mirror_uv, orv_a32_rgb565_pair_mirror_vu>};
}

#endif
