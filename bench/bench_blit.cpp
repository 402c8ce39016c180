// Full-frame blits beside libyuv's converters and a plain copy of the
// destination's bytes: "<group>/ours/<size>" pairs with "<group>/<peer>/<size>".
// Beside them, every matrix and range against BT.601 limited, and NV12/NV21
// against planar chroma: the peer there is our own default conversion.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_frame.h"
#include "orv_device_blit.h"

#ifdef ORV_HAVE_LIBYUV
#include <libyuv/convert_argb.h>
#endif

namespace {

using Planes = BenchPlanes;

// The same samples with the chroma as one plane of pairs (NV12 or NV21).
struct SemiPlanes {
    std::vector<uint8_t> pairs;
    bool nv12;
    SemiPlanes(const Planes &p, bool cb_first) : pairs(p.u.size() * 2), nv12(cb_first)
    {
        for (size_t i = 0; i < p.u.size(); ++i) {
            pairs[2 * i + (nv12 ? 0 : 1)] = p.u[i];
            pairs[2 * i + (nv12 ? 1 : 0)] = p.v[i];
        }
    }
    YuvFrame frame(const Planes &p) const
    {
        YuvFrame f = p.frame();
        f.u = pairs.data() + (nv12 ? 0 : 1);
        f.v = pairs.data() + (nv12 ? 1 : 0);
        f.u_stride = f.v_stride = p.width;
        return f;
    }
};

enum class Layout { planar, nv12, nv21 };

// Destination memory as a window buffer comes: page-aligned (ours and the
// peers write into the same kind).
struct WindowBuffer {
    uint8_t *bytes;
    explicit WindowBuffer(size_t n)
        : bytes(static_cast<uint8_t *>(std::aligned_alloc(4096, (n + 4095) / 4096 * 4096)))
    {}
    ~WindowBuffer() { std::free(bytes); }
    WindowBuffer(const WindowBuffer &) = delete;
    WindowBuffer &operator=(const WindowBuffer &) = delete;
    uint8_t *data() { return bytes; }
};

void set_counters(benchmark::State &state, int w, int h)
{
    state.SetItemsProcessed(int64_t(state.iterations()) * w * h);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void ours(benchmark::State &state, int w, int h, int bpp, int matrix = DEVICE_MATRIX_BT601,
          int range = DEVICE_RANGE_LIMITED, Layout layout = Layout::planar)
{
    Planes p(w, h);
    SemiPlanes semi(p, layout == Layout::nv12);
    const int stride = w * bpp / 8;
    WindowBuffer dst(size_t(stride) * h);
    DeviceBlitOps *blit = orv_device_blit_create();
    orv_device_blit_set_colour(blit, matrix, range);
    orv_device_blit_set_chroma_step(blit, layout == Layout::planar ? 1 : 2);
    YuvFrame f = layout == Layout::planar ? p.frame() : semi.frame(p);
    blit->update_buffer(blit, &f);
    for (auto _ : state) {
        blit->blit(blit, &f, dst.data(), stride, bpp);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    blit->destroy(blit);
    set_counters(state, w, h);
}

void copy(benchmark::State &state, int w, int h, int bpp)
{
    std::vector<uint8_t> src(size_t(w) * h * bpp / 8, 1), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    set_counters(state, w, h);
}

// A 10-bit frame (I010, or P010 with high) beside the same picture at 8 bits
// ("eightbit": the peer is our own 8-bit path, same matrix and range).
void ours10(benchmark::State &state, int w, int h, int bpp, bool high)
{
    BenchPlanes10 p(w, h, high);
    const int stride = w * bpp / 8;
    WindowBuffer dst(size_t(stride) * h);
    DeviceBlitOps *blit = orv_device_blit_create();
    orv_device_blit_set_colour(blit, DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
    orv_device_blit_set_samples(blit, high ? DEVICE_SAMPLES_10_HIGH : DEVICE_SAMPLES_10_LOW);
    orv_device_blit_set_chroma_step(blit, high ? 2 : 1);
    const YuvFrame f = p.frame();
    blit->update_buffer(blit, &f);
    for (auto _ : state) {
        blit->blit(blit, &f, dst.data(), stride, bpp);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    blit->destroy(blit);
    set_counters(state, w, h);
}

#ifdef ORV_HAVE_LIBYUV
// libyuv's 10-bit converter into the byte order ours writes (R, G, B, A).
void libyuv_i010(benchmark::State &state, int w, int h)
{
    BenchPlanes10 p(w, h, false);
    WindowBuffer dst(size_t(w) * 4 * h);
    for (auto _ : state) {
        libyuv::I010ToABGR(p.y.data(), w, p.u.data(), w / 2, p.v.data(), w / 2, dst.data(), w * 4, w, h);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    set_counters(state, w, h);
}

enum class Peer { abgr, rgb565, rgb565_dither };

void libyuv_peer(benchmark::State &state, int w, int h, Peer peer)
{
    Planes p(w, h);
    const int stride = w * (peer == Peer::abgr ? 4 : 2);
    WindowBuffer dst(size_t(stride) * h);
    static const uint8_t kDither4x4[16] = {0, 4, 1, 5, 6, 2, 7, 3, 1, 5, 0, 4, 7, 3, 6, 2};
    const int hw = w / 2;
    for (auto _ : state) {
        switch (peer) {
        case Peer::abgr:
            libyuv::I420ToABGR(p.y.data(), w, p.u.data(), hw, p.v.data(), hw, dst.data(), stride, w, h);
            break;
        case Peer::rgb565:
            libyuv::I420ToRGB565(p.y.data(), w, p.u.data(), hw, p.v.data(), hw, dst.data(), stride, w, h);
            break;
        case Peer::rgb565_dither:
            libyuv::I420ToRGB565Dither(p.y.data(), w, p.u.data(), hw, p.v.data(), hw, dst.data(), stride,
                                       kDither4x4, w, h);
            break;
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    set_counters(state, w, h);
}
#endif

int register_all()
{
    const struct {
        int w, h;
    } sizes[] = {{1280, 720}, {1920, 1080}};
    for (auto s : sizes) {
        const std::string size = std::to_string(s.w) + "x" + std::to_string(s.h);
        const int w = s.w, h = s.h;
        benchmark::RegisterBenchmark(("BM_blit_rgba/ours/" + size).c_str(),
                                     [=](benchmark::State &st) { ours(st, w, h, 32); });
        benchmark::RegisterBenchmark(("BM_blit_rgba/memcpy/" + size).c_str(),
                                     [=](benchmark::State &st) { copy(st, w, h, 32); });
        benchmark::RegisterBenchmark(("BM_blit_rgb565/ours/" + size).c_str(),
                                     [=](benchmark::State &st) { ours(st, w, h, 16); });
        benchmark::RegisterBenchmark(("BM_blit_rgb565/memcpy/" + size).c_str(),
                                     [=](benchmark::State &st) { copy(st, w, h, 16); });
#ifdef ORV_HAVE_LIBYUV
        benchmark::RegisterBenchmark(("BM_blit_rgba/libyuv/" + size).c_str(),
                                     [=](benchmark::State &st) { libyuv_peer(st, w, h, Peer::abgr); });
        benchmark::RegisterBenchmark(("BM_blit_rgb565/libyuv/" + size).c_str(),
                                     [=](benchmark::State &st) { libyuv_peer(st, w, h, Peer::rgb565); });
        benchmark::RegisterBenchmark(
            ("BM_blit_rgb565/libyuvdither/" + size).c_str(),
            [=](benchmark::State &st) { libyuv_peer(st, w, h, Peer::rgb565_dither); });
#endif
    }
    // Every matrix and range as fast as BT.601 limited; NV12/NV21 beside planar.
    const struct {
        int matrix, range;
        const char *name;
    } colours[] = {{DEVICE_MATRIX_BT601, DEVICE_RANGE_FULL, "bt601full"},
                   {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, "bt709"},
                   {DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL, "bt709full"},
                   {DEVICE_MATRIX_BT2020, DEVICE_RANGE_LIMITED, "bt2020"},
                   {DEVICE_MATRIX_BT2020, DEVICE_RANGE_FULL, "bt2020full"}};
    const int w = 1920, h = 1080;
    for (int bpp : {32, 16}) {
        const std::string fmt = bpp == 32 ? "rgba" : "rgb565";
        for (auto c : colours) {
            const std::string rest = std::string(c.name) + "_1920x1080";
            benchmark::RegisterBenchmark(
                ("BM_colour_" + fmt + "/ours/" + rest).c_str(),
                [=](benchmark::State &st) { ours(st, w, h, bpp, c.matrix, c.range); });
            benchmark::RegisterBenchmark(("BM_colour_" + fmt + "/bt601/" + rest).c_str(),
                                         [=](benchmark::State &st) { ours(st, w, h, bpp); });
        }
        for (Layout layout : {Layout::nv12, Layout::nv21}) {
            const std::string name = layout == Layout::nv12 ? "nv12" : "nv21";
            benchmark::RegisterBenchmark(
                ("BM_" + name + "_" + fmt + "/ours/1920x1080").c_str(), [=](benchmark::State &st) {
                    ours(st, w, h, bpp, DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED, layout);
                });
            benchmark::RegisterBenchmark(("BM_" + name + "_" + fmt + "/planar/1920x1080").c_str(),
                                         [=](benchmark::State &st) { ours(st, w, h, bpp); });
        }
    }
    // 10-bit frames beside the 8-bit path (BT.709 limited both), and I010
    // into RGBA beside libyuv.
    for (int bpp : {32, 16}) {
        const std::string fmt = bpp == 32 ? "rgba" : "rgb565";
        for (bool high : {false, true}) {
            const std::string group = std::string("BM_") + (high ? "p010_" : "i010_") + fmt;
            benchmark::RegisterBenchmark((group + "/ours/1920x1080").c_str(),
                                         [=](benchmark::State &st) { ours10(st, w, h, bpp, high); });
            benchmark::RegisterBenchmark((group + "/eightbit/1920x1080").c_str(), [=](benchmark::State &st) {
                ours(st, w, h, bpp, DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
            });
        }
    }
#ifdef ORV_HAVE_LIBYUV
    benchmark::RegisterBenchmark("BM_i010_abgr/ours/1920x1080",
                                 [=](benchmark::State &st) { ours10(st, w, h, 32, false); });
    benchmark::RegisterBenchmark("BM_i010_abgr/libyuv/1920x1080",
                                 [=](benchmark::State &st) { libyuv_i010(st, w, h); });
#endif
    return 0;
}

[[maybe_unused]] const int registered = register_all();

} // namespace
