// The YV12 window path: the chroma split kernels against their reference,
// the plane copy into Android's layout, the overlay drawing YV12 buffers with
// the right data space, each fallback to RGB, and format changes while the
// render thread draws.
#include <gtest/gtest.h>

#include <android/data_space.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clip.h"
#include "host_frame.h"
#include "kernel_list.h"
#include "orv_device_copy.h"
#include "orv_device_render.h"
#include "render_env.h"
#include "scripted_host.h"

namespace {

using orv_test::Answer;
using orv_test::Call;
using orv_test::RuntimeScope;
using orv_test::ScriptedHost;
using orv_test::StandinDisplay;

constexpr int32_t kYv12 = DEVICE_WINDOW_YV12;
static_assert(kYv12 == ORV_STANDIN_FORMAT_YV12);

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = uint8_t(gen());
    return v;
}

// A frame of random samples, planar or as NV12/NV21 pairs.
struct SourceFrame {
    HostFrame planes;
    std::vector<uint8_t> pairs;
    YuvFrame view;
    int step = 1;

    // layout 0 planar, 1 NV12, 2 NV21; pad: bytes past each luma row.
    SourceFrame(int w, int h, int layout, uint32_t seed, int pad = 6)
    {
        planes = HostFrame::make(w, h, pad);
        for (auto *p : {&planes.y, &planes.u, &planes.v})
            *p = random_bytes(p->size(), seed++);
        view = planes.view();
        if (layout == 0)
            return;
        step = 2;
        const int cw = HostFrame::chroma_width(w), ch = HostFrame::chroma_height(h);
        const int stride = 2 * cw + 10;
        pairs.assign(size_t(stride) * ch, 0);
        const bool nv12 = layout == 1;
        for (int r = 0; r < ch; ++r)
            for (int i = 0; i < cw; ++i) {
                pairs[size_t(r) * stride + 2 * i + (nv12 ? 0 : 1)] =
                    planes.u[size_t(r) * planes.c_stride + i];
                pairs[size_t(r) * stride + 2 * i + (nv12 ? 1 : 0)] =
                    planes.v[size_t(r) * planes.c_stride + i];
            }
        view.u = pairs.data() + (nv12 ? 0 : 1);
        view.v = pairs.data() + (nv12 ? 1 : 0);
        view.u_stride = view.v_stride = stride;
    }
};

// Empty when the YV12 buffer (stride, bits) holds the frame's planes by
// Android's rule with 128 in every chroma row's padding; else the first
// difference.
std::string planes_match(const uint8_t *bits, int32_t stride, int32_t height, const HostFrame &f)
{
    const int32_t c_stride = (stride / 2 + 15) & ~15;
    const uint8_t *v = bits + size_t(stride) * height;
    const uint8_t *u = v + size_t(c_stride) * (height / 2);
    for (int r = 0; r < f.height; ++r)
        for (int x = 0; x < f.width; ++x)
            if (bits[size_t(r) * stride + x] != f.y[size_t(r) * f.y_stride + x])
                return "Y " + std::to_string(x) + "," + std::to_string(r);
    for (int r = 0; r < f.height / 2; ++r)
        for (int x = 0; x < c_stride; ++x) {
            const size_t at = size_t(r) * c_stride + x, from = size_t(r) * f.c_stride + x;
            const bool pad = x >= f.width / 2;
            if (v[at] != (pad ? 128 : f.v[from]))
                return std::string(pad ? "V padding " : "V ") + std::to_string(x) + "," + std::to_string(r);
            if (u[at] != (pad ? 128 : f.u[from]))
                return std::string(pad ? "U padding " : "U ") + std::to_string(x) + "," + std::to_string(r);
        }
    return {};
}

TEST(Yv12Copy, PlanesInAndroidsLayout)
{
    const char *layouts[] = {"planar", "NV12", "NV21"};
    for (int layout = 0; layout < 3; ++layout)
        for (int w : {2, 6, 16, 30, 34, 94, 256})
            for (int align : {16, 32, 64})
                for (int h : {2, 10})
                    for (int pad : {6, 0}) {
                        // Without padding on either side (256 wide) rows go as one copy.
                        SourceFrame src(w, h, layout, uint32_t(w * 7 + h + layout), pad);
                        const int32_t stride = (w + align - 1) / align * align;
                        const size_t size = orv_yv12_size(stride, h);
                        std::vector<uint8_t> buffer(size + 64, 0xCD);
                        const OrvYv12Planes p = orv_yv12_planes(buffer.data(), stride, h);
                        EXPECT_EQ(p.c_stride % 16, 0);
                        EXPECT_EQ(size_t(p.u - buffer.data()) + size_t(p.c_stride) * (h / 2), size);
                        for (int tier : kernel_list::tiers_under_test()) {
                            const DeviceCopyKernels k = orv_device_copy_kernels(tier);
                            std::fill(buffer.begin(), buffer.end(), 0xCD);
                            orv_yv12_copy_frame(&p, &src.view, src.step, DEVICE_SAMPLES_8, &k);
                            const std::string what = std::string(layouts[layout]) + " " + std::to_string(w) +
                                                     "x" + std::to_string(h) + " pad " + std::to_string(pad) +
                                                     " stride " + std::to_string(stride) + " tier " +
                                                     std::to_string(tier);
                            EXPECT_EQ(planes_match(buffer.data(), stride, h, src.planes), "") << what;
                            // Luma padding and everything past the planes untouched.
                            for (int r = 0; r < h; ++r)
                                for (int x = w; x < stride; ++x)
                                    ASSERT_EQ(buffer[size_t(r) * stride + x], 0xCD) << what;
                            for (size_t i = size; i < buffer.size(); ++i)
                                ASSERT_EQ(buffer[i], 0xCD) << what;
                        }
                    }
}

