// 10-bit frames (I010 and P010) through the blitter and the render path:
// the whole frame against the model, accuracy against exact arithmetic for
// every matrix and range, agreement with the 8-bit path, ignored bits, the
// finer RGB565 carry, strides refused, sample format switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "kernels/kernels.h"
#include "kernels/ten_bit.h"
#include "orv_device_blit.h"
#include "render_env.h"

namespace {

using orv_test::RuntimeScope;
using orv_test::StandinDisplay;

// Samples of a 4:2:0 frame, and its 16-bit words in either layout (planar,
// or semi-planar with Cb or Cr first), rows padded.
struct Frame10 {
    int width, height, cw, ch;
    std::vector<int> y, cb, cr;

    Frame10(int w, int h) : width(w), height(h), cw((w + 1) / 2), ch((h + 1) / 2)
    {
        y.assign(size_t(w) * h, 0);
        cb.assign(size_t(cw) * ch, 512);
        cr.assign(cb.size(), 512);
    }
};

Frame10 random_frame(std::mt19937 &rng, int w, int h)
{
    Frame10 f(w, h);
    std::uniform_int_distribution<int> s(0, 1023);
    for (auto *p : {&f.y, &f.cb, &f.cr})
        for (int &v : *p)
            v = s(rng);
    return f;
}

struct Words {
    std::vector<uint8_t> y, u, v;
    YuvFrame frame{};
};

void put(std::vector<uint8_t> &b, size_t at, uint16_t w)
{
    b[at] = uint8_t(w), b[at + 1] = uint8_t(w >> 8);
}

// step 2: one plane of pairs, Cb first unless cr_first. garbage fills the
// bits outside the 10 from a fixed seed.
Words words_of(const Frame10 &f, int samples, int step = 1, bool cr_first = false, bool garbage = false,
               int pad = 6)
{
    std::mt19937 rng(77);
    auto word = [&](int s) {
        const uint16_t g = garbage ? uint16_t(rng()) : 0;
        return samples == DEVICE_SAMPLES_10_HIGH ? uint16_t(s << 6 | (g & 0x3F)) : uint16_t(s | (g & 0xFC00));
    };
    Words w;
    const int ys = 2 * f.width + pad, cs = 2 * f.cw * step + pad;
    w.y.assign(size_t(ys) * f.height, 0xEE);
    for (int r = 0; r < f.height; ++r)
        for (int x = 0; x < f.width; ++x)
            put(w.y, size_t(r) * ys + 2 * x, word(f.y[size_t(r) * f.width + x]));
    w.u.assign(size_t(cs) * f.ch + 4, 0xEE);
    w.v = w.u;
    for (int r = 0; r < f.ch; ++r)
        for (int i = 0; i < f.cw; ++i) {
            const int cb = f.cb[size_t(r) * f.cw + i], cr = f.cr[size_t(r) * f.cw + i];
            if (step == 1) {
                put(w.u, size_t(r) * cs + 2 * i, word(cb));
                put(w.v, size_t(r) * cs + 2 * i, word(cr));
            } else {
                put(w.u, size_t(r) * cs + 4 * i + (cr_first ? 2 : 0), word(cb));
                put(w.u, size_t(r) * cs + 4 * i + (cr_first ? 0 : 2), word(cr));
            }
        }
    w.frame = {w.y.data(), w.u.data(), w.v.data(), ys, cs, cs, f.width, f.height};
    if (step == 2) {
        w.frame.u = w.u.data() + (cr_first ? 2 : 0);
        w.frame.v = w.u.data() + (cr_first ? 0 : 2);
    }
    return w;
}

struct Blit {
    DeviceBlitOps *ops = orv_device_blit_create();
    ~Blit() { ops->destroy(ops); }
};

struct Settings {
    int matrix = DEVICE_MATRIX_BT601, range = DEVICE_RANGE_LIMITED, samples = DEVICE_SAMPLES_10_LOW, step = 1;
};

// Draws frames one after another through one blitter: bpp 32 or 16.
std::vector<uint8_t> draw(Blit &b, const YuvFrame &frame, Settings s, int bpp, ResultCode want = ORV_OK)
{
    EXPECT_EQ(orv_device_blit_set_colour(b.ops, s.matrix, s.range), ORV_OK);
    EXPECT_EQ(orv_device_blit_set_samples(b.ops, s.samples), ORV_OK);
    EXPECT_EQ(orv_device_blit_set_chroma_step(b.ops, s.step), ORV_OK);
    const int row = frame.width * bpp / 8;
    std::vector<uint8_t> out(size_t(row) * frame.height, 0x5A);
    EXPECT_EQ(b.ops->blit(b.ops, &frame, out.data(), row, bpp), want);
    return out;
}

std::vector<uint8_t> draw_once(const YuvFrame &frame, Settings s, int bpp)
{
    Blit b;
    return draw(b, frame, s, bpp);
}

// The model over a whole frame: every pixel by kernels/ten_bit.h, the RGB565
// carry running down each column from zero.
std::vector<uint8_t> model_frame(const Frame10 &f, int matrix, int range, int bpp)
{
    const YuvCoefficients &k = *orv_yuv_coefficients10(matrix, range);
    std::vector<uint8_t> out(size_t(f.width) * f.height * (bpp / 8));
    std::vector<uint8_t> carry(size_t(f.width) * 3, 0);
    for (int r = 0; r < f.height; ++r)
        for (int x = 0; x < f.width; ++x) {
            const size_t c = size_t(r / 2) * f.cw + x / 2;
            const orv_ten_bit::Fixed p =
                orv_ten_bit::pixel(f.y[size_t(r) * f.width + x], f.cb[c], f.cr[c], k);
            uint8_t *d = out.data() + (size_t(r) * f.width + x) * (bpp / 8);
            if (bpp == 32) {
                d[0] = orv_ten_bit::to_byte(p.r), d[1] = orv_ten_bit::to_byte(p.g),
                d[2] = orv_ten_bit::to_byte(p.b);
                d[3] = 0xFF;
            } else {
                const uint16_t v = orv_ten_bit::pack565(p, &carry[size_t(x) * 3]);
                d[0] = uint8_t(v), d[1] = uint8_t(v >> 8);
            }
        }
    return out;
}

constexpr int kMatrices[] = {DEVICE_MATRIX_BT601, DEVICE_MATRIX_BT709, DEVICE_MATRIX_BT2020};
constexpr int kRanges[] = {DEVICE_RANGE_LIMITED, DEVICE_RANGE_FULL};

// Kernels, row pairs and scalar tails together give the model's bytes, for
// odd sizes and widths on either side of multiples of 16.
TEST(DeviceTenBit, WholeFramesFollowTheModel)
{
    std::mt19937 rng(10);
    for (int w : {1, 2, 15, 16, 17, 31, 33, 47, 64, 70})
        for (int h : {1, 2, 3, 6}) {
            const Frame10 f = random_frame(rng, w, h);
            const int matrix = kMatrices[(w + h) % 3], range = kRanges[w % 2];
            for (int bpp : {32, 16}) {
                const std::vector<uint8_t> want = model_frame(f, matrix, range, bpp);
                for (int samples : {DEVICE_SAMPLES_10_LOW, DEVICE_SAMPLES_10_HIGH}) {
                    const Words wd = words_of(f, samples);
                    EXPECT_EQ(draw_once(wd.frame, {matrix, range, samples, 1}, bpp), want)
                        << w << "x" << h << " bpp " << bpp << " samples " << samples;
                }
            }
        }
}

// P010 (Cb first, and Cr first) draws what I010 draws for the same samples,
// and no bit outside the 10 changes a byte.
TEST(DeviceTenBit, LayoutsAndUnusedBitsDoNotMatter)
{
    std::mt19937 rng(11);
    const Frame10 f = random_frame(rng, 53, 9);
    for (int bpp : {32, 16}) {
        const Settings i010{DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_LOW, 1};
        const std::vector<uint8_t> want = draw_once(words_of(f, DEVICE_SAMPLES_10_LOW).frame, i010, bpp);
        EXPECT_EQ(draw_once(words_of(f, DEVICE_SAMPLES_10_LOW, 1, false, true).frame, i010, bpp), want);
        for (bool cr_first : {false, true})
            for (bool garbage : {false, true}) {
                const Words p010 = words_of(f, DEVICE_SAMPLES_10_HIGH, 2, cr_first, garbage);
                EXPECT_EQ(draw_once(p010.frame,
                                    {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_HIGH, 2},
                                    bpp),
                          want)
                    << "bpp " << bpp << " cr_first " << cr_first << " garbage " << garbage;
            }
        const Words planar_high = words_of(f, DEVICE_SAMPLES_10_HIGH, 1, false, true);
        EXPECT_EQ(draw_once(planar_high.frame,
                            {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_HIGH, 1}, bpp),
                  want);
    }
}

// Exact conversion of 10-bit samples, clamped to 0-255, not rounded.
void exact10(int matrix, int range, int Y, int U, int V, double out[3])
{
    static const double kr[] = {0.299, 0.2126, 0.2627}, kb[] = {0.114, 0.0722, 0.0593};
    const double r_ = kr[matrix], b_ = kb[matrix], g_ = 1 - r_ - b_;
    const bool full = range == DEVICE_RANGE_FULL;
    const double y = full ? Y / 1023.0 : (Y - 64) / 876.0;
    const double pb = (U - 512) / (full ? 1023.0 : 896.0), pr = (V - 512) / (full ? 1023.0 : 896.0);
    const double R = y + 2 * (1 - r_) * pr, B = y + 2 * (1 - b_) * pb, G = (y - r_ * R - b_ * B) / g_;
    for (int i = 0; i < 3; ++i)
        out[i] = std::clamp((i == 0 ? R : i == 1 ? G : B) * 255.0, 0.0, 255.0);
}

// RGBA within 0.75 of exact arithmetic per channel, 0.3 on average, for all
// six matrix and range pairs (vector columns and tails both).
TEST(DeviceTenBit, RgbaIsAccurateForEveryMatrixAndRange)
{
    std::mt19937 rng(12);
    const Frame10 f = random_frame(rng, 157, 64);
    const Words wd = words_of(f, DEVICE_SAMPLES_10_LOW);
    for (int matrix : kMatrices)
        for (int range : kRanges) {
            const std::vector<uint8_t> got =
                draw_once(wd.frame, {matrix, range, DEVICE_SAMPLES_10_LOW, 1}, 32);
            double worst = 0, sum = 0;
            for (int r = 0; r < f.height; ++r)
                for (int x = 0; x < f.width; ++x) {
                    const size_t c = size_t(r / 2) * f.cw + x / 2;
                    double want[3];
                    exact10(matrix, range, f.y[size_t(r) * f.width + x], f.cb[c], f.cr[c], want);
                    for (int i = 0; i < 3; ++i) {
                        const double e = std::fabs(got[(size_t(r) * f.width + x) * 4 + i] - want[i]);
                        worst = std::max(worst, e), sum += e;
                    }
                }
            const double mean = sum / (3.0 * f.width * f.height);
            EXPECT_LE(worst, 0.75) << "matrix " << matrix << " range " << range;
            EXPECT_LE(mean, 0.3) << "matrix " << matrix << " range " << range;
        }
}

// 8-bit samples shifted into 10-bit words draw within 1 of the 8-bit path
// (within 2 for BT.601 limited, whose 8-bit path keeps its legacy weights).
TEST(DeviceTenBit, ShiftedEightBitSamplesMatchTheEightBitPath)
{
    std::mt19937 rng(13);
    const int w = 77, h = 12, cw = 39, ch = 6;
    std::vector<uint8_t> y8(size_t(w) * h), u8(size_t(cw) * ch), v8(u8.size());
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto *p : {&y8, &u8, &v8})
        for (auto &b : *p)
            b = uint8_t(byte(rng));
    Frame10 f(w, h);
    for (size_t i = 0; i < y8.size(); ++i)
        f.y[i] = y8[i] << 2;
    for (size_t i = 0; i < u8.size(); ++i)
        f.cb[i] = u8[i] << 2, f.cr[i] = v8[i] << 2;
    const YuvFrame eight{y8.data(), u8.data(), v8.data(), w, cw, cw, w, h};
    const Words wd = words_of(f, DEVICE_SAMPLES_10_LOW);
    for (int matrix : kMatrices)
        for (int range : kRanges) {
            const std::vector<uint8_t> want = draw_once(eight, {matrix, range, DEVICE_SAMPLES_8, 1}, 32);
            const std::vector<uint8_t> got =
                draw_once(wd.frame, {matrix, range, DEVICE_SAMPLES_10_LOW, 1}, 32);
            const int limit = matrix == DEVICE_MATRIX_BT601 && range == DEVICE_RANGE_LIMITED ? 2 : 1;
            int worst = 0;
            for (size_t i = 0; i < got.size(); ++i)
                worst = std::max(worst, std::abs(int(got[i]) - int(want[i])));
            EXPECT_LE(worst, limit) << "matrix " << matrix << " range " << range;
        }
}

