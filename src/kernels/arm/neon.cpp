// The NEON tier: YUV 4:2:0 rows to RGB, 16 pixels per step, in 16-bit
// fixed point driven by a YuvCoefficients block; planar chroma or
// semi-planar (U and V interleaved, read with one deinterleaving load);
// single rows and row pairs. Written once in intrinsics; off ARM the same
// source compiles through SIMDe, so every architecture runs it and gives the
// same bytes. Owns no state and takes no lock.
#include "kernels/arm/arm.h"

#if defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/arm/neon.h>
#endif

#include <cstddef>
#include <initializer_list>

// The helpers are forced inline and written without arrays of vectors or
// loops over halves: GCC at -O2 neither inlines nor unrolls them where -O3
// and clang do, and keeps the halves in memory, which more than doubles the
// instructions per pixel of the pair kernels on AArch64.
#define ORV_INLINE inline __attribute__((always_inline))

namespace {

// The block read once per call, spread over vector lanes.
struct Constants {
    uint16x8_t luma_offset;
    uint16x8_t chroma_offset;
    int16_t luma_gain;
    int16_t cr_green;
    int16_t cb_green;
    int16_t cr_red;
    int16_t cb_blue;
    uint8x16_t red_bias;
    uint8x16_t green_bias;
    uint8x16_t blue_bias;