// The planes a buffer of the given stride holds, shown by the stand-in's
// compositing under a window transform.
std::vector<uint32_t> shown(std::vector<uint8_t> &bits, int w, int h, int32_t stride, int32_t transform)
{
    OrvStandinBuffer b{};
    b.width = w, b.height = h, b.stride = stride, b.format = ORV_STANDIN_FORMAT_YV12, b.bytes_per_pixel = 1;
    b.bits = bits.data();
    b.transform = transform;
    const bool quarter = (transform & 4) != 0;
    b.shown_width = quarter ? h : w, b.shown_height = quarter ? w : h;
    std::vector<uint32_t> out;
    for (int y = 0; y < b.shown_height; ++y)
        for (int x = 0; x < b.shown_width; ++x)
            out.push_back(orv_standin_buffer_argb(&b, x, y));
    return out;
}

// Planes turned in the copy show what the plain planes show on a window
// that turns them itself, for every transform and chroma layout; chroma
// padding stays mid-grey and nothing past the planes is written.
TEST(Yv12Copy, TurnedCopyShowsWhatTheWindowWouldTurn)
{
    const DeviceCopyKernels k = orv_device_pick_copy_kernels();
    for (int layout = 0; layout < 3; ++layout)
        for (auto [w, h] : {std::pair{2, 2}, {6, 4}, {34, 10}, {2, 40}, {70, 2}})
            for (int32_t transform = 0; transform < 8; ++transform) {
                SourceFrame src(w, h, layout, uint32_t(w * 5 + h + layout));
                const std::string what = "layout " + std::to_string(layout) + " " + std::to_string(w) + "x" +
                                         std::to_string(h) + " transform " + std::to_string(transform);
                const int32_t plain_stride = (w + 15) / 16 * 16;
                std::vector<uint8_t> plain(orv_yv12_size(plain_stride, h), 0xCD);
                OrvYv12Planes p = orv_yv12_planes(plain.data(), plain_stride, h);
                orv_yv12_copy_frame(&p, &src.view, src.step, DEVICE_SAMPLES_8, &k);
                const bool quarter = (transform & 4) != 0;
                const int tw = quarter ? h : w, th = quarter ? w : h;
                const int32_t stride = (tw + 31) / 32 * 32;
                const size_t size = orv_yv12_size(stride, th);
                std::vector<uint8_t> turned(size + 32, 0xCD);
                p = orv_yv12_planes(turned.data(), stride, th);
                orv_yv12_copy_turned(&p, &src.view, src.step, DEVICE_SAMPLES_8, transform);
                EXPECT_EQ(shown(turned, tw, th, stride, 0), shown(plain, w, h, plain_stride, transform))
                    << what;
                for (int r = 0; r < th / 2; ++r)
                    for (int x = tw / 2; x < p.c_stride; ++x) {
                        ASSERT_EQ(p.u[r * p.c_stride + x], 128) << what;
                        ASSERT_EQ(p.v[r * p.c_stride + x], 128) << what;
                    }
                for (size_t i = size; i < turned.size(); ++i)
                    ASSERT_EQ(turned[i], 0xCD) << what;
            }
}