// A flat field between two 8-bit levels: down a column, the RGB565 fields
// average to the 10-bit level (the carry keeps the sixteenths), where the
// 8-bit path can only reach the nearest 8-bit level.
TEST(DeviceTenBit, CarryKeepsTheFinerLevels)
{
    const int w = 40, h = 128;
    Frame10 f(w, h);
    std::fill(f.y.begin(), f.y.end(), 403); // 100.44 of 255 in full range
    const double exact = 403 * 255.0 / 1023.0;
    Blit b;
    const std::vector<uint8_t> got =
        draw(b, words_of(f, DEVICE_SAMPLES_10_LOW).frame,
             {DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL, DEVICE_SAMPLES_10_LOW, 1}, 16);
    for (int x : {0, 7, 20, 39}) {
        double red = 0, green = 0;
        for (int r = 0; r < h; ++r) {
            const uint16_t p = uint16_t(got[(size_t(r) * w + x) * 2] | got[(size_t(r) * w + x) * 2 + 1] << 8);
            red += (p >> 11) * 8.0, green += (p >> 5 & 63) * 4.0;
        }
        EXPECT_NEAR(red / h, exact, 8.0 / h + 0.01) << "column " << x;
        EXPECT_NEAR(green / h, exact, 4.0 / h + 0.01) << "column " << x;
    }
    // The same field at 8 bits lands on 100: 0.44 off.
    std::vector<uint8_t> y8(size_t(w) * h, 100), c8(size_t(w / 2) * (h / 2), 128);
    const YuvFrame eight{y8.data(), c8.data(), c8.data(), w, w / 2, w / 2, w, h};
    const std::vector<uint8_t> e =
        draw_once(eight, {DEVICE_MATRIX_BT709, DEVICE_RANGE_FULL, DEVICE_SAMPLES_8, 1}, 16);
    double red8 = 0;
    for (int r = 0; r < h; ++r)
        red8 += (uint16_t(e[size_t(r) * w * 2] | e[size_t(r) * w * 2 + 1] << 8) >> 11) * 8.0;
    EXPECT_GT(std::fabs(red8 / h - exact), 0.3);
}

