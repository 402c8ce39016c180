// x86 versions of the 10-bit row kernels (SSE4.1 and AVX2): the bytes of the
// model in kernels/ten_bit.h, as the NEON tier gives them. Pixel order
// throughout: each pixel's chroma term is its sample's term duplicated, so
// luma loads and RGB565 stores need no shuffle. Owns no state; takes no lock.
//
// Lane arithmetic beside NEON's: mulq is _mm_mulhrs_epi16 (equal but for
// -32768 * -32768, which no library block holds); (x + 8) >> 4 saturated to
// a byte is mulhrs by 2048 then packus; the RGB565 carry clamps with signed
// min and max where NEON shifts with saturation.
#include "kernels/x86/x86.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstddef>

namespace {

#define ORV_SSE  __attribute__((target("sse4.1")))
#define ORV_AVX2 __attribute__((target("avx2")))

enum class Chroma { planar, semi_uv, semi_vu };

template <Chroma C>
constexpr int kChromaAdvance = C == Chroma::planar ? 16 : 32; // bytes per 8 samples

// ---- SSE4.1: 16 pixels a step, as two halves of 8.

// The carry: per channel 16 words of carry << 4, even columns first
// (kernels/ten_bit.h). To column order on the way in, back on the way out.
ORV_SSE inline void sse_carry_in(const uint8_t *at, __m128i &cols0, __m128i &cols8)
{
    const __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    const __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16));
    cols0 = _mm_unpacklo_epi16(even, odd), cols8 = _mm_unpackhi_epi16(even, odd);
}

ORV_SSE inline void sse_carry_out(uint8_t *at, __m128i cols0, __m128i cols8)
{
    const __m128i split = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    const __m128i a = _mm_shuffle_epi8(cols0, split), b = _mm_shuffle_epi8(cols8, split);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(at), _mm_unpacklo_epi64(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(at + 16), _mm_unpackhi_epi64(a, b));
}

struct SseK {
    __m128i luma_offset, chroma_offset, luma_gain, cr_green, cb_green, cr_red, cb_blue;
};

ORV_SSE inline SseK sse_k(const YuvCoefficients *c)
{
    return {_mm_set1_epi16(short(c->luma_offset)),
            _mm_set1_epi16(short(c->chroma_offset)),
            _mm_set1_epi16(c->luma_gain),
            _mm_set1_epi16(c->cr_green),
            _mm_set1_epi16(c->cb_green),
            _mm_set1_epi16(c->cr_red),
            _mm_set1_epi16(c->cb_blue)};
}

// s << 5 of each word, the other bits gone.
template <bool High>
ORV_SSE inline __m128i sse_sample5(__m128i w)
{
    if constexpr (High)
        return _mm_and_si128(_mm_srli_epi16(w, 1), _mm_set1_epi16(0x7FE0));
    else
        return _mm_srli_epi16(_mm_slli_epi16(w, 6), 1);
}

ORV_SSE inline __m128i sse_load(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

struct SseTerms {
    __m128i r0, r1, g0, g1, b0, b1; // 0: pixels 0-7, 1: pixels 8-15
};

template <bool High, Chroma C>
ORV_SSE inline SseTerms sse_terms(const uint8_t *u, const uint8_t *v, const SseK &k)
{
    __m128i cb, cr;
    if constexpr (C == Chroma::planar) {
        cb = sse_load(u), cr = sse_load(v);
    } else {
        const uint8_t *p = C == Chroma::semi_uv ? u : v;
        const __m128i p0 = sse_load(p), p1 = sse_load(p + 16), low = _mm_set1_epi32(0xFFFF);
        const __m128i first = _mm_packus_epi32(_mm_and_si128(p0, low), _mm_and_si128(p1, low));
        const __m128i second = _mm_packus_epi32(_mm_srli_epi32(p0, 16), _mm_srli_epi32(p1, 16));
        cb = C == Chroma::semi_uv ? first : second;
        cr = C == Chroma::semi_uv ? second : first;
    }
    cb = _mm_sub_epi16(sse_sample5<High>(cb), k.chroma_offset);
    cr = _mm_sub_epi16(sse_sample5<High>(cr), k.chroma_offset);
    const __m128i r = _mm_mulhrs_epi16(cr, k.cr_red), b = _mm_mulhrs_epi16(cb, k.cb_blue);
    const __m128i g = _mm_add_epi16(_mm_mulhrs_epi16(cb, k.cb_green), _mm_mulhrs_epi16(cr, k.cr_green));
    return {_mm_unpacklo_epi16(r, r), _mm_unpackhi_epi16(r, r), _mm_unpacklo_epi16(g, g),
            _mm_unpackhi_epi16(g, g), _mm_unpacklo_epi16(b, b), _mm_unpackhi_epi16(b, b)};
}

struct SseFixed {
    __m128i r, g, b; // 8 pixels in sixteenths
};

template <bool High>
ORV_SSE inline SseFixed sse_half(const uint8_t *y, __m128i tr, __m128i tg, __m128i tb, const SseK &k)
{
    const __m128i l =
        _mm_mulhrs_epi16(_mm_sub_epi16(sse_sample5<High>(sse_load(y)), k.luma_offset), k.luma_gain);
    return {_mm_add_epi16(l, tr), _mm_sub_epi16(l, tg), _mm_add_epi16(l, tb)};
}

ORV_SSE inline void sse_store_rgba(uint8_t *dst, const SseFixed &c)
{
    const __m128i eight = _mm_set1_epi16(2048), alpha = _mm_set1_epi16(0xFF);
    const __m128i pairs = _mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    const __m128i rg =
        _mm_shuffle_epi8(_mm_packus_epi16(_mm_mulhrs_epi16(c.r, eight), _mm_mulhrs_epi16(c.g, eight)), pairs);
    const __m128i ba = _mm_shuffle_epi8(_mm_packus_epi16(_mm_mulhrs_epi16(c.b, eight), alpha), pairs);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_unpacklo_epi16(rg, ba));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16), _mm_unpackhi_epi16(rg, ba));
}

