// Whole frames through the render path for instruction counting under qemu:
// a module, a stand-in window, a host that hands the same random frame N
// times, then stop. Run it for two frame counts under
// `qemu-arm -singlestep -d exec,nochain` and divide the difference in
// executed instructions by the extra pixels (scripts/bench does).
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "device_render.h"
#include "host_frame.h"
#include "orv_standin.h"

namespace {

struct Host {
    YuvFrame frame{};
    int limit = 0, handed = 0, released = 0;
    bool failed = false, stopping = false;
    std::mutex lock;
    std::condition_variable done;

    static ResultCode on_event(void *, int, int, int) { return ORV_OK; }
    static ResultCode on_started(void *) { return ORV_OK; }
    static ResultCode on_error(void *ctx, ResultCode, int)
    {
        auto *h = static_cast<Host *>(ctx);
        std::lock_guard<std::mutex> g(h->lock);
        h->failed = true;
        h->done.notify_all();
        return ORV_OK;
    }
    static ResultCode get_frame(void *ctx, YuvFrame *f, int *release)
    {
        auto *h = static_cast<Host *>(ctx);
        if (h->handed >= h->limit) {
            // Held here until the stop: a render thread that kept asking
            // would add idle passes, as many as the machine's load allows,
            // to the count.
            std::unique_lock<std::mutex> g(h->lock);
            h->done.wait(g, [h] { return h->stopping || h->failed || h->released < h->limit; });
            return ORV_WOUNLD_BLOCK;
        }
        ++h->handed;
        *f = h->frame;
        *release = 1;
        return ORV_OK;
    }
    static ResultCode release_frame(void *ctx, int, ResultCode result)
    {
        auto *h = static_cast<Host *>(ctx);
        std::lock_guard<std::mutex> g(h->lock);
        if (result != ORV_OK)
            h->failed = true;
        if (++h->released >= h->limit)
            h->done.notify_all();
        return ORV_OK;
    }
};

int usage()
{
    std::fprintf(stderr, "usage: orv_frame_insns rgba|rgb565|yv12 FRAMES [WxH] [bt601|bt709] "
                         "[planar|nv12|nv21|i010|p010] [TRANSFORM 0-7]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string format = argv[1];
    const int frames = std::atoi(argv[2]);
    int width = 640, height = 360;
    if (argc > 3 && std::sscanf(argv[3], "%dx%d", &width, &height) != 2)
        return usage();
    const int matrix =
        argc > 4 && std::strcmp(argv[4], "bt709") == 0 ? DEVICE_MATRIX_BT709 : DEVICE_MATRIX_BT601;
    const std::string layout = argc > 5 ? argv[5] : "planar";
    const int transform = argc > 6 ? std::atoi(argv[6]) : DEVICE_TRANSFORM_NONE;
    if ((format != "rgba" && format != "rgb565" && format != "yv12") || frames < 1 || width < 1 || height < 1)
        return usage();

    HostFrame planes = HostFrame::make(width, height);
    // A cheap generator: start-up stays small beside the frames counted.
    uint32_t seed = 640360;
    for (auto *p : {&planes.y, &planes.u, &planes.v})
        for (auto &b : *p)
            b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    std::vector<uint8_t> pairs(planes.u.size() * 2);
    Host host;
    host.frame = planes.view();
    host.limit = frames;
    // 10-bit: the same bytes times 4 plus their low bits, as I010 planes or
    // P010 (luma plane and a plane of Cb, Cr pairs, values in the high bits).
    const bool ten = layout == "i010" || layout == "p010", high = layout == "p010";
    std::vector<uint8_t> y10, u10, v10;
    if (ten) {
        auto put = [high](std::vector<uint8_t> &out, size_t at, uint8_t b) {
            const uint16_t w = uint16_t((b << 2 | b >> 6) << (high ? 6 : 0));
            out[2 * at] = uint8_t(w), out[2 * at + 1] = uint8_t(w >> 8);
        };
        y10.resize(planes.y.size() * 2);
        for (size_t i = 0; i < planes.y.size(); ++i)
            put(y10, i, planes.y[i]);
        u10.resize(planes.u.size() * (high ? 4 : 2));
        v10.resize(high ? 0 : planes.v.size() * 2);
        for (size_t i = 0; i < planes.u.size(); ++i) {
            put(u10, high ? 2 * i : i, planes.u[i]);
            put(high ? u10 : v10, high ? 2 * i + 1 : i, planes.v[i]);
        }
        host.frame.y = y10.data(), host.frame.y_stride = 2 * planes.y_stride;
        host.frame.u = u10.data(), host.frame.v = high ? u10.data() + 2 : v10.data();
        host.frame.u_stride = host.frame.v_stride = (high ? 4 : 2) * planes.c_stride;
    } else if (layout != "planar") {
        const bool nv12 = layout == "nv12";
        for (size_t i = 0; i < planes.u.size(); ++i) {
            pairs[2 * i + (nv12 ? 0 : 1)] = planes.u[i];
            pairs[2 * i + (nv12 ? 1 : 0)] = planes.v[i];
        }
        host.frame.u = pairs.data() + (nv12 ? 0 : 1);
        host.frame.v = pairs.data() + (nv12 ? 1 : 0);
        host.frame.u_stride = host.frame.v_stride = 2 * planes.c_stride;
    }

    DeviceRenderLibInit(0);
    JavaVM *vm = orv_standin_vm_create();
    ANativeWindow *window = orv_standin_window_create(
        width, height, format == "rgb565" ? WINDOW_FORMAT_RGB_565 : WINDOW_FORMAT_RGBA_8888);
    orv_standin_window_set_checks(window, 0);
    jobject surface = orv_standin_surface_create(window);
    HostCallbacks cb{&Host::on_event, &Host::on_started, &Host::on_error, &Host::get_frame,
                     &Host::release_frame};
    RenderModule *m = CreateDeviceRendModule(0);
    int status = 0;
    if (m == nullptr || DeviceRendModuleSetColor(m, matrix, DEVICE_RANGE_LIMITED) != ORV_OK ||
        DeviceRendModuleSetChromaStep(m, layout == "planar" || layout == "i010" ? 1 : 2) != ORV_OK ||
        DeviceRendModuleSetSampleFormat(m, !ten   ? DEVICE_SAMPLES_8
                                           : high ? DEVICE_SAMPLES_10_HIGH
                                                  : DEVICE_SAMPLES_10_LOW) != ORV_OK ||
        DeviceRendModuleSetTransform(m, transform) != ORV_OK ||
        // yv12: the window is asked for YV12 buffers and gets the planes.
        DeviceRendModuleSetWindowFormat(m, format == "yv12" ? DEVICE_WINDOW_YV12 : DEVICE_WINDOW_AUTO) !=
            ORV_OK ||
        m->set_host(m, &host, &cb) != ORV_OK || m->set_surface(m, vm, surface) != ORV_OK ||
        m->start(m) != ORV_OK) {
        status = 1;
    } else {
        std::unique_lock<std::mutex> g(host.lock);
        host.done.wait(g, [&] { return host.failed || host.released >= host.limit; });
        if (host.failed)
            status = 1;
    }
    // A fallback would count the RGB path under the YV12 name.
    if (status == 0 && format == "yv12" && DeviceRendModuleGetWindowFormat(m) != DEVICE_WINDOW_YV12)
        status = 1;
    {
        std::lock_guard<std::mutex> g(host.lock);
        host.stopping = true;
        host.done.notify_all();
    }
    if (m != nullptr) {
        m->stop(m);
        m->destroy(m);
    }
    orv_standin_surface_destroy(surface);
    ANativeWindow_release(window);
    orv_standin_vm_destroy(vm);
    DeviceRenderLibUninit();
    if (status != 0)
        std::fprintf(stderr, "orv_frame_insns: rendering failed\n");
    return status;
}
