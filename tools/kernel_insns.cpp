// One kernel of one tier, called N times on one random row (or row pair) of
// the given width, for per-kernel instruction counts under qemu: the slots
// and tiers are the kernel list's (tests/support/kernel_list.h), as in the
// bit-exactness tests and bench_kernels. scripts/bench_insns runs it for two
// call counts and divides the difference by the extra pixels.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "kernel_list.h"

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: orv_kernel_insns SLOT TIER CALLS [WIDTH]\n");
        return 2;
    }
    const kernel_list::Slot *slot = nullptr;
    for (const kernel_list::Slot &s : kernel_list::kSlots)
        if (std::strcmp(s.name, argv[1]) == 0)
            slot = &s;
    const int tier = orv_kernel_tier_of(argv[2]);
    const int calls = std::atoi(argv[3]);
    const int width = argc > 4 ? std::atoi(argv[4]) : 640;
    const DeviceRowKernels set = tier >= 0 ? orv_device_row_kernels(tier) : DeviceRowKernels{};
    if (!slot || calls < 1 || width < 16 || !kernel_list::has(*slot, set)) {
        std::fprintf(stderr, "orv_kernel_insns: no slot %s in tier %s here\n", argv[1], argv[2]);
        return 1;
    }
    std::mt19937 rng(1);
    const kernel_list::Rows in = kernel_list::random_rows(rng, width);
    kernel_list::Result out = kernel_list::blank_result(*slot, in);
    std::vector<uint8_t> swapped;
    for (int i = 0; i < calls; ++i)
        kernel_list::call(*slot, set, in, slot->semi ? 1 : 0, orv_yuv_coefficients, out, swapped);
    std::printf("%u\n", unsigned(out.pixels[0] ^ out.errors[0]));
    return 0;
}
