// What a player gets around the frames, through a module and its render
// thread against the stand-in window: the kept frame redrawn on a new window,
// the frame-rate hint, and the render statistics (also read while rendering).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "host_frame.h"
#include "orv/orv_mem.h"
#include "orv_device_keep.h"
#include "orv_device_render.h"
#include "render_env.h"
#include "scripted_host.h"

namespace {

using namespace std::chrono_literals;
using orv_test::Answer;
using orv_test::Call;
using orv_test::RuntimeScope;
using orv_test::ScriptedHost;
using orv_test::StandinDisplay;

HostFrame gradient(int32_t w, int32_t h, uint8_t seed, int32_t pad = 0)
{
    HostFrame f = HostFrame::make(w, h, pad);
    for (size_t i = 0; i < f.y.size(); ++i)
        f.y[i] = uint8_t(seed + i * 7);
    for (size_t i = 0; i < f.u.size(); ++i) {
        f.u[i] = uint8_t(seed * 3 + i * 5);
        f.v[i] = uint8_t(255 - seed - i * 3);
    }
    return f;
}

// The visible bytes of a posted buffer, row by row (padding left out).
std::vector<uint8_t> picture(ANativeWindow *window)
{
    OrvStandinBuffer b{};
    if (orv_standin_window_last_posted(window, &b) != 0)
        return {};
    std::vector<uint8_t> out;
    const size_t row = size_t(b.width) * size_t(b.bytes_per_pixel);
    for (int32_t y = 0; y < b.height; ++y) {
        const uint8_t *p = b.bits + size_t(y) * size_t(b.stride) * size_t(b.bytes_per_pixel);
        out.insert(out.end(), p, p + row);
    }
    return out;
}

bool eventually(const std::function<bool()> &pred, std::chrono::milliseconds timeout = 5s)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class DevicePlayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = CreateDeviceRendModule(0);
        ASSERT_NE(module, nullptr);
        ASSERT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
    }
    void TearDown() override
    {
        if (module != nullptr) {
            module->stop(module);
            module->destroy(module);
        }
        EXPECT_TRUE(runtime.render_leaks().empty());
    }
    void attach(StandinDisplay &d) { ASSERT_EQ(module->set_surface(module, d.vm, d.surface), ORV_OK); }
    void detach() { ASSERT_EQ(module->set_surface(module, nullptr, nullptr), ORV_OK); }
    DeviceRenderStats stats()
    {
        DeviceRenderStats s{};
        EXPECT_EQ(DeviceRendModuleGetStats(module, &s), ORV_OK);
        return s;
    }
    // Lets the render thread make at least n more passes without a frame due.
    void idle_passes(uint64_t n)
    {
        const uint64_t from = stats().no_frame_waits;
        ASSERT_TRUE(eventually([&] { return stats().no_frame_waits >= from + n; }));
    }

    RuntimeScope runtime;
    RenderModule *module = nullptr;
    ScriptedHost host;
};

// ---- redraw on attach ------------------------------------------------------

TEST_F(DevicePlayer, RedrawPostsTheLastFrameOnceOnANewWindow)
{
    StandinDisplay a(48, 30, WINDOW_FORMAT_RGBA_8888), b(48, 30, WINDOW_FORMAT_RGBX_8888);
    host.add_frame(gradient(48, 30, 1, 5));
    host.add_frame(gradient(48, 30, 90, 3));
    host.push({ORV_OK, 1, 0});
    host.push({ORV_OK, 1, 1});
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 1), ORV_OK);
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 2)) << host.trace();
    idle_passes(2);
    EXPECT_EQ(a.stats().posted, 2u) << "a window that stays gets no redraw";
    const std::vector<uint8_t> last = picture(a.window);

    detach();
    attach(b);
    ASSERT_TRUE(eventually([&] { return b.stats().posted >= 1; }));
    idle_passes(3);
    EXPECT_EQ(b.stats().posted, 1u) << "the kept frame is posted once";
    // RGBA and RGBX draw the same bytes: the picture is the last one presented.
    EXPECT_EQ(picture(b.window), last);
    EXPECT_EQ(host.count(Call::Release), 2u) << "the host's frames were given back as before";

    const DeviceRenderStats s = stats();
    EXPECT_EQ(s.frames_presented, 2u);
    EXPECT_EQ(s.frames_redrawn, 1u);
    EXPECT_EQ(s.window_format, WINDOW_FORMAT_RGBX_8888);
    EXPECT_EQ(s.width, 48);
    EXPECT_EQ(s.height, 30);
}