    explicit Constants(const YuvCoefficients *c)
        : luma_offset(vdupq_n_u16(c->luma_offset)), chroma_offset(vdupq_n_u16(c->chroma_offset)),
          luma_gain(c->luma_gain), cr_green(c->cr_green), cb_green(c->cb_green), cr_red(c->cr_red),
          cb_blue(c->cb_blue), red_bias(vdupq_n_u8(c->red_bias)), green_bias(vdupq_n_u8(c->green_bias)),
          blue_bias(vdupq_n_u8(c->blue_bias))
    {}
};

struct Rgb16 {
    uint8x16_t r, g, b;
};

// Where the 8 Cb and Cr samples of a step come from: two planes, or one row
// of pairs (Cb first for NV12, Cr first for NV21) split by one VLD2.
enum class Chroma { planar, semi_uv, semi_vu };

template <Chroma C>
ORV_INLINE void load_chroma(const uint8_t *u, const uint8_t *v, uint8x8_t &cb, uint8x8_t &cr)
{
    if constexpr (C == Chroma::planar) {
        cb = vld1_u8(u);
        cr = vld1_u8(v);
    } else if constexpr (C == Chroma::semi_uv) {
        const uint8x8x2_t pairs = vld2_u8(u);
        cb = pairs.val[0], cr = pairs.val[1];
    } else {
        const uint8x8x2_t pairs = vld2_u8(v);
        cb = pairs.val[1], cr = pairs.val[0];
    }
}

template <Chroma C>
constexpr int kChromaAdvance = C == Chroma::planar ? 8 : 16;

// 8 luma samples, offset and scaled.
ORV_INLINE int16x8_t luma_term(uint8x8_t y, const Constants &k)
{
    const int16x8_t l = vreinterpretq_s16_u16(vsubq_u16(vshll_n_u8(y, 7), k.luma_offset));
    return vqrdmulhq_n_s16(l, k.luma_gain);
}

ORV_INLINE uint8x8_t narrow(int16x8_t x)
{
    return vqrshrun_n_s16(x, 4);
}

// Pixels 0..15 of y with chroma samples 0..7.
template <Chroma C>
ORV_INLINE Rgb16 convert16(const uint8_t *y, const uint8_t *u, const uint8_t *v, const Constants &k)
{
    uint8x8_t cb8, cr8;
    load_chroma<C>(u, v, cb8, cr8);
    int16x8_t cb = vreinterpretq_s16_u16(vsubq_u16(vshll_n_u8(cb8, 7), k.chroma_offset));
    int16x8_t cr = vreinterpretq_s16_u16(vsubq_u16(vshll_n_u8(cr8, 7), k.chroma_offset));
    int16x8_t b_u = vqrdmulhq_n_s16(cb, k.cb_blue);
    int16x8_t g_u = vqrdmulhq_n_s16(cb, k.cb_green);
    int16x8_t g_v = vqrdmulhq_n_s16(cr, k.cr_green);
    int16x8_t r_v = vqrdmulhq_n_s16(cr, k.cr_red);
    int16x8_t g_uv = vaddq_s16(g_u, g_v);

    const uint8x8x2_t luma = vld2_u8(y); // [0]: even pixels, [1]: odd pixels
    const int16x8_t l0 = luma_term(luma.val[0], k), l1 = luma_term(luma.val[1], k);
    const uint8x8x2_t rz = vzip_u8(narrow(vaddq_s16(l0, r_v)), narrow(vaddq_s16(l1, r_v)));
    const uint8x8x2_t gz = vzip_u8(narrow(vsubq_s16(l0, g_uv)), narrow(vsubq_s16(l1, g_uv)));
    const uint8x8x2_t bz = vzip_u8(narrow(vaddq_s16(l0, b_u)), narrow(vaddq_s16(l1, b_u)));
    Rgb16 out;
    out.r = vqaddq_u8(vcombine_u8(rz.val[0], rz.val[1]), k.red_bias);
    out.g = vqaddq_u8(vcombine_u8(gz.val[0], gz.val[1]), k.green_bias);
    out.b = vqaddq_u8(vcombine_u8(bz.val[0], bz.val[1]), k.blue_bias);
    return out;
}

// The two bytes of each RGB565 pixel built in 8-bit lanes, then stored
// interleaved: high byte r & 0xF8 | g >> 5, low byte (g << 3) & 0xE0 | b >> 3.
ORV_INLINE void store565(uint8_t *dst, const Rgb16 &c)
{
    uint8x16x2_t px;
    px.val[1] = vsriq_n_u8(c.r, c.g, 5);
    px.val[0] = vsriq_n_u8(vshlq_n_u8(c.g, 3), c.b, 3);
    vst2q_u8(dst, px);
}

template <Chroma C>
void rgb32_row(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
               const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    const uint8x16_t alpha = vdupq_n_u8(0xFF);
    for (int steps = count / 16; steps > 0; --steps) {
        Rgb16 c = convert16<C>(y, u, v, k);
        uint8x16x4_t px = {{c.r, c.g, c.b, alpha}};
        vst4q_u8(dst, px);
        y += 16, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 64;
    }
}

template <Chroma C>
void filter565_row(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,
                   const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    const uint8x16_t mask7 = vdupq_n_u8(7);
    const uint8x16_t mask3 = vdupq_n_u8(3);
    for (int steps = count / 16; steps > 0; --steps) {
        Rgb16 c = convert16<C>(y, u, v, k);
        c.r = vqaddq_u8(c.r, vld1q_u8(errors));
        c.g = vqaddq_u8(c.g, vld1q_u8(errors + 16));
        c.b = vqaddq_u8(c.b, vld1q_u8(errors + 32));
        vst1q_u8(errors, vandq_u8(c.r, mask7));
        vst1q_u8(errors + 16, vandq_u8(c.g, mask3));
        vst1q_u8(errors + 32, vandq_u8(c.b, mask7));
        store565(dst, c);
        y += 16, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, errors += 48;
    }
}

// Two rows that share a chroma row (rows 2k and 2k + 1 of 4:2:0): the
// chroma terms are computed once per 16 columns for both, duplicated to pixel
// order, so luma loads straight and outputs need no interleave. Bytes equal
// the single-row kernels' for each row.
struct ChromaTerms {
    int16x8_t r0, r1, g0, g1, b0, b1; // 0: pixels 0-7, 1: pixels 8-15
};

template <Chroma C>
ORV_INLINE ChromaTerms chroma_terms(const uint8_t *u, const uint8_t *v, const Constants &k)
{
    uint8x8_t cb8, cr8;
    load_chroma<C>(u, v, cb8, cr8);
    const int16x8_t cb = vreinterpretq_s16_u16(vsubq_u16(vshll_n_u8(cb8, 7), k.chroma_offset));
    const int16x8_t cr = vreinterpretq_s16_u16(vsubq_u16(vshll_n_u8(cr8, 7), k.chroma_offset));
    const int16x8_t b_u = vqrdmulhq_n_s16(cb, k.cb_blue);
    const int16x8_t g_uv = vaddq_s16(vqrdmulhq_n_s16(cb, k.cb_green), vqrdmulhq_n_s16(cr, k.cr_green));
    const int16x8_t r_v = vqrdmulhq_n_s16(cr, k.cr_red);
    const int16x8x2_t r = vzipq_s16(r_v, r_v), g = vzipq_s16(g_uv, g_uv), b = vzipq_s16(b_u, b_u);
    return {r.val[0], r.val[1], g.val[0], g.val[1], b.val[0], b.val[1]};
}

template <bool Bias>
ORV_INLINE Rgb16 convert_row16(const uint8_t *y, const ChromaTerms &t, const Constants &k)
{
    const uint8x16_t luma = vld1q_u8(y);
    const int16x8_t l0 = luma_term(vget_low_u8(luma), k), l1 = luma_term(vget_high_u8(luma), k);
    Rgb16 out{vcombine_u8(narrow(vaddq_s16(l0, t.r0)), narrow(vaddq_s16(l1, t.r1))),
              vcombine_u8(narrow(vsubq_s16(l0, t.g0)), narrow(vsubq_s16(l1, t.g1))),
              vcombine_u8(narrow(vaddq_s16(l0, t.b0)), narrow(vaddq_s16(l1, t.b1)))};
    if constexpr (Bias) {
        out.r = vqaddq_u8(out.r, k.red_bias);
        out.g = vqaddq_u8(out.g, k.green_bias);
        out.b = vqaddq_u8(out.b, k.blue_bias);
    }
    return out;
}

template <Chroma C, bool Bias>
void rgb32_pair(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                const uint8_t *v, const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    const uint8x16_t alpha = vdupq_n_u8(0xFF);
    uint8_t *dst1 = dst + dst_stride;
    const uint8_t *y1 = y + y_stride;
    for (int steps = count / 16; steps > 0; --steps) {
        const ChromaTerms t = chroma_terms<C>(u, v, k);
        Rgb16 c = convert_row16<Bias>(y, t, k);
        vst4q_u8(dst, (uint8x16x4_t{{c.r, c.g, c.b, alpha}}));
        c = convert_row16<Bias>(y1, t, k);
        vst4q_u8(dst1, (uint8x16x4_t{{c.r, c.g, c.b, alpha}}));
        y += 16, y1 += 16, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 64, dst1 += 64;
    }
}

// The carry goes down each column through the first row into the second in
// registers, and back to memory once.
template <Chroma C, bool Bias>
void filter565_pair(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                    const uint8_t *u, const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients,
                    int count)
{
    const Constants k(coefficients);
    const uint8x16_t mask7 = vdupq_n_u8(7);
    const uint8x16_t mask3 = vdupq_n_u8(3);
    uint8_t *dst1 = dst + dst_stride;
    const uint8_t *y1 = y + y_stride;
    for (int steps = count / 16; steps > 0; --steps) {
        const ChromaTerms t = chroma_terms<C>(u, v, k);
        uint8x16_t er = vld1q_u8(errors), eg = vld1q_u8(errors + 16), eb = vld1q_u8(errors + 32);
        Rgb16 c = convert_row16<Bias>(y, t, k);
        c.r = vqaddq_u8(c.r, er), c.g = vqaddq_u8(c.g, eg), c.b = vqaddq_u8(c.b, eb);
        er = vandq_u8(c.r, mask7), eg = vandq_u8(c.g, mask3), eb = vandq_u8(c.b, mask7);
        store565(dst, c);
        c = convert_row16<Bias>(y1, t, k);
        c.r = vqaddq_u8(c.r, er), c.g = vqaddq_u8(c.g, eg), c.b = vqaddq_u8(c.b, eb);
        vst1q_u8(errors, vandq_u8(c.r, mask7));
        vst1q_u8(errors + 16, vandq_u8(c.g, mask3));
        vst1q_u8(errors + 32, vandq_u8(c.b, mask7));
        store565(dst1, c);
        y += 16, y1 += 16, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, dst1 += 32,
            errors += 48;
    }
}

// One entry per output and chroma layout; the bias and NV12/NV21 choices
// are made once per call, outside the loop.
template <Chroma C>
void rgb32_pair_of(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                   const uint8_t *v, const YuvCoefficients *coefficients, int count)
{
    if (count < 16)
        return;
    if (orv_yuv_has_bias(coefficients))
        rgb32_pair<C, true>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
    else
        rgb32_pair<C, false>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
}

template <Chroma C>
void filter565_pair_of(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                       const uint8_t *u, const uint8_t *v, uint8_t *errors,
                       const YuvCoefficients *coefficients, int count)
{
    if (count < 16)
        return;
    if (orv_yuv_has_bias(coefficients))
        filter565_pair<C, true>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
    else
        filter565_pair<C, false>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

} // namespace

extern "C" {

ORV_API void device_yuv_rgb32_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                   uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    rgb32_row<Chroma::planar>(dst, y, u, v, coefficients, count);
}

void device_yuv_bgr24_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                           uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        Rgb16 c = convert16<Chroma::planar>(y, u, v, k);
        uint8x16x3_t px = {{c.b, c.g, c.r}};
        vst3q_u8(dst, px);
        y += 16, u += 8, v += 8, dst += 48;
    }
}