// One channel with its carry, both shifted left by 4 as the NEON lanes
// hold them: the clamped value shifted, the saturating sum, the carry the
// bits below the field.
ORV_SSE inline __m128i sse_with_carry(__m128i c, __m128i &e, __m128i below)
{
    const __m128i c4 =
        _mm_slli_epi16(_mm_min_epi16(_mm_max_epi16(c, _mm_setzero_si128()), _mm_set1_epi16(4095)), 4);
    const __m128i s = _mm_adds_epu16(c4, e);
    e = _mm_and_si128(s, below);
    return s;
}

ORV_SSE inline void sse_store565(uint8_t *dst, const SseFixed &c, __m128i &er, __m128i &eg, __m128i &eb)
{
    const __m128i r = sse_with_carry(c.r, er, _mm_set1_epi16(127 << 4));
    const __m128i g = sse_with_carry(c.g, eg, _mm_set1_epi16(63 << 4));
    const __m128i b = sse_with_carry(c.b, eb, _mm_set1_epi16(127 << 4));
    const __m128i p = _mm_or_si128(_mm_or_si128(_mm_and_si128(r, _mm_set1_epi16(short(0xF800))),
                                                _mm_and_si128(_mm_srli_epi16(g, 5), _mm_set1_epi16(0x07E0))),
                                   _mm_srli_epi16(b, 11));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), p);
}

template <bool High, Chroma C, bool Pair>
ORV_SSE void sse_rgba(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                      const uint8_t *u, const uint8_t *v, const YuvCoefficients *coefficients, int count)
{
    const SseK k = sse_k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const SseTerms t = sse_terms<High, C>(u, v, k);
        for (int row = 0; row < (Pair ? 2 : 1); ++row) {
            const uint8_t *l = y + row * y_stride;
            uint8_t *d = dst + row * dst_stride;
            sse_store_rgba(d, sse_half<High>(l, t.r0, t.g0, t.b0, k));
            sse_store_rgba(d + 32, sse_half<High>(l + 16, t.r1, t.g1, t.b1, k));
        }
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 64;
    }
}

template <bool High, Chroma C, bool Pair>
ORV_SSE void sse_rgb565(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                        const uint8_t *u, const uint8_t *v, uint8_t *errors,
                        const YuvCoefficients *coefficients, int count)
{
    const SseK k = sse_k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const SseTerms t = sse_terms<High, C>(u, v, k);
        __m128i er0, er1, eg0, eg1, eb0, eb1;
        sse_carry_in(errors, er0, er1), sse_carry_in(errors + 32, eg0, eg1),
            sse_carry_in(errors + 64, eb0, eb1);
        for (int row = 0; row < (Pair ? 2 : 1); ++row) {
            const uint8_t *l = y + row * y_stride;
            uint8_t *d = dst + row * dst_stride;
            sse_store565(d, sse_half<High>(l, t.r0, t.g0, t.b0, k), er0, eg0, eb0);
            sse_store565(d + 16, sse_half<High>(l + 16, t.r1, t.g1, t.b1, k), er1, eg1, eb1);
        }
        sse_carry_out(errors, er0, er1), sse_carry_out(errors + 32, eg0, eg1),
            sse_carry_out(errors + 64, eb0, eb1);
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, errors += 96;
    }
}