// RGB565 dithers from the carry of the frames before: the redraw starts from
// the carry its frame started from, so it posts the very same bytes, across
// vector columns and the scalar tail alike.
TEST_F(DevicePlayer, RedrawInRgb565PostsTheSameBytes)
{
    StandinDisplay a(53, 30, WINDOW_FORMAT_RGB_565), b(53, 30, WINDOW_FORMAT_RGB_565);
    for (uint8_t seed : {7, 60, 133})
        host.add_frame(gradient(53, 30, seed, 3));
    for (size_t i = 0; i < 3; ++i)
        host.push({ORV_OK, 1, i});
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 1), ORV_OK);
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 3)) << host.trace();
    idle_passes(2);
    const std::vector<uint8_t> last = picture(a.window);

    detach();
    attach(b);
    ASSERT_TRUE(eventually([&] { return b.stats().posted >= 1; }));
    idle_passes(2);
    EXPECT_EQ(b.stats().posted, 1u);
    EXPECT_EQ(picture(b.window), last);
}

// 10-bit frames (I010 words, any bits above the 10 set): the kept copy holds
// the words, the redraw converts them as 10-bit samples although the setting
// has gone back to 8 bits, and dithers from the finer carry its frame
// started from.
HostFrame gradient10(int32_t w, int32_t h, uint8_t seed)
{
    HostFrame f = gradient(2 * w, h, seed, 6);
    f.width = w;
    f.c_stride = 2 * HostFrame::chroma_width(w) + 4;
    f.u.resize(size_t(f.c_stride) * HostFrame::chroma_height(h));
    f.v.resize(f.u.size());
    for (auto *plane : {&f.y, &f.u, &f.v})
        for (size_t i = 0; i < plane->size(); ++i)
            (*plane)[i] = uint8_t(i % 2 ? ((*plane)[i] | 0xF0) : (*plane)[i] * 3 + seed);
    return f;
}

TEST_F(DevicePlayer, RedrawOfTenBitFramesInRgb565PostsTheSameBytes)
{
    StandinDisplay a(37, 22, WINDOW_FORMAT_RGB_565), b(37, 22, WINDOW_FORMAT_RGB_565);
    for (uint8_t seed : {9, 70})
        host.add_frame(gradient10(37, 22, seed));
    for (size_t i = 0; i < 2; ++i)
        host.push({ORV_OK, 1, i});
    ASSERT_EQ(DeviceRendModuleSetSampleFormat(module, DEVICE_SAMPLES_10_LOW), ORV_OK);
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 1), ORV_OK);
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 2)) << host.trace();
    idle_passes(2);
    const std::vector<uint8_t> last = picture(a.window);
    ASSERT_FALSE(last.empty());

    ASSERT_EQ(DeviceRendModuleSetSampleFormat(module, DEVICE_SAMPLES_8), ORV_OK);
    detach();
    attach(b);
    ASSERT_TRUE(eventually([&] { return b.stats().posted >= 1; }));
    idle_passes(2);
    EXPECT_EQ(b.stats().posted, 1u);
    EXPECT_EQ(picture(b.window), last);
    EXPECT_EQ(stats().frames_redrawn, 1u);
}

TEST_F(DevicePlayer, NoRedrawWhenOffOrWhenAFrameIsDue)
{
    StandinDisplay a(32, 16, WINDOW_FORMAT_RGBA_8888), b(32, 16, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(gradient(32, 16, 7));
    host.push({ORV_OK, 1, 0});
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(host.wait_count(Call::Release, 1));
    idle_passes(1);
    // Off by default: no copy was made.
    const size_t live_off = orv_mem_live_count();
    detach();
    attach(b);
    idle_passes(3);
    EXPECT_EQ(b.stats().posted, 0u);
    EXPECT_EQ(orv_mem_live_count(), live_off);

    // On, but the host has frames due: the new window shows those instead.
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 1), ORV_OK);
    host.set_tail({ORV_OK, 1, 0});
    ASSERT_TRUE(host.wait_count(Call::Release, 4));
    EXPECT_EQ(orv_mem_live_count(), live_off + 1) << "one block for the kept frame";
    detach();
    attach(a);
    const size_t released = host.count(Call::Release);
    ASSERT_TRUE(host.wait_count(Call::Release, released + 3));
    EXPECT_EQ(stats().frames_redrawn, 0u);

    // Turned off: the block goes at the next pass.
    host.set_tail({ORV_WOUNLD_BLOCK});
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 0), ORV_OK);
    idle_passes(2);
    EXPECT_EQ(orv_mem_live_count(), live_off);
}