ORV_API void device_yuv_rgb16_565_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                       uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        store565(dst, convert16<Chroma::planar>(y, u, v, k));
        y += 16, u += 8, v += 8, dst += 32;
    }
}

ORV_API void device_filter_yuv_rgb565_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                           uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    filter565_row<Chroma::planar>(dst, y, u, v, errors, coefficients, count);
}

// Pointers that are not one byte apart are no semi-planar row: nothing is drawn.
void device_yuv_rgb32_semi_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (v == u + 1)
        rgb32_row<Chroma::semi_uv>(dst, y, u, v, coefficients, count);
    else if (u == v + 1)
        rgb32_row<Chroma::semi_vu>(dst, y, u, v, coefficients, count);
}

void device_filter_yuv_rgb565_semi_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                        uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (v == u + 1)
        filter565_row<Chroma::semi_uv>(dst, y, u, v, errors, coefficients, count);
    else if (u == v + 1)
        filter565_row<Chroma::semi_vu>(dst, y, u, v, errors, coefficients, count);
}

void device_yuv_rgb32_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                const YuvCoefficients *coefficients, int count)
{
    rgb32_pair_of<Chroma::planar>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
}

void device_filter_yuv_rgb565_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y,
                                        ptrdiff_t y_stride, const uint8_t *u, const uint8_t *v,
                                        uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    filter565_pair_of<Chroma::planar>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

void device_yuv_rgb32_semi_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                     const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                     const YuvCoefficients *coefficients, int count)
{
    if (v == u + 1)
        rgb32_pair_of<Chroma::semi_uv>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
    else if (u == v + 1)
        rgb32_pair_of<Chroma::semi_vu>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
}

void device_filter_yuv_rgb565_semi_pair_neon(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y,
                                             ptrdiff_t y_stride, const uint8_t *u, const uint8_t *v,
                                             uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if (v == u + 1)
        filter565_pair_of<Chroma::semi_uv>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
    else if (u == v + 1)
        filter565_pair_of<Chroma::semi_vu>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);
}

DeviceRowKernels orv_kernels_neon(void)
{
    return {device_yuv_rgb32_neon,           device_filter_yuv_rgb565_neon,
            device_yuv_rgb32_semi_neon,      device_filter_yuv_rgb565_semi_neon,
            device_yuv_rgb32_pair_neon,      device_filter_yuv_rgb565_pair_neon,
            device_yuv_rgb32_semi_pair_neon, device_filter_yuv_rgb565_semi_pair_neon};
}

} // extern "C"