// Strides that cover a row in bytes but not in words, and semi-planar
// pointers one byte apart, are refused before anything is drawn; strides
// that cover it, also negative ones, draw.
TEST(DeviceTenBit, StridesMustCoverRowsInWords)
{
    std::mt19937 rng(14);
    const Frame10 f = random_frame(rng, 33, 6);
    const Words wd = words_of(f, DEVICE_SAMPLES_10_LOW, 1, false, false, 0);
    const Settings s{DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_LOW, 1};
    const std::vector<uint8_t> untouched(size_t(33) * 4 * 6, 0x5A);
    for (int which = 0; which < 3; ++which) {
        YuvFrame bad = wd.frame;
        int32_t &stride = which == 0 ? bad.y_stride : which == 1 ? bad.u_stride : bad.v_stride;
        stride -= 1; // still at least the width in bytes
        ASSERT_GE(stride, which == 0 ? 33 : 17);
        Blit b;
        EXPECT_EQ(draw(b, bad, s, 32, ORV_ERR_INVALID_PARAM), untouched) << "plane " << which;
        stride = -stride;
        EXPECT_EQ(draw(b, bad, s, 16, ORV_ERR_INVALID_PARAM), std::vector<uint8_t>(size_t(33) * 2 * 6, 0x5A));
    }
    {
        const Words p010 = words_of(f, DEVICE_SAMPLES_10_HIGH, 2);
        YuvFrame bad = p010.frame;
        bad.v = bad.u + 1;
        Blit b;
        EXPECT_EQ(draw(b, bad, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_HIGH, 2}, 32,
                       ORV_ERR_INVALID_PARAM),
                  untouched);
        bad = p010.frame;
        bad.u_stride = bad.v_stride = 2 * 17 * 2 - 2; // the pairs' bytes less one word
        EXPECT_EQ(draw(b, bad, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_HIGH, 2}, 32,
                       ORV_ERR_INVALID_PARAM),
                  untouched);
    }
    // Bottom-up: the last row first, negative strides.
    YuvFrame flipped = wd.frame;
    flipped.y += size_t(wd.frame.y_stride) * 5, flipped.y_stride = -flipped.y_stride;
    flipped.u += size_t(wd.frame.u_stride) * 2, flipped.u_stride = -flipped.u_stride;
    flipped.v += size_t(wd.frame.v_stride) * 2, flipped.v_stride = -flipped.v_stride;
    const std::vector<uint8_t> up = draw_once(wd.frame, s, 32), down = draw_once(flipped, s, 32);
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(0, std::memcmp(up.data() + size_t(r) * 132, down.data() + size_t(5 - r) * 132, 132)) << r;
}

