// The one place a kernel tier is chosen: which tiers this build has and this
// CPU runs, the tier ORV_KERNELS or a test forces, else the fastest. The
// blitter asks when it is created, never per frame. Every tier gives the
// scalar model's bytes, so the choice changes speed only. Takes no lock: the
// environment is read once (a function-local static) and the forced tier is
// an atomic word.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "kernels/arm/arm.h"
#include "kernels/kernels.h"
#include "kernels/x86/x86.h"
#include "orv/orv_log.h"

namespace {

constexpr const char *kTierNames[ORV_KERNELS_TIERS] = {"neon", "a32", "sse41", "avx2", "a64"};
// Fastest first.
constexpr int kPreference[] = {ORV_KERNELS_AVX2, ORV_KERNELS_SSE41, ORV_KERNELS_A64, ORV_KERNELS_A32,
                               ORV_KERNELS_NEON};
constexpr int kNoTier = -2;

// What orv_device_kernels_force set; kNoTier leaves ORV_KERNELS in charge.
std::atomic<int> forced{kNoTier};

int tier_from_environment()
{
    static const int tier = [] {
        const char *name = std::getenv("ORV_KERNELS");
        if (!name || !*name)
            return int(ORV_KERNELS_AUTO);
        const int t = orv_kernel_tier_of(name);
        if (t == kNoTier || (t != ORV_KERNELS_AUTO && !orv_device_kernels_runnable(t))) {
            orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: kernels: ORV_KERNELS=%s is no tier this machine runs",
                    name);
            return int(ORV_KERNELS_AUTO);
        }
        return t;
    }();
    return tier;
}

} // namespace

