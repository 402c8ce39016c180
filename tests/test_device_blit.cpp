// The blitter against a model built from the scalar pixel models: vector
// columns, tails, strides, chroma rows and the error carry across frames and
// width changes; bad input; and accuracy against libyuv where it is present.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_device_blit.h"
#include "kernels/kernels.h"
#include "yuv_model.h"

#ifdef ORV_HAVE_LIBYUV
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#endif

namespace {

using namespace yuv_model;

struct TestFrame {
    int width = 0, height = 0;
    int y_stride = 0, c_stride = 0;
    std::vector<uint8_t> y, u, v;

    TestFrame(int w, int h, int pad) : width(w), height(h)
    {
        y_stride = w + pad;
        c_stride = (w + 1) / 2 + pad;
        y.assign(size_t(y_stride) * h, 0);
        u.assign(size_t(c_stride) * ((h + 1) / 2), 0);
        v.assign(u.size(), 0);
    }
    uint8_t &Y(int x, int r) { return y[size_t(r) * y_stride + x]; }
    uint8_t &U(int x, int r) { return u[size_t(r / 2) * c_stride + x / 2]; }
    uint8_t &V(int x, int r) { return v[size_t(r / 2) * c_stride + x / 2]; }
    YuvFrame view() const
    {
        return {y.data(), u.data(), v.data(), y_stride, c_stride, c_stride, width, height};
    }
};

TestFrame random_frame(std::mt19937 &rng, int w, int h, int pad)
{
    TestFrame f(w, h, pad);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto *plane : {&f.y, &f.u, &f.v})
        for (auto &b : *plane)
            b = uint8_t(byte(rng));
    return f;
}

TestFrame flat_frame(int w, int h, uint8_t Y, uint8_t U, uint8_t V)
{
    TestFrame f(w, h, 0);
    std::fill(f.y.begin(), f.y.end(), Y);
    std::fill(f.u.begin(), f.u.end(), U);
    std::fill(f.v.begin(), f.v.end(), V);
    return f;
}

// What the blitter should draw: lane arithmetic below the last whole group of
// 16, Q13 after it, and one logical carry per column. A width change keeps
// the carries of the columns both widths share.
// With a colour, its lane block and tail weights; without, the library's
// original BT.601 numbers written out (the defaults must not move).
struct BlitModel {
    std::vector<std::array<uint8_t, 3>> carry;
    int carry_width = 0;
    const YuvColourCoefficients *colour = nullptr;

    void set_width(int width)
    {
        if (width == carry_width)
            return;
        if (carry.size() < size_t(width))
            carry.resize(width, {0, 0, 0});
        for (size_t x = std::min(width, carry_width); x < carry.size(); ++x)
            carry[x] = {0, 0, 0};
        carry_width = width;
    }

    void draw(TestFrame &f, std::vector<uint8_t> &dst, int stride, int bpp)
    {
        if (bpp == 16)
            set_width(f.width);
        const int width16 = f.width / 16 * 16;
        for (int r = 0; r < f.height; ++r) {
            for (int x = 0; x < f.width; ++x) {
                const uint8_t Y = f.Y(x, r), U = f.U(x, r), V = f.V(x, r);
                Rgb c = colour
                            ? (x < width16 ? lane_pixel(Y, U, V, colour->lanes)
                                           : tail_pixel(Y, U, V, colour->tail))
                            : (x < width16 ? lane_pixel(Y, U, V, orv_yuv_coefficients) : tail_pixel(Y, U, V));
                uint8_t *p = &dst[size_t(r) * stride];
                if (bpp == 32) {
                    p[4 * x] = c.r, p[4 * x + 1] = c.g, p[4 * x + 2] = c.b, p[4 * x + 3] = 0xFF;
                } else {
                    auto &e = carry[x];
                    uint8_t cr = add_sat(c.r, e[0]), cg = add_sat(c.g, e[1]), cb = add_sat(c.b, e[2]);
                    e = {uint8_t(cr & 7), uint8_t(cg & 3), uint8_t(cb & 7)};
                    uint16_t px = pack565(cr, cg, cb);
                    p[2 * x] = uint8_t(px), p[2 * x + 1] = uint8_t(px >> 8);
                }
            }
        }
    }
};

struct Blitter {
    DeviceBlitOps *ops = orv_device_blit_create();
    ~Blitter() { ops->destroy(ops); }
    ResultCode update(const TestFrame &f)
    {
        YuvFrame v = f.view();
        return ops->update_buffer(ops, &v);
    }
    ResultCode blit(const TestFrame &f, std::vector<uint8_t> &dst, int stride, int bpp)
    {
        YuvFrame v = f.view();
        return ops->blit(ops, &v, dst.data(), stride, bpp);
    }
    ResultCode blit(const YuvFrame &v, std::vector<uint8_t> &dst, int stride, int bpp)
    {
        return ops->blit(ops, &v, dst.data(), stride, bpp);
    }
    // Field 4 of the object: the word after the three slots.
    const uint8_t *dither() const { return reinterpret_cast<uint8_t *const *>(ops)[3]; }
};

// The chroma of a frame as one plane of pairs, Cb first (NV12) or Cr first
// (NV21), with its own padding; view() points u and v one byte apart.
struct SemiPlanar {
    const TestFrame *planes;
    bool cb_first;
    int stride;
    std::vector<uint8_t> pairs;