// 10-bit words are rounded to the nearest 8-bit value, whatever the bits
// outside the sample hold: 8-bit samples placed in words (shifted by 2 or by
// 8) with garbage around them copy as the 8-bit frame does, in any layout.
TEST(Yv12Copy, TenBitSamplesRoundToEightBits)
{
    for (int samples : {DEVICE_SAMPLES_10_LOW, DEVICE_SAMPLES_10_HIGH})
        for (int layout = 0; layout < 3; ++layout) {
            const int w = 38, h = 6;
            SourceFrame src(w, h, layout, uint32_t(layout + 9));
            std::mt19937 garbage_bits{uint32_t(samples)};
            // Every byte of the frame's planes (rows and their padding) as a word.
            auto widen = [&](const uint8_t *from, size_t n) {
                std::vector<uint8_t> words(2 * n);
                for (size_t i = 0; i < n; ++i) {
                    const unsigned garbage = unsigned(garbage_bits());
                    const unsigned word = samples == DEVICE_SAMPLES_10_LOW
                                              ? (from[i] << 2 | (garbage & 0xFC00))
                                              : (from[i] << 8 | (garbage & 0x3F));
                    words[2 * i] = uint8_t(word), words[2 * i + 1] = uint8_t(word >> 8);
                }
                return words;
            };
            const size_t y_bytes = size_t(src.view.y_stride) * h;
            const std::vector<uint8_t> y10 = widen(src.view.y, y_bytes);
            std::vector<uint8_t> u10, v10, pairs10;
            YuvFrame f = src.view;
            f.y = y10.data(), f.y_stride *= 2;
            const size_t c_bytes = size_t(src.view.u_stride) * (h / 2);
            if (layout == 0) {
                u10 = widen(src.view.u, c_bytes), v10 = widen(src.view.v, c_bytes);
                f.u = u10.data(), f.v = v10.data();
            } else {
                const uint8_t *first = std::min(src.view.u, src.view.v);
                pairs10 = widen(first, c_bytes);
                f.u = pairs10.data() + (src.view.u == first ? 0 : 2);
                f.v = pairs10.data() + (src.view.v == first ? 0 : 2);
            }
            f.u_stride *= 2, f.v_stride *= 2;
            for (int32_t transform : {0, 4}) {
                const int tw = transform ? h : w, th = transform ? w : h;
                const int32_t stride = (tw + 15) / 16 * 16;
                std::vector<uint8_t> want(orv_yv12_size(stride, th), 0xCD), got = want;
                OrvYv12Planes p = orv_yv12_planes(want.data(), stride, th);
                orv_yv12_copy_turned(&p, &src.view, src.step, DEVICE_SAMPLES_8, transform);
                p = orv_yv12_planes(got.data(), stride, th);
                orv_yv12_copy_turned(&p, &f, src.step, samples, transform);
                EXPECT_EQ(got, want) << "samples " << samples << " layout " << layout << " transform "
                                     << transform;
                if (transform != 0)
                    continue;
                // The row kernels of every tier, unturned.
                for (int tier : kernel_list::tiers_under_test()) {
                    const DeviceCopyKernels k = orv_device_copy_kernels(tier);
                    std::fill(got.begin(), got.end(), 0xCD);
                    orv_yv12_copy_frame(&p, &f, src.step, samples, &k);
                    EXPECT_EQ(got, want) << "samples " << samples << " layout " << layout << " tier " << tier;
                }
            }
        }
    // Rounding itself: 0, 1 -> 0; 2 -> 1 (half up); 1021 -> 255; 1022, 1023 -> 255, never 256.
    const uint16_t values[] = {0, 1, 2, 5, 6, 1021, 1022, 1023};
    const uint8_t rounded[] = {0, 0, 1, 1, 2, 255, 255, 255};
    for (int samples : {DEVICE_SAMPLES_10_LOW, DEVICE_SAMPLES_10_HIGH}) {
        std::vector<uint8_t> y(2 * 8 * 2), c(2 * 4);
        for (int i = 0; i < 16; ++i) {
            const unsigned v = values[i % 8], word = samples == DEVICE_SAMPLES_10_LOW ? v : v << 6;
            y[2 * i] = uint8_t(word), y[2 * i + 1] = uint8_t(word >> 8);
        }
        const YuvFrame f{y.data(), c.data(), c.data(), 16, 8, 8, 8, 2};
        std::vector<uint8_t> out(orv_yv12_size(16, 2), 0);
        const OrvYv12Planes p = orv_yv12_planes(out.data(), 16, 2);
        orv_yv12_copy_turned(&p, &f, 1, samples, 0);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(out[i], rounded[i]) << "value " << values[i] << " samples " << samples;
    }
}

// ---- the overlay drawing YV12 -----------------------------------------------

struct Render {
    DeviceRender *render = orv_device_render_create(0);
    ~Render() { render->destroy(render); }
    AndroidOverlay *overlay() const
    {
        return static_cast<DeviceRenderRecord *>(orv_record_of(render))->overlay;
    }
    DeviceBlitOps *blitter() const
    {
        return static_cast<AndroidOverlayRecord *>(orv_record_of(overlay()))->blitter;
    }
    ResultCode present(const YuvFrame &f) { return render->present(render, &f); }
    ResultCode want(int32_t format) { return orv_device_overlay_set_window_format(overlay(), format); }
    int32_t posted() const { return orv_device_overlay_window_format(overlay()); }
};

OrvStandinBuffer last_posted(const StandinDisplay &d)
{
    OrvStandinBuffer b{};
    EXPECT_EQ(orv_standin_window_last_posted(d.window, &b), 0);
    return b;
}

// The RGBX pixels the RGB path draws for the frame with these settings.
// With a transform, the picture shown, which the RGB path turns itself.
std::vector<uint32_t> rgb_path(const YuvFrame &frame, int matrix, int range, int step, int transform = 0)
{
    StandinDisplay d(frame.width, frame.height, WINDOW_FORMAT_RGBX_8888);
    Render r;
    EXPECT_EQ(orv_device_blit_set_colour(r.blitter(), matrix, range), ORV_OK);
    EXPECT_EQ(orv_device_blit_set_chroma_step(r.blitter(), step), ORV_OK);
    EXPECT_EQ(orv_device_blit_set_transform(r.blitter(), transform), ORV_OK);
    EXPECT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
    EXPECT_EQ(r.present(frame), ORV_OK);
    const OrvStandinBuffer b = last_posted(d);
    std::vector<uint32_t> out;
    for (int y = 0; y < b.shown_height; ++y)
        for (int x = 0; x < b.shown_width; ++x)
            out.push_back(orv_standin_buffer_argb(&b, x, y));
    return out;
}

// Largest channel difference between a posted buffer and RGB pixels.
int largest_difference(const OrvStandinBuffer &b, const std::vector<uint32_t> &rgb)
{
    int worst = 0;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const uint32_t got = orv_standin_buffer_argb(&b, x, y), want = rgb[size_t(y) * b.width + x];
            for (int shift : {0, 8, 16}) {
                const int d = std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF));
                worst = d > worst ? d : worst;
            }
        }
    return worst;
}

class Yv12Overlay : public ::testing::Test {
protected:
    void TearDown() override
    {
        orv_device_overlay_hide_data_space(0);
        orv_device_overlay_hide_transform(0);
        EXPECT_TRUE(runtime.render_leaks().empty());
    }
    RuntimeScope runtime;
};

