// The overlay and the DeviceRender in front of it, driven without a render
// thread: surface attach and detach through the VM, the no-surface and size
// events, geometry, formats and strides, and the window failures.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <functional>
#include <vector>

#include "host_frame.h"
#include "orv/orv_mem.h"
#include "orv_device_render.h"
#include "render_env.h"
#include "yuv_model.h"

namespace {

using orv_test::RuntimeScope;
using orv_test::StandinDisplay;

// A notify target of our own, shaped like the module's NotifyLink; a test
// may answer a call the way a host's on_event would.
struct RecordingLink {
    void *self = this;
    NotifyLink ops{&RecordingLink::notify};
    std::vector<std::array<int, 3>> calls;
    std::function<void(int, int, int)> answer;

    static ResultCode notify(NotifyLink *link, int a, int b, int c)
    {
        auto *me = static_cast<RecordingLink *>(orv_record_of(link));
        me->calls.push_back({a, b, c});
        if (me->answer)
            me->answer(a, b, c);
        return ORV_OK;
    }
};

struct RenderUnderTest {
    RenderUnderTest()
    {
        render = orv_device_render_create(0);
        if (render != nullptr)
            render->set_notify(render, &link.ops, nullptr);
    }
    ~RenderUnderTest()
    {
        if (render != nullptr)
            render->destroy(render);
    }
    ResultCode present(const HostFrame &f)
    {
        const YuvFrame y = f.view();
        return render->present(render, &y);
    }
    DeviceRender *render = nullptr;
    RecordingLink link;
};

class DeviceOverlay : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(runtime.render_leaks().empty()); }
    RuntimeScope runtime;
};

TEST_F(DeviceOverlay, NoSurfaceEventOncePerDetach)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    RenderUnderTest t;
    ASSERT_NE(t.render, nullptr);
    HostFrame f = HostFrame::make(64, 32);
    f.fill(16, 128, 128);

    EXPECT_EQ(t.render->check_surface(t.render), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(t.present(f), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(t.render->check_surface(t.render), ORV_WOUNLD_BLOCK);
    ASSERT_EQ(t.link.calls.size(), 1u);
    EXPECT_EQ(t.link.calls[0], (std::array<int, 3>{0, 0, 0}));

    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    EXPECT_EQ(t.render->check_surface(t.render), ORV_OK);
    EXPECT_EQ(t.present(f), ORV_OK);
    EXPECT_EQ(t.link.calls.size(), 1u);

    EXPECT_EQ(t.render->set_surface(t.render, nullptr, nullptr), ORV_OK);
    EXPECT_EQ(d.stats().refcount, 2); // ours and the Surface's: the overlay let go
    EXPECT_EQ(t.present(f), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(t.render->check_surface(t.render), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(t.link.calls.size(), 2u);
    EXPECT_EQ(d.stats().posted, 1u);
}

TEST_F(DeviceOverlay, AttachThroughTheVm)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    StandinDisplay other(64, 32, WINDOW_FORMAT_RGBA_8888);
    {
        // An unattached thread is attached around fromSurface and detached after.
        RenderUnderTest t;
        ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
        OrvStandinVmStats v = d.vm_stats();
        EXPECT_EQ(v.attached, 1u);
        EXPECT_EQ(v.detached, 1u);
        EXPECT_EQ(v.threads_attached, 0);
        EXPECT_EQ(d.stats().refcount, 3);
        // A second Surface while one is attached is not used.
        EXPECT_EQ(t.render->set_surface(t.render, other.vm, other.surface), ORV_OK);
        EXPECT_EQ(other.stats().refcount, 2);
        EXPECT_EQ(other.vm_stats().get_env_calls, 0u);
    }
    // destroy released the window it held.
    EXPECT_EQ(d.stats().refcount, 2);
    {
        // A thread the host attached itself stays attached.
        JNIEnv *env = nullptr;
        ASSERT_EQ(d.vm->AttachCurrentThread(&env, nullptr), JNI_OK);
        const OrvStandinVmStats before = d.vm_stats();
        RenderUnderTest t;
        ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
        const OrvStandinVmStats after = d.vm_stats();
        EXPECT_EQ(after.attach_calls, before.attach_calls);
        EXPECT_EQ(after.detach_calls, before.detach_calls);
        EXPECT_EQ(orv_standin_vm_thread_attached(d.vm), 1);
        d.vm->DetachCurrentThread();
    }
    {
        // Attach failures, either way round, leave the overlay detached.
        RenderUnderTest t;
        orv_standin_vm_fail_attach(d.vm, 1, 0);
        EXPECT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_FAIL);
        orv_standin_vm_fail_attach(d.vm, 1, 1);
        EXPECT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_FAIL);
        EXPECT_EQ(t.render->check_surface(t.render), ORV_WOUNLD_BLOCK);
        // A Surface without a window.
        orv_standin_surface_set_valid(d.surface, 0);
        EXPECT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_FAIL);
        EXPECT_EQ(d.vm_stats().threads_attached, 0);
        orv_standin_surface_set_valid(d.surface, 1);
        EXPECT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
        EXPECT_EQ(t.render->check_surface(t.render), ORV_OK);
    }
    EXPECT_EQ(d.stats().refcount, 2);
}