    SemiPlanar(const TestFrame &f, bool nv12, int pad) : planes(&f), cb_first(nv12)
    {
        const int cw = (f.width + 1) / 2, ch = (f.height + 1) / 2;
        stride = 2 * cw + pad;
        pairs.assign(size_t(stride) * ch, 0x77);
        for (int r = 0; r < ch; ++r)
            for (int i = 0; i < cw; ++i) {
                pairs[size_t(r) * stride + 2 * i + (nv12 ? 0 : 1)] = f.u[size_t(r) * f.c_stride + i];
                pairs[size_t(r) * stride + 2 * i + (nv12 ? 1 : 0)] = f.v[size_t(r) * f.c_stride + i];
            }
    }
    YuvFrame view() const
    {
        YuvFrame v = planes->view();
        v.u = pairs.data() + (cb_first ? 0 : 1);
        v.v = pairs.data() + (cb_first ? 1 : 0);
        v.u_stride = v.v_stride = stride;
        return v;
    }
};

struct ColourCase {
    int matrix, range;
    const char *name;
};
constexpr ColourCase kColours[] = {{DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED, "BT.601 limited"},
                                   {DEVICE_MATRIX_BT601, DEVICE_RANGE_FULL, "BT.601 full"},
                                   {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, "BT.709 limited"},
                                   {DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL, "BT.709 full"},
                                   {DEVICE_MATRIX_BT2020, DEVICE_RANGE_LIMITED, "BT.2020 limited"},
                                   {DEVICE_MATRIX_BT2020, DEVICE_RANGE_FULL, "BT.2020 full"}};

uint16_t px565(const std::vector<uint8_t> &dst, int stride, int x, int r)
{
    return uint16_t(dst[size_t(r) * stride + 2 * x] | dst[size_t(r) * stride + 2 * x + 1] << 8);
}

uint32_t px32(const std::vector<uint8_t> &dst, int stride, int x, int r)
{
    uint32_t w;
    std::memcpy(&w, &dst[size_t(r) * stride + 4 * x], 4);
    return w;
}

class DeviceBlitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK);
        live_before_ = orv_mem_live_count();
    }
    void TearDown() override { EXPECT_EQ(orv_mem_live_count(), live_before_) << "blocks left behind"; }
    size_t live_before_ = 0;
};

TEST_F(DeviceBlitTest, MatchesModelAcrossSizesStridesAndFrames)
{
    std::mt19937 rng(11);
    // Widths around the group size, odd sizes, and width changes in both
    // directions, which move the carries between vector blocks and tail slots
    // (the first frame after update_buffer is already wider than it). Random
    // chroma rows show which chroma row each luma row used.
    const std::array<int, 2> sizes[] = {{24, 3}, {1, 1},   {2, 2},  {15, 3}, {16, 4},  {17, 5}, {31, 2},
                                        {33, 7}, {350, 5}, {64, 3}, {17, 2}, {129, 9}, {40, 1}};
    for (int bpp : {16, 32}) {
        Blitter b;
        BlitModel model;
        ASSERT_EQ(b.update(TestFrame(20, 1, 0)), ORV_OK);
        model.set_width(20);
        for (auto [w, h] : sizes) {
            for (int frame = 0; frame < 2; ++frame) {
                int pad = frame * 13;
                TestFrame f = random_frame(rng, w, h, pad);
                const int stride = w * bpp / 8 + pad * 2;
                std::vector<uint8_t> got(size_t(stride) * h, 0xA5), want = got;
                ASSERT_EQ(b.blit(f, got, stride, bpp), ORV_OK);
                model.draw(f, want, stride, bpp);
                auto m = std::mismatch(got.begin(), got.end(), want.begin());
                ASSERT_TRUE(m.first == got.end())
                    << bpp << " bpp " << w << "x" << h << " frame " << frame << ": byte "
                    << (m.first - got.begin()) << " (row " << (m.first - got.begin()) / stride << ") got "
                    << int(*m.first) << " want " << int(*m.second);
            }
        }
    }
}

// The plain picture turned as the transform asks, worked out the long way:
// the flips on a copy, then a clockwise quarter turn (out(X, Y) = in(Y, H - 1 - X)).
std::vector<uint8_t> turned(const std::vector<uint8_t> &plain, int stride, int w, int h, int bpp,
                            int transform, int out_stride)
{
    const int n = bpp / 8;
    std::vector<uint8_t> img(size_t(w) * h * n);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) {
            const int sx = transform & DEVICE_TRANSFORM_MIRROR_H ? w - 1 - x : x;
            const int sr = transform & DEVICE_TRANSFORM_MIRROR_V ? h - 1 - r : r;
            std::memcpy(&img[(size_t(r) * w + x) * n], &plain[size_t(sr) * stride + size_t(sx) * n], n);
        }
    const bool quarter = transform & DEVICE_TRANSFORM_ROTATE_90;
    const int ow = quarter ? h : w, oh = quarter ? w : h;
    std::vector<uint8_t> out(size_t(out_stride) * oh, 0xA5);
    for (int Y = 0; Y < oh; ++Y)
        for (int X = 0; X < ow; ++X) {
            const int x = quarter ? Y : X, r = quarter ? h - 1 - X : Y;
            std::memcpy(&out[size_t(Y) * out_stride + size_t(X) * n], &img[(size_t(r) * w + x) * n], n);
        }
    return out;
}

