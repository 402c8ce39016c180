// The transform of the picture through the render path: the module call and
// its bad values, the window geometry following a quarter turn (set before
// the buffer is locked, so no buffer of the old shape is posted), the posted
// bytes of RGBA and RGB565 windows against the plain output turned, a
// geometry refusal, and changes while the render thread draws, which switch
// between frames, never within one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "host_frame.h"
#include "orv_device_blit.h"
#include "orv_device_render.h"
#include "render_env.h"
#include "scripted_host.h"

namespace {

using orv_test::Answer;
using orv_test::Call;
using orv_test::RuntimeScope;
using orv_test::ScriptedHost;
using orv_test::StandinDisplay;

HostFrame random_frame(int w, int h, uint32_t seed)
{
    HostFrame f = HostFrame::make(w, h, 3);
    std::mt19937 rng(seed);
    for (auto *p : {&f.y, &f.u, &f.v})
        for (auto &b : *p)
            b = uint8_t(rng());
    return f;
}

struct Render {
    DeviceRender *render = orv_device_render_create(0);
    ~Render() { render->destroy(render); }
    AndroidOverlayRecord *overlay() const
    {
        auto *r = static_cast<DeviceRenderRecord *>(orv_record_of(render));
        return static_cast<AndroidOverlayRecord *>(orv_record_of(r->overlay));
    }
    DeviceBlitOps *blitter() const { return overlay()->blitter; }
    ResultCode present(const HostFrame &f)
    {
        const YuvFrame v = f.view();
        return render->present(render, &v);
    }
};

// A posted buffer's pixels, rows packed.
std::vector<uint8_t> pixels(const OrvStandinBuffer &b, int bytes)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < b.height; ++y)
        out.insert(out.end(), b.bits + size_t(y) * b.stride * bytes,
                   b.bits + size_t(y) * b.stride * bytes + size_t(b.width) * bytes);
    return out;
}

OrvStandinBuffer last_posted(const StandinDisplay &d)
{
    OrvStandinBuffer b{};
    EXPECT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    return b;
}

// Packed w x h pixels turned: flips first, then clockwise, out(X, Y) = in(Y, H - 1 - X).
std::vector<uint8_t> turn(const std::vector<uint8_t> &in, int w, int h, int n, int transform)
{
    const bool quarter = transform & DEVICE_TRANSFORM_ROTATE_90;
    const int ow = quarter ? h : w, oh = quarter ? w : h;
    std::vector<uint8_t> out(in.size());
    for (int Y = 0; Y < oh; ++Y)
        for (int X = 0; X < ow; ++X) {
            int x = quarter ? Y : X, r = quarter ? h - 1 - X : Y;
            // (x, r) is a pixel of the flipped picture; undo the flips.
            if (transform & DEVICE_TRANSFORM_MIRROR_H)
                x = w - 1 - x;
            if (transform & DEVICE_TRANSFORM_MIRROR_V)
                r = h - 1 - r;
            std::memcpy(&out[(size_t(Y) * ow + X) * n], &in[(size_t(r) * w + x) * n], n);
        }
    return out;
}

class DeviceTransform : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(runtime.render_leaks().empty()); }
    RuntimeScope runtime;
};

TEST_F(DeviceTransform, ModuleCallTakesTheSevenTransformsOnly)
{
    EXPECT_EQ(DeviceRendModuleSetTransform(nullptr, DEVICE_TRANSFORM_ROTATE_90), ORV_ERR_INVALID_PARAM);
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_NE(m, nullptr);
    AndroidOverlayRecord *overlay = orv_device_module_overlay(m);
    ASSERT_NE(overlay, nullptr);
    for (int t = 0; t < 8; ++t) {
        ASSERT_EQ(DeviceRendModuleSetTransform(m, t), ORV_OK);
        EXPECT_EQ(orv_device_blit_settings(overlay->blitter).transform, t);
    }
    for (int bad : {-1, 8, 16, 0x104, INT32_MAX}) {
        EXPECT_EQ(DeviceRendModuleSetTransform(m, bad), ORV_ERR_INVALID_PARAM) << bad;
        EXPECT_EQ(orv_device_blit_settings(overlay->blitter).transform, 7) << bad;
    }
    m->destroy(m);
}

// Each window format, each transform, a run of frames of odd size: the posted
// buffers are the plain module's, turned, and carry on frame after frame.
TEST_F(DeviceTransform, PostedBytesAreThePlainOnesTurned)
{
    for (int32_t format : {WINDOW_FORMAT_RGBA_8888, WINDOW_FORMAT_RGB_565}) {
        const int bytes = format == WINDOW_FORMAT_RGB_565 ? 2 : 4;
        for (int t = 0; t < 8; ++t) {
            const int w = 53, h = 37;
            StandinDisplay plain_d(w, h, format), turned_d(w, h, format);
            Render plain, turned;
            ASSERT_EQ(orv_device_blit_set_transform(turned.blitter(), t), ORV_OK);
            ASSERT_EQ(plain.render->set_surface(plain.render, plain_d.vm, plain_d.surface), ORV_OK);
            ASSERT_EQ(turned.render->set_surface(turned.render, turned_d.vm, turned_d.surface), ORV_OK);
            for (int frame = 0; frame < 3; ++frame) {
                const HostFrame f = random_frame(w, h, uint32_t(frame * 8 + t));
                ASSERT_EQ(plain.present(f), ORV_OK);
                ASSERT_EQ(turned.present(f), ORV_OK) << "format " << format << " transform " << t;
                const OrvStandinBuffer pb = last_posted(plain_d), tb = last_posted(turned_d);
                const bool quarter = t & DEVICE_TRANSFORM_ROTATE_90;
                ASSERT_EQ(tb.width, quarter ? h : w);
                ASSERT_EQ(tb.height, quarter ? w : h);
                EXPECT_TRUE(turn(pixels(pb, bytes), w, h, bytes, t) == pixels(tb, bytes))
                    << "format " << format << " transform " << t << " frame " << frame;
            }
            // Every buffer was drawn: no undrawn buffer of the wrong shape.
            EXPECT_EQ(turned_d.stats().posted, 3u);
            EXPECT_EQ(turned_d.stats().overruns, 0u);
        }
    }
}

