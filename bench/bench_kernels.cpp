// Each kernel of each tier on its own, off the kernel list the bit-exactness
// tests walk: BM_kernel/<slot>/<tier>/<width>, and the plane copies, one call per iteration (two
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

// A turn store on the block the blitter converts into (8 KiB: 16 rows of
// 128 pixels of 32 bits, 32 rows of 16 bits), to a window row per column.
void run_turn(benchmark::State &state, const kernel_list::TurnSlot &slot, int tier)
{
    const DeviceTurnKernels set = orv_device_turn_kernels(tier);
    const int cols = 128, rows = slot.transpose ? 64 / slot.size : 8192 / (cols * slot.size);
    std::vector<uint8_t> src(size_t(rows) * cols * slot.size, 0x3C);
    const ptrdiff_t dst_stride = ptrdiff_t(slot.transpose ? 1088 : cols) * slot.size;
    std::vector<uint8_t> dst(size_t(dst_stride) * (slot.transpose ? cols : rows));
    for (auto _ : state) {
        (set.*slot.kernel)(src.data(), ptrdiff_t(cols) * slot.size, dst.data(), dst_stride, rows, cols);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * rows * cols);
}

// The plane copies: one row of width bytes copied, or width pairs split,
// each padded by 16 bytes (a chroma row's padding).
void run_copy(benchmark::State &state, bool split, int tier, int width)
{
    const DeviceCopyKernels set = orv_device_copy_kernels(tier);
    std::mt19937 rng{uint32_t(width)};
    std::vector<uint8_t> src(size_t(width) * 2), a(size_t(width) + 16), b(a.size());
    for (auto &x : src)
        x = uint8_t(rng());
    for (auto _ : state) {
        if (split)
            set.split(a.data(), b.data(), src.data(), width, width + 16);
        else
            set.copy(a.data(), src.data(), width, width + 16);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * width);
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
    for (const kernel_list::TurnSlot &slot : kernel_list::kTurnSlots)
        for (int tier = 0; tier < ORV_KERNELS_TIERS; ++tier) {
            if (!orv_device_kernels_runnable(tier))
                continue;
            const std::string name =
                std::string("BM_turn/") + slot.name + "/" + orv_kernel_tier_name(tier) + "/block";
            benchmark::RegisterBenchmark(name.c_str(),
                                         [&slot, tier](benchmark::State &st) { run_turn(st, slot, tier); });
        }
    for (int tier = 0; tier < ORV_KERNELS_TIERS; ++tier) {
        if (!orv_device_kernels_runnable(tier))
            continue;
        for (const bool split : {false, true})
            for (int width : {640, 1920}) {
                const std::string name = std::string("BM_kernel/") + (split ? "split" : "copy") + "/" +
                                         orv_kernel_tier_name(tier) + "/" + std::to_string(width);
                benchmark::RegisterBenchmark(name.c_str(), [split, tier, width](benchmark::State &st) {
                    run_copy(st, split, tier, width);
                });
            }
    }
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
