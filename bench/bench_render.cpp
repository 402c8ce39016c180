// End to end through the render thread: a host that always has a 1920x1080
// frame ready, a software window, and the module's thread presenting as fast
// as it can; beside it the bare blit of the same frame into the same kind of
// memory (as many buffers as the window's queue, at the window's row stride),
// so that both write each frame into a buffer that is not the last one.
// "BM_render/ours/..." pairs with "BM_render/bare_blit/...", so the ratio is
// the cost of the thread, the host calls and the window calls over the
// conversion alone. The YV12 window path pairs with "BM_render/memcpy/...":
// one memcpy of the frame's 1.5 bytes per pixel, the least any path that
// hands the window the planes can cost; scripts/bench_ratios.py also sets it
// beside our RGBA path.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device_render.h"
#include "bench_frame.h"
#include "orv_device_blit.h"
#include "orv_standin.h"

namespace {

using Planes = BenchPlanes;

constexpr uint32_t kFailed = UINT32_MAX;
// Frames per timed batch: the benchmark loop wakes once per batch.
constexpr uint32_t kBatch = 8;
// Per-frame stamps kept by the render thread, enough for the loop to read a
// batch's ends even when it wakes late on a busy machine.
constexpr uint32_t kStamps = 4096;

// CPU time of the calling thread: the work done, whatever share of a core the
// thread got. Wall time on a machine shared with other jobs mostly measures
// waits for a core, on both sides of the pair.
double thread_cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double wall_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The host: every get_frame hands out the same frame and asks for it back.
// Each release stamps the render thread's CPU time (so the stamps cover the
// whole loop: host calls, window calls, locks and conversion) and the wall
// time; the release that completes a batch wakes the benchmark loop (a wake-up
// per frame would take the shared cores from the render thread). get_frame
// holds the thread once `allowed` frames were released, so the loop can run
// the bare blit in between, under the same load, and stamps the CPU time once
// it hands a frame out: a batch counts from the handing of its first frame,
// so the hold (a spin before the thread sleeps) is not charged to the path.
struct ReadyHost {
    YuvFrame frame;
    std::atomic<uint32_t> released{0};
    std::atomic<uint32_t> wake_at{2};
    std::atomic<uint32_t> allowed{UINT32_MAX};
    std::atomic<uint32_t> events{0};
    std::atomic<double> cpu[kStamps];
    // CPU time when frame n was handed out, after any wait for `allowed`.
    std::atomic<double> handed_cpu[kStamps];
    std::atomic<double> wall[kStamps];

    explicit ReadyHost(YuvFrame f) : frame(f) {}

