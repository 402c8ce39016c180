// The colour settings of a module as a host uses them: bad values, NV12 and
// NV21 frames through the whole render path, and matrix changes while the
// render thread draws (every posted frame follows one setting, whole).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <cstring>
#include <thread>
#include <vector>

#include "clip.h"
#include "orv_device_blit.h"
#include "render_env.h"
#include "scripted_host.h"
#include "y4m.h"

namespace {

using orv_test::Answer;
using orv_test::Call;
using orv_test::RuntimeScope;
using orv_test::ScriptedHost;
using orv_test::StandinDisplay;

// The RGBA bytes the blitter draws for a frame with the given settings.
std::vector<uint8_t> expected_rgba(const YuvFrame &frame, int matrix, int range)
{
    DeviceBlitOps *blit = orv_device_blit_create();
    std::vector<uint8_t> out(size_t(frame.width) * 4 * frame.height);
    EXPECT_EQ(orv_device_blit_set_colour(blit, matrix, range), ORV_OK);
    EXPECT_EQ(blit->blit(blit, &frame, out.data(), frame.width * 4, 32), ORV_OK);
    blit->destroy(blit);
    return out;
}

bool buffer_equals(const OrvStandinBuffer *b, const std::vector<uint8_t> &want)
{
    const size_t row = size_t(b->width) * 4;
    for (int y = 0; y < b->height; ++y)
        if (std::memcmp(b->bits + size_t(y) * b->stride * 4, want.data() + y * row, row) != 0)
            return false;
    return true;
}

struct Module {
    RenderModule *m = CreateDeviceRendModule(0);
    ~Module()
    {
        if (m) {
            m->stop(m);
            m->destroy(m);
        }
    }
};

TEST(DeviceColour, RefusesUnknownValuesAndChangesNothing)
{
    RuntimeScope runtime;
    EXPECT_EQ(DeviceRendModuleSetColor(nullptr, DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL),
              ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleSetChromaStep(nullptr, 2), ORV_ERR_INVALID_PARAM);
    {
        Module mod;
        ASSERT_NE(mod.m, nullptr);
        for (auto [matrix, range] : {std::pair{3, 0}, {-1, 0}, {0, 2}, {2, -1}})
            EXPECT_EQ(DeviceRendModuleSetColor(mod.m, matrix, range), ORV_ERR_INVALID_PARAM)
                << matrix << range;
        for (int step : {0, 3, 4, -2})
            EXPECT_EQ(DeviceRendModuleSetChromaStep(mod.m, step), ORV_ERR_INVALID_PARAM);
        EXPECT_EQ(DeviceRendModuleSetColor(mod.m, DEVICE_MATRIX_BT2020, DEVICE_RANGE_FULL), ORV_OK);
        EXPECT_EQ(DeviceRendModuleSetChromaStep(mod.m, 2), ORV_OK);
        EXPECT_EQ(DeviceRendModuleSetChromaStep(mod.m, 1), ORV_OK);

        // The refused calls left the defaults: the built-in clip draws as BT.601.
        Module fresh;
        StandinDisplay d(96, 48, WINDOW_FORMAT_RGBA_8888);
        HostFrame f = HostFrame::make(96, 48);
        draw_clip_frame(3, &f);
        EXPECT_EQ(DeviceRendModuleSetColor(fresh.m, 5, 0), ORV_ERR_INVALID_PARAM);
        EXPECT_EQ(DeviceRendModuleSetChromaStep(fresh.m, 0), ORV_ERR_INVALID_PARAM);
        ScriptedHost host;
        host.add_frame(f);
        host.push({ORV_OK, 1, 0});
        ASSERT_EQ(fresh.m->set_host(fresh.m, host.context(), host.callbacks()), ORV_OK);
        ASSERT_EQ(fresh.m->set_surface(fresh.m, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(fresh.m->start(fresh.m), ORV_OK);
        ASSERT_TRUE(host.wait_count(Call::Release, 1)) << host.trace();
        fresh.m->stop(fresh.m); // before the host and the window go away
        OrvStandinBuffer b{};
        ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
        EXPECT_TRUE(buffer_equals(&b, expected_rgba(f.view(), 0, 0)));
    }
    EXPECT_TRUE(runtime.render_leaks().empty());
}

// NV12 and NV21 frames of the same samples draw the planar frame's bytes.
TEST(DeviceColour, SemiPlanarFramesThroughTheRenderPath)
{
    RuntimeScope runtime;
    HostFrame f = HostFrame::make(70, 30);
    draw_clip_frame(7, &f);
    const std::vector<uint8_t> want = expected_rgba(f.view(), DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
    for (bool nv12 : {true, false}) {
        const int cw = HostFrame::chroma_width(f.width), ch = HostFrame::chroma_height(f.height);
        std::vector<uint8_t> pairs(size_t(2 * cw) * ch);
        for (int r = 0; r < ch; ++r)
            for (int i = 0; i < cw; ++i) {
                pairs[size_t(r) * 2 * cw + 2 * i + (nv12 ? 0 : 1)] = f.u[size_t(r) * f.c_stride + i];
                pairs[size_t(r) * 2 * cw + 2 * i + (nv12 ? 1 : 0)] = f.v[size_t(r) * f.c_stride + i];
            }
        StandinDisplay d(f.width, f.height, WINDOW_FORMAT_RGBA_8888);
        struct Host {
            YuvFrame frame;
            std::atomic<int> released{0};
            static ResultCode event(void *, int, int, int) { return ORV_OK; }
            static ResultCode started(void *) { return ORV_OK; }
            static ResultCode error(void *, ResultCode, int) { return ORV_OK; }
            static ResultCode get(void *ctx, YuvFrame *out, int *release)
            {
                auto *h = static_cast<Host *>(ctx);
                if (h->released.load() > 0)
                    return ORV_WOUNLD_BLOCK;
                *out = h->frame, *release = 1;
                return ORV_OK;
            }
            static ResultCode release(void *ctx, int, ResultCode r)
            {
                static_cast<Host *>(ctx)->released.store(r == ORV_OK ? 1 : -1);
                return ORV_OK;
            }
        } host{f.view()};
        host.frame.u = pairs.data() + (nv12 ? 0 : 1);
        host.frame.v = pairs.data() + (nv12 ? 1 : 0);
        host.frame.u_stride = host.frame.v_stride = 2 * cw;
        HostCallbacks cb{&Host::event, &Host::started, &Host::error, &Host::get, &Host::release};
        Module mod;
        ASSERT_EQ(DeviceRendModuleSetColor(mod.m, DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED), ORV_OK);
        ASSERT_EQ(DeviceRendModuleSetChromaStep(mod.m, 2), ORV_OK);
        ASSERT_EQ(mod.m->set_host(mod.m, &host, &cb), ORV_OK);
        ASSERT_EQ(mod.m->set_surface(mod.m, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(mod.m->start(mod.m), ORV_OK);
        for (int i = 0; i < 5000 && host.released.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        mod.m->stop(mod.m);
        ASSERT_EQ(host.released.load(), 1) << (nv12 ? "NV12" : "NV21");
        OrvStandinBuffer b{};
        ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
        EXPECT_TRUE(buffer_equals(&b, want)) << (nv12 ? "NV12" : "NV21");
    }
    EXPECT_TRUE(runtime.render_leaks().empty());
}

// Sorts every posted buffer: all BT.601, all BT.709, or a mix (a failure).
struct Sorter {
    std::vector<uint8_t> bt601, bt709;
    std::atomic<int> as601{0}, as709{0}, mixed{0};

    static void hook(void *ctx, const OrvStandinBuffer *b)
    {
        auto *s = static_cast<Sorter *>(ctx);
        if (buffer_equals(b, s->bt601))
            s->as601++;
        else if (buffer_equals(b, s->bt709))
            s->as709++;
        else
            s->mixed++;
    }
};

TEST(DeviceColour, ChangesWhileRenderingTakeEffectBetweenFrames)
{
    RuntimeScope runtime;
    HostFrame f = HostFrame::make(160, 90);
    draw_clip_frame(11, &f);
    Sorter sorter;
    sorter.bt601 = expected_rgba(f.view(), DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED);
    sorter.bt709 = expected_rgba(f.view(), DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED);
    ASSERT_NE(sorter.bt601, sorter.bt709);
    StandinDisplay d(f.width, f.height, WINDOW_FORMAT_RGBA_8888);
    orv_standin_window_set_post_hook(d.window, &Sorter::hook, &sorter);
    ScriptedHost host;
    host.add_frame(f);
    host.set_tail({ORV_OK, 1, 0});
    Module mod;
    ASSERT_EQ(mod.m->set_host(mod.m, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(mod.m->set_surface(mod.m, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(mod.m->start(mod.m), ORV_OK);
    for (int i = 0; i < 40; ++i) {
        const int matrix = i % 2 ? DEVICE_MATRIX_BT601 : DEVICE_MATRIX_BT709;
        // A burst of changes mid-frame, ending on this round's matrix.
        for (int k = 0; k < 20; ++k)
            ASSERT_EQ(DeviceRendModuleSetColor(mod.m, (matrix + k + 1) % 2, DEVICE_RANGE_LIMITED), ORV_OK);
        // Two more releases: at least one frame began after the change.
        const size_t seen = host.count(Call::Release);
        ASSERT_TRUE(host.wait_count(Call::Release, seen + 2)) << host.trace();
    }
    mod.m->stop(mod.m);
    EXPECT_EQ(sorter.mixed.load(), 0);
    EXPECT_GE(sorter.as601.load(), 20);
    EXPECT_GE(sorter.as709.load(), 20);
    EXPECT_EQ(host.count(Call::Error), 0u);
}

// The player takes the range from the clip's XCOLORRANGE tag.
TEST(DeviceColour, Y4mColourRangeTag)
{
    const std::pair<const char *, int> cases[] = {{" XCOLORRANGE=FULL", 1},
                                                  {" XCOLORRANGE=LIMITED", 0},
                                                  {"", -1},
                                                  {" XCOLORRANGE=WEIRD XYSCSS=420JPEG", -1}};
    for (auto [tag, want] : cases) {
        const std::string path = ::testing::TempDir() + "range.y4m";
        std::ofstream(path, std::ios::binary) << "YUV4MPEG2 W4 H2 F25:1 C420jpeg" << tag << "\nFRAME\n"
                                              << std::string(12, 'x');
        Y4mReader r;
        std::string error;
        ASSERT_TRUE(r.open(path.c_str(), &error)) << error;
        EXPECT_EQ(r.color_range(), want) << tag;
    }
}

} // namespace