// Values outside the API are refused and change nothing.
TEST(DeviceTenBit, SampleFormatSetterRefusesOtherValues)
{
    EXPECT_EQ(DeviceRendModuleSetSampleFormat(nullptr, DEVICE_SAMPLES_10_LOW), ORV_ERR_INVALID_PARAM);
    Blit b;
    ASSERT_EQ(orv_device_blit_set_samples(b.ops, DEVICE_SAMPLES_10_HIGH), ORV_OK);
    for (int bad : {-1, 3, 8, 10, 0x100})
        EXPECT_EQ(orv_device_blit_set_samples(b.ops, bad), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_device_blit_settings(b.ops).samples, DEVICE_SAMPLES_10_HIGH);
    // The other settings keep their bytes of the word.
    ASSERT_EQ(orv_device_blit_set_colour(b.ops, DEVICE_MATRIX_BT2020, DEVICE_RANGE_FULL), ORV_OK);
    ASSERT_EQ(orv_device_blit_set_chroma_step(b.ops, 2), ORV_OK);
    const DeviceBlitSettings s = orv_device_blit_settings(b.ops);
    EXPECT_EQ(s.samples, DEVICE_SAMPLES_10_HIGH);
    EXPECT_EQ(s.matrix, DEVICE_MATRIX_BT2020);
    EXPECT_EQ(s.step, 2);
}