    static ResultCode on_event(void *ctx, int, int, int)
    {
        static_cast<ReadyHost *>(ctx)->events.fetch_add(1);
        return ORV_OK;
    }
    static ResultCode on_started(void *) { return ORV_OK; }
    static ResultCode on_error(void *ctx, ResultCode, int)
    {
        auto *h = static_cast<ReadyHost *>(ctx);
        h->released.store(kFailed);
        h->released.notify_all();
        return ORV_OK;
    }
    static ResultCode get_frame(void *ctx, YuvFrame *f, int *release)
    {
        auto *h = static_cast<ReadyHost *>(ctx);
        for (uint32_t a = h->allowed.load(); h->released.load() >= a; a = h->allowed.load())
            h->allowed.wait(a);
        // The wait between batches is the harness's, not the render path's:
        // a batch is timed from here for its first frame.
        h->handed_cpu[(h->released.load() + 1) % kStamps].store(thread_cpu_seconds());
        *f = h->frame;
        *release = 1;
        return ORV_OK;
    }
    void allow(uint32_t n)
    {
        allowed.store(n);
        allowed.notify_all();
    }
    static ResultCode release_frame(void *ctx, int, ResultCode)
    {
        auto *h = static_cast<ReadyHost *>(ctx);
        const uint32_t n = h->released.load() + 1;
        h->cpu[n % kStamps].store(thread_cpu_seconds());
        h->wall[n % kStamps].store(wall_seconds());
        h->released.store(n);
        if (n == h->wake_at.load())
            h->released.notify_all();
        return ORV_OK;
    }
    // Waits until released reaches target (or the thread failed).
    uint32_t wait_for(uint32_t target)
    {
        wake_at.store(target);
        uint32_t now = released.load();
        while (now != kFailed && now < target) {
            released.wait(now);
            now = released.load();
        }
        return now;
    }
};

// Row stride in bytes of the buffers a software window of this size and
// format hands out.
int window_stride_bytes(int w, int h, int32_t format, int bpp)
{
    ANativeWindow *window = orv_standin_window_create(w, h, format);
    ANativeWindow_Buffer b{};
    int stride = w * bpp / 8;
    if (ANativeWindow_lock(window, &b, nullptr) == 0) {
        stride = b.stride * bpp / 8;
        ANativeWindow_unlockAndPost(window);
    }
    ANativeWindow_release(window);
    return stride;
}

// The work a render path is paired with, alone: one frame's, in CPU time.
struct Bare {
    virtual ~Bare() = default;
    virtual double run() = 0;
};

// The conversion alone into buffers like the window's (as many as its queue,
// at its row stride), so that each frame goes to a buffer other than the last.
struct BareBlit : Bare {
    BareBlit(const Planes &p, int32_t format, int bpp) : frame(p.frame()), bpp(bpp)
    {
        stride = window_stride_bytes(p.width, p.height, format, bpp);
        dst.assign(ORV_STANDIN_QUEUE, std::vector<uint8_t>(size_t(stride) * p.height));
        blit = orv_device_blit_create();
        blit->update_buffer(blit, &frame);
    }
    ~BareBlit() override { blit->destroy(blit); }
    // One frame; its CPU time.
    double run() override
    {
        uint8_t *to = dst[next].data();
        next = (next + 1) % dst.size();
        const double c0 = thread_cpu_seconds();
        blit->blit(blit, &frame, to, stride, bpp);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
        return thread_cpu_seconds() - c0;
    }
    YuvFrame frame;
    int bpp, stride = 0;
    std::vector<std::vector<uint8_t>> dst;
    DeviceBlitOps *blit = nullptr;
    size_t next = 0;
};

// The frame's three planes as one memcpy of 1.5 bytes per pixel, into as
// many buffers as the window's queue.
struct BareCopy : Bare {
    explicit BareCopy(const Planes &p) : planes(p)
    {
        src.reserve(p.y.size() + p.u.size() + p.v.size());
        for (const auto *plane : {&p.y, &p.v, &p.u})
            src.insert(src.end(), plane->begin(), plane->end());
        dst.assign(ORV_STANDIN_QUEUE, std::vector<uint8_t>(src.size()));
    }
    double run() override
    {
        uint8_t *to = dst[next].data();
        next = (next + 1) % dst.size();
        const double c0 = thread_cpu_seconds();
        std::memcpy(to, src.data(), src.size());
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
        return thread_cpu_seconds() - c0;
    }
    const Planes &planes;
    std::vector<uint8_t> src;
    std::vector<std::vector<uint8_t>> dst;
    size_t next = 0;
};

// Timed in the render thread's CPU time per frame; "wall_ms" is the wall time
// per frame beside it. Between batches the thread is held and the loop runs
// a batch of the bare blit ("bare_ms"): "overhead" is the median ratio of
// render batch to bare batch measured in turn, under the same load, the
// figure to read on a shared machine. A frame is always ready and the surface stays
// attached, so the loop never sleeps (a size event would mean it did: then
// the run is refused).
// stride: the window's row stride in pixels; 0 keeps the stand-in's, which
// pads every row past the width to catch overruns.
void render_thread(benchmark::State &state, int w, int h, int32_t format, int32_t window_format,
                   int32_t stride = 0)
{
    Planes p(w, h);
    DeviceRenderLibInit(0);
    JavaVM *vm = orv_standin_vm_create();
    ANativeWindow *window = orv_standin_window_create(w, h, format);
    orv_standin_window_set_checks(window, 0);
    if (stride > 0)
        orv_standin_window_set_stride(window, stride);
    jobject surface = orv_standin_surface_create(window);
    auto host = std::make_unique<ReadyHost>(p.frame());
    HostCallbacks cb{&ReadyHost::on_event, &ReadyHost::on_started, &ReadyHost::on_error,
                     &ReadyHost::get_frame, &ReadyHost::release_frame};
    RenderModule *m = CreateDeviceRendModule(0);
    DeviceRendModuleSetWindowFormat(m, window_format);
    m->set_host(m, host.get(), &cb);
    m->set_surface(m, vm, surface);
    m->start(m);
    // Its blocks are tracked: it goes before the runtime shuts down.
    std::unique_ptr<Bare> bare;
    if (window_format == DEVICE_WINDOW_YV12)
        bare = std::make_unique<BareCopy>(p);
    else
        bare = std::make_unique<BareBlit>(p, format, format == WINDOW_FORMAT_RGB_565 ? 16 : 32);
    // Past the first frames (geometry and error carry set up) before timing.
    host->allow(2);
    host->wait_for(2);
    const uint32_t events = host->events.load();
    double frames = 0, cpu = 0, wall = 0, bare_cpu = 0;
    std::vector<double> ratios;
    bool bare_first = true;
    for (auto _ : state) {
        // The two sides take turns going first, so neither always meets the
        // caches as the other left them.
        double bare_batch = 0;
        if (bare_first)
            for (uint32_t i = 0; i < kBatch; ++i)
                bare_batch += bare->run();
        const uint32_t from = host->released.load();
        const double opened = wall_seconds();
        host->allow(from + kBatch);
        const uint32_t now = host->wait_for(from + kBatch);
        if (now == kFailed) {
            state.SkipWithError("render thread failed");
            break;
        }
        const uint32_t to = from + kBatch;
        const double c = host->cpu[to % kStamps].load() - host->handed_cpu[(from + 1) % kStamps].load();
        const double t = host->wall[to % kStamps].load() - opened;
        if (now - from >= kStamps || c <= 0) {
            state.SkipWithError("stamps overrun: the loop woke too late");
            break;
        }
        if (!bare_first)
            for (uint32_t i = 0; i < kBatch; ++i)
                bare_batch += bare->run();
        bare_first = !bare_first;
        state.SetIterationTime(c / kBatch);
        frames += kBatch;
        cpu += c;
        wall += t;
        bare_cpu += bare_batch;
        ratios.push_back(c / bare_batch);
    }
    if (host->events.load() != events)
        state.SkipWithError("the render thread waited on a size event");
    if (window_format != DEVICE_WINDOW_AUTO && DeviceRendModuleGetWindowFormat(m) != window_format)
        state.SkipWithError("the window did not take the format asked for");
    state.counters["fps_cpu"] = cpu > 0 ? frames / cpu : 0;
    state.counters["wall_ms"] = frames > 0 ? wall / frames * 1e3 : 0;
    state.counters["bare_ms"] = frames > 0 ? bare_cpu / frames * 1e3 : 0;
    // The median batch ratio: a batch that met another job's burst in the
    // shared cache moves the mean, not the median.
    if (!ratios.empty()) {
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        state.counters["overhead"] = ratios[ratios.size() / 2];
    }
    host->allow(UINT32_MAX);
    bare.reset();
    m->stop(m);
    m->destroy(m);
    orv_standin_surface_destroy(surface);
    ANativeWindow_release(window);
    orv_standin_vm_destroy(vm);
    DeviceRenderLibUninit();
}

// The conversion alone, timed in this thread's CPU time like the render thread.
void bare_blit(benchmark::State &state, int w, int h, int32_t format, int bpp)
{
    Planes p(w, h);
    BareBlit bare(p, format, bpp);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double t0 = wall_seconds();
        const double c = bare.run();
        wall += wall_seconds() - t0;
        state.SetIterationTime(c);
        cpu += c;
    }
    const double n = double(state.iterations());
    state.counters["fps_cpu"] = cpu > 0 ? n / cpu : 0;
    state.counters["wall_ms"] = n > 0 ? wall / n * 1e3 : 0;
}