TEST_F(Yv12Overlay, PlanesReachTheBufferForEveryLayoutAndStride)
{
    const char *layouts[] = {"planar", "NV12", "NV21"};
    for (int layout = 0; layout < 3; ++layout)
        for (int w : {30, 64, 94})
            for (int align : {16, 32, 64}) {
                SourceFrame src(w, 12, layout, uint32_t(w + align + layout));
                StandinDisplay d(w, 12, WINDOW_FORMAT_RGBA_8888);
                const int32_t stride = (w + align - 1) / align * align;
                orv_standin_window_set_stride(d.window, stride);
                Render r;
                ASSERT_EQ(orv_device_blit_set_chroma_step(r.blitter(), src.step), ORV_OK);
                ASSERT_EQ(r.want(kYv12), ORV_OK);
                ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
                EXPECT_EQ(r.posted(), 0);
                for (int frame = 0; frame < 2; ++frame)
                    ASSERT_EQ(r.present(src.view), ORV_OK);
                const OrvStandinBuffer b = last_posted(d);
                const std::string what = std::string(layouts[layout]) + " width " + std::to_string(w) +
                                         " stride " + std::to_string(stride);
                ASSERT_EQ(b.format, kYv12) << what;
                EXPECT_EQ(b.stride, stride) << what;
                EXPECT_EQ(planes_match(b.bits, b.stride, b.height, src.planes), "") << what;
                EXPECT_EQ(r.posted(), kYv12) << what;
                const OrvStandinWindowStats st = d.stats();
                EXPECT_EQ(st.overruns, 0u) << what;
                EXPECT_EQ(st.geometry_format, kYv12) << what;
                EXPECT_EQ(st.data_space, ADATASPACE_BT601_625) << what;
            }
}

// Each matrix and range sets its data space, and the compositor's picture
// is the RGB path's within rounding.
TEST_F(Yv12Overlay, DataSpaceFollowsTheColourSettings)
{
    struct Case {
        int matrix, range;
        int32_t data_space;
    } cases[] = {
        {DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED, ADATASPACE_BT601_625},
        {DEVICE_MATRIX_BT601, DEVICE_RANGE_FULL, ADATASPACE_JFIF},
        {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, ADATASPACE_BT709},
        {DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL,
         ADATASPACE_STANDARD_BT709 | ADATASPACE_TRANSFER_SMPTE_170M | ADATASPACE_RANGE_FULL},
        {DEVICE_MATRIX_BT2020, DEVICE_RANGE_LIMITED,
         ADATASPACE_STANDARD_BT2020 | ADATASPACE_TRANSFER_SMPTE_170M | ADATASPACE_RANGE_LIMITED},
        {DEVICE_MATRIX_BT2020, DEVICE_RANGE_FULL, ADATASPACE_BT2020},
    };
    HostFrame f = HostFrame::make(64, 32);
    draw_clip_frame(5, &f);
    for (const Case &c : cases) {
        StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
        Render r;
        ASSERT_EQ(orv_device_blit_set_colour(r.blitter(), c.matrix, c.range), ORV_OK);
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        const OrvStandinBuffer b = last_posted(d);
        ASSERT_EQ(b.format, kYv12);
        EXPECT_EQ(d.stats().data_space, c.data_space) << c.matrix << "/" << c.range;
        EXPECT_EQ(b.data_space, c.data_space);
        EXPECT_LE(largest_difference(b, rgb_path(f.view(), c.matrix, c.range, 1)), 3)
            << c.matrix << "/" << c.range;
    }
}