// The copy keeps the chroma layout the frame was drawn with: a chroma-step
// change after it does not change the redraw.
TEST_F(DevicePlayer, RedrawOfASemiPlanarFrameAfterTheStepChanged)
{
    StandinDisplay a(36, 20, WINDOW_FORMAT_RGBA_8888), b(36, 20, WINDOW_FORMAT_RGBA_8888);
    HostFrame f = gradient(36, 20, 33);
    // NV21: pairs of V then U in the u plane's room, u = v + 1.
    std::vector<uint8_t> pairs(size_t(f.c_stride) * 2 * 10 + 1);
    for (size_t i = 0; i < pairs.size(); ++i)
        pairs[i] = uint8_t(i * 13 + 5);
    ASSERT_EQ(DeviceRendModuleSetChromaStep(module, 2), ORV_OK);
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 1), ORV_OK);
    YuvFrame view = f.view();
    view.v = pairs.data();
    view.u = pairs.data() + 1;
    view.u_stride = view.v_stride = 2 * f.c_stride;
    // The scripted host hands out HostFrames: hand this one through a hook.
    struct Nv21Host {
        YuvFrame frame;
        std::atomic<int> handed{0}, released{0};
        static ResultCode get(void *c, YuvFrame *out, int *release)
        {
            auto *h = static_cast<Nv21Host *>(c);
            if (h->handed.load() >= 1)
                return ORV_WOUNLD_BLOCK;
            *out = h->frame;
            *release = 1;
            h->handed++;
            return ORV_OK;
        }
        static ResultCode release(void *c, int, ResultCode)
        {
            static_cast<Nv21Host *>(c)->released++;
            return ORV_OK;
        }
    } nv21{view};
    const HostCallbacks table{nullptr, nullptr, nullptr, &Nv21Host::get, &Nv21Host::release};
    ASSERT_EQ(module->set_host(module, &nv21, &table), ORV_OK);
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(eventually([&] { return nv21.released.load() == 1; }));
    idle_passes(1);
    const std::vector<uint8_t> last = picture(a.window);
    ASSERT_EQ(DeviceRendModuleSetChromaStep(module, 1), ORV_OK);
    detach();
    attach(b);
    ASSERT_TRUE(eventually([&] { return b.stats().posted >= 1; }));
    EXPECT_EQ(picture(b.window), last);
    EXPECT_EQ(stats().frames_redrawn, 1u);
}

// ---- the kept copy on its own ----------------------------------------------

TEST(DeviceKeep, CopiesPlanesPackedAndReusesItsBlock)
{
    RuntimeScope runtime;
    const size_t live = orv_mem_live_count();
    DeviceKeptFrame keep{};
    // A bottom-up luma plane (negative stride) and padded chroma rows.
    HostFrame f = gradient(21, 11, 4, 6);
    YuvFrame view = f.view();
    view.y = f.y.data() + size_t(f.y_stride) * 10;
    view.y_stride = -f.y_stride;
    ASSERT_EQ(orv_device_keep_frame(&keep, &view, 1, DEVICE_SAMPLES_8), ORV_OK);
    EXPECT_EQ(orv_device_keep_bytes(&view, 1), 21u * 11 + 2 * 11 * 6);
    ASSERT_EQ(keep.valid, 1);
    for (int32_t y = 0; y < 11; ++y)
        ASSERT_EQ(0, std::memcmp(keep.frame.y + y * keep.frame.y_stride, view.y + y * view.y_stride, 21))
            << y;
    for (int32_t y = 0; y < 6; ++y) {
        ASSERT_EQ(0, std::memcmp(keep.frame.u + y * keep.frame.u_stride, view.u + y * view.u_stride, 11));
        ASSERT_EQ(0, std::memcmp(keep.frame.v + y * keep.frame.v_stride, view.v + y * view.v_stride, 11));
    }
    EXPECT_EQ(orv_device_frame_check(&keep.frame), ORV_OK);

    const uint8_t *block = keep.block;
    HostFrame smaller = gradient(16, 8, 9);
    YuvFrame sv = smaller.view();
    ASSERT_EQ(orv_device_keep_frame(&keep, &sv, 1, DEVICE_SAMPLES_8), ORV_OK);
    EXPECT_EQ(keep.block, block) << "a frame that fits reuses the block";
    EXPECT_EQ(orv_mem_live_count(), live + 1);
    HostFrame larger = gradient(64, 40, 9);
    YuvFrame lv = larger.view();
    ASSERT_EQ(orv_device_keep_frame(&keep, &lv, 1, DEVICE_SAMPLES_8), ORV_OK);
    EXPECT_GE(keep.capacity, orv_device_keep_bytes(&lv, 1));
    EXPECT_EQ(orv_mem_live_count(), live + 1) << "the smaller block was let go";
    EXPECT_EQ(0, std::memcmp(keep.frame.v, larger.v.data(), 32));

    // Semi-planar, NV12 order: one plane of pairs, u first.
    std::vector<uint8_t> pairs(size_t(24) * 4);
    for (size_t i = 0; i < pairs.size(); ++i)
        pairs[i] = uint8_t(i);
    HostFrame luma = gradient(21, 7, 2);
    YuvFrame nv = luma.view();
    nv.u = pairs.data();
    nv.v = pairs.data() + 1;
    nv.u_stride = nv.v_stride = 24;
    ASSERT_EQ(orv_device_keep_frame(&keep, &nv, 2, DEVICE_SAMPLES_8), ORV_OK);
    EXPECT_EQ(keep.step, 2);
    EXPECT_EQ(keep.frame.v, keep.frame.u + 1);
    for (int32_t y = 0; y < 4; ++y)
        ASSERT_EQ(0, std::memcmp(keep.frame.u + y * keep.frame.u_stride, pairs.data() + y * 24, 22)) << y;

    orv_device_keep_release(&keep);
    EXPECT_EQ(keep.block, nullptr);
    EXPECT_EQ(keep.valid, 0);
    EXPECT_EQ(orv_mem_live_count(), live);
}

