// The NEON tier for 10-bit samples in 16-bit words (bits 0-9 or 6-15):
// rows and row pairs into RGBA and into RGB565 with the error carry, bytes
// of the model in kernels/ten_bit.h. Off ARM it compiles through SIMDe.
// Owns no state and takes no lock.
//
// A word becomes the lane value (s << 5) - offset in two steps: s << 6
// (one shift for the low layout, one mask for the high one), then a halving
// subtract of offset * 2, which is exact for the even difference. The
// RGB565 carry works with values shifted left by 4: the saturating shift
// clamps to 0-4095, the saturating add stops at the top, the fields are the
// top bits and the carry the bits under them, so no extra clamp is needed.
#include "kernels/arm/arm.h"

#if defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/arm/neon.h>
#endif

#include <cstddef>

#define ORV_INLINE inline __attribute__((always_inline))

namespace {

enum class Chroma { planar, semi_uv, semi_vu };

template <Chroma C>
constexpr int kChromaAdvance = C == Chroma::planar ? 16 : 32; // bytes per 8 samples

struct Constants {
    uint16x8_t luma_offset2, chroma_offset2;
    int16_t luma_gain, cr_green, cb_green, cr_red, cb_blue;

    explicit Constants(const YuvCoefficients *c)
        : luma_offset2(vdupq_n_u16(uint16_t(c->luma_offset * 2))),
          chroma_offset2(vdupq_n_u16(uint16_t(c->chroma_offset * 2))), luma_gain(c->luma_gain),
          cr_green(c->cr_green), cb_green(c->cb_green), cr_red(c->cr_red), cb_blue(c->cb_blue)
    {}
};

ORV_INLINE uint16x8_t words(const uint8_t *p)
{
    return vreinterpretq_u16_u8(vld1q_u8(p));
}

// s << 6 of each word, the other bits gone.
template <bool High>
ORV_INLINE uint16x8_t sample6(uint16x8_t w)
{
    if constexpr (High)
        return vbicq_u16(w, vdupq_n_u16(0x3F));
    else
        return vshlq_n_u16(w, 6);
}

template <bool High>
ORV_INLINE int16x8_t centred(uint16x8_t w, uint16x8_t offset2)
{
    return vreinterpretq_s16_u16(vhsubq_u16(sample6<High>(w), offset2));
}

struct ChromaTerms {
    int16x8_t r0, r1, g0, g1, b0, b1; // 0: pixels 0-7, 1: pixels 8-15
};

template <bool High, Chroma C>
ORV_INLINE ChromaTerms chroma_terms(const uint8_t *u, const uint8_t *v, const Constants &k)
{
    uint16x8_t cbw, crw;
    if constexpr (C == Chroma::planar) {
        cbw = words(u), crw = words(v);
    } else {
        const uint8_t *p = C == Chroma::semi_uv ? u : v;
        const uint16x8x2_t z = vuzpq_u16(words(p), words(p + 16));
        cbw = C == Chroma::semi_uv ? z.val[0] : z.val[1];
        crw = C == Chroma::semi_uv ? z.val[1] : z.val[0];
    }
    const int16x8_t cb = centred<High>(cbw, k.chroma_offset2), cr = centred<High>(crw, k.chroma_offset2);
    const int16x8_t b_u = vqrdmulhq_n_s16(cb, k.cb_blue);
    const int16x8_t g_uv = vaddq_s16(vqrdmulhq_n_s16(cb, k.cb_green), vqrdmulhq_n_s16(cr, k.cr_green));
    const int16x8_t r_v = vqrdmulhq_n_s16(cr, k.cr_red);
    const int16x8x2_t r = vzipq_s16(r_v, r_v), g = vzipq_s16(g_uv, g_uv), b = vzipq_s16(b_u, b_u);
    return {r.val[0], r.val[1], g.val[0], g.val[1], b.val[0], b.val[1]};
}

// 16 pixels in sixteenths of an 8-bit step, unclamped.
struct Fixed16 {
    int16x8_t r0, r1, g0, g1, b0, b1;
};

template <bool High>
ORV_INLINE Fixed16 convert_row(const uint8_t *y, const ChromaTerms &t, const Constants &k)
{
    const int16x8_t l0 = vqrdmulhq_n_s16(centred<High>(words(y), k.luma_offset2), k.luma_gain);
    const int16x8_t l1 = vqrdmulhq_n_s16(centred<High>(words(y + 16), k.luma_offset2), k.luma_gain);
    return {vaddq_s16(l0, t.r0), vaddq_s16(l1, t.r1), vsubq_s16(l0, t.g0),
            vsubq_s16(l1, t.g1), vaddq_s16(l0, t.b0), vaddq_s16(l1, t.b1)};
}

ORV_INLINE uint8x16_t to_bytes(int16x8_t lo, int16x8_t hi)
{
    return vcombine_u8(vqrshrun_n_s16(lo, 4), vqrshrun_n_s16(hi, 4));
}

ORV_INLINE void store_rgba(uint8_t *dst, const Fixed16 &c)
{
    const uint8x16x4_t px = {
        {to_bytes(c.r0, c.r1), to_bytes(c.g0, c.g1), to_bytes(c.b0, c.b1), vdupq_n_u8(0xFF)}};
    vst4q_u8(dst, px);
}

// Carries of 16 columns, shifted left by 4, in two halves per channel.
struct Carry16 {
    uint16x8_t r0, r1, g0, g1, b0, b1;
};

ORV_INLINE Carry16 load_carry(const uint8_t *errors)
{
    const uint8x16_t r = vld1q_u8(errors), g = vld1q_u8(errors + 16), b = vld1q_u8(errors + 32);
    return {vshll_n_u8(vget_low_u8(r), 4),  vshll_n_u8(vget_high_u8(r), 4), vshll_n_u8(vget_low_u8(g), 4),
            vshll_n_u8(vget_high_u8(g), 4), vshll_n_u8(vget_low_u8(b), 4),  vshll_n_u8(vget_high_u8(b), 4)};
}

ORV_INLINE void store_carry(uint8_t *errors, const Carry16 &e)
{
    vst1q_u8(errors, vcombine_u8(vshrn_n_u16(e.r0, 4), vshrn_n_u16(e.r1, 4)));
    vst1q_u8(errors + 16, vcombine_u8(vshrn_n_u16(e.g0, 4), vshrn_n_u16(e.g1, 4)));
    vst1q_u8(errors + 32, vcombine_u8(vshrn_n_u16(e.b0, 4), vshrn_n_u16(e.b1, 4)));
}

// One channel: the sum with the carry (<< 4, saturated), the carry updated.
ORV_INLINE uint16x8_t with_carry(int16x8_t c, uint16x8_t &e, uint16x8_t below)
{
    const uint16x8_t s = vqaddq_u16(vqshluq_n_s16(c, 4), e);
    e = vandq_u16(s, below);
    return s;
}

ORV_INLINE uint16x8_t pack565(uint16x8_t r, uint16x8_t g, uint16x8_t b)
{
    return vsriq_n_u16(vsriq_n_u16(r, g, 5), b, 11);
}

ORV_INLINE void store_rgb565(uint8_t *dst, const Fixed16 &c, Carry16 &e)
{
    const uint16x8_t below5 = vdupq_n_u16(127 << 4), below6 = vdupq_n_u16(63 << 4);
    const uint16x8_t p0 = pack565(with_carry(c.r0, e.r0, below5), with_carry(c.g0, e.g0, below6),
                                  with_carry(c.b0, e.b0, below5));
    const uint16x8_t p1 = pack565(with_carry(c.r1, e.r1, below5), with_carry(c.g1, e.g1, below6),
                                  with_carry(c.b1, e.b1, below5));
    vst1q_u8(dst, vreinterpretq_u8_u16(p0));
    vst1q_u8(dst + 16, vreinterpretq_u8_u16(p1));
}

template <bool High, Chroma C, bool Pair>
void rgba_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
               const uint8_t *v, const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const ChromaTerms t = chroma_terms<High, C>(u, v, k);
        store_rgba(dst, convert_row<High>(y, t, k));
        if constexpr (Pair)
            store_rgba(dst + dst_stride, convert_row<High>(y + y_stride, t, k));
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 64;
    }
}