// Every fallback draws the RGB path's pixels in RGBX and says so.
TEST_F(Yv12Overlay, FallbacksDrawRgbAndReportIt)
{
    HostFrame f = HostFrame::make(64, 32);
    draw_clip_frame(9, &f);
    const std::vector<uint32_t> bt601 = rgb_path(f.view(), DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED, 1);
    const std::vector<uint32_t> bt709 = rgb_path(f.view(), DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, 1);

    { // The window refuses the geometry.
        StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
        orv_standin_window_refuse_format(d.window, kYv12, 0);
        Render r;
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        const OrvStandinBuffer b = last_posted(d);
        EXPECT_EQ(b.format, WINDOW_FORMAT_RGBX_8888);
        EXPECT_EQ(largest_difference(b, bt601), 0);
        EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGBX);
        EXPECT_EQ(d.stats().geometry_failures, 1u);
        // Not asked again until the host asks; then again once.
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(d.stats().geometry_failures, 1u);
        orv_standin_window_refuse_format(d.window, 0, 0);
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, kYv12);
        EXPECT_EQ(r.posted(), kYv12);
    }
    { // The window takes the geometry and keeps its format.
        StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
        orv_standin_window_refuse_format(d.window, kYv12, 1);
        Render r;
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, WINDOW_FORMAT_RGBA_8888);
        EXPECT_EQ(largest_difference(last_posted(d), bt601), 0);
        EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGBA);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, WINDOW_FORMAT_RGBX_8888);
        EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGBX);
        EXPECT_EQ(d.stats().overruns, 0u);
    }
    { // An odd frame size.
        HostFrame odd = HostFrame::make(63, 31);
        draw_clip_frame(9, &odd);
        StandinDisplay d(63, 31, WINDOW_FORMAT_RGBA_8888);
        Render r;
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(r.present(odd.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, WINDOW_FORMAT_RGBX_8888);
        EXPECT_EQ(largest_difference(last_posted(d),
                                     rgb_path(odd.view(), DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED, 1)),
                  0);
        EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGBX);
        EXPECT_NE(d.stats().geometry_format, kYv12);
    }
    // No data space call (before API 28), or one that fails, with BT.709:
    // the compositor would assume BT.601, so RGB. BT.601 limited needs none.
    for (int how : {0, 1}) {
        StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
        if (how == 0)
            orv_device_overlay_hide_data_space(1);
        else
            orv_standin_window_fail_data_space(d.window, -ENOSYS);
        Render r;
        ASSERT_EQ(orv_device_blit_set_colour(r.blitter(), DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED), ORV_OK);
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, WINDOW_FORMAT_RGBX_8888) << how;
        EXPECT_EQ(largest_difference(last_posted(d), bt709), 0) << how;
        EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGBX) << how;
        EXPECT_EQ(d.stats().data_space, 0) << how;
        // BT.601 limited, asked for again: YV12 without a data space.
        ASSERT_EQ(orv_device_blit_set_colour(r.blitter(), DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED), ORV_OK);
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, kYv12) << how;
        EXPECT_LE(largest_difference(last_posted(d), bt601), 3) << how;
        orv_device_overlay_hide_data_space(0);
    }
    { // A buffer stride that is not a multiple of 16: posted undrawn once,
        // then the same frame as RGB.
        StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
        orv_standin_window_set_stride(d.window, 72);
        Render r;
        ASSERT_EQ(r.want(kYv12), ORV_OK);
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        EXPECT_EQ(r.present(f.view()), ORV_WOUNLD_BLOCK);
        const OrvStandinBuffer undrawn = last_posted(d);
        EXPECT_EQ(undrawn.format, kYv12);
        EXPECT_EQ(undrawn.bits[0], ORV_STANDIN_FILL);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(last_posted(d).format, WINDOW_FORMAT_RGBX_8888);
        EXPECT_EQ(largest_difference(last_posted(d), bt601), 0);
        EXPECT_EQ(d.stats().overruns, 0u);
    }
}

// Switching between formats and back to the window's own; a new frame size
// in YV12 gets a new geometry in YV12.
TEST_F(Yv12Overlay, SwitchesFormatsAndSizes)
{
    HostFrame f = HostFrame::make(64, 32), g = HostFrame::make(32, 16);
    draw_clip_frame(3, &f);
    draw_clip_frame(4, &g);
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGB_565);
    Render r;
    ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(r.present(f.view()), ORV_OK);
    EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGB565);
    const int32_t sequence[] = {kYv12, DEVICE_WINDOW_RGBA, DEVICE_WINDOW_RGBX, kYv12, DEVICE_WINDOW_AUTO};
    for (int32_t format : sequence) {
        ASSERT_EQ(r.want(format), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        const int32_t want = format == DEVICE_WINDOW_AUTO ? WINDOW_FORMAT_RGB_565 : format;
        EXPECT_EQ(last_posted(d).format, want);
        EXPECT_EQ(r.posted(), want);
    }
    ASSERT_EQ(r.want(kYv12), ORV_OK);
    ASSERT_EQ(r.present(f.view()), ORV_OK);
    EXPECT_EQ(r.present(g.view()), ORV_WOUNLD_BLOCK); // the size event, as ever
    ASSERT_EQ(r.present(g.view()), ORV_OK);
    const OrvStandinBuffer b = last_posted(d);
    EXPECT_EQ(b.format, kYv12);
    EXPECT_EQ(b.width, 32);
    EXPECT_EQ(planes_match(b.bits, b.stride, b.height, g), "");
    EXPECT_EQ(d.stats().overruns, 0u);
}

// A window whose own format is YV12 draws the planes without being asked,
// and an odd frame on it falls back like a request would, not in a loop.
TEST_F(Yv12Overlay, WindowOfItsOwnInYv12)
{
    HostFrame f = HostFrame::make(64, 32), odd = HostFrame::make(63, 31);
    draw_clip_frame(8, &f);
    draw_clip_frame(8, &odd);
    {
        StandinDisplay d(64, 32, kYv12);
        Render r;
        ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        EXPECT_EQ(r.posted(), kYv12);
        EXPECT_EQ(planes_match(last_posted(d).bits, last_posted(d).stride, 32, f), "");
    }
    StandinDisplay d(64, 32, kYv12);
    Render r;
    ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(r.present(odd.view()), ORV_OK);
    EXPECT_EQ(last_posted(d).format, WINDOW_FORMAT_RGBX_8888);
    EXPECT_EQ(r.posted(), DEVICE_WINDOW_RGBX);
    EXPECT_EQ(d.stats().overruns, 0u);
}

