// A transformed frame beside the plain one, same blitter code, same run:
// "BM_transform/ours/<format>_<size>_<transform>" pairs with
// "BM_transform/plain/<format>_<size>_<transform>", so the ratio is what a
// turn or a flip costs over the plain conversion (1080p, x86 tiers here).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_frame.h"
#include "orv_device_blit.h"

namespace {

void blit_frames(benchmark::State &state, int bpp, int transform)
{
    const BenchPlanes planes(1920, 1080);
    const YuvFrame frame = planes.frame();
    const bool quarter = transform & DEVICE_TRANSFORM_ROTATE_90;
    const int out_w = quarter ? frame.height : frame.width, out_h = quarter ? frame.width : frame.height;
    // Window rows padded as the stand-in pads them; three buffers, as a queue.
    const int stride = (out_w + 32 + 31) / 32 * 32 * bpp / 8;
    std::vector<std::vector<uint8_t>> dst(3, std::vector<uint8_t>(size_t(stride) * out_h));
    DeviceBlitOps *blit = orv_device_blit_create();
    blit->update_buffer(blit, &frame);
    size_t next = 0;
    for (auto _ : state) {
        uint8_t *to = dst[next].data();
        next = (next + 1) % dst.size();
        orv_device_blit_draw(blit, &frame, to, stride, bpp, transform);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
    blit->destroy(blit);
    state.SetItemsProcessed(int64_t(state.iterations()) * frame.width * frame.height);
}

int register_all()
{
    struct Case {
        const char *name;
        int transform;
    };
    for (int bpp : {32, 16})
        for (Case c :
             {Case{"mirror_h", DEVICE_TRANSFORM_MIRROR_H}, Case{"mirror_v", DEVICE_TRANSFORM_MIRROR_V},
              Case{"rotate_90", DEVICE_TRANSFORM_ROTATE_90},
              Case{"rotate_270", DEVICE_TRANSFORM_ROTATE_270}}) {
            const std::string args = std::string(bpp == 32 ? "rgba" : "rgb565") + "_1920x1080_" + c.name;
            benchmark::RegisterBenchmark(("BM_transform/ours/" + args).c_str(), [bpp,
                                                                                 c](benchmark::State &st) {
                blit_frames(st, bpp, c.transform);
            })->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("BM_transform/plain/" + args).c_str(), [bpp](benchmark::State &st) {
                blit_frames(st, bpp, DEVICE_TRANSFORM_NONE);
            })->Unit(benchmark::kMillisecond);
        }
    return 0;
}

[[maybe_unused]] const int registered = register_all();

} // namespace