// Every transform against the plain output of a twin blitter, frame after
// frame, so the RGB565 carry must also run on as without a transform. Sizes
// cross the turn block's bands and runs, the group of 16, single rows and
// columns; the window rows are padded (the padding must stay untouched) and
// start anywhere in a cache line, so a quarter turn's first band (cut to end
// on a line) takes every height. Planar, NV12 and NV21 (the quarter turns' split bands differ by layout).
TEST_F(DeviceBlitTest, EveryTransformIsThePlainOutputTurned)
{
    for (int layout = 0; layout < 3; ++layout) {
        SCOPED_TRACE(layout == 0 ? "planar" : layout == 1 ? "nv12" : "nv21");
        std::mt19937 rng(25);
        std::vector<std::array<int, 2>> sizes = {{1, 1},   {1, 37},   {37, 1},   {16, 16},
                                                 {17, 33}, {2, 2},    {300, 70}, {129, 65},
                                                 {64, 48}, {2100, 3}, {15, 130}, {1, 2}};
        std::uniform_int_distribution<int> side(1, 200), pad_of(0, 9), lead_of(0, 31);
        for (int i = 0; i < 6; ++i)
            sizes.push_back({side(rng), side(rng)});
        for (int bpp : {16, 32}) {
            for (int transform = 0; transform < 8; ++transform) {
                Blitter plain, turner;
                ASSERT_EQ(orv_device_blit_set_transform(turner.ops, transform), ORV_OK);
                if (layout > 0) {
                    ASSERT_EQ(orv_device_blit_set_chroma_step(plain.ops, 2), ORV_OK);
                    ASSERT_EQ(orv_device_blit_set_chroma_step(turner.ops, 2), ORV_OK);
                }
                for (auto [w, h] : sizes) {
                    for (int frame = 0; frame < 2; ++frame) {
                        const TestFrame planes = random_frame(rng, w, h, pad_of(rng));
                        const SemiPlanar semi(planes, layout == 1, pad_of(rng));
                        const YuvFrame v = layout == 0 ? planes.view() : semi.view();
                        const bool quarter = transform & DEVICE_TRANSFORM_ROTATE_90;
                        const int stride = w * bpp / 8 + pad_of(rng) * 2;
                        const int out_w = quarter ? h : w, out_h = quarter ? w : h;
                        const int out_stride = out_w * bpp / 8 + pad_of(rng) * 2;
                        const size_t lead = size_t(lead_of(rng)) * size_t(bpp / 8);
                        std::vector<uint8_t> want(size_t(stride) * h, 0xA5),
                            window(lead + size_t(out_stride) * out_h, 0xA5);
                        uint8_t *got = window.data() + lead;
                        ASSERT_EQ(plain.blit(v, want, stride, bpp), ORV_OK);
                        // The slot follows the setting; draw takes the transform given.
                        if (frame == 0) {
                            ASSERT_EQ(turner.ops->blit(turner.ops, &v, got, out_stride, bpp), ORV_OK);
                        } else {
                            ASSERT_EQ(orv_device_blit_draw(turner.ops, &v, got, out_stride, bpp, transform),
                                      ORV_OK);
                        }
                        const std::vector<uint8_t> expect =
                            turned(want, stride, w, h, bpp, transform, out_stride);
                        ASSERT_TRUE(std::all_of(window.data(), got, [](uint8_t b) { return b == 0xA5; }))
                            << "wrote before the window at lead " << lead;
                        const uint8_t *end = window.data() + window.size();
                        auto m = std::mismatch(static_cast<const uint8_t *>(got), end, expect.begin());
                        ASSERT_TRUE(m.first == end)
                            << bpp << " bpp transform " << transform << " " << w << "x" << h << " frame "
                            << frame << " lead " << lead << ": byte " << (m.first - got) << " (row "
                            << (m.first - got) / out_stride << ") got " << int(*m.first) << " want "
                            << int(*m.second);
                    }
                }
                int32_t pw = 0, tw = 0;
                uint32_t pb = 0, tb = 0;
                const uint8_t *pc = orv_device_blit_carry(plain.ops, &pw, &pb);
                const uint8_t *tc = orv_device_blit_carry(turner.ops, &tw, &tb);
                ASSERT_EQ(pb, tb);
                if (bpp == 16) {
                    EXPECT_EQ(std::memcmp(pc, tc, pb), 0) << "carry after transform " << transform;
                }
            }
        }
    }
}