// Lock and post failures end the frame as on the RGB path; the next frame
// draws YV12 again, and a failed post never counts as posted.
TEST_F(Yv12Overlay, WindowFailuresInYv12)
{
    HostFrame f = HostFrame::make(64, 32);
    draw_clip_frame(6, &f);
    StandinDisplay d(64, 32, WINDOW_FORMAT_RGBA_8888);
    Render r;
    ASSERT_EQ(r.want(kYv12), ORV_OK);
    ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
    orv_standin_window_fail_lock(d.window, 1, -EINVAL);
    EXPECT_EQ(r.present(f.view()), ORV_FAIL);
    EXPECT_EQ(r.posted(), 0);
    orv_standin_window_fail_post(d.window, 1, -ENODEV);
    EXPECT_EQ(r.present(f.view()), ORV_FAIL);
    EXPECT_EQ(r.posted(), 0);
    EXPECT_EQ(d.stats().posted, 0u);
    ASSERT_EQ(r.present(f.view()), ORV_OK);
    EXPECT_EQ(r.posted(), kYv12);
    EXPECT_EQ(planes_match(last_posted(d).bits, last_posted(d).stride, 32, f), "");
    const OrvStandinWindowStats st = d.stats();
    EXPECT_EQ(st.misuse, 0u);
    EXPECT_EQ(st.locked, 0);
    EXPECT_EQ(st.geometry_failures, 0u);
}

// Largest channel difference between what a posted buffer shows and RGB
// pixels of the same shown size.
int largest_shown_difference(const OrvStandinBuffer &b, const std::vector<uint32_t> &rgb)
{
    int worst = 0;
    if (rgb.size() != size_t(b.shown_width) * size_t(b.shown_height))
        return 256;
    for (int y = 0; y < b.shown_height; ++y)
        for (int x = 0; x < b.shown_width; ++x) {
            const uint32_t got = orv_standin_buffer_argb(&b, x, y), want = rgb[size_t(y) * b.shown_width + x];
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF)));
        }
    return worst;
}

// Every transform shows what the RGB path shows turned, whether the window
// turns the planes (from API 26) or, where it cannot (the call missing or
// failing), the copy turns them into a buffer of the turned size; the
// transform left on the window goes when RGB buffers follow.
TEST_F(Yv12Overlay, TransformsTurnedByTheWindowOrByTheCopy)
{
    enum Mode { kWindowTurns, kCallFails, kCallMissing };
    for (int mode : {kWindowTurns, kCallFails, kCallMissing})
        for (int layout : {0, 1})
            for (int32_t transform = 0; transform < 8; ++transform) {
                SourceFrame src(34, 12, layout, uint32_t(transform * 3 + layout));
                const std::vector<uint32_t> want =
                    rgb_path(src.view, DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED, src.step, transform);
                StandinDisplay d(34, 12, WINDOW_FORMAT_RGBA_8888);
                if (mode == kCallFails)
                    orv_standin_window_fail_transform(d.window, -ENOSYS);
                orv_device_overlay_hide_transform(mode == kCallMissing);
                Render r;
                ASSERT_EQ(orv_device_blit_set_chroma_step(r.blitter(), src.step), ORV_OK);
                ASSERT_EQ(orv_device_blit_set_transform(r.blitter(), transform), ORV_OK);
                ASSERT_EQ(r.want(kYv12), ORV_OK);
                ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
                ASSERT_EQ(r.present(src.view), ORV_OK);
                const std::string what = "mode " + std::to_string(mode) + " layout " +
                                         std::to_string(layout) + " transform " + std::to_string(transform);
                OrvStandinBuffer b = last_posted(d);
                ASSERT_EQ(b.format, kYv12) << what;
                const bool window_turns = mode == kWindowTurns, quarter = (transform & 4) != 0;
                EXPECT_EQ(d.stats().transform, window_turns ? transform : 0) << what;
                EXPECT_EQ(b.width, quarter && !window_turns ? 12 : 34) << what;
                EXPECT_LE(largest_shown_difference(b, want), 3) << what;
                EXPECT_EQ(d.stats().overruns, 0u) << what;
                // RGB from the next frame: the window's transform is cleared,
                // the conversion turns the picture.
                ASSERT_EQ(r.want(WINDOW_FORMAT_RGBX_8888), ORV_OK);
                ASSERT_EQ(r.present(src.view), ORV_OK);
                b = last_posted(d);
                EXPECT_EQ(b.format, WINDOW_FORMAT_RGBX_8888) << what;
                EXPECT_EQ(d.stats().transform, 0) << what;
                EXPECT_EQ(largest_shown_difference(b, want), 0) << what;
            }
}

// A source frame's samples as 10-bit words (8-bit value shifted up by 2,
// garbage in the unused bits): I010 planes, or P010 pairs in the frame's
// chroma order.
struct WordFrame {
    std::vector<uint8_t> y, u, v;
    YuvFrame view{};

    WordFrame(const SourceFrame &src, int samples)
    {
        std::mt19937 garbage{uint32_t(samples)};
        auto widen = [&](const uint8_t *from, size_t n) {
            std::vector<uint8_t> words(2 * n);
            for (size_t i = 0; i < n; ++i) {
                const unsigned g = unsigned(garbage());
                const unsigned w = samples == DEVICE_SAMPLES_10_LOW ? (unsigned(from[i]) << 2 | (g & 0xFC00))
                                                                    : (unsigned(from[i]) << 8 | (g & 0x3F));
                words[2 * i] = uint8_t(w), words[2 * i + 1] = uint8_t(w >> 8);
            }
            return words;
        };
        const YuvFrame &f = src.view;
        view = f;
        y = widen(f.y, size_t(f.y_stride) * size_t(f.height));
        view.y = y.data(), view.y_stride *= 2;
        const size_t c_bytes = size_t(f.u_stride) * size_t(f.height / 2);
        if (src.step == 1) {
            u = widen(f.u, c_bytes), v = widen(f.v, c_bytes);
            view.u = u.data(), view.v = v.data();
        } else {
            const uint8_t *first = std::min(f.u, f.v);
            u = widen(first, c_bytes);
            view.u = u.data() + (f.u == first ? 0 : 2), view.v = u.data() + (f.v == first ? 0 : 2);
        }
        view.u_stride *= 2, view.v_stride *= 2;
    }
};