// Switching sample formats converts the carry: an 8-bit frame after 10-bit
// ones sees carries below its steps, and a 10-bit frame after 8-bit ones
// sees them at 16 times the scale.
TEST(DeviceTenBit, SwitchingFormatsConvertsTheCarry)
{
    std::mt19937 rng(15);
    const int w = 48, h = 4;
    const Frame10 f = random_frame(rng, w, h);
    const Words wd = words_of(f, DEVICE_SAMPLES_10_LOW);
    std::vector<uint8_t> y8(size_t(w) * h), c8(size_t(w / 2) * (h / 2));
    for (auto *p : {&y8, &c8})
        for (auto &b : *p)
            b = uint8_t(rng());
    const YuvFrame eight{y8.data(), c8.data(), c8.data(), w, w / 2, w / 2, w, h};
    Blit b;
    draw(b, wd.frame, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_LOW, 1}, 16);
    int32_t width = 0;
    uint32_t bytes = 0;
    const uint8_t *carry = orv_device_blit_carry(b.ops, &width, &bytes);
    ASSERT_NE(carry, nullptr);
    const std::vector<uint8_t> ten(carry, carry + 6 * w);
    // 8-bit carries by column; 10-bit ones as words of carry << 4, even columns first.
    auto at8 = [](int x, int c) { return size_t(x / 16) * 48 + size_t(c) * 16 + size_t(x % 16); };
    auto at10 = [](int x, int c) { return orv_ten_bit::carry_word(x) + size_t(c) * 32; };
    auto ten_carry = [&](const uint8_t *b, int x, int c) {
        return (b[at10(x, c)] | b[at10(x, c) + 1] << 8) >> 4;
    };
    int finest = 0;
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
            finest = std::max(finest, ten_carry(ten.data(), x, c));
    EXPECT_GT(finest, 7); // finer than 8-bit steps
    // What an 8-bit blitter draws from the converted carry.
    Blit fresh;
    draw(fresh, eight, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_8, 1},
         16); // sizes the carry
    uint8_t *fresh_carry = orv_device_blit_carry(fresh.ops, &width, &bytes);
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
            fresh_carry[at8(x, c)] = uint8_t(ten_carry(ten.data(), x, c) >> 4);
    EXPECT_EQ(draw(b, eight, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_8, 1}, 16),
              draw(fresh, eight, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_8, 1}, 16));
    carry = orv_device_blit_carry(b.ops, &width, &bytes);
    const std::vector<uint8_t> eight_carry(carry, carry + 3 * w);
    EXPECT_LE(*std::max_element(eight_carry.begin(), eight_carry.end()), 7);
    // Back at 10 bits the frame starts from the 8-bit carry times 16.
    Blit again;
    draw(again, wd.frame, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_LOW, 1}, 16);
    uint8_t *again_carry = orv_device_blit_carry(again.ops, &width, &bytes);
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
            const int e = eight_carry[at8(x, c)] << 8; // << 4 to 10 bits, << 4 in the word
            again_carry[at10(x, c)] = uint8_t(e), again_carry[at10(x, c) + 1] = uint8_t(e >> 8);
        }
    EXPECT_EQ(
        draw(b, wd.frame, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_LOW, 1}, 16),
        draw(again, wd.frame, {DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED, DEVICE_SAMPLES_10_LOW, 1}, 16));
}

} // namespace