// A transform set between frames is taken up whole by the next one; a bad
// value changes nothing, and draw refuses one without touching the window.
TEST_F(DeviceBlitTest, TransformSettingAndBadValues)
{
    std::mt19937 rng(3);
    Blitter b;
    TestFrame f = random_frame(rng, 20, 6, 0);
    for (int bad : {-1, 8, 100, INT32_MIN})
        EXPECT_EQ(orv_device_blit_set_transform(b.ops, bad), ORV_ERR_INVALID_PARAM) << bad;
    EXPECT_EQ(orv_device_blit_set_transform(nullptr, 1), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_device_blit_settings(b.ops).transform, 0);
    ASSERT_EQ(orv_device_blit_set_transform(b.ops, DEVICE_TRANSFORM_ROTATE_270), ORV_OK);
    ASSERT_EQ(orv_device_blit_set_colour(b.ops, DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL), ORV_OK);
    EXPECT_EQ(orv_device_blit_settings(b.ops).transform,
              DEVICE_TRANSFORM_ROTATE_270); // kept by the other setter
    EXPECT_EQ(orv_device_blit_set_transform(b.ops, 9), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_device_blit_settings(b.ops).transform, DEVICE_TRANSFORM_ROTATE_270);
    EXPECT_EQ(orv_device_blit_settings(b.ops).matrix, DEVICE_MATRIX_BT709);
    std::vector<uint8_t> dst(20 * 6 * 4, 0x5A);
    const YuvFrame v = f.view();
    EXPECT_EQ(orv_device_blit_draw(b.ops, &v, dst.data(), 6 * 4, 32, 8), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_device_blit_draw(b.ops, &v, dst.data(), 6 * 4, 32, -3), ORV_ERR_INVALID_PARAM);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t c) { return c == 0x5A; }));
}

TEST_F(DeviceBlitTest, NamedColoursInTheTail)
{
    struct Case {
        uint8_t y, u, v;
        uint16_t rgb565;
        uint32_t rgb32;
    };
    const Case cases[] = {{16, 128, 128, 0x0000, 0xFF000000},
                          {235, 128, 128, 0xFFFF, 0xFFFFFFFF},
                          {81, 90, 240, 0xF800, 0xFF0000FF},
                          {145, 54, 34, 0x07E0, 0xFF00FF00},
                          {41, 240, 110, 0x001F, 0xFFFF0000}};
    for (const Case &c : cases) {
        TestFrame f = flat_frame(15, 1, c.y, c.u, c.v);
        Blitter b16, b32;
        std::vector<uint8_t> d16(30), d32(60);
        ASSERT_EQ(b16.update(f), ORV_OK);
        ASSERT_EQ(b16.blit(f, d16, 30, 16), ORV_OK);
        ASSERT_EQ(b32.blit(f, d32, 60, 32), ORV_OK);
        for (int x = 0; x < 15; ++x) {
            EXPECT_EQ(px565(d16, 30, x, 0), c.rgb565) << "Y " << int(c.y) << " column " << x;
            EXPECT_EQ(px32(d32, 60, x, 0), c.rgb32) << "Y " << int(c.y) << " column " << x;
        }
    }

    // Grey 130: 0x8410 with carries 2, 2, 2, then 0x8430 below it. At width
    // 17 the one tail column keeps its carry at byte 16 * 8 of the buffer.
    TestFrame grey = flat_frame(17, 2, 128, 128, 128);
    Blitter b;
    std::vector<uint8_t> dst(34 * 2);
    ASSERT_EQ(b.update(grey), ORV_OK);
    ASSERT_EQ(b.blit(grey, dst, 34, 16), ORV_OK);
    EXPECT_EQ(px565(dst, 34, 16, 0), 0x8410);
    EXPECT_EQ(px565(dst, 34, 16, 1), 0x8430);
    int16_t carry[3];
    std::memcpy(carry, b.dither() + 128, 6);
    EXPECT_EQ(carry[0], 4);
    EXPECT_EQ(carry[1], 0);
    EXPECT_EQ(carry[2], 4);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(b.dither()[x], 4) << "vector red carry, column " << x;
}