// 10-bit frames reach a YV12 window rounded to 8 bits, planar or P010, also
// turned by the copy; strides short of the words are refused, nothing posted.
TEST_F(Yv12Overlay, TenBitSamplesRoundedIntoThePlanes)
{
    for (int samples : {DEVICE_SAMPLES_10_LOW, DEVICE_SAMPLES_10_HIGH})
        for (int layout = 0; layout < 3; ++layout)
            for (int32_t transform : {0, 5}) {
                SourceFrame src(34, 12, layout, uint32_t(samples * 10 + layout));
                const WordFrame words(src, samples);
                StandinDisplay eight(34, 12, WINDOW_FORMAT_RGBA_8888), ten(34, 12, WINDOW_FORMAT_RGBA_8888);
                std::vector<uint32_t> shown[2];
                for (int run = 0; run < 2; ++run) {
                    StandinDisplay &d = run ? ten : eight;
                    orv_standin_window_fail_transform(d.window, -ENOSYS); // turned in the copy
                    Render r;
                    ASSERT_EQ(orv_device_blit_set_chroma_step(r.blitter(), src.step), ORV_OK);
                    ASSERT_EQ(orv_device_blit_set_transform(r.blitter(), transform), ORV_OK);
                    if (run) {
                        ASSERT_EQ(orv_device_blit_set_samples(r.blitter(), samples), ORV_OK);
                    }
                    ASSERT_EQ(r.want(kYv12), ORV_OK);
                    ASSERT_EQ(r.render->set_surface(r.render, d.vm, d.surface), ORV_OK);
                    ASSERT_EQ(r.present(run ? words.view : src.view), ORV_OK);
                    const OrvStandinBuffer b = last_posted(d);
                    ASSERT_EQ(b.format, kYv12);
                    for (int y = 0; y < b.shown_height; ++y)
                        for (int x = 0; x < b.shown_width; ++x)
                            shown[run].push_back(orv_standin_buffer_argb(&b, x, y));
                    if (run && transform == 0) {
                        // Not turned: the planes are the 8-bit source's, byte for byte.
                        EXPECT_EQ(planes_match(b.bits, b.stride, b.height, src.planes), "")
                            << samples << " layout " << layout;
                        // A luma stride that covers the row in bytes, not in words.
                        YuvFrame short_rows = words.view;
                        short_rows.y_stride = short_rows.width + 4;
                        const uint64_t posted = d.stats().posted;
                        EXPECT_EQ(r.present(short_rows), ORV_ERR_INVALID_PARAM);
                        EXPECT_EQ(d.stats().posted, posted);
                    }
                }
                EXPECT_EQ(shown[1], shown[0])
                    << "samples " << samples << " layout " << layout << " transform " << transform;
            }
}