namespace {

// The picture turned as a window shows it: flips first, then the clockwise
// quarter turn; bpp bytes per pixel, rows packed.
std::vector<uint8_t> turn_picture(const std::vector<uint8_t> &in, int w, int h, int bytes, int transform)
{
    const bool quarter = transform & 4;
    const int out_w = quarter ? h : w;
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int x1 = transform & 1 ? w - 1 - x : x, y1 = transform & 2 ? h - 1 - y : y;
            const int dx = quarter ? h - 1 - y1 : x1, dy = quarter ? x1 : y1;
            std::memcpy(&out[(size_t(dy) * out_w + dx) * bytes], &in[(size_t(y) * w + x) * bytes],
                        size_t(bytes));
        }
    return out;
}

} // namespace

// 10-bit frames take every transform as 8-bit ones do: the plain picture
// turned, RGB565 carry included, for I010 and P010 at sizes around the
// vector groups and the turn blocks.
TEST(DeviceTenBit, TurnedFramesAreThePlainOnesTurned)
{
    std::mt19937 rng(26);
    for (auto [w, h] : {std::pair{37, 21}, {64, 48}, {1, 5}, {130, 3}, {17, 66}, {200, 9}, {150, 34}})
        for (int samples : {DEVICE_SAMPLES_10_LOW, DEVICE_SAMPLES_10_HIGH}) {
            const Frame10 f = random_frame(rng, w, h);
            const int step = samples == DEVICE_SAMPLES_10_HIGH ? 2 : 1;
            const Words words = words_of(f, samples, step, false, true);
            Settings s;
            s.samples = samples, s.step = step;
            for (int bpp : {16, 32}) {
                const std::vector<uint8_t> plain = draw_once(words.frame, s, bpp);
                for (int transform = 1; transform < 8; ++transform) {
                    Blit b;
                    ASSERT_EQ(orv_device_blit_set_transform(b.ops, transform), ORV_OK);
                    const int out_w = transform & 4 ? h : w;
                    std::vector<uint8_t> got(plain.size(), 0x5A);
                    EXPECT_EQ(orv_device_blit_set_samples(b.ops, samples), ORV_OK);
                    EXPECT_EQ(orv_device_blit_set_chroma_step(b.ops, step), ORV_OK);
                    ASSERT_EQ(b.ops->blit(b.ops, &words.frame, got.data(), out_w * bpp / 8, bpp), ORV_OK);
                    EXPECT_EQ(got, turn_picture(plain, w, h, bpp / 8, transform))
                        << w << "x" << h << " samples " << samples << " bpp " << bpp << " transform "
                        << transform;
                }
            }
        }
}