// The carry goes down each column through the first row into the second in
// registers, and back to memory once.
template <bool High, Chroma C, bool Pair>
void rgb565_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                 const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const ChromaTerms t = chroma_terms<High, C>(u, v, k);
        Carry16 e = load_carry(errors);
        store_rgb565(dst, convert_row<High>(y, t, k), e);
        if constexpr (Pair)
            store_rgb565(dst + dst_stride, convert_row<High>(y + y_stride, t, k), e);
        store_carry(errors, e);
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, errors += 48;
    }
}

// The entries: chroma layout chosen once per call; semi-planar pointers
// that are not one word apart draw nothing.
template <bool High, bool Semi, bool Pair>
void rgba_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                const uint8_t *v, uint8_t *, const YuvCoefficients *coefficients, int count)
{
    if constexpr (!Semi)
        rgba_rows<High, Chroma::planar, Pair>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
    else if (v == u + 2)
        rgba_rows<High, Chroma::semi_uv, Pair>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
    else if (u == v + 2)
        rgba_rows<High, Chroma::semi_vu, Pair>(dst, dst_stride, y, y_stride, u, v, coefficients, count);
}

template <bool High, bool Semi, bool Pair>
void rgb565_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                  const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    if constexpr (!Semi)
        rgb565_rows<High, Chroma::planar, Pair>(dst, dst_stride, y, y_stride, u, v, errors, coefficients,
                                                count);
    else if (v == u + 2)
        rgb565_rows<High, Chroma::semi_uv, Pair>(dst, dst_stride, y, y_stride, u, v, errors, coefficients,
                                                 count);
    else if (u == v + 2)
        rgb565_rows<High, Chroma::semi_vu, Pair>(dst, dst_stride, y, y_stride, u, v, errors, coefficients,
                                                 count);
}

template <bool High, bool Semi>
void rgba_row(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,
              const YuvCoefficients *coefficients, int count)
{
    rgba_entry<High, Semi, false>(dst, 0, y, 0, u, v, errors, coefficients, count);
}

template <bool High, bool Semi>
void rgb565_row(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,
                const YuvCoefficients *coefficients, int count)
{
    rgb565_entry<High, Semi, false>(dst, 0, y, 0, u, v, errors, coefficients, count);
}

template <bool High>
DeviceRowKernels kernels_of()
{
    return {rgba_row<High, false>,        rgb565_row<High, false>,       rgba_row<High, true>,
            rgb565_row<High, true>,       rgba_entry<High, false, true>, rgb565_entry<High, false, true>,
            rgba_entry<High, true, true>, rgb565_entry<High, true, true>};
}

} // namespace

extern "C" DeviceRowKernels orv_kernels_neon10(int samples)
{
    if (samples == DEVICE_SAMPLES_10_LOW)
        return kernels_of<false>();
    if (samples == DEVICE_SAMPLES_10_HIGH)
        return kernels_of<true>();
    return {};
}