extern "C" {

const char *orv_kernel_tier_name(int tier)
{
    if (tier == ORV_KERNELS_AUTO)
        return "auto";
    return tier >= 0 && tier < ORV_KERNELS_TIERS ? kTierNames[tier] : nullptr;
}

int orv_kernel_tier_of(const char *name)
{
    if (!name)
        return kNoTier;
    if (std::strcmp(name, "auto") == 0)
        return ORV_KERNELS_AUTO;
    for (int t = 0; t < ORV_KERNELS_TIERS; ++t)
        if (std::strcmp(name, kTierNames[t]) == 0)
            return t;
    return kNoTier;
}

int orv_device_kernels_runnable(int tier)
{
    switch (tier) {
    case ORV_KERNELS_NEON:
        return 1;
#ifdef ORV_KERNELS_HAVE_A32
    case ORV_KERNELS_A32:
        return 1;
#endif
#ifdef ORV_KERNELS_HAVE_A64
    case ORV_KERNELS_A64:
        return 1;
#endif
#ifdef ORV_KERNELS_HAVE_X86
    case ORV_KERNELS_SSE41:
        return __builtin_cpu_supports("sse4.1") ? 1 : 0;
    case ORV_KERNELS_AVX2:
        return __builtin_cpu_supports("avx2") ? 1 : 0;
#endif
    default:
        return 0;
    }
}

DeviceRowKernels orv_device_row_kernels(int tier)
{
    if (!orv_device_kernels_runnable(tier))
        return {};
    switch (tier) {
#ifdef ORV_KERNELS_HAVE_A32
    case ORV_KERNELS_A32:
        return orv_kernels_a32();
#endif
#ifdef ORV_KERNELS_HAVE_A64
    case ORV_KERNELS_A64:
        return orv_kernels_a64();
#endif
#ifdef ORV_KERNELS_HAVE_X86
    case ORV_KERNELS_SSE41:
        return orv_kernels_sse41();
    case ORV_KERNELS_AVX2:
        return orv_kernels_avx2();
#endif
    default:
        return orv_kernels_neon();
    }
}

DeviceTurnKernels orv_device_turn_kernels(int tier)
{
    if (!orv_device_kernels_runnable(tier))
        return {};
#ifdef ORV_KERNELS_HAVE_X86
    if (tier == ORV_KERNELS_SSE41)
        return orv_turn_kernels_sse();
    if (tier == ORV_KERNELS_AVX2)
        return orv_turn_kernels_avx2();
#endif
#ifdef ORV_KERNELS_HAVE_A32
    if (tier == ORV_KERNELS_A32)
        return orv_turn_kernels_a32();
#endif
#ifdef ORV_KERNELS_HAVE_A64
    if (tier == ORV_KERNELS_A64)
        return orv_turn_kernels_a64();
#endif
    return orv_turn_kernels_neon();
}

DeviceMirrorKernels orv_device_mirror_kernels(int tier)
{
    if (!orv_device_kernels_runnable(tier))
        return {};
#ifdef ORV_KERNELS_HAVE_A32
    if (tier == ORV_KERNELS_A32)
        return orv_mirror_kernels_a32();
#endif
#ifdef ORV_KERNELS_HAVE_A64
    if (tier == ORV_KERNELS_A64)
        return orv_mirror_kernels_a64();
#endif
    return {};
}

int orv_device_kernel_tier(void)
{
    int tier = forced.load(std::memory_order_relaxed);
    if (tier == kNoTier)
        tier = tier_from_environment();
    if (tier != ORV_KERNELS_AUTO)
        return tier;
    // Probed once: the CPU does not change under a running process.
    static const int best = [] {
        for (int t : kPreference)
            if (orv_device_kernels_runnable(t))
                return t;
        return int(ORV_KERNELS_NEON);
    }();
    return best;
}

DeviceRowKernels orv_device_pick_kernels(void)
{
    return orv_device_row_kernels(orv_device_kernel_tier());
}

DeviceTurnKernels orv_device_pick_turn_kernels(void)
{
    return orv_device_turn_kernels(orv_device_kernel_tier());
}

DeviceCopyKernels orv_device_copy_kernels(int tier)
{
    if (!orv_device_kernels_runnable(tier))
        return {};
    switch (tier) {
#ifdef ORV_KERNELS_HAVE_A32
    case ORV_KERNELS_A32:
        return orv_copy_kernels_a32();
#endif
#ifdef ORV_KERNELS_HAVE_A64
    case ORV_KERNELS_A64:
        return orv_copy_kernels_a64();
#endif
#ifdef ORV_KERNELS_HAVE_X86
    case ORV_KERNELS_SSE41:
        return orv_copy_kernels_sse41();
    case ORV_KERNELS_AVX2:
        return orv_copy_kernels_avx2();
#endif
    default:
        return orv_copy_kernels_neon();
    }
}

DeviceCopyKernels orv_device_pick_copy_kernels(void)
{
    return orv_device_copy_kernels(orv_device_kernel_tier());
}

DeviceMirrorKernels orv_device_pick_mirror_kernels(void)
{
    return orv_device_mirror_kernels(orv_device_kernel_tier());
}

DeviceRowKernels orv_device_row_kernels10(int tier, int samples)
{
    if (!orv_device_kernels_runnable(tier) ||
        (samples != DEVICE_SAMPLES_10_LOW && samples != DEVICE_SAMPLES_10_HIGH))
        return {};
    switch (tier) {
#ifdef ORV_KERNELS_HAVE_X86
    case ORV_KERNELS_SSE41:
        return orv_kernels_sse41_10(samples);
    case ORV_KERNELS_AVX2:
        return orv_kernels_avx2_10(samples);
#endif
#ifdef ORV_KERNELS_HAVE_A32
    case ORV_KERNELS_A32:
        return orv_kernels_a32_10(samples);
#endif
#ifdef ORV_KERNELS_HAVE_A64
    case ORV_KERNELS_A64:
        return orv_kernels_a64_10(samples);
#endif
    default:
        return orv_kernels_neon10(samples);
    }
}

DeviceRowKernels orv_device_pick_kernels10(int samples)
{
    return orv_device_row_kernels10(orv_device_kernel_tier(), samples);
}

ResultCode orv_device_kernels_force(int tier)
{
    if (tier != ORV_KERNELS_AUTO && !orv_device_kernels_runnable(tier)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: kernels: no tier %d on this machine", tier);
        return ORV_ERR_INVALID_PARAM;
    }
    forced.store(tier, std::memory_order_relaxed);
    return ORV_OK;
}

} // extern "C"