// A turn that changes the shape sets the geometry before locking; the host
// hears nothing and gets every frame drawn. A refused geometry fails that
// frame (nothing posted) and the next one recovers.
TEST_F(DeviceTransform, GeometryFollowsAQuarterTurn)
{
    StandinDisplay d(64, 36, WINDOW_FORMAT_RGBA_8888);
    Render r;
    const HostFrame f = random_frame(64, 36, 1);
    ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
    struct Step {
        int transform, width, height;
    };
    for (Step s : {Step{DEVICE_TRANSFORM_ROTATE_90, 36, 64}, Step{DEVICE_TRANSFORM_NONE, 64, 36},
                   Step{DEVICE_TRANSFORM_ROTATE_270, 36, 64}, Step{5, 36, 64},
                   Step{DEVICE_TRANSFORM_ROTATE_180, 64, 36}, Step{DEVICE_TRANSFORM_MIRROR_H, 64, 36}}) {
        ASSERT_EQ(orv_device_blit_set_transform(r.blitter(), s.transform), ORV_OK);
        ASSERT_EQ(r.present(f), ORV_OK) << s.transform;
        const OrvStandinBuffer b = last_posted(d);
        EXPECT_EQ(b.width, s.width) << s.transform;
        EXPECT_EQ(b.height, s.height) << s.transform;
        EXPECT_EQ(d.stats().geometry_width, s.width);
        EXPECT_EQ(d.stats().geometry_height, s.height);
    }
    const uint32_t posted = d.stats().posted;
    EXPECT_EQ(posted, 6u);
    orv_standin_window_fail_geometry(d.window, 1, -22);
    ASSERT_EQ(orv_device_blit_set_transform(r.blitter(), DEVICE_TRANSFORM_ROTATE_90), ORV_OK);
    EXPECT_EQ(r.present(f), ORV_FAIL);
    EXPECT_EQ(d.stats().posted, posted);
    EXPECT_EQ(d.stats().locked, 0);
    ASSERT_EQ(r.present(f), ORV_OK);
    EXPECT_EQ(last_posted(d).width, 36);
    EXPECT_EQ(d.stats().misuse, 0u);
}

// Sorts posted buffers by which picture they hold: the plain one, the one
// turned a quarter, the one turned half; anything else is a mixed frame.
struct Sorter {
    std::vector<uint8_t> plain, quarter, half;
    std::atomic<int> seen_plain{0}, seen_quarter{0}, seen_half{0}, mixed{0};

    static void hook(void *ctx, const OrvStandinBuffer *b)
    {
        auto *s = static_cast<Sorter *>(ctx);
        const std::vector<uint8_t> got = pixels(*b, 4);
        if (got == s->plain)
            s->seen_plain++;
        else if (got == s->quarter)
            s->seen_quarter++;
        else if (got == s->half)
            s->seen_half++;
        else
            s->mixed++;
    }
};

TEST_F(DeviceTransform, ChangesWhileRenderingSwitchBetweenFrames)
{
    const int w = 96, h = 40;
    const HostFrame f = random_frame(w, h, 7);
    Sorter sorter;
    {
        StandinDisplay ref(w, h, WINDOW_FORMAT_RGBA_8888);
        Render r;
        ASSERT_EQ(r.render->set_surface(r.render, ref.vm, ref.surface), ORV_OK);
        ASSERT_EQ(r.present(f), ORV_OK);
        sorter.plain = pixels(last_posted(ref), 4);
        sorter.quarter = turn(sorter.plain, w, h, 4, DEVICE_TRANSFORM_ROTATE_90);
        sorter.half = turn(sorter.plain, w, h, 4, DEVICE_TRANSFORM_ROTATE_180);
    }
    StandinDisplay d(w, h, WINDOW_FORMAT_RGBA_8888);
    orv_standin_window_set_post_hook(d.window, &Sorter::hook, &sorter);
    ScriptedHost host;
    host.add_frame(f);
    host.set_tail({ORV_OK, 1, 0});
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_EQ(m->set_host(m, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(m->start(m), ORV_OK);
    const int order[] = {DEVICE_TRANSFORM_ROTATE_90, DEVICE_TRANSFORM_NONE, DEVICE_TRANSFORM_ROTATE_180};
    for (int i = 0; i < 30; ++i) {
        // A burst of changes while frames are drawn, ending on one.
        for (int k = 0; k < 10; ++k)
            ASSERT_EQ(DeviceRendModuleSetTransform(m, order[(i + k) % 3]), ORV_OK);
        ASSERT_EQ(DeviceRendModuleSetTransform(m, order[i % 3]), ORV_OK);
        const size_t seen = host.count(Call::Release);
        ASSERT_TRUE(host.wait_count(Call::Release, seen + 3)) << host.trace();
    }
    m->stop(m);
    m->destroy(m);
    EXPECT_EQ(sorter.mixed.load(), 0);
    EXPECT_GE(sorter.seen_plain.load(), 10);
    EXPECT_GE(sorter.seen_quarter.load(), 10);
    EXPECT_GE(sorter.seen_half.load(), 10);
    EXPECT_EQ(host.count(Call::Error), 0u);
    EXPECT_EQ(d.stats().overruns, 0u);
}

} // namespace