TEST_F(DeviceBlitTest, BadInputWritesNothing)
{
    Blitter b;
    TestFrame f = flat_frame(32, 4, 128, 128, 128);
    std::vector<uint8_t> dst(32 * 4 * 4, 0x5A);
    const std::vector<uint8_t> untouched = dst;
    auto blit_view = [&](YuvFrame v, int bpp) { return b.ops->blit(b.ops, &v, dst.data(), 128, bpp); };
    YuvFrame v = f.view();

    EXPECT_EQ(blit_view(v, 24), ORV_OK);
    EXPECT_EQ(blit_view(v, 0), ORV_OK);
    YuvFrame empty = v;
    empty.height = 0;
    EXPECT_EQ(blit_view(empty, 32), ORV_OK);
    empty = v, empty.width = 0;
    EXPECT_EQ(blit_view(empty, 16), ORV_OK);
    YuvFrame bad = v;
    bad.width = -16;
    EXPECT_EQ(blit_view(bad, 16), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(b.ops->update_buffer(b.ops, &bad), ORV_ERR_INVALID_PARAM);
    bad = v, bad.height = -1;
    EXPECT_EQ(blit_view(bad, 32), ORV_ERR_INVALID_PARAM);
    bad = v, bad.u = nullptr;
    EXPECT_EQ(blit_view(bad, 32), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(b.ops->blit(b.ops, nullptr, dst.data(), 128, 32), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(b.ops->blit(b.ops, &v, nullptr, 128, 32), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(b.ops->update_buffer(b.ops, nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(dst, untouched);

    // A carry the allocator cannot hold is refused before any row is read.
    YuvFrame huge = v;
    huge.width = INT32_MAX / 8;
    huge.height = 1;
    EXPECT_EQ(b.ops->update_buffer(b.ops, &huge), ORV_FAIL);
    EXPECT_EQ(blit_view(huge, 16), ORV_FAIL);
    huge.width = INT32_MAX;
    EXPECT_EQ(blit_view(huge, 16), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(dst, untouched);

    EXPECT_EQ(b.ops->destroy(nullptr), ORV_OK);
}

// Every matrix and range against the model, and the same samples as NV12
// and NV21 giving the planar bytes, carry included, frame after frame.
TEST_F(DeviceBlitTest, EveryColourAndChromaLayoutMatchesTheModel)
{
    std::mt19937 rng(23);
    const std::array<int, 2> sizes[] = {{17, 5}, {64, 4}, {15, 3}, {33, 3}, {350, 2}, {48, 1}};
    for (const ColourCase &cc : kColours) {
        for (int bpp : {16, 32}) {
            Blitter planar, nv12, nv21;
            ASSERT_EQ(orv_device_blit_set_colour(planar.ops, cc.matrix, cc.range), ORV_OK);
            for (Blitter *b : {&nv12, &nv21}) {
                ASSERT_EQ(orv_device_blit_set_colour(b->ops, cc.matrix, cc.range), ORV_OK);
                ASSERT_EQ(orv_device_blit_set_chroma_step(b->ops, 2), ORV_OK);
            }
            BlitModel model;
            model.colour = orv_yuv_colour_coefficients(cc.matrix, cc.range);
            for (auto [w, h] : sizes) {
                TestFrame f = random_frame(rng, w, h, w % 3);
                const int stride = w * bpp / 8;
                std::vector<uint8_t> want(size_t(stride) * h, 0xA5), got = want, got12 = want, got21 = want;
                model.draw(f, want, stride, bpp);
                ASSERT_EQ(planar.blit(f, got, stride, bpp), ORV_OK);
                ASSERT_EQ(nv12.blit(SemiPlanar(f, true, 5).view(), got12, stride, bpp), ORV_OK);
                ASSERT_EQ(nv21.blit(SemiPlanar(f, false, 0).view(), got21, stride, bpp), ORV_OK);
                auto m = std::mismatch(got.begin(), got.end(), want.begin());
                ASSERT_TRUE(m.first == got.end())
                    << cc.name << " " << bpp << " bpp " << w << "x" << h << ": byte "
                    << (m.first - got.begin()) << " got " << int(*m.first) << " want " << int(*m.second);
                EXPECT_EQ(got12, got) << cc.name << " NV12 " << bpp << " bpp " << w << "x" << h;
                EXPECT_EQ(got21, got) << cc.name << " NV21 " << bpp << " bpp " << w << "x" << h;
            }
        }
    }
}

TEST_F(DeviceBlitTest, BadColourSettingsChangeNothing)
{
    std::mt19937 rng(31);
    TestFrame f = random_frame(rng, 37, 4, 0);
    Blitter fresh, poked;
    for (auto [m, r] : {std::pair{3, 0}, {-1, 0}, {0, 2}, {0, -1}, {1, 7}})
        EXPECT_EQ(orv_device_blit_set_colour(poked.ops, m, r), ORV_ERR_INVALID_PARAM) << m << "/" << r;
    for (int step : {0, 3, -1, 16})
        EXPECT_EQ(orv_device_blit_set_chroma_step(poked.ops, step), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_device_blit_set_colour(nullptr, 0, 0), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_device_blit_set_chroma_step(nullptr, 1), ORV_ERR_INVALID_PARAM);
    std::vector<uint8_t> a(37 * 4 * 4), b(a.size());
    ASSERT_EQ(fresh.blit(f, a, 37 * 4, 32), ORV_OK);
    ASSERT_EQ(poked.blit(f, b, 37 * 4, 32), ORV_OK);
    EXPECT_EQ(a, b);
    // Setting one part keeps the other: a step after a matrix, and back.
    ASSERT_EQ(orv_device_blit_set_colour(poked.ops, DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL), ORV_OK);
    ASSERT_EQ(orv_device_blit_set_chroma_step(poked.ops, 2), ORV_OK);
    ASSERT_EQ(orv_device_blit_set_chroma_step(poked.ops, 1), ORV_OK);
    ASSERT_EQ(poked.blit(f, b, 37 * 4, 32), ORV_OK);
    BlitModel model;
    model.colour = orv_yuv_colour_coefficients(DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL);
    model.draw(f, a, 37 * 4, 32);
    EXPECT_EQ(a, b);
}

TEST_F(DeviceBlitTest, SemiPlanarNeedsInterleavedChroma)
{
    std::mt19937 rng(8);
    TestFrame f = random_frame(rng, 40, 4, 0);
    Blitter b;
    ASSERT_EQ(orv_device_blit_set_chroma_step(b.ops, 2), ORV_OK);
    std::vector<uint8_t> dst(40 * 4 * 4, 0x5A);
    const std::vector<uint8_t> untouched = dst;
    EXPECT_EQ(b.blit(f, dst, 40 * 4, 32), ORV_ERR_INVALID_PARAM); // two planes
    EXPECT_EQ(b.blit(f, dst, 40 * 4, 16), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(dst, untouched);
}

// Per channel: largest and mean absolute distance from the exact value.
struct ErrorStats {
    double max = 0, sum = 0;
    size_t n = 0;
    void add(double d) { max = std::max(max, d), sum += d, ++n; }
    double mean() const { return n ? sum / double(n) : 0; }
};

// Random bytes, gradients inside the legal range, even and odd sizes.
std::vector<TestFrame> accuracy_frames()
{
    std::mt19937 rng(41);
    std::vector<TestFrame> frames;
    frames.push_back(random_frame(rng, 64, 48, 0));
    frames.push_back(random_frame(rng, 99, 37, 3));
    frames.push_back(random_frame(rng, 31, 7, 1));
    TestFrame g(641, 361, 0);
    for (int r = 0; r < g.height; ++r)
        for (int x = 0; x < g.width; ++x) {
            g.Y(x, r) = uint8_t(16 + (x * 219) / (g.width - 1));
            g.U(x, r) = uint8_t(16 + (r * 224) / (g.height - 1));
            g.V(x, r) = uint8_t(240 - (x * 224) / (g.width - 1));
        }
    frames.push_back(std::move(g));
    return frames;
}

// The conversion's own 8-bit value behind an RGB565 pixel: the quantised
// channel plus the carry it left, less the carry it took. Where the sum
// saturated at 255 the value is only known to be at least the result.
struct Carries {
    const uint8_t *buffer;
    int width;
    int at(int x, int channel) const
    {
        const int width16 = width & ~15;
        if (x < width16)
            return buffer[x / 16 * 48 + channel * 16 + x % 16];
        int16_t e[3];
        std::memcpy(e, buffer + size_t(width16) * 8 + size_t(x - width16) * 6, 6);
        return e[channel];
    }
};

void measure_rgb565(const TestFrame &f, const ColourCase &cc, std::array<ErrorStats, 3> &stats)
{
    Blitter b;
    ASSERT_EQ(orv_device_blit_set_colour(b.ops, cc.matrix, cc.range), ORV_OK);
    ASSERT_EQ(b.update(f), ORV_OK);
    TestFrame &m = const_cast<TestFrame &>(f);
    std::vector<uint8_t> before(size_t(f.width) * 8), dst(size_t(f.width) * 2);
    for (int r = 0; r < f.height; ++r) {
        // One row per frame, so the carries can be read between rows.
        YuvFrame row = f.view();
        row.y += size_t(r) * f.y_stride;
        row.u += size_t(r / 2) * f.c_stride;
        row.v += size_t(r / 2) * f.c_stride;
        row.height = 1;
        std::memcpy(before.data(), b.dither(), before.size());
        ASSERT_EQ(b.ops->blit(b.ops, &row, dst.data(), f.width * 2, 16), ORV_OK);
        const Carries in{before.data(), f.width}, out{b.dither(), f.width};
        for (int x = 0; x < f.width; ++x) {
            const unsigned p = dst[2 * x] | dst[2 * x + 1] << 8;
            const int q[3] = {int(p >> 11) << 3, int(p >> 5 & 63) << 2, int(p & 31) << 3};
            const Exact e = exact_pixel(cc.matrix, cc.range, m.Y(x, r), m.U(x, r), m.V(x, r));
            const double want[3] = {e.r, e.g, e.b};
            for (int c = 0; c < 3; ++c) {
                const int sum = q[c] + out.at(x, c);
                const int value = sum - in.at(x, c);
                double d = std::abs(value - want[c]);
                if (sum == 255)
                    d = std::max(0.0, value - want[c]); // saturated: value is a lower bound
                stats[c].add(d);
            }
        }
    }
}

void measure_rgba(const TestFrame &f, const ColourCase &cc, int step, std::array<ErrorStats, 3> &stats)
{
    Blitter b;
    ASSERT_EQ(orv_device_blit_set_colour(b.ops, cc.matrix, cc.range), ORV_OK);
    ASSERT_EQ(orv_device_blit_set_chroma_step(b.ops, step), ORV_OK);
    std::vector<uint8_t> dst(size_t(f.width) * 4 * f.height);
    SemiPlanar nv12(f, true, 0);
    ASSERT_EQ(b.blit(step == 1 ? f.view() : nv12.view(), dst, f.width * 4, 32), ORV_OK);
    TestFrame &m = const_cast<TestFrame &>(f);
    for (int r = 0; r < f.height; ++r)
        for (int x = 0; x < f.width; ++x) {
            const Exact e = exact_pixel(cc.matrix, cc.range, m.Y(x, r), m.U(x, r), m.V(x, r));
            const double want[3] = {e.r, e.g, e.b};
            for (int c = 0; c < 3; ++c)
                stats[c].add(std::abs(dst[(size_t(r) * f.width + x) * 4 + c] - want[c]));
        }
}

// Within 2 of the exact conversion on every channel, under 0.5 on average,
// for every matrix and range, in both output formats.
TEST_F(DeviceBlitTest, AccurateForEveryMatrixAndRange)
{
    const std::vector<TestFrame> frames = accuracy_frames();
    std::printf("accuracy against exact floating point (max / mean absolute error, R G B):\n");
    for (const ColourCase &cc : kColours) {
        std::array<ErrorStats, 3> rgba{}, nv12{}, rgb565{};
        for (const TestFrame &f : frames) {
            measure_rgba(f, cc, 1, rgba);
            measure_rgba(f, cc, 2, nv12);
            measure_rgb565(f, cc, rgb565);
            if (HasFatalFailure())
                return;
        }
        for (auto [what, st] : {std::pair{"RGBA", &rgba}, {"NV12 RGBA", &nv12}, {"RGB565+carry", &rgb565}}) {
            std::printf("  %-16s %-13s", cc.name, what);
            for (int c = 0; c < 3; ++c)
                std::printf("  %.2f / %.3f", (*st)[c].max, (*st)[c].mean());
            std::printf("\n");
            for (int c = 0; c < 3; ++c) {
                EXPECT_LE((*st)[c].max, 2.0) << cc.name << " " << what << " channel " << c;
                EXPECT_LT((*st)[c].mean(), 0.5) << cc.name << " " << what << " channel " << c;
            }
        }
    }
}

// BT.601 limited range in floating point, rounded and clamped.
std::array<int, 3> exact_bt601(int Y, int U, int V)
{
    const double l = 1.164 * (Y - 16), u = U - 128, v = V - 128;
    const double c[3] = {l + 1.596 * v, l - 0.391 * u - 0.813 * v, l + 2.018 * u};
    std::array<int, 3> out;
    for (int i = 0; i < 3; ++i)
        out[i] = int(std::lround(std::clamp(c[i], 0.0, 255.0)));
    return out;
}

// Every (Y, Cb) pair on a grid, each with all 256 Cr values along the row;
// the last 14 columns go through the scalar tail.
TestFrame sweep_frame(int step)
{
    const int n = 255 / step + 1;
    TestFrame f(526, 2 * n * n, 0);
    for (int k = 0; k < n * n; ++k) {
        const int Y = std::min(255, k / n * step), U = std::min(255, k % n * step);
        for (int x = 0; x < f.width; ++x) {
            f.Y(x, 2 * k) = f.Y(x, 2 * k + 1) = uint8_t(Y);
            f.U(x, 2 * k) = uint8_t(U);
            f.V(x, 2 * k) = uint8_t(x / 2 % 256);
        }
    }
    return f;
}

std::vector<uint8_t> draw32(const TestFrame &f)
{
    std::vector<uint8_t> out(size_t(f.width) * 4 * f.height);
    Blitter b;
    YuvFrame v = f.view();
    EXPECT_EQ(b.ops->blit(b.ops, &v, out.data(), f.width * 4, 32), ORV_OK);
    return out;
}

TEST_F(DeviceBlitTest, WithinOneOfBt601)
{
    TestFrame f = sweep_frame(5);
    std::vector<uint8_t> out = draw32(f);
    int worst = 0;
    for (int r = 0; r < f.height; ++r)
        for (int x = 0; x < f.width; ++x) {
            auto want = exact_bt601(f.Y(x, r), f.U(x, r), f.V(x, r));
            for (int c = 0; c < 3; ++c) {
                int d = std::abs(out[(size_t(r) * f.width + x) * 4 + c] - want[c]);
                worst = std::max(worst, d);
                ASSERT_LE(d, 1) << "Y " << int(f.Y(x, r)) << " Cb " << int(f.U(x, r)) << " Cr "
                                << int(f.V(x, r)) << " channel " << c << (x >= 512 ? " (tail)" : "");
            }
        }
}

#ifdef ORV_HAVE_LIBYUV
struct Difference {
    int max = 0;
    double sum = 0;
    size_t n = 0;
    size_t theirs_off = 0; // pixels more than 2 apart where libyuv strays from BT.601
};

// Per-channel difference of our 32-bit output from libyuv's I420ToABGR
// (bytes R, G, B, A; BT.601 limited range, like ours).
void compare_with_libyuv(const TestFrame &f, std::array<Difference, 3> &diff)
{
    const int stride = f.width * 4;
    std::vector<uint8_t> ours = draw32(f), theirs(ours.size());
    ASSERT_EQ(libyuv::I420ToABGR(f.y.data(), f.y_stride, f.u.data(), f.c_stride, f.v.data(), f.c_stride,
                                 theirs.data(), stride, f.width, f.height),
              0);
    TestFrame &m = const_cast<TestFrame &>(f);
    for (int r = 0; r < f.height; ++r)
        for (int x = 0; x < f.width; ++x) {
            const size_t at = size_t(r) * stride + size_t(x) * 4;
            const auto exact = exact_bt601(m.Y(x, r), m.U(x, r), m.V(x, r));
            for (int c = 0; c < 3; ++c) {
                auto &d = diff[c];
                const int delta = std::abs(int(ours[at + c]) - int(theirs[at + c]));
                d.max = std::max(d.max, delta);
                d.sum += delta;
                ++d.n;
                if (delta > 2) {
                    // Allowed only where libyuv is the one off: we stay within 1.
                    ASSERT_LE(std::abs(ours[at + c] - exact[c]), 1)
                        << "x " << x << " row " << r << " ch " << c;
                    ++d.theirs_off;
                }
            }
        }
}

// libyuv's constants for the ABGR byte order (its "Yvu" tables with U and V
// swapped), per matrix and range: I420 and J420, H420 and F420, U420 and V420.
const libyuv::YuvConstants *libyuv_abgr_constants(const ColourCase &cc)
{
    const libyuv::YuvConstants *table[3][2] = {{&libyuv::kYvuI601Constants, &libyuv::kYvuJPEGConstants},
                                               {&libyuv::kYvuH709Constants, &libyuv::kYvuF709Constants},
                                               {&libyuv::kYvu2020Constants, &libyuv::kYvuV2020Constants}};
    return table[cc.matrix][cc.range];
}

// Ours and libyuv's bytes R, G, B, A for one frame in one layout (0 planar,
// 1 NV12, 2 NV21).
void both_abgr(const TestFrame &f, const ColourCase &cc, int layout, std::vector<uint8_t> &ours,
               std::vector<uint8_t> &theirs)
{
    const int stride = f.width * 4;
    ours.assign(size_t(stride) * f.height, 0);
    theirs = ours;
    Blitter b;
    ASSERT_EQ(orv_device_blit_set_colour(b.ops, cc.matrix, cc.range), ORV_OK);
    ASSERT_EQ(orv_device_blit_set_chroma_step(b.ops, layout ? 2 : 1), ORV_OK);
    SemiPlanar semi(f, layout == 1, 0);
    ASSERT_EQ(b.blit(layout ? semi.view() : f.view(), ours, stride, 32), ORV_OK);
    const libyuv::YuvConstants *k = libyuv_abgr_constants(cc);
    int rc = 0;
    if (layout == 0)
        rc = libyuv::I420ToARGBMatrix(f.y.data(), f.y_stride, f.v.data(), f.c_stride, f.u.data(), f.c_stride,
                                      theirs.data(), stride, k, f.width, f.height);
    else if (layout == 1) // NV12 to ABGR is NV21 to ARGB with the swapped table
        rc = libyuv::NV21ToARGBMatrix(f.y.data(), f.y_stride, semi.pairs.data(), semi.stride, theirs.data(),
                                      stride, k, f.width, f.height);
    else
        rc = libyuv::NV12ToARGBMatrix(f.y.data(), f.y_stride, semi.pairs.data(), semi.stride, theirs.data(),
                                      stride, k, f.width, f.height);
    ASSERT_EQ(rc, 0);
}

// The accuracy figures beside libyuv's matching converters, as an outside
// reference: ours and theirs against the exact conversion, and ours against
// theirs. Ours is at least as close to exact as libyuv on every channel.
TEST_F(DeviceBlitTest, ColourFiguresBesideLibyuv)
{
    const std::vector<TestFrame> frames = accuracy_frames();
    const char *layouts[] = {"planar", "NV12", "NV21"};
    std::printf("max / mean absolute error per channel R G B: ours-exact | libyuv-exact | ours-libyuv\n");
    for (const ColourCase &cc : kColours) {
        for (int layout = 0; layout < 3; ++layout) {
            std::array<ErrorStats, 3> ours_exact{}, theirs_exact{}, apart{};
            for (const TestFrame &f : frames) {
                std::vector<uint8_t> ours, theirs;
                both_abgr(f, cc, layout, ours, theirs);
                if (HasFatalFailure())
                    return;
                TestFrame &m = const_cast<TestFrame &>(f);
                for (int r = 0; r < f.height; ++r)
                    for (int x = 0; x < f.width; ++x) {
                        const Exact e = exact_pixel(cc.matrix, cc.range, m.Y(x, r), m.U(x, r), m.V(x, r));
                        const double want[3] = {e.r, e.g, e.b};
                        const size_t at = (size_t(r) * f.width + x) * 4;
                        for (int c = 0; c < 3; ++c) {
                            ours_exact[c].add(std::abs(ours[at + c] - want[c]));
                            theirs_exact[c].add(std::abs(theirs[at + c] - want[c]));
                            apart[c].add(std::abs(int(ours[at + c]) - int(theirs[at + c])));
                        }
                    }
            }
            std::printf("  %-16s %-6s", cc.name, layouts[layout]);
            for (auto *st : {&ours_exact, &theirs_exact, &apart}) {
                std::printf(" |");
                for (int c = 0; c < 3; ++c)
                    std::printf(" %.2f/%.3f", (*st)[c].max, (*st)[c].mean());
            }
            std::printf("\n");
            for (int c = 0; c < 3; ++c)
                EXPECT_LE(ours_exact[c].max, std::max(2.0, theirs_exact[c].max))
                    << cc.name << " " << layouts[layout];
        }
    }
}

TEST_F(DeviceBlitTest, AgreesWithLibyuv)
{
    std::mt19937 rng(5);
    const char *names[] = {"red", "green", "blue"};
    auto report = [&](const char *what, const std::array<Difference, 3> &diff) {
        for (int c = 0; c < 3; ++c)
            std::printf("vs libyuv I420ToABGR, %s, %s: max %d, mean %.3f, %zu of %zu more than 2 apart "
                        "(libyuv off BT.601)\n",
                        what, names[c], diff[c].max, diff[c].sum / double(diff[c].n), diff[c].theirs_off,
                        diff[c].n);
    };
    std::array<Difference, 3> random{}, natural{};
    for (auto [w, h] : {std::array<int, 2>{64, 32}, {350, 202}, {1280, 16}, {17, 9}})
        compare_with_libyuv(random_frame(rng, w, h, 3), random);
    // Smooth gradients inside the legal range, the kind of picture video carries.
    TestFrame g(640, 360, 0);
    for (int r = 0; r < g.height; ++r)
        for (int x = 0; x < g.width; ++x) {
            g.Y(x, r) = uint8_t(16 + (x * 219) / (g.width - 1));
            g.U(x, r) = uint8_t(16 + (r * 224) / (g.height - 1));
            g.V(x, r) = uint8_t(240 - (x * 224) / (g.width - 1));
        }
    compare_with_libyuv(g, natural);
    report("random bytes", random);
    report("gradients", natural);
    for (int c = 0; c < 2; ++c)
        EXPECT_LE(std::max(random[c].max, natural[c].max), 2) << names[c];
}
#endif

} // namespace