// ---- frame-rate hint -------------------------------------------------------

TEST_F(DevicePlayer, FrameRateReachesEveryNewWindow)
{
    StandinDisplay a(32, 16, WINDOW_FORMAT_RGBA_8888), b(32, 16, WINDOW_FORMAT_RGBA_8888);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(DeviceRendModuleSetFrameRate(nullptr, 24.0f), ORV_ERR_INVALID_PARAM);
    ASSERT_EQ(DeviceRendModuleSetFrameRate(module, 23.976f), ORV_OK);
    for (float bad : {-1.0f, -0.001f, nan, inf, 1000.5f})
        EXPECT_EQ(DeviceRendModuleSetFrameRate(module, bad), ORV_ERR_INVALID_PARAM) << bad;
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(eventually([&] { return a.stats().frame_rate_calls >= 1; }));
    idle_passes(2);
    EXPECT_EQ(a.stats().frame_rate_calls, 1u) << "given once per window";
    EXPECT_EQ(a.stats().frame_rate, 23.976f) << "the refused values changed nothing";
    EXPECT_EQ(a.stats().frame_rate_compatibility, ANATIVEWINDOW_FRAME_RATE_COMPATIBILITY_FIXED_SOURCE);

    detach();
    attach(b);
    ASSERT_TRUE(eventually([&] { return b.stats().frame_rate_calls >= 1; }));
    EXPECT_EQ(b.stats().frame_rate, 23.976f);

    ASSERT_EQ(DeviceRendModuleSetFrameRate(module, 1000.0f), ORV_OK);
    ASSERT_TRUE(eventually([&] { return b.stats().frame_rate == 1000.0f; }));
    ASSERT_EQ(DeviceRendModuleSetFrameRate(module, 0.0f), ORV_OK);
    ASSERT_TRUE(eventually([&] { return b.stats().frame_rate_calls == 3; }));
    EXPECT_EQ(b.stats().frame_rate, 0.0f) << "0 clears the window's hint";
    detach();
    attach(a);
    idle_passes(2);
    EXPECT_EQ(a.stats().frame_rate_calls, 1u) << "no hint: a new window is left alone";
}

TEST_F(DevicePlayer, FrameRateWithoutThePlatformCall)
{
    StandinDisplay a(32, 16, WINDOW_FORMAT_RGBA_8888);
    orv_device_hide_set_frame_rate(1);
    ASSERT_EQ(DeviceRendModuleSetFrameRate(module, 50.0f), ORV_OK);
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    idle_passes(3);
    orv_device_hide_set_frame_rate(0);
    EXPECT_EQ(a.stats().frame_rate_calls, 0u);
    // The call exists again, but this window was already passed over.
    idle_passes(2);
    EXPECT_EQ(a.stats().frame_rate_calls, 0u);
}

// ---- statistics ------------------------------------------------------------