// ---- AVX2: 16 pixels a step in one register.

struct AvxK {
    __m256i luma_offset, chroma_offset, luma_gain, cr_green, cb_green, cr_red, cb_blue;
};

ORV_AVX2 inline AvxK avx_k(const YuvCoefficients *c)
{
    return {_mm256_set1_epi16(short(c->luma_offset)),
            _mm256_set1_epi16(short(c->chroma_offset)),
            _mm256_set1_epi16(c->luma_gain),
            _mm256_set1_epi16(c->cr_green),
            _mm256_set1_epi16(c->cb_green),
            _mm256_set1_epi16(c->cr_red),
            _mm256_set1_epi16(c->cb_blue)};
}

template <bool High>
ORV_AVX2 inline __m256i avx_sample5(__m256i w)
{
    if constexpr (High)
        return _mm256_and_si256(_mm256_srli_epi16(w, 1), _mm256_set1_epi16(0x7FE0));
    else
        return _mm256_srli_epi16(_mm256_slli_epi16(w, 6), 1);
}

ORV_AVX2 inline __m256i avx_load(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

struct AvxTerms {
    __m256i r, g, b;
};

// Words duplicated into pixel order: each sample's word in both halves of a
// 32-bit lane.
template <bool High, Chroma C>
ORV_AVX2 inline AvxTerms avx_terms(const uint8_t *u, const uint8_t *v, const AvxK &k)
{
    __m256i cb, cr;
    if constexpr (C == Chroma::planar) {
        cb = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(u)));
        cr = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v)));
        cb = _mm256_or_si256(cb, _mm256_slli_epi32(cb, 16));
        cr = _mm256_or_si256(cr, _mm256_slli_epi32(cr, 16));
    } else {
        const __m256i p = avx_load(C == Chroma::semi_uv ? u : v);
        const __m256i first = _mm256_blend_epi16(p, _mm256_slli_epi32(p, 16), 0xAA);
        const __m256i second = _mm256_blend_epi16(_mm256_srli_epi32(p, 16), p, 0xAA);
        cb = C == Chroma::semi_uv ? first : second;
        cr = C == Chroma::semi_uv ? second : first;
    }
    cb = _mm256_sub_epi16(avx_sample5<High>(cb), k.chroma_offset);
    cr = _mm256_sub_epi16(avx_sample5<High>(cr), k.chroma_offset);
    return {_mm256_mulhrs_epi16(cr, k.cr_red),
            _mm256_add_epi16(_mm256_mulhrs_epi16(cb, k.cb_green), _mm256_mulhrs_epi16(cr, k.cr_green)),
            _mm256_mulhrs_epi16(cb, k.cb_blue)};
}

// The same in RGBA order: 128-bit lane 0 holds pixels 0-3 and 8-11, lane 1
// pixels 4-7 and 12-15, so that the byte and word interleaves of the RGBA
// store give pixels 0-7 and 8-15 as whole registers. Planar chroma gets
// there with one in-lane shuffle of the broadcast samples, pairs with one
// qword permute before the blends.
template <bool High, Chroma C>
ORV_AVX2 inline AvxTerms avx_terms_rgba(const uint8_t *u, const uint8_t *v, const AvxK &k)
{
    __m256i cb, cr;
    if constexpr (C == Chroma::planar) {
        const __m256i pick = _mm256_setr_epi8(0, 1, 0, 1, 2, 3, 2, 3, 8, 9, 8, 9, 10, 11, 10, 11, 4, 5, 4, 5,
                                              6, 7, 6, 7, 12, 13, 12, 13, 14, 15, 14, 15);
        cb = _mm256_shuffle_epi8(
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(u))), pick);
        cr = _mm256_shuffle_epi8(
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v))), pick);
    } else {
        const __m256i p = _mm256_permute4x64_epi64(avx_load(C == Chroma::semi_uv ? u : v), 0xD8);
        const __m256i first = _mm256_blend_epi16(p, _mm256_slli_epi32(p, 16), 0xAA);
        const __m256i second = _mm256_blend_epi16(_mm256_srli_epi32(p, 16), p, 0xAA);
        cb = C == Chroma::semi_uv ? first : second;
        cr = C == Chroma::semi_uv ? second : first;
    }
    cb = _mm256_sub_epi16(avx_sample5<High>(cb), k.chroma_offset);
    cr = _mm256_sub_epi16(avx_sample5<High>(cr), k.chroma_offset);
    return {_mm256_mulhrs_epi16(cr, k.cr_red),
            _mm256_add_epi16(_mm256_mulhrs_epi16(cb, k.cb_green), _mm256_mulhrs_epi16(cr, k.cr_green)),
            _mm256_mulhrs_epi16(cb, k.cb_blue)};
}