TEST_F(DeviceOverlay, GeometryFollowsTheFrame)
{
    StandinDisplay d(1280, 720, WINDOW_FORMAT_RGBA_8888);
    RenderUnderTest t;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    HostFrame big = HostFrame::make(1280, 720);
    HostFrame small = HostFrame::make(640, 360);
    big.fill(235, 128, 128);
    small.fill(16, 128, 128);

    // The first present sets the frame size in the window's own format.
    ASSERT_EQ(t.present(small), ORV_OK);
    OrvStandinWindowStats s = d.stats();
    EXPECT_EQ(s.geometry_calls, 1u);
    EXPECT_EQ(s.geometry_width, 640);
    EXPECT_EQ(s.geometry_height, 360);
    EXPECT_EQ(s.geometry_format, WINDOW_FORMAT_RGBA_8888);
    EXPECT_EQ(s.posted, 1u);

    // The size changes: one undrawn buffer, one event, a new geometry, 3.
    EXPECT_EQ(t.present(big), ORV_WOUNLD_BLOCK);
    ASSERT_EQ(t.link.calls.size(), 1u);
    EXPECT_EQ(t.link.calls[0], (std::array<int, 3>{1280, 720, 0}));
    s = d.stats();
    EXPECT_EQ(s.geometry_width, 1280);
    EXPECT_EQ(s.geometry_format, WINDOW_FORMAT_RGBA_8888);
    EXPECT_EQ(s.posted, 2u);
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(b.width, 640);
    EXPECT_EQ(b.bits[0], ORV_STANDIN_FILL); // posted as it was

    ASSERT_EQ(t.present(big), ORV_OK);
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(b.width, 1280);
    EXPECT_EQ(orv_standin_buffer_argb(&b, 1279, 719), 0xFFFFFFFFu);

    // And back down: the buffer of 1280 x 720 meets a 640 x 360 frame.
    EXPECT_EQ(t.present(small), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(t.link.calls.back(), (std::array<int, 3>{640, 360, 0}));
    EXPECT_EQ(d.stats().geometry_width, 640);
    EXPECT_EQ(t.present(small), ORV_OK);
    EXPECT_EQ(d.stats().overruns, 0u);
}

// Pixels of each format and stride against the scalar model (the vector
// kernels may differ by one).
TEST_F(DeviceOverlay, FormatsAndStrides)
{
    const int32_t w = 1080, h = 6;
    HostFrame f = HostFrame::make(w, h, 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.y[y * f.y_stride + x] = uint8_t(16 + (x * 7 + y * 31) % 220);
    for (size_t i = 0; i < f.u.size(); ++i) {
        f.u[i] = uint8_t(40 + i * 13 % 180);
        f.v[i] = uint8_t(200 - i * 11 % 170);
    }
    for (int32_t format : {WINDOW_FORMAT_RGBX_8888, WINDOW_FORMAT_RGBA_8888, WINDOW_FORMAT_RGB_565}) {
        SCOPED_TRACE(format);
        StandinDisplay d(w, h, format);
        orv_standin_window_set_stride(d.window, 1088);
        RenderUnderTest t;
        ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(t.present(f), ORV_OK);
        OrvStandinBuffer b{};
        ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
        ASSERT_EQ(b.stride, 1088);
        EXPECT_EQ(d.stats().overruns, 0u);
        const int tolerance = format == WINDOW_FORMAT_RGB_565 ? 15 : 1;
        int bad = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const size_t c = size_t(y / 2) * f.c_stride + x / 2;
                const yuv_model::Rgb want = yuv_model::tail_pixel(f.y[y * f.y_stride + x], f.u[c], f.v[c]);
                const uint32_t got = orv_standin_buffer_argb(&b, x, y);
                const int dr = std::abs(int(got >> 16 & 255) - want.r);
                const int dg = std::abs(int(got >> 8 & 255) - want.g);
                const int db = std::abs(int(got & 255) - want.b);
                if ((dr > tolerance || dg > tolerance || db > tolerance || got >> 24 != 0xFF) && bad++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " got " << std::hex << got;
            }
        }
        EXPECT_EQ(bad, 0);
    }
    // A format the overlay does not draw: posted untouched, result 0.
    StandinDisplay d(w, h, ORV_STANDIN_FORMAT_RGB_888);
    RenderUnderTest t;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    EXPECT_EQ(t.present(f), ORV_OK);
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(b.bits[0], ORV_STANDIN_FILL);
    EXPECT_EQ(b.bits[(size_t(h) * b.stride - 1) * 3], ORV_STANDIN_FILL);
}

TEST_F(DeviceOverlay, WindowFailuresAndBadFrames)
{
    StandinDisplay d(32, 16, WINDOW_FORMAT_RGB_565);
    RenderUnderTest t;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    HostFrame f = HostFrame::make(32, 16);
    f.fill(81, 90, 240);

    orv_standin_window_fail_lock(d.window, 1, -19);
    EXPECT_EQ(t.present(f), ORV_FAIL);
    EXPECT_EQ(d.stats().post_calls, 0u);
    orv_standin_window_fail_post(d.window, 1, -32);
    EXPECT_EQ(t.present(f), ORV_FAIL);
    EXPECT_EQ(d.stats().locked, 0);
    ASSERT_EQ(t.present(f), ORV_OK);
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    EXPECT_EQ(orv_standin_buffer_argb(&b, 31, 15) & 0xF8F8F8u, 0xF80000u); // red

    // A post failure on the size-mismatch path is a failure too.
    HostFrame wide = HostFrame::make(48, 16);
    orv_standin_window_fail_post(d.window, 1, -32);
    EXPECT_EQ(t.present(wide), ORV_FAIL);

    // Incomplete or impossible frames never reach the window.
    const uint32_t locks = d.stats().lock_calls;
    YuvFrame y = f.view();
    y.v = nullptr;
    EXPECT_EQ(t.render->present(t.render, &y), ORV_FAIL);
    EXPECT_EQ(t.render->present(t.render, nullptr), ORV_FAIL);
    y = f.view();
    y.width = 0;
    EXPECT_EQ(t.render->present(t.render, &y), ORV_ERR_INVALID_PARAM);
    y = f.view();
    y.height = -4;
    EXPECT_EQ(t.render->present(t.render, &y), ORV_ERR_INVALID_PARAM);
    y = f.view();
    y.u_stride = 8; // rows of 16 chroma samples
    EXPECT_EQ(t.render->present(t.render, &y), ORV_ERR_INVALID_PARAM);
    // Strides whose magnitude does not fit 32 bits (no negation may overflow).
    for (int plane = 0; plane < 3; ++plane) {
        y = f.view();
        (plane == 0 ? y.y_stride : plane == 1 ? y.u_stride : y.v_stride) = INT32_MIN;
        EXPECT_EQ(t.render->present(t.render, &y), ORV_ERR_INVALID_PARAM) << plane;
    }
    y = f.view();
    y.width = INT32_MIN;
    EXPECT_EQ(t.render->present(t.render, &y), ORV_ERR_INVALID_PARAM);
    y = f.view();
    y.width = INT32_MAX;
    y.y_stride = y.u_stride = y.v_stride = INT32_MAX;
    EXPECT_EQ(t.render->present(t.render, &y), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(d.stats().lock_calls, locks);
    EXPECT_EQ(d.stats().overruns, 0u);
}

// The host answers the size event by detaching, or by swapping surfaces, from
// inside on_event (the recursive mutex lets it in): the overlay must not touch
// the window it held afterwards. The stand-in aborts on a released window.
TEST_F(DeviceOverlay, HostDetachesInsideTheSizeEvent)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    StandinDisplay other(64, 32, WINDOW_FORMAT_RGB_565);
    RenderUnderTest t;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    HostFrame wide = HostFrame::make(64, 32), narrow = HostFrame::make(48, 32);
    wide.fill(235, 128, 128);
    narrow.fill(16, 128, 128);
    ASSERT_EQ(t.present(wide), ORV_OK);

    // Only the overlay's own reference goes; the Surface's and ours stay.
    t.link.answer = [&](int w, int, int) {
        if (w != 0)
            t.render->set_surface(t.render, nullptr, nullptr);
    };
    EXPECT_EQ(t.present(narrow), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(d.stats().refcount, 2);
    EXPECT_EQ(d.stats().geometry_calls, 1u) << "no geometry after the detach";
    EXPECT_EQ(t.present(narrow), ORV_WOUNLD_BLOCK); // detached: the no-surface answer
    ASSERT_EQ(t.link.calls.size(), 2u);
    EXPECT_EQ(t.link.calls[1], (std::array<int, 3>{0, 0, 0}));

    // Attached again: the new window gets the frame's size on the next present.
    t.link.answer = nullptr;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(t.present(wide), ORV_OK);
    t.link.answer = [&](int w, int, int) {
        if (w == 0)
            return;
        t.render->set_surface(t.render, nullptr, nullptr);
        t.render->set_surface(t.render, other.vm, other.surface);
    };
    EXPECT_EQ(t.present(narrow), ORV_WOUNLD_BLOCK);
    t.link.answer = nullptr;
    EXPECT_EQ(other.stats().geometry_calls, 0u) << "the swapped-in window waits for its present";
    ASSERT_EQ(t.present(narrow), ORV_OK);
    EXPECT_EQ(other.stats().geometry_width, 48);
    OrvStandinBuffer b{};
    ASSERT_EQ(orv_standin_window_last_posted(other.window, &b), 0);
    EXPECT_EQ(b.width, 48);
    EXPECT_EQ(orv_standin_buffer_argb(&b, 47, 31), 0xFF000000u);
    EXPECT_EQ(d.stats().locked, 0);
}

// A window that will not take the frame's size would answer 3 for ever.
TEST_F(DeviceOverlay, RefusedGeometryIsAFailure)
{
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    RenderUnderTest t;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    HostFrame wide = HostFrame::make(64, 32), narrow = HostFrame::make(48, 32);
    // Refused at the first present of a new window: nothing locked.
    orv_standin_window_fail_geometry(d.window, 1, -22);
    EXPECT_EQ(t.present(wide), ORV_FAIL);
    EXPECT_EQ(d.stats().lock_calls, 0u);
    // Refused after a size mismatch: the undrawn buffer was posted, then 0x80000000.
    ASSERT_EQ(t.present(wide), ORV_OK);
    orv_standin_window_fail_geometry(d.window, 1, -22);
    EXPECT_EQ(t.present(narrow), ORV_FAIL);
    EXPECT_EQ(d.stats().locked, 0);
    EXPECT_EQ(d.stats().geometry_failures, 2u);
    // A window that takes it again works as before.
    EXPECT_EQ(t.present(narrow), ORV_WOUNLD_BLOCK);
    EXPECT_EQ(t.present(narrow), ORV_OK);
}

// Frames that alternate widths reuse the error carry sized for the widest
// one: no allocation per frame. The blitter keeps it in word 4 of its record.
TEST_F(DeviceOverlay, AlternatingWidthsKeepOneCarryBuffer)
{
    StandinDisplay d(100, 8, WINDOW_FORMAT_RGB_565);
    RenderUnderTest t;
    ASSERT_EQ(t.render->set_surface(t.render, d.vm, d.surface), ORV_OK);
    auto *ov = static_cast<AndroidOverlayRecord *>(
        orv_record_of(static_cast<DeviceRenderRecord *>(orv_record_of(t.render))->overlay));
    void **blit = static_cast<void **>(orv_record_of(ov->blitter));
    HostFrame frames[] = {HostFrame::make(100, 8), HostFrame::make(40, 8), HostFrame::make(77, 8)};
    for (HostFrame &f : frames)
        f.fill(128, 128, 128);
    ASSERT_EQ(t.present(frames[0]), ORV_OK);
    void *const carry = blit[4];
    ASSERT_NE(carry, nullptr);
    const size_t live = orv_mem_live_count();
    for (int i = 1; i < 12; ++i) {
        HostFrame &f = frames[i % 3];
        ResultCode r = t.present(f);
        if (r == ORV_WOUNLD_BLOCK)
            r = t.present(f);
        ASSERT_EQ(r, ORV_OK) << i;
        EXPECT_EQ(blit[4], carry) << "frame " << i << " of width " << f.width;
    }
    EXPECT_EQ(orv_mem_size(carry), 100u * 8);
    EXPECT_EQ(orv_mem_live_count(), live);
    EXPECT_EQ(d.stats().overruns, 0u);
}

TEST_F(DeviceOverlay, RecordsAndCreationFailures)
{
    const size_t live = orv_mem_live_count();
    {
        RenderUnderTest t;
        auto *rec = static_cast<DeviceRenderRecord *>(orv_record_of(t.render));
        // The interface is the first slot; the word before it is the object.
        EXPECT_EQ(static_cast<void *>(&rec->ops), static_cast<void *>(t.render));
        EXPECT_EQ(rec->self, static_cast<void *>(rec));
        auto *ov = static_cast<AndroidOverlayRecord *>(orv_record_of(rec->overlay));
        EXPECT_EQ(ov->self, static_cast<void *>(ov));
        EXPECT_NE(ov->mutex, nullptr);
        EXPECT_NE(ov->blitter, nullptr);
        EXPECT_EQ(ov->notify_target, &t.link.ops);
        EXPECT_EQ(orv_mem_live_count(), live + 3);
    }
    EXPECT_EQ(orv_mem_live_count(), live);
    EXPECT_EQ(orv_device_render_create(1), nullptr);
    for (int n = 1; n <= 2; ++n) {
        orv_device_fail_alloc(n);
        EXPECT_EQ(orv_device_render_create(0), nullptr) << n;
        EXPECT_EQ(orv_mem_live_count(), live) << n;
    }
    orv_device_fail_alloc(0);
}

} // namespace