TEST_F(DevicePlayer, StatsCountWhatTheWindowSaw)
{
    DeviceRenderStats s{};
    EXPECT_EQ(DeviceRendModuleGetStats(nullptr, &s), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleGetStats(module, nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleResetStats(nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleSetRedrawOnAttach(nullptr, 1), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleSetRedrawOnAttach(module, 2), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleSetRedrawOnAttach(module, -1), ORV_ERR_INVALID_PARAM);
    s = stats();
    EXPECT_EQ(s.frames_presented + s.no_surface_waits + s.no_frame_waits, 0u);
    EXPECT_EQ(s.window_format, 0) << "nothing posted yet";

    StandinDisplay a(40, 24, WINDOW_FORMAT_RGB_565);
    host.add_frame(gradient(40, 24, 3));
    host.add_frame(gradient(24, 24, 8)); // a new size: the window asks for it once
    host.push({ORV_WOUNLD_BLOCK});
    host.push({ORV_WOUNLD_BLOCK});
    for (size_t i = 0; i < 3; ++i)
        host.push({ORV_OK, 1, 0});
    host.push({ORV_OK, 1, 1});
    host.push({ORV_OK, 0, 1});
    ASSERT_EQ(module->start(module), ORV_OK);
    ASSERT_TRUE(eventually([&] { return stats().no_surface_waits >= 2; }));
    attach(a);
    ASSERT_TRUE(host.wait_count(Call::Release, 4));
    idle_passes(1);
    ASSERT_EQ(module->stop(module), ORV_OK);

    s = stats();
    const OrvStandinWindowStats w = a.stats();
    EXPECT_EQ(s.frames_presented, 5u);
    EXPECT_EQ(s.frames_retried, 1u);
    EXPECT_EQ(w.posted, s.frames_presented + s.frames_retried)
        << "plus the one posted undrawn at the size change";
    EXPECT_EQ(s.frames_redrawn, 0u);
    size_t idle = 0;
    for (const orv_test::HostCall &c : host.calls())
        idle += c.kind == Call::GetFrame && c.code == ORV_WOUNLD_BLOCK;
    EXPECT_EQ(s.no_frame_waits, idle);
    EXPECT_EQ(s.window_format, WINDOW_FORMAT_RGB_565);
    EXPECT_EQ(s.width, 24);
    EXPECT_EQ(s.height, 24);
    EXPECT_LE(s.blit_us_mean, s.blit_us_max);
    EXPECT_LE(s.blit_us_last, s.blit_us_max);

    ASSERT_EQ(DeviceRendModuleResetStats(module), ORV_OK);
    s = stats();
    EXPECT_EQ(s.frames_presented + s.frames_retried + s.no_surface_waits + s.no_frame_waits, 0u);
    EXPECT_EQ(s.blit_us_mean + s.blit_us_max + s.post_us_mean, 0u);
    EXPECT_EQ(s.width, 24) << "the last frame stays described";
    EXPECT_EQ(s.window_format, WINDOW_FORMAT_RGB_565);
}

// Readers on other threads while the render thread counts; TSan checks the
// accesses, the test that counts only grow between resets and end right.
TEST_F(DevicePlayer, StatsReadWhileRendering)
{
    StandinDisplay a(64, 32, WINDOW_FORMAT_RGBA_8888);
    host.add_frame(gradient(64, 32, 5));
    host.set_tail({ORV_OK, 1, 0});
    attach(a);
    ASSERT_EQ(module->start(module), ORV_OK);
    std::atomic<bool> resetting{false}, done{false};
    std::atomic<int> problems{0}, reads{0};
    std::thread reader([&] {
        uint64_t last = 0;
        while (!done) {
            DeviceRenderStats s{};
            if (DeviceRendModuleGetStats(module, &s) != ORV_OK || (s.frames_presented > 0 && s.width != 64))
                problems++;
            // Counts only grow until resets begin.
            if (!resetting && s.frames_presented < last)
                problems++;
            last = s.frames_presented;
            reads++;
        }
    });
    std::this_thread::sleep_for(20ms);
    resetting = true;
    std::thread resetter([&] {
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(1ms);
            DeviceRendModuleResetStats(module);
        }
    });
    resetter.join();
    // The reset lands between these two reads of the window's count.
    const uint32_t posted_before = a.stats().posted;
    ASSERT_EQ(DeviceRendModuleResetStats(module), ORV_OK);
    const uint32_t posted_after = a.stats().posted;
    std::this_thread::sleep_for(30ms);
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    ASSERT_EQ(module->stop(module), ORV_OK);
    const DeviceRenderStats s = stats();
    EXPECT_EQ(problems.load(), 0);
    EXPECT_GT(s.frames_presented, 0u);
    // A frame in flight may be posted on either side of the reset.
    const uint32_t posted = a.stats().posted;
    EXPECT_LE(s.frames_presented, posted - posted_before + 1);
    EXPECT_GE(s.frames_presented + 1, posted - posted_after);
}

} // namespace