struct AvxFixed {
    __m256i r, g, b;
};

template <bool High, bool RgbaOrder = false>
ORV_AVX2 inline AvxFixed avx_row(const uint8_t *y, const AvxTerms &t, const AvxK &k)
{
    __m256i w = avx_load(y);
    if constexpr (RgbaOrder)
        w = _mm256_permute4x64_epi64(w, 0xD8);
    const __m256i l = _mm256_mulhrs_epi16(_mm256_sub_epi16(avx_sample5<High>(w), k.luma_offset), k.luma_gain);
    return {_mm256_add_epi16(l, t.r), _mm256_sub_epi16(l, t.g), _mm256_add_epi16(l, t.b)};
}

ORV_AVX2 inline void avx_store_rgba(uint8_t *dst, const AvxFixed &c)
{
    const __m256i eight = _mm256_set1_epi16(2048), alpha = _mm256_set1_epi16(0xFF);
    const __m256i pairs = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9,
                                           2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    // Lane 0 ends with pixels 0-3 and 8-11, lane 1 with 4-7 and 12-15.
    const __m256i rg = _mm256_shuffle_epi8(
        _mm256_packus_epi16(_mm256_mulhrs_epi16(c.r, eight), _mm256_mulhrs_epi16(c.g, eight)), pairs);
    const __m256i ba =
        _mm256_shuffle_epi8(_mm256_packus_epi16(_mm256_mulhrs_epi16(c.b, eight), alpha), pairs);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), _mm256_unpacklo_epi16(rg, ba));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32), _mm256_unpackhi_epi16(rg, ba));
}

ORV_AVX2 inline __m256i avx_with_carry(__m256i c, __m256i &e, __m256i below)
{
    const __m256i c4 = _mm256_slli_epi16(
        _mm256_min_epi16(_mm256_max_epi16(c, _mm256_setzero_si256()), _mm256_set1_epi16(4095)), 4);
    const __m256i s = _mm256_adds_epu16(c4, e);
    e = _mm256_and_si256(s, below);
    return s;
}

ORV_AVX2 inline void avx_store565(uint8_t *dst, const AvxFixed &c, __m256i &er, __m256i &eg, __m256i &eb)
{
    const __m256i r = avx_with_carry(c.r, er, _mm256_set1_epi16(127 << 4));
    const __m256i g = avx_with_carry(c.g, eg, _mm256_set1_epi16(63 << 4));
    const __m256i b = avx_with_carry(c.b, eb, _mm256_set1_epi16(127 << 4));
    const __m256i p =
        _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(r, _mm256_set1_epi16(short(0xF800))),
                                        _mm256_and_si256(_mm256_srli_epi16(g, 5), _mm256_set1_epi16(0x07E0))),
                        _mm256_srli_epi16(b, 11));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), p);
}

// A channel's 16 carry words, even columns first in memory, in column order.
ORV_AVX2 inline __m256i avx_load_carry(const uint8_t *e)
{
    const __m256i interleave = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8,
                                                9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    return _mm256_shuffle_epi8(_mm256_permute4x64_epi64(avx_load(e), 0xD8), interleave);
}

ORV_AVX2 inline void avx_store_carry(uint8_t *at, __m256i e)
{
    const __m256i split = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15, 0, 1, 4, 5,
                                           8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(at),
                        _mm256_permute4x64_epi64(_mm256_shuffle_epi8(e, split), 0xD8));
}

template <bool High, Chroma C, bool Pair>
ORV_AVX2 void avx_rgba(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                       const uint8_t *u, const uint8_t *v, const YuvCoefficients *coefficients, int count)
{
    const AvxK k = avx_k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const AvxTerms t = avx_terms_rgba<High, C>(u, v, k);
        avx_store_rgba(dst, avx_row<High, true>(y, t, k));
        if constexpr (Pair)
            avx_store_rgba(dst + dst_stride, avx_row<High, true>(y + y_stride, t, k));
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 64;
    }
}

