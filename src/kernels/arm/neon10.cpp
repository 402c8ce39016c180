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

// The weights sit in the lanes of two D registers (multiplied by lane), so
// the loop neither reloads nor spreads them: luma, Cr green, Cb green, Cr
// red; Cb blue.
struct Constants {
    uint16x8_t luma_offset2, chroma_offset2;
    int16x4_t w0, w1;

    explicit Constants(const YuvCoefficients *c)
        : luma_offset2(vdupq_n_u16(uint16_t(c->luma_offset * 2))),
          chroma_offset2(vdupq_n_u16(uint16_t(c->chroma_offset * 2))),
          w0(vset_lane_s16(
              c->cr_red,
              vset_lane_s16(c->cb_green, vset_lane_s16(c->cr_green, vdup_n_s16(c->luma_gain), 1), 2), 3)),
          w1(vdup_n_s16(c->cb_blue))
    {}
};

ORV_INLINE uint16x8_t words(const uint8_t *p)
{
    return vreinterpretq_u16_u8(vld1q_u8(p));
}

// (s << 5) - offset of each word. Low layout: s << 6 first (the bits above
// gone), then the halving subtract. High layout: the halving subtract first,
// which leaves half the 6 unused bits below bit 5, then those cleared; exact
// because the offsets are whole 10-bit levels (multiples of 32).
template <bool High>
ORV_INLINE int16x8_t centred(uint16x8_t w, uint16x8_t offset2)
{
    if constexpr (High)
        return vreinterpretq_s16_u16(vbicq_u16(vhsubq_u16(w, offset2), vdupq_n_u16(0x1F)));
    else
        return vreinterpretq_s16_u16(vhsubq_u16(vshlq_n_u16(w, 6), offset2));
}

// Chroma terms of 8 samples: each applies to one even and one odd pixel.
// Even and odd words of 16: one deinterleaving load on ARM, where element
// loads need no alignment; through SIMDe an unzip of byte loads.
ORV_INLINE uint16x8x2_t even_odd(const uint8_t *p)
{
#if defined(__ARM_NEON) || defined(__ARM_NEON__)
    return vld2q_u16(reinterpret_cast<const uint16_t *>(p));
#else
    return vuzpq_u16(words(p), words(p + 16));
#endif
}

struct ChromaTerms {
    int16x8_t r, g, b;
};

template <bool High, Chroma C>
ORV_INLINE ChromaTerms chroma_terms(const uint8_t *u, const uint8_t *v, const Constants &k)
{
    uint16x8_t cbw, crw;
    if constexpr (C == Chroma::planar) {
        cbw = words(u), crw = words(v);
    } else {
        const uint16x8x2_t z = even_odd(C == Chroma::semi_uv ? u : v);
        cbw = C == Chroma::semi_uv ? z.val[0] : z.val[1];
        crw = C == Chroma::semi_uv ? z.val[1] : z.val[0];
    }
    const int16x8_t cb = centred<High>(cbw, k.chroma_offset2), cr = centred<High>(crw, k.chroma_offset2);
    return {vqrdmulhq_lane_s16(cr, k.w0, 3),
            vaddq_s16(vqrdmulhq_lane_s16(cb, k.w0, 2), vqrdmulhq_lane_s16(cr, k.w0, 1)),
            vqrdmulhq_lane_s16(cb, k.w1, 0)};
}

// 16 pixels in sixteenths of an 8-bit step, unclamped: even pixels in e,
// odd ones in o (luma split by one unzip, so the chroma terms apply as they
// are).
struct Fixed16 {
    int16x8_t re, ge, be, ro, go, bo;
};

template <bool High>
ORV_INLINE Fixed16 convert_row(const uint8_t *y, const ChromaTerms &t, const Constants &k)
{
    const uint16x8x2_t luma = even_odd(y);
    const int16x8_t le = vqrdmulhq_lane_s16(centred<High>(luma.val[0], k.luma_offset2), k.w0, 0);
    const int16x8_t lo = vqrdmulhq_lane_s16(centred<High>(luma.val[1], k.luma_offset2), k.w0, 0);
    return {vaddq_s16(le, t.r), vsubq_s16(le, t.g), vaddq_s16(le, t.b),
            vaddq_s16(lo, t.r), vsubq_s16(lo, t.g), vaddq_s16(lo, t.b)};
}

// RGBA works in pixel order: the chroma terms duplicated once per two rows,
// then luma loads and the stores of eight pixels from D registers need no
// shuffle.
struct PixelTerms {
    int16x8_t r0, r1, g0, g1, b0, b1; // 0: pixels 0-7, 1: pixels 8-15
};

ORV_INLINE PixelTerms pixel_order(const ChromaTerms &t)
{
    const int16x8x2_t r = vzipq_s16(t.r, t.r), g = vzipq_s16(t.g, t.g), b = vzipq_s16(t.b, t.b);
    return {r.val[0], r.val[1], g.val[0], g.val[1], b.val[0], b.val[1]};
}