TEST_F(Yv12Overlay, RefusesUnknownFormats)
{
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_NE(m, nullptr);
    for (int32_t bad : {3, 5, -1, 0x32315658, 0x3231564E /* NV12 fourcc */})
        EXPECT_EQ(DeviceRendModuleSetWindowFormat(m, bad), ORV_ERR_INVALID_PARAM) << bad;
    EXPECT_EQ(DeviceRendModuleSetWindowFormat(nullptr, kYv12), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(DeviceRendModuleGetWindowFormat(nullptr), 0);
    EXPECT_EQ(DeviceRendModuleGetWindowFormat(m), 0);
    for (int32_t good :
         {DEVICE_WINDOW_AUTO, DEVICE_WINDOW_RGBA, DEVICE_WINDOW_RGBX, DEVICE_WINDOW_RGB565, kYv12})
        EXPECT_EQ(DeviceRendModuleSetWindowFormat(m, good), ORV_OK) << good;
    m->destroy(m);
}

// ---- format changes while the render thread draws ----------------------------

// Sorts each posted buffer: whole YV12 planes of the frame, whole RGBA
// pixels of the frame, or anything else (a mixed frame: a failure).
struct Sorter {
    const HostFrame *frame = nullptr;
    std::vector<uint8_t> rgba;
    std::atomic<int> yv12{0}, rgb{0}, mixed{0};

    static void hook(void *ctx, const OrvStandinBuffer *b)
    {
        auto *s = static_cast<Sorter *>(ctx);
        bool whole = false;
        if (b->format == kYv12) {
            whole = planes_match(b->bits, b->stride, b->height, *s->frame).empty();
            (whole ? s->yv12 : s->mixed)++;
            return;
        }
        whole = b->format == WINDOW_FORMAT_RGBA_8888;
        for (int y = 0; whole && y < b->height; ++y)
            whole = std::memcmp(b->bits + size_t(y) * b->stride * 4,
                                s->rgba.data() + size_t(y) * b->width * 4, size_t(b->width) * 4) == 0;
        (whole ? s->rgb : s->mixed)++;
    }
};

TEST_F(Yv12Overlay, FormatChangesWhileRenderingSwitchBetweenFrames)
{
    HostFrame f = HostFrame::make(96, 48);
    draw_clip_frame(2, &f);
    Sorter sorter;
    sorter.frame = &f;
    {
        // The RGBA bytes of this frame, from the same path.
        StandinDisplay ref(96, 48, WINDOW_FORMAT_RGBA_8888);
        Render r;
        ASSERT_EQ(r.render->set_surface(r.render, ref.vm, ref.surface), ORV_OK);
        ASSERT_EQ(r.present(f.view()), ORV_OK);
        const OrvStandinBuffer b = last_posted(ref);
        for (int y = 0; y < b.height; ++y)
            sorter.rgba.insert(sorter.rgba.end(), b.bits + size_t(y) * b.stride * 4,
                               b.bits + size_t(y) * b.stride * 4 + size_t(b.width) * 4);
    }
    StandinDisplay d(96, 48, WINDOW_FORMAT_RGBA_8888);
    orv_standin_window_set_post_hook(d.window, &Sorter::hook, &sorter);
    ScriptedHost host;
    host.add_frame(f);
    host.set_tail({ORV_OK, 1, 0});
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_EQ(m->set_host(m, host.context(), host.callbacks()), ORV_OK);
    ASSERT_EQ(m->set_surface(m, d.vm, d.surface), ORV_OK);
    ASSERT_EQ(m->start(m), ORV_OK);
    for (int i = 0; i < 30; ++i) {
        const int32_t format = i % 2 ? kYv12 : DEVICE_WINDOW_AUTO;
        for (int k = 0; k < 10; ++k)
            ASSERT_EQ(
                DeviceRendModuleSetWindowFormat(m, k % 2 ? format : kYv12 + DEVICE_WINDOW_AUTO - format),
                ORV_OK);
        ASSERT_EQ(DeviceRendModuleSetWindowFormat(m, format), ORV_OK);
        const size_t seen = host.count(Call::Release);
        ASSERT_TRUE(host.wait_count(Call::Release, seen + 3)) << host.trace();
        EXPECT_EQ(DeviceRendModuleGetWindowFormat(m), format == kYv12 ? kYv12 : WINDOW_FORMAT_RGBA_8888);
    }
    m->stop(m);
    m->destroy(m);
    EXPECT_EQ(sorter.mixed.load(), 0);
    EXPECT_GE(sorter.yv12.load(), 15);
    EXPECT_GE(sorter.rgb.load(), 15);
    EXPECT_EQ(host.count(Call::Error), 0u);
    EXPECT_EQ(d.stats().overruns, 0u);
}

// A kept NV12 frame redrawn on a new window in YV12 keeps its layout even
// after the host switched back to planar chroma, and YV12 frames count in
// the statistics.
TEST_F(Yv12Overlay, RedrawOfAKeptFrameInYv12)
{
    SourceFrame src(48, 30, 1, 77);
    StandinDisplay a(48, 30, WINDOW_FORMAT_RGBA_8888), b(48, 30, WINDOW_FORMAT_RGBA_8888);
    RenderModule *m = CreateDeviceRendModule(0);
    ASSERT_EQ(DeviceRendModuleSetChromaStep(m, 2), ORV_OK);
    ASSERT_EQ(DeviceRendModuleSetWindowFormat(m, kYv12), ORV_OK);
    ASSERT_EQ(DeviceRendModuleSetRedrawOnAttach(m, 1), ORV_OK);
    // A host with one NV12 frame, handed out once.
    struct OneFrame {
        static ResultCode get(void *ctx, YuvFrame *f, int *release)
        {
            auto *self = static_cast<OneFrame *>(ctx);
            if (self->handed++ > 0)
                return ORV_WOUNLD_BLOCK;
            *f = self->frame;
            *release = 0;
            return ORV_OK;
        }
        YuvFrame frame;
        std::atomic<int> handed{0};
    } host{src.view};
    HostCallbacks cb{};
    cb.get_frame = &OneFrame::get;
    cb.release_frame = [](void *, int, ResultCode) { return ORV_OK; };
    cb.on_event = [](void *, int, int, int) { return ORV_OK; };
    cb.on_started = [](void *) { return ORV_OK; };
    cb.on_error = [](void *, ResultCode, int) { return ORV_OK; };
    ASSERT_EQ(m->set_host(m, &host, &cb), ORV_OK);
    ASSERT_EQ(m->set_surface(m, a.vm, a.surface), ORV_OK);
    ASSERT_EQ(m->start(m), ORV_OK);
    for (int i = 0; i < 5000 && a.stats().posted < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(a.stats().posted, 1u);
    ASSERT_EQ(DeviceRendModuleSetChromaStep(m, 1), ORV_OK);
    ASSERT_EQ(m->set_surface(m, nullptr, nullptr), ORV_OK);
    ASSERT_EQ(m->set_surface(m, b.vm, b.surface), ORV_OK);
    for (int i = 0; i < 5000 && b.stats().posted < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m->stop(m);
    ASSERT_EQ(b.stats().posted, 1u);
    const OrvStandinBuffer redrawn = last_posted(b);
    EXPECT_EQ(redrawn.format, kYv12);
    EXPECT_EQ(planes_match(redrawn.bits, redrawn.stride, redrawn.height, src.planes), "");
    DeviceRenderStats st{};
    ASSERT_EQ(DeviceRendModuleGetStats(m, &st), ORV_OK);
    EXPECT_EQ(st.frames_presented, 1u);
    EXPECT_EQ(st.frames_redrawn, 1u);
    EXPECT_EQ(st.window_format, kYv12);
    m->destroy(m);
}

} // namespace