template <bool High, Chroma C, bool Pair>
ORV_AVX2 void avx_rgb565(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                         const uint8_t *u, const uint8_t *v, uint8_t *errors,
                         const YuvCoefficients *coefficients, int count)
{
    const AvxK k = avx_k(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        const AvxTerms t = avx_terms<High, C>(u, v, k);
        __m256i er = avx_load_carry(errors), eg = avx_load_carry(errors + 32),
                eb = avx_load_carry(errors + 64);
        avx_store565(dst, avx_row<High>(y, t, k), er, eg, eb);
        if constexpr (Pair)
            avx_store565(dst + dst_stride, avx_row<High>(y + y_stride, t, k), er, eg, eb);
        avx_store_carry(errors, er), avx_store_carry(errors + 32, eg), avx_store_carry(errors + 64, eb);
        y += 32, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, errors += 96;
    }
}

// ---- Entries: the chroma layout chosen once per call; semi-planar
// pointers that are not one word apart draw nothing.

template <bool Avx, bool High, Chroma C, bool Pair>
void rgba_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
               const uint8_t *v, const YuvCoefficients *k, int count)
{
    if constexpr (Avx)
        avx_rgba<High, C, Pair>(dst, dst_stride, y, y_stride, u, v, k, count);
    else
        sse_rgba<High, C, Pair>(dst, dst_stride, y, y_stride, u, v, k, count);
}

template <bool Avx, bool High, Chroma C, bool Pair>
void rgb565_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                 const uint8_t *v, uint8_t *errors, const YuvCoefficients *k, int count)
{
    if constexpr (Avx)
        avx_rgb565<High, C, Pair>(dst, dst_stride, y, y_stride, u, v, errors, k, count);
    else
        sse_rgb565<High, C, Pair>(dst, dst_stride, y, y_stride, u, v, errors, k, count);
}

template <bool Avx, bool High, bool Semi, bool Pair>
void rgba_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                const uint8_t *v, uint8_t *, const YuvCoefficients *k, int count)
{
    if constexpr (!Semi)
        rgba_rows<Avx, High, Chroma::planar, Pair>(dst, dst_stride, y, y_stride, u, v, k, count);
    else if (v == u + 2)
        rgba_rows<Avx, High, Chroma::semi_uv, Pair>(dst, dst_stride, y, y_stride, u, v, k, count);
    else if (u == v + 2)
        rgba_rows<Avx, High, Chroma::semi_vu, Pair>(dst, dst_stride, y, y_stride, u, v, k, count);
}

template <bool Avx, bool High, bool Semi, bool Pair>
void rgb565_entry(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride, const uint8_t *u,
                  const uint8_t *v, uint8_t *errors, const YuvCoefficients *k, int count)
{
    if constexpr (!Semi)
        rgb565_rows<Avx, High, Chroma::planar, Pair>(dst, dst_stride, y, y_stride, u, v, errors, k, count);
    else if (v == u + 2)
        rgb565_rows<Avx, High, Chroma::semi_uv, Pair>(dst, dst_stride, y, y_stride, u, v, errors, k, count);
    else if (u == v + 2)
        rgb565_rows<Avx, High, Chroma::semi_vu, Pair>(dst, dst_stride, y, y_stride, u, v, errors, k, count);
}

template <bool Avx, bool High, bool Semi>
void rgba_row(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,
              const YuvCoefficients *k, int count)
{
    rgba_entry<Avx, High, Semi, false>(dst, 0, y, 0, u, v, errors, k, count);
}

template <bool Avx, bool High, bool Semi>
void rgb565_row(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,
                const YuvCoefficients *k, int count)
{
    rgb565_entry<Avx, High, Semi, false>(dst, 0, y, 0, u, v, errors, k, count);
}

template <bool Avx, bool High>
DeviceRowKernels kernels_of()
{
    return {rgba_row<Avx, High, false>,         rgb565_row<Avx, High, false>,
            rgba_row<Avx, High, true>,          rgb565_row<Avx, High, true>,
            rgba_entry<Avx, High, false, true>, rgb565_entry<Avx, High, false, true>,
            rgba_entry<Avx, High, true, true>,  rgb565_entry<Avx, High, true, true>};
}

template <bool Avx>
DeviceRowKernels kernels_for(int samples)
{
    if (samples == DEVICE_SAMPLES_10_LOW)
        return kernels_of<Avx, false>();
    if (samples == DEVICE_SAMPLES_10_HIGH)
        return kernels_of<Avx, true>();
    return {};
}

} // namespace

extern "C" DeviceRowKernels orv_kernels_sse41_10(int samples)
{
    return kernels_for<false>(samples);
}

extern "C" DeviceRowKernels orv_kernels_avx2_10(int samples)
{
    return kernels_for<true>(samples);
}
#endif