// One memcpy of the frame's 1.5 bytes per pixel, timed like the others.
void bare_copy(benchmark::State &state, int w, int h)
{
    Planes p(w, h);
    BareCopy bare(p);
    double cpu = 0;
    for (auto _ : state) {
        const double c = bare.run();
        state.SetIterationTime(c);
        cpu += c;
    }
    const double n = double(state.iterations());
    state.counters["fps_cpu"] = cpu > 0 ? n / cpu : 0;
}

// Both timed by hand in CPU time per frame: the render loop runs on its own
// thread, and the pair must carry the same name suffix to be compared.
BENCHMARK_CAPTURE(render_thread, rgba_1080p, 1920, 1080, WINDOW_FORMAT_RGBA_8888, DEVICE_WINDOW_AUTO)
    ->Name("BM_render/ours/rgba_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bare_blit, rgba_1080p, 1920, 1080, WINDOW_FORMAT_RGBA_8888, 32)
    ->Name("BM_render/bare_blit/rgba_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(render_thread, rgb565_1080p, 1920, 1080, WINDOW_FORMAT_RGB_565, DEVICE_WINDOW_AUTO)
    ->Name("BM_render/ours/rgb565_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bare_blit, rgb565_1080p, 1920, 1080, WINDOW_FORMAT_RGB_565, 16)
    ->Name("BM_render/bare_blit/rgb565_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The planes handed to a YV12 window; the pair's "overhead" is this path
// over a memcpy of the same bytes, batch by batch under the same load. The
// window's stride is the width, as devices align 1080p YV12 rows (to 16,
// 32 or 64 pixels); "yv12_padded" keeps the stand-in's padded rows, which
// need a copy per row and chroma padding.
BENCHMARK_CAPTURE(render_thread, yv12_1080p, 1920, 1080, WINDOW_FORMAT_RGBA_8888, DEVICE_WINDOW_YV12, 1920)
    ->Name("BM_render/ours/yv12_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(render_thread, yv12_padded_1080p, 1920, 1080, WINDOW_FORMAT_RGBA_8888, DEVICE_WINDOW_YV12)
    ->Name("BM_render/ours/yv12_padded_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bare_copy, yv12_padded_1080p, 1920, 1080)
    ->Name("BM_render/memcpy/yv12_padded_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bare_copy, yv12_1080p, 1920, 1080)
    ->Name("BM_render/memcpy/yv12_1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
