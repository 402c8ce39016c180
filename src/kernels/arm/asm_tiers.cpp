// The tables of the A32 and A64 tiers, built alike from their assembly: the
// NEON rows, and row pairs that hand blocks without bias to the assembly in
// yuv_pair.S (every block the library has), the rest to the NEON pairs; the
// mirrored pairs, assembly only; and the 10-bit row pairs (yuv10_pair.S).
// The checks run once per row pair.
#include "kernels/arm/asm_pairs.h"

// T: the tier (a32, a64), which names its tables and assembly symbols.
#define ORV_ASM_TIER_TABLES(T)                                                                               \
    extern "C" DeviceRowKernels orv_kernels_##T(void)                                                        \
    {                                                                                                        \
        using namespace orv_arm_pairs;                                                                       \
        DeviceRowKernels set = orv_kernels_neon();                                                           \
        set.rgb32_pair = pair_entry<orv_##T##_rgba_pair_planar, device_yuv_rgb32_pair_neon>;                 \
        set.filter565_pair = pair_entry<orv_##T##_rgb565_pair_planar, device_filter_yuv_rgb565_pair_neon>;   \
        set.rgb32_semi_pair = semi_pair_entry<orv_##T##_rgba_pair_uv, orv_##T##_rgba_pair_vu,                \
                                              device_yuv_rgb32_semi_pair_neon>;                              \
        set.filter565_semi_pair = semi_pair_entry<orv_##T##_rgb565_pair_uv, orv_##T##_rgb565_pair_vu,        \
                                                  device_filter_yuv_rgb565_semi_pair_neon>;                  \
        return set;                                                                                          \
    }                                                                                                        \
    extern "C" DeviceMirrorKernels orv_mirror_kernels_##T(void)                                              \
    {                                                                                                        \
        using namespace orv_arm_pairs;                                                                       \
        return {mirror_entry<orv_##T##_rgba_pair_mirror_planar>,                                             \
                mirror_entry<orv_##T##_rgb565_pair_mirror_planar>,                                           \
                semi_mirror_entry<orv_##T##_rgba_pair_mirror_uv, orv_##T##_rgba_pair_mirror_vu>,             \
                semi_mirror_entry<orv_##T##_rgb565_pair_mirror_uv, orv_##T##_rgb565_pair_mirror_vu>};        \
    }

// 10-bit row pairs: the intrinsics spill on ARMv7 (GCC), and GCC moves
// every AArch64 RGBA output into the st4 tuple.
#define ORV_ASM_PAIRS10(T, S)                                                                                \
    set.rgb32_pair = pair10_entry<orv_##T##_rgba_pair10_##S##_planar>;                                       \
    set.filter565_pair = pair10_entry<orv_##T##_rgb565_pair10_##S##_planar>;                                 \
    set.rgb32_semi_pair = semi_pair10_entry<orv_##T##_rgba_pair10_##S##_uv, orv_##T##_rgba_pair10_##S##_vu>; \
    set.filter565_semi_pair =                                                                                \
        semi_pair10_entry<orv_##T##_rgb565_pair10_##S##_uv, orv_##T##_rgb565_pair10_##S##_vu>

#define ORV_ASM_TIER_TABLES10(T)                                                                             \
    extern "C" DeviceRowKernels orv_kernels_##T##_10(int samples)                                            \
    {                                                                                                        \
        using namespace orv_arm_pairs;                                                                       \
        DeviceRowKernels set = orv_kernels_neon10(samples);                                                  \
        if (samples == DEVICE_SAMPLES_10_LOW) {                                                              \
            ORV_ASM_PAIRS10(T, low);                                                                         \
        } else if (samples == DEVICE_SAMPLES_10_HIGH) {                                                      \
            ORV_ASM_PAIRS10(T, high);                                                                        \
        }                                                                                                    \
        return set;                                                                                          \
    }

#ifdef ORV_KERNELS_HAVE_A32
ORV_ASM_TIER_TABLES(a32)
ORV_ASM_TIER_TABLES10(a32)
#endif
#ifdef ORV_KERNELS_HAVE_A64
ORV_ASM_TIER_TABLES(a64)
ORV_ASM_TIER_TABLES10(a64)
#endif
