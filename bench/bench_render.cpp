// End to end through the render thread: a host that always has a 1920x1080
// frame ready, a software window in RGBA, and the module's thread presenting
// as fast as it can; beside it the bare blit of the same frame into a plain
// buffer. "BM_render/ours/..." pairs with "BM_render/bare_blit/...", so the
// ratio is the cost of the whole path over the conversion alone.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "device_render.h"
#include "orv_device_blit.h"
#include "orv_standin.h"

namespace {

struct Planes {
    int width, height;
    std::vector<uint8_t> y, u, v;

    Planes(int w, int h) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x) y[size_t(r) * w + x] = uint8_t(16 + (x + r) * 219 / (w + h));
        for (int r = 0; r < h / 2; ++r)
            for (int x = 0; x < w / 2; ++x) {
                u[size_t(r) * (w / 2) + x] = uint8_t(40 + x * 170 / (w / 2));
                v[size_t(r) * (w / 2) + x] = uint8_t(220 - r * 170 / (h / 2));
            }
    }
    YuvFrame frame() const { return {y.data(), u.data(), v.data(), width, width / 2, width / 2, width, height}; }
};

constexpr uint32_t kFailed = UINT32_MAX;
// Frames per timed batch: the host thread wakes once per batch, so its wake-up
// latency does not count as render time.
constexpr uint32_t kBatch = 8;

// The host: every get_frame hands out the same frame and asks for it back;
// every release wakes the benchmark loop.
struct ReadyHost {
    YuvFrame frame;
    std::atomic<uint32_t> released{0};

    static ResultCode on_event(void *, int, int, int) { return ORV_OK; }
    static ResultCode on_started(void *) { return ORV_OK; }
    static ResultCode on_error(void *ctx, ResultCode, int) {
        auto *h = static_cast<ReadyHost *>(ctx);
        h->released.store(kFailed);
        h->released.notify_all();
        return ORV_OK;
    }
    static ResultCode get_frame(void *ctx, YuvFrame *f, int *release) {
        *f = static_cast<ReadyHost *>(ctx)->frame;
        *release = 1;
        return ORV_OK;
    }
    static ResultCode release_frame(void *ctx, int, ResultCode) {
        auto *h = static_cast<ReadyHost *>(ctx);
        h->released.fetch_add(1);
        h->released.notify_all();
        return ORV_OK;
    }
};

void render_thread(benchmark::State &state, int w, int h, int32_t format) {
    Planes p(w, h);
    DeviceRenderLibInit(0);
    JavaVM *vm = orv_standin_vm_create();
    ANativeWindow *window = orv_standin_window_create(w, h, format);
    orv_standin_window_set_checks(window, 0);
    jobject surface = orv_standin_surface_create(window);
    ReadyHost host{p.frame()};
    HostCallbacks cb{&ReadyHost::on_event, &ReadyHost::on_started, &ReadyHost::on_error,
                     &ReadyHost::get_frame, &ReadyHost::release_frame};
    RenderModule *m = CreateDeviceRendModule(0);
    m->set_host(m, &host, &cb);
    m->set_surface(m, vm, surface);
    m->start(m);
    // Past the first frame (geometry and error carry set up) before timing.
    uint32_t seen = 0;
    while ((seen = host.released.load()) < 2) host.released.wait(seen);
    double frames = 0, seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const uint32_t from = host.released.load();
        uint32_t now = from;
        while (now != kFailed && now - from < kBatch) {
            host.released.wait(now);
            now = host.released.load();
        }
        if (now == kFailed) {
            state.SkipWithError("render thread failed");
            break;
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(elapsed / double(now - from));
        frames += double(now - from);
        seconds += elapsed;
    }
    state.counters["fps"] = seconds > 0 ? frames / seconds : 0;
    m->stop(m);
    m->destroy(m);
    orv_standin_surface_destroy(surface);
    ANativeWindow_release(window);
    orv_standin_vm_destroy(vm);
    DeviceRenderLibUninit();
}

void bare_blit(benchmark::State &state, int w, int h, int bpp) {
    Planes p(w, h);
    const int stride = w * bpp / 8;
    std::vector<uint8_t> dst(size_t(stride) * h);
    DeviceBlitOps *blit = orv_device_blit_create();
    YuvFrame f = p.frame();
    blit->update_buffer(blit, &f);
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        blit->blit(blit, &f, dst.data(), stride, bpp);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
    }
    blit->destroy(blit);
    state.counters["fps"] = seconds > 0 ? double(state.iterations()) / seconds : 0;
}

// Both timed by hand in wall time per frame: the render loop runs on its own
// thread, and the pair must carry the same name suffix to be compared.
BENCHMARK_CAPTURE(render_thread, rgba_1080p, 1920, 1080, WINDOW_FORMAT_RGBA_8888)
    ->Name("BM_render/ours/rgba_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bare_blit, rgba_1080p, 1920, 1080, 32)
    ->Name("BM_render/bare_blit/rgba_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(render_thread, rgb565_1080p, 1920, 1080, WINDOW_FORMAT_RGB_565)
    ->Name("BM_render/ours/rgb565_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bare_blit, rgb565_1080p, 1920, 1080, 16)
    ->Name("BM_render/bare_blit/rgb565_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
