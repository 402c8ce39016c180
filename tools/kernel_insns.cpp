// One kernel of one tier, called N times on one random row (or row pair) of
// the given width, for per-kernel instruction counts under qemu: the slots
// and tiers are the kernel list's (tests/support/kernel_list.h), as in the
// bit-exactness tests and bench_kernels. scripts/bench_insns runs it for two
// call counts and divides the difference by the extra pixels. SAMPLES low or
// high: the tier's 10-bit set on words of that layout instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "kernel_list10.h"

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: orv_kernel_insns SLOT TIER CALLS [WIDTH] [low|high]\n");
        return 2;
    }
    const kernel_list::Slot *slot = nullptr;
    for (const kernel_list::Slot &s : kernel_list::kSlots)
        if (std::strcmp(s.name, argv[1]) == 0)
            slot = &s;
    const int tier = orv_kernel_tier_of(argv[2]);
    const int calls = std::atoi(argv[3]);
    const int width = argc > 4 ? std::atoi(argv[4]) : 640;
    const char *layout = argc > 5 ? argv[5] : "";
    const int samples = std::strcmp(layout, "low") == 0    ? DEVICE_SAMPLES_10_LOW
                        : std::strcmp(layout, "high") == 0 ? DEVICE_SAMPLES_10_HIGH
                                                           : DEVICE_SAMPLES_8;
    const DeviceRowKernels set = tier < 0                      ? DeviceRowKernels{}
                                 : samples == DEVICE_SAMPLES_8 ? orv_device_row_kernels(tier)
                                                               : orv_device_row_kernels10(tier, samples);
    if (!slot || calls < 1 || width < 16 || !kernel_list::has(*slot, set)) {
        std::fprintf(stderr, "orv_kernel_insns: no slot %s in tier %s here\n", argv[1], argv[2]);
        return 1;
    }
    std::mt19937 rng(1);
    std::vector<uint8_t> swapped;
    if (samples != DEVICE_SAMPLES_8) {
        const kernel_list10::Rows in = kernel_list10::random_rows(rng, width, samples, false);
        kernel_list::Result out = kernel_list10::blank_result(*slot, in);
        const YuvCoefficients &k = *orv_yuv_coefficients10(DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
        for (int i = 0; i < calls; ++i)
            kernel_list10::call(*slot, set, in, slot->semi ? 1 : 0, k, out, swapped);
        std::printf("%u\n", unsigned(out.pixels[0] ^ out.errors[0]));
        return 0;
    }
    const kernel_list::Rows in = kernel_list::random_rows(rng, width);
    kernel_list::Result out = kernel_list::blank_result(*slot, in);
    for (int i = 0; i < calls; ++i)
        kernel_list::call(*slot, set, in, slot->semi ? 1 : 0, orv_yuv_coefficients, out, swapped);
    std::printf("%u\n", unsigned(out.pixels[0] ^ out.errors[0]));
    return 0;
}
