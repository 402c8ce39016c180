// Each kernel of each tier on its own, off the kernel list the bit-exactness
// tests walk: BM_kernel/<slot>/<tier>/<width>, one call per iteration (two
// rows for a pair slot) on random rows that stay in cache. The ratio script
// sets every tier beside the NEON tier of the same slot and width.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "kernel_list.h"
#include "kernel_list10.h"

namespace {

void run(benchmark::State &state, const kernel_list::Slot &slot, int tier, int width)
{
    const DeviceRowKernels set = orv_device_row_kernels(tier);
    std::mt19937 rng{uint32_t(width)};
    const kernel_list::Rows in = kernel_list::random_rows(rng, width);
    kernel_list::Result out = kernel_list::blank_result(slot, in);
    std::vector<uint8_t> swapped;
    for (auto _ : state) {
        kernel_list::call(slot, set, in, slot.semi ? 1 : 0, orv_yuv_coefficients, out, swapped);
        benchmark::DoNotOptimize(out.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * width * (kernel_list::is_pair(slot) ? 2 : 1));
}

// The 10-bit sets: BM_kernel10/<low|high>/<slot>/<tier>/<width>.
void run10(benchmark::State &state, const kernel_list::Slot &slot, int tier, int samples, int width)
{
    const DeviceRowKernels set = orv_device_row_kernels10(tier, samples);
    std::mt19937 rng{uint32_t(width)};
    const kernel_list10::Rows in = kernel_list10::random_rows(rng, width, samples, false);
    kernel_list::Result out = kernel_list10::blank_result(slot, in);
    std::vector<uint8_t> swapped;
    const YuvCoefficients &k = *orv_yuv_coefficients10(DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
    for (auto _ : state) {
        kernel_list10::call(slot, set, in, slot.semi ? 1 : 0, k, out, swapped);
        benchmark::DoNotOptimize(out.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * width * (kernel_list::is_pair(slot) ? 2 : 1));
}

int register_all()
{
    for (const kernel_list::Slot &slot : kernel_list::kSlots)
        for (int tier = 0; tier < ORV_KERNELS_TIERS; ++tier) {
            if (!kernel_list::has(slot, orv_device_row_kernels(tier)))
                continue;
            for (int width : {640, 1920}) {
                const std::string name = std::string("BM_kernel/") + slot.name + "/" +
                                         orv_kernel_tier_name(tier) + "/" + std::to_string(width);
                benchmark::RegisterBenchmark(
                    name.c_str(), [&slot, tier, width](benchmark::State &st) { run(st, slot, tier, width); });
            }
        }
    for (int samples : kernel_list10::kLayouts)
        for (const kernel_list::Slot &slot : kernel_list::kSlots)
            for (int tier = 0; tier < ORV_KERNELS_TIERS; ++tier) {
                if (!kernel_list::has(slot, orv_device_row_kernels10(tier, samples)))
                    continue;
                const int width = 1920;
                const std::string name = std::string("BM_kernel10/") +
                                         (samples == DEVICE_SAMPLES_10_LOW ? "low/" : "high/") + slot.name +
                                         "/" + orv_kernel_tier_name(tier) + "/" + std::to_string(width);
                benchmark::RegisterBenchmark(name.c_str(), [&slot, tier, samples](benchmark::State &st) {
                    run10(st, slot, tier, samples, 1920);
                });
            }
    return 0;
}

[[maybe_unused]] const int registered = register_all();

} // namespace