template <bool High>
ORV_INLINE void rgba_half(uint8_t *dst, const uint8_t *y, int16x8_t r, int16x8_t g, int16x8_t b,
                          const Constants &k)
{
    const int16x8_t l = vqrdmulhq_lane_s16(centred<High>(words(y), k.luma_offset2), k.w0, 0);
    vst4_u8(dst, (uint8x8x4_t{{vqrshrun_n_s16(vaddq_s16(l, r), 4), vqrshrun_n_s16(vsubq_s16(l, g), 4),
                               vqrshrun_n_s16(vaddq_s16(l, b), 4), vdup_n_u8(0xFF)}}));
}

// AArch64 narrows into the upper half of a register and stores all 16
// pixels at once; ARMv7 stores eight from D registers.
template <bool High>
ORV_INLINE void rgba_row16(uint8_t *dst, const uint8_t *y, const PixelTerms &t, const Constants &k)
{
#if defined(__aarch64__)
    const int16x8_t l0 = vqrdmulhq_lane_s16(centred<High>(words(y), k.luma_offset2), k.w0, 0);
    const int16x8_t l1 = vqrdmulhq_lane_s16(centred<High>(words(y + 16), k.luma_offset2), k.w0, 0);
    const uint8x16_t r = vqrshrun_high_n_s16(vqrshrun_n_s16(vaddq_s16(l0, t.r0), 4), vaddq_s16(l1, t.r1), 4);
    const uint8x16_t g = vqrshrun_high_n_s16(vqrshrun_n_s16(vsubq_s16(l0, t.g0), 4), vsubq_s16(l1, t.g1), 4);
    const uint8x16_t b = vqrshrun_high_n_s16(vqrshrun_n_s16(vaddq_s16(l0, t.b0), 4), vaddq_s16(l1, t.b1), 4);
    vst4q_u8(dst, (uint8x16x4_t{{r, g, b, vdupq_n_u8(0xFF)}}));
#else
    rgba_half<High>(dst, y, t.r0, t.g0, t.b0, k);
    rgba_half<High>(dst + 32, y + 16, t.r1, t.g1, t.b1, k);
#endif
}

// Carries of 16 columns, shifted left by 4: even columns, odd columns, as
// they lie in memory (kernels/ten_bit.h), so they load and store as they are.
struct Carry16 {
    uint16x8_t re, ge, be, ro, go, bo;
};

// In memory order, one pointer stepping on: post-incremented addresses
// instead of six of their own.
ORV_INLINE Carry16 load_carry(const uint8_t *p)
{
    Carry16 e;
    e.re = words(p), p += 16;
    e.ro = words(p), p += 16;
    e.ge = words(p), p += 16;
    e.go = words(p), p += 16;
    e.be = words(p), p += 16;
    e.bo = words(p);
    return e;
}

ORV_INLINE void store_carry(uint8_t *p, const Carry16 &e)
{
    vst1q_u8(p, vreinterpretq_u8_u16(e.re)), p += 16;
    vst1q_u8(p, vreinterpretq_u8_u16(e.ro)), p += 16;
    vst1q_u8(p, vreinterpretq_u8_u16(e.ge)), p += 16;
    vst1q_u8(p, vreinterpretq_u8_u16(e.go)), p += 16;
    vst1q_u8(p, vreinterpretq_u8_u16(e.be)), p += 16;
    vst1q_u8(p, vreinterpretq_u8_u16(e.bo));
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

// Even and odd pixels zipped back into pixel order.
ORV_INLINE void store_rgb565(uint8_t *dst, const Fixed16 &c, Carry16 &e)
{
    const uint16x8_t below5 = vdupq_n_u16(127 << 4), below6 = vdupq_n_u16(63 << 4);
    const uint16x8_t even = pack565(with_carry(c.re, e.re, below5), with_carry(c.ge, e.ge, below6),
                                    with_carry(c.be, e.be, below5));
    const uint16x8_t odd = pack565(with_carry(c.ro, e.ro, below5), with_carry(c.go, e.go, below6),
                                   with_carry(c.bo, e.bo, below5));
    const uint16x8x2_t px = vzipq_u16(even, odd);
    vst1q_u8(dst, vreinterpretq_u8_u16(px.val[0]));
    vst1q_u8(dst + 16, vreinterpretq_u8_u16(px.val[1]));
}

template <bool High, Chroma C, bool Pair>
void rgba_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
               const uint8_t *v, const YuvCoefficients *coefficients, int count)
{
    const Constants k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const PixelTerms t = pixel_order(chroma_terms<High, C>(u, v, k));
        rgba_row16<High>(dst, y, t, k);
        if constexpr (Pair)
            rgba_row16<High>(dst + dst_stride, y + y_stride, t, k);
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
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, errors += 96;
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
