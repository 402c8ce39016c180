// x86 versions of the row kernels the blitter calls (32-bit and RGB565 with
// the carry, planar and semi-planar chroma), for CPUs with SSE4.1 or AVX2.
// They give the bytes of the NEON tier (and of the scalar model) exactly;
// the pick checks that the CPU runs them. Owns no state; takes no lock.
#include "kernels/x86/x86.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

// The 16-bit lane arithmetic of the NEON kernels, per pixel:
//  mulq (vqrdmulh)  -> _mm_mulhrs_epi16, equal except for -32768 * -32768,
//                      which no library block holds;
//  narrow (vqrshrun #4) -> (saturating x + 8) >> 4, then packus.
// Pixel order needs no even/odd split here: each pixel's chroma term is its
// sample's term duplicated.

#define ORV_SSE  __attribute__((target("sse4.1")))
#define ORV_AVX2 __attribute__((target("avx2")))

struct SseConstants {
    __m128i luma_offset, chroma_offset, luma_gain, cr_green, cb_green, cr_red, cb_blue;
    __m128i red_bias, green_bias, blue_bias, eight;
};

ORV_SSE inline SseConstants sse_constants(const YuvCoefficients *c)
{
    return {_mm_set1_epi16(short(c->luma_offset)),
            _mm_set1_epi16(short(c->chroma_offset)),
            _mm_set1_epi16(c->luma_gain),
            _mm_set1_epi16(c->cr_green),
            _mm_set1_epi16(c->cb_green),
            _mm_set1_epi16(c->cr_red),
            _mm_set1_epi16(c->cb_blue),
            _mm_set1_epi8(char(c->red_bias)),
            _mm_set1_epi8(char(c->green_bias)),
            _mm_set1_epi8(char(c->blue_bias)),
            _mm_set1_epi16(8)};
}

struct SseRgb {
    __m128i r, g, b;
};

ORV_SSE inline __m128i sse_narrow(__m128i lo, __m128i hi, __m128i eight)
{
    return _mm_packus_epi16(_mm_srai_epi16(_mm_adds_epi16(lo, eight), 4),
                            _mm_srai_epi16(_mm_adds_epi16(hi, eight), 4));
}

// Where the chroma samples come from: two planes, or one row of pairs (Cb
// first for NV12, Cr first for NV21), split by masking and shifting the
// 16-bit lanes, which also widens them.
enum class Chroma { planar, semi_uv, semi_vu };

template <Chroma C>
constexpr int kChromaAdvance = C == Chroma::planar ? 8 : 16;

template <Chroma C>
ORV_SSE inline void sse_load_chroma(const uint8_t *u, const uint8_t *v, __m128i &cb, __m128i &cr)
{
    if constexpr (C == Chroma::planar) {
        cb = _mm_cvtepu8_epi16(_mm_loadl_epi64((const __m128i *)u));
        cr = _mm_cvtepu8_epi16(_mm_loadl_epi64((const __m128i *)v));
    } else {
        const __m128i pairs = _mm_loadu_si128((const __m128i *)(C == Chroma::semi_uv ? u : v));
        const __m128i first = _mm_and_si128(pairs, _mm_set1_epi16(0x00FF)), second = _mm_srli_epi16(pairs, 8);
        cb = C == Chroma::semi_uv ? first : second;
        cr = C == Chroma::semi_uv ? second : first;
    }
}

template <Chroma C>
ORV_SSE inline SseRgb sse_convert16(const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                    const SseConstants &k)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i cb, cr;
    sse_load_chroma<C>(u, v, cb, cr);
    cb = _mm_sub_epi16(_mm_slli_epi16(cb, 7), k.chroma_offset);
    cr = _mm_sub_epi16(_mm_slli_epi16(cr, 7), k.chroma_offset);
    __m128i b_u = _mm_mulhrs_epi16(cb, k.cb_blue);
    __m128i g_uv = _mm_add_epi16(_mm_mulhrs_epi16(cb, k.cb_green), _mm_mulhrs_epi16(cr, k.cr_green));
    __m128i r_v = _mm_mulhrs_epi16(cr, k.cr_red);

    __m128i luma = _mm_loadu_si128((const __m128i *)y);
    __m128i l0 = _mm_mulhrs_epi16(
        _mm_sub_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(luma, zero), 7), k.luma_offset), k.luma_gain);
    __m128i l1 = _mm_mulhrs_epi16(
        _mm_sub_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(luma, zero), 7), k.luma_offset), k.luma_gain);
    SseRgb out;
    out.r = sse_narrow(_mm_add_epi16(l0, _mm_unpacklo_epi16(r_v, r_v)),
                       _mm_add_epi16(l1, _mm_unpackhi_epi16(r_v, r_v)), k.eight);
    out.g = sse_narrow(_mm_sub_epi16(l0, _mm_unpacklo_epi16(g_uv, g_uv)),
                       _mm_sub_epi16(l1, _mm_unpackhi_epi16(g_uv, g_uv)), k.eight);
    out.b = sse_narrow(_mm_add_epi16(l0, _mm_unpacklo_epi16(b_u, b_u)),
                       _mm_add_epi16(l1, _mm_unpackhi_epi16(b_u, b_u)), k.eight);
    out.r = _mm_adds_epu8(out.r, k.red_bias);
    out.g = _mm_adds_epu8(out.g, k.green_bias);
    out.b = _mm_adds_epu8(out.b, k.blue_bias);
    return out;
}

ORV_SSE inline void sse_store_rgb32(uint8_t *dst, const SseRgb &c)
{
    const __m128i alpha = _mm_set1_epi8(char(0xFF));
    __m128i rg_lo = _mm_unpacklo_epi8(c.r, c.g), rg_hi = _mm_unpackhi_epi8(c.r, c.g);
    __m128i ba_lo = _mm_unpacklo_epi8(c.b, alpha), ba_hi = _mm_unpackhi_epi8(c.b, alpha);
    _mm_storeu_si128((__m128i *)dst, _mm_unpacklo_epi16(rg_lo, ba_lo));
    _mm_storeu_si128((__m128i *)(dst + 16), _mm_unpackhi_epi16(rg_lo, ba_lo));
    _mm_storeu_si128((__m128i *)(dst + 32), _mm_unpacklo_epi16(rg_hi, ba_hi));
    _mm_storeu_si128((__m128i *)(dst + 48), _mm_unpackhi_epi16(rg_hi, ba_hi));
}

ORV_SSE inline void sse_store565(uint8_t *dst, const SseRgb &c)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i red_mask = _mm_set1_epi16(short(0xF800)), green_mask = _mm_set1_epi16(0x07E0);
    for (int half = 0; half < 2; ++half) {
        __m128i r = half ? _mm_unpackhi_epi8(zero, c.r) : _mm_unpacklo_epi8(zero, c.r); // r << 8
        __m128i g = half ? _mm_unpackhi_epi8(zero, c.g) : _mm_unpacklo_epi8(zero, c.g); // g << 8
        __m128i b = half ? _mm_unpackhi_epi8(zero, c.b) : _mm_unpacklo_epi8(zero, c.b); // b << 8
        __m128i p = _mm_or_si128(_mm_and_si128(r, red_mask), _mm_and_si128(_mm_srli_epi16(g, 5), green_mask));
        p = _mm_or_si128(p, _mm_srli_epi16(b, 11));
        _mm_storeu_si128((__m128i *)(dst + 16 * half), p);
    }
}

template <Chroma C>
ORV_SSE void sse_yuv_rgb32(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *,
                           const YuvCoefficients *coefficients, int count)
{
    const SseConstants k = sse_constants(coefficients);
    for (int steps = count / 16; steps > 0; --steps) {
        sse_store_rgb32(dst, sse_convert16<C>(y, u, v, k));
        y += 16, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 64;
    }
}

template <Chroma C>
ORV_SSE void sse_filter_rgb565(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                               uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    const SseConstants k = sse_constants(coefficients);
    const __m128i mask7 = _mm_set1_epi8(7), mask3 = _mm_set1_epi8(3);
    for (int steps = count / 16; steps > 0; --steps) {
        SseRgb c = sse_convert16<C>(y, u, v, k);
        c.r = _mm_adds_epu8(c.r, _mm_loadu_si128((const __m128i *)errors));
        c.g = _mm_adds_epu8(c.g, _mm_loadu_si128((const __m128i *)(errors + 16)));
        c.b = _mm_adds_epu8(c.b, _mm_loadu_si128((const __m128i *)(errors + 32)));
        _mm_storeu_si128((__m128i *)errors, _mm_and_si128(c.r, mask7));
        _mm_storeu_si128((__m128i *)(errors + 16), _mm_and_si128(c.g, mask3));
        _mm_storeu_si128((__m128i *)(errors + 32), _mm_and_si128(c.b, mask7));
        sse_store565(dst, c);
        y += 16, u += kChromaAdvance<C>, v += kChromaAdvance<C>, dst += 32, errors += 48;
    }
}

struct AvxConstants {
    __m256i luma_offset, chroma_offset, luma_gain, cr_green, cb_green, cr_red, cb_blue;
    __m256i red_bias, green_bias, blue_bias, narrow, low_bytes, interleave;
    // Half the luma offset and twice the gain, when those give the same
    // products: an even offset no larger than 128 * 256 (so 128 * Y less it
    // never wraps) and a gain that doubles within 16 bits.
    __m256i half_luma_offset, double_luma_gain;
    bool has_bias, halved_luma;
};

ORV_AVX2 inline AvxConstants avx_constants(const YuvCoefficients *c)
{
    // Per lane: bytes 0-7 (even pixels) and 8-15 (odd pixels) back in order.
    const __m256i interleave = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1,
                                                9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    return {_mm256_set1_epi16(short(c->luma_offset)),
            _mm256_set1_epi16(short(c->chroma_offset)),
            _mm256_set1_epi16(c->luma_gain),
            _mm256_set1_epi16(c->cr_green),
            _mm256_set1_epi16(c->cb_green),
            _mm256_set1_epi16(c->cr_red),
            _mm256_set1_epi16(c->cb_blue),
            _mm256_set1_epi8(char(c->red_bias)),
            _mm256_set1_epi8(char(c->green_bias)),
            _mm256_set1_epi8(char(c->blue_bias)),
            _mm256_set1_epi16(2048),
            _mm256_set1_epi16(0x00FF),
            interleave,
            _mm256_set1_epi16(short(c->luma_offset / 2)),
            _mm256_set1_epi16(short(2 * c->luma_gain)),
            (c->red_bias | c->green_bias | c->blue_bias) != 0,
            c->luma_offset % 2 == 0 && c->luma_offset <= 32768 && c->luma_gain >= -16384 &&
                c->luma_gain <= 16383};
}

struct AvxRgb {
    __m256i r, g, b; // pixels 0-15 in the low lane, 16-31 in the high lane
};

// (x + 8) >> 4 without overflow is mulhrs by 2048; packus saturates, and
// the shuffle puts even and odd pixels back in order.
ORV_AVX2 inline __m256i avx_narrow(__m256i even, __m256i odd, const AvxConstants &k)
{
    return _mm256_shuffle_epi8(
        _mm256_packus_epi16(_mm256_mulhrs_epi16(even, k.narrow), _mm256_mulhrs_epi16(odd, k.narrow)),
        k.interleave);
}

// 32 pixels, split like the NEON kernels into even and odd pixels: 16-bit
// lane i of each 128-bit half holds pixel pair i, which is chroma sample i.
template <Chroma C>
ORV_AVX2 inline void avx_load_chroma(const uint8_t *u, const uint8_t *v, __m256i &cb, __m256i &cr)
{
    if constexpr (C == Chroma::planar) {
        cb = _mm256_cvtepu8_epi16(_mm_loadu_si128((const __m128i *)u));
        cr = _mm256_cvtepu8_epi16(_mm_loadu_si128((const __m128i *)v));
    } else {
        const __m256i pairs = _mm256_loadu_si256((const __m256i *)(C == Chroma::semi_uv ? u : v));
        const __m256i first = _mm256_and_si256(pairs, _mm256_set1_epi16(0x00FF));
        const __m256i second = _mm256_srli_epi16(pairs, 8);
        cb = C == Chroma::semi_uv ? first : second;
        cr = C == Chroma::semi_uv ? second : first;
    }
}

struct AvxTerms {
    __m256i r_v, g_uv, b_u;
};

// RGBA order: each 128-bit lane holds every other group of 4 pixels (lane 0
// pixels 0-3, 8-11, 16-19, 24-27), so that the byte and word interleaves of
// the RGBA store land whole 32-byte runs in order, with no lane permute. One
// dword permute of the luma (and of each chroma vector) sets it up.
template <Chroma C, bool RgbaOrder = false>
ORV_AVX2 inline AvxTerms avx_terms(const uint8_t *u, const uint8_t *v, const AvxConstants &k)
{
    __m256i cb, cr;
    if constexpr (RgbaOrder && C == Chroma::planar) {
        // Both lanes get the 16 samples and each picks its words of the RGBA
        // order: one in-lane shuffle instead of a widening and a lane permute.
        const __m256i pick = _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 2, -1,
                                              3, -1, 6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
        cb = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(_mm_loadu_si128((const __m128i *)u)), pick);
        cr = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(_mm_loadu_si128((const __m128i *)v)), pick);
    } else {
        avx_load_chroma<C>(u, v, cb, cr);
    }
    if constexpr (RgbaOrder && C != Chroma::planar) {
        const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
        cb = _mm256_permutevar8x32_epi32(cb, order);
        cr = _mm256_permutevar8x32_epi32(cr, order);
    }
    cb = _mm256_sub_epi16(_mm256_slli_epi16(cb, 7), k.chroma_offset);
    cr = _mm256_sub_epi16(_mm256_slli_epi16(cr, 7), k.chroma_offset);
    return {_mm256_mulhrs_epi16(cr, k.cr_red),
            _mm256_add_epi16(_mm256_mulhrs_epi16(cb, k.cb_green), _mm256_mulhrs_epi16(cr, k.cr_green)),
            _mm256_mulhrs_epi16(cb, k.cb_blue)};
}

template <bool RgbaOrder = false, bool HalvedLuma = false>
ORV_AVX2 inline AvxRgb avx_row32(const uint8_t *y, const AvxTerms &t, const AvxConstants &k)
{
    static_assert(RgbaOrder || !HalvedLuma);
    const __m256i r_v = t.r_v, g_uv = t.g_uv, b_u = t.b_u;
    __m256i luma = _mm256_loadu_si256((const __m256i *)y);
    if constexpr (RgbaOrder)
        luma = _mm256_permutevar8x32_epi32(luma, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    __m256i even, odd;
    if constexpr (RgbaOrder) {
        // 64 * Y through the multiplier: the RGBA store keeps the shift and
        // shuffle units busy enough. The factor 2 goes into the gain where
        // that is exact, else into an add.
        even = _mm256_maddubs_epi16(luma, _mm256_set1_epi16(64));
        odd = _mm256_maddubs_epi16(luma, _mm256_set1_epi16(64 << 8));
        if constexpr (HalvedLuma) {
            even = _mm256_mulhrs_epi16(_mm256_sub_epi16(even, k.half_luma_offset), k.double_luma_gain);
            odd = _mm256_mulhrs_epi16(_mm256_sub_epi16(odd, k.half_luma_offset), k.double_luma_gain);
        } else {
            even = _mm256_add_epi16(even, even), odd = _mm256_add_epi16(odd, odd);
        }
    } else {
        even = _mm256_slli_epi16(_mm256_and_si256(luma, k.low_bytes), 7);
        odd = _mm256_slli_epi16(_mm256_srli_epi16(luma, 8), 7);
    }
    if constexpr (!HalvedLuma) {
        even = _mm256_mulhrs_epi16(_mm256_sub_epi16(even, k.luma_offset), k.luma_gain);
        odd = _mm256_mulhrs_epi16(_mm256_sub_epi16(odd, k.luma_offset), k.luma_gain);
    }
    AvxRgb out;
    out.r = avx_narrow(_mm256_add_epi16(even, r_v), _mm256_add_epi16(odd, r_v), k);
    out.g = avx_narrow(_mm256_sub_epi16(even, g_uv), _mm256_sub_epi16(odd, g_uv), k);
    out.b = avx_narrow(_mm256_add_epi16(even, b_u), _mm256_add_epi16(odd, b_u), k);
    if (k.has_bias) {
        out.r = _mm256_adds_epu8(out.r, k.red_bias);
        out.g = _mm256_adds_epu8(out.g, k.green_bias);
        out.b = _mm256_adds_epu8(out.b, k.blue_bias);
    }
    return out;
}

template <Chroma C>
ORV_AVX2 inline AvxRgb avx_convert32(const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                     const AvxConstants &k)
{
    return avx_row32(y, avx_terms<C>(u, v, k), k);
}

// 32 pixels converted in RGBA order (above).
ORV_AVX2 inline void avx_store_rgb32(uint8_t *dst, const AvxRgb &c)
{
    const __m256i alpha = _mm256_set1_epi8(char(0xFF));
    __m256i rg_lo = _mm256_unpacklo_epi8(c.r, c.g), rg_hi = _mm256_unpackhi_epi8(c.r, c.g);
    __m256i ba_lo = _mm256_unpacklo_epi8(c.b, alpha), ba_hi = _mm256_unpackhi_epi8(c.b, alpha);
    _mm256_storeu_si256((__m256i *)dst, _mm256_unpacklo_epi16(rg_lo, ba_lo));        // pixels 0-3 | 4-7
    _mm256_storeu_si256((__m256i *)(dst + 32), _mm256_unpackhi_epi16(rg_lo, ba_lo)); // 8-11 | 12-15
    _mm256_storeu_si256((__m256i *)(dst + 64), _mm256_unpacklo_epi16(rg_hi, ba_hi)); // 16-19 | 20-23
    _mm256_storeu_si256((__m256i *)(dst + 96), _mm256_unpackhi_epi16(rg_hi, ba_hi)); // 24-27 | 28-31
}

ORV_AVX2 inline void avx_store565(uint8_t *dst, const AvxRgb &c)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i red_mask = _mm256_set1_epi16(short(0xF800)), green_mask = _mm256_set1_epi16(0x07E0);
    __m256i half[2];
    for (int h = 0; h < 2; ++h) {
        __m256i r = h ? _mm256_unpackhi_epi8(zero, c.r) : _mm256_unpacklo_epi8(zero, c.r);
        __m256i g = h ? _mm256_unpackhi_epi8(zero, c.g) : _mm256_unpacklo_epi8(zero, c.g);
        __m256i b = h ? _mm256_unpackhi_epi8(zero, c.b) : _mm256_unpacklo_epi8(zero, c.b);
        __m256i p = _mm256_or_si256(_mm256_and_si256(r, red_mask),
                                    _mm256_and_si256(_mm256_srli_epi16(g, 5), green_mask));
        half[h] = _mm256_or_si256(p, _mm256_srli_epi16(b, 11)); // 0-7 | 16-23, then 8-15 | 24-31
    }
    _mm256_storeu_si256((__m256i *)dst, _mm256_permute2x128_si256(half[0], half[1], 0x20));
    _mm256_storeu_si256((__m256i *)(dst + 32), _mm256_permute2x128_si256(half[0], half[1], 0x31));
}

// The carries of two consecutive 48-byte blocks as one 32-pixel vector.
ORV_AVX2 inline __m256i avx_load_carry(const uint8_t *block)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i *)block)),
                                   _mm_loadu_si128((const __m128i *)(block + 48)), 1);
}

ORV_AVX2 inline void avx_store_carry(uint8_t *block, __m256i carry)
{
    _mm_storeu_si128((__m128i *)block, _mm256_castsi256_si128(carry));
    _mm_storeu_si128((__m128i *)(block + 48), _mm256_extracti128_si256(carry, 1));
}

// Whole groups of 32 pixels of Rows rows (1 or 2) sharing one chroma row;
// returns the groups of 16 left over (-1 for a count below -15).
template <Chroma C, int Rows, bool HalvedLuma>
ORV_AVX2 int avx_rgb32_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                            const uint8_t *u, const uint8_t *v, const AvxConstants &k, int count)
{
    int steps = count / 16;
    for (; steps >= 2; steps -= 2) {
        const AvxTerms t = avx_terms<C, true>(u, v, k);
        avx_store_rgb32(dst, avx_row32<true, HalvedLuma>(y, t, k));
        if constexpr (Rows == 2)
            avx_store_rgb32(dst + dst_stride, avx_row32<true, HalvedLuma>(y + y_stride, t, k));
        y += 32, u += 2 * kChromaAdvance<C>, v += 2 * kChromaAdvance<C>, dst += 128;
    }
    return steps;
}

template <Chroma C, int Rows>
ORV_AVX2 int avx_rgb32_rows(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                            const uint8_t *u, const uint8_t *v, const AvxConstants &k, int count)
{
    return k.halved_luma ? avx_rgb32_rows<C, Rows, true>(dst, dst_stride, y, y_stride, u, v, k, count)
                         : avx_rgb32_rows<C, Rows, false>(dst, dst_stride, y, y_stride, u, v, k, count);
}

template <Chroma C>
ORV_AVX2 void avx_yuv_rgb32(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                            uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    const AvxConstants k = avx_constants(coefficients);
    if (avx_rgb32_rows<C, 1>(dst, 0, y, 0, u, v, k, count) > 0) {
        const int done = count / 32 * 32;
        sse_yuv_rgb32<C>(dst + 4 * done, y + done, u + done / 16 * kChromaAdvance<C>,
                         v + done / 16 * kChromaAdvance<C>, errors, coefficients, 16);
    }
}

template <Chroma C>
ORV_AVX2 void avx_filter_rgb565(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                uint8_t *errors, const YuvCoefficients *coefficients, int count)
{
    const AvxConstants k = avx_constants(coefficients);
    const __m256i mask7 = _mm256_set1_epi8(7), mask3 = _mm256_set1_epi8(3);
    int steps = count / 16;
    for (; steps >= 2; steps -= 2) {
        AvxRgb c = avx_convert32<C>(y, u, v, k);
        c.r = _mm256_adds_epu8(c.r, avx_load_carry(errors));
        c.g = _mm256_adds_epu8(c.g, avx_load_carry(errors + 16));
        c.b = _mm256_adds_epu8(c.b, avx_load_carry(errors + 32));
        avx_store_carry(errors, _mm256_and_si256(c.r, mask7));
        avx_store_carry(errors + 16, _mm256_and_si256(c.g, mask3));
        avx_store_carry(errors + 32, _mm256_and_si256(c.b, mask7));
        avx_store565(dst, c);
        y += 32, u += 2 * kChromaAdvance<C>, v += 2 * kChromaAdvance<C>, dst += 64, errors += 96;
    }
    if (steps > 0) // a negative count leaves -1
        sse_filter_rgb565<C>(dst, y, u, v, errors, coefficients, 16);
}

// Two rows of one chroma row: the chroma terms once for both, the carry
// through the first row into the second in registers. A leftover group of
// 16 columns goes to the SSE row kernel, first row first.
template <Chroma C>
ORV_AVX2 void avx_yuv_rgb32_pair(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                 const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                 const YuvCoefficients *coefficients, int count)
{
    const AvxConstants k = avx_constants(coefficients);
    if (avx_rgb32_rows<C, 2>(dst, dst_stride, y, y_stride, u, v, k, count) > 0) {
        const int done = count / 32 * 32;
        dst += 4 * done, y += done, u += done / 16 * kChromaAdvance<C>, v += done / 16 * kChromaAdvance<C>;
        sse_yuv_rgb32<C>(dst, y, u, v, errors, coefficients, 16);
        sse_yuv_rgb32<C>(dst + dst_stride, y + y_stride, u, v, errors, coefficients, 16);
    }
}

template <Chroma C>
ORV_AVX2 void avx_filter_rgb565_pair(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,
                                     const uint8_t *u, const uint8_t *v, uint8_t *errors,
                                     const YuvCoefficients *coefficients, int count)
{
    const AvxConstants k = avx_constants(coefficients);
    const __m256i mask7 = _mm256_set1_epi8(7), mask3 = _mm256_set1_epi8(3);
    uint8_t *dst1 = dst + dst_stride;
    const uint8_t *y1 = y + y_stride;
    int steps = count / 16;
    for (; steps >= 2; steps -= 2) {
        const AvxTerms t = avx_terms<C>(u, v, k);
        __m256i er = avx_load_carry(errors), eg = avx_load_carry(errors + 16),
                eb = avx_load_carry(errors + 32);
        AvxRgb c = avx_row32(y, t, k);
        c.r = _mm256_adds_epu8(c.r, er), c.g = _mm256_adds_epu8(c.g, eg), c.b = _mm256_adds_epu8(c.b, eb);
        er = _mm256_and_si256(c.r, mask7), eg = _mm256_and_si256(c.g, mask3),
        eb = _mm256_and_si256(c.b, mask7);
        avx_store565(dst, c);
        c = avx_row32(y1, t, k);
        c.r = _mm256_adds_epu8(c.r, er), c.g = _mm256_adds_epu8(c.g, eg), c.b = _mm256_adds_epu8(c.b, eb);
        avx_store_carry(errors, _mm256_and_si256(c.r, mask7));
        avx_store_carry(errors + 16, _mm256_and_si256(c.g, mask3));
        avx_store_carry(errors + 32, _mm256_and_si256(c.b, mask7));
        avx_store565(dst1, c);
        y += 32, y1 += 32, u += 2 * kChromaAdvance<C>, v += 2 * kChromaAdvance<C>, dst += 64, dst1 += 64;
        errors += 96;
    }
    if (steps > 0) {
        sse_filter_rgb565<C>(dst, y, u, v, errors, coefficients, 16);
        sse_filter_rgb565<C>(dst1, y1, u, v, errors, coefficients, 16);
    }
}

#define ORV_SEMI_PAIR_ENTRY(attr, name, body)                                                                \
    attr void name(uint8_t *dst, ptrdiff_t dst_stride, const uint8_t *y, ptrdiff_t y_stride,                 \
                   const uint8_t *u, const uint8_t *v, uint8_t *errors, const YuvCoefficients *coefficients, \
                   int count)                                                                                \
    {                                                                                                        \
        if (v == u + 1)                                                                                      \
            body<Chroma::semi_uv>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);          \
        else if (u == v + 1)                                                                                 \
            body<Chroma::semi_vu>(dst, dst_stride, y, y_stride, u, v, errors, coefficients, count);          \
    }

ORV_SEMI_PAIR_ENTRY(ORV_AVX2, avx_yuv_rgb32_semi_pair, avx_yuv_rgb32_pair)
ORV_SEMI_PAIR_ENTRY(ORV_AVX2, avx_filter_rgb565_semi_pair, avx_filter_rgb565_pair)
#undef ORV_SEMI_PAIR_ENTRY

// Semi-planar entry points: NV12 (v = u + 1) or NV21 (u = v + 1); other
// pointers are no semi-planar row and draw nothing, as in the NEON tier.
#define ORV_SEMI_ENTRY(attr, name, body)                                                                     \
    attr void name(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *errors,      \
                   const YuvCoefficients *coefficients, int count)                                           \
    {                                                                                                        \
        if (v == u + 1)                                                                                      \
            body<Chroma::semi_uv>(dst, y, u, v, errors, coefficients, count);                                \
        else if (u == v + 1)                                                                                 \
            body<Chroma::semi_vu>(dst, y, u, v, errors, coefficients, count);                                \
    }

ORV_SEMI_ENTRY(ORV_SSE, sse_yuv_rgb32_semi, sse_yuv_rgb32)
ORV_SEMI_ENTRY(ORV_SSE, sse_filter_rgb565_semi, sse_filter_rgb565)
ORV_SEMI_ENTRY(ORV_AVX2, avx_yuv_rgb32_semi, avx_yuv_rgb32)
ORV_SEMI_ENTRY(ORV_AVX2, avx_filter_rgb565_semi, avx_filter_rgb565)
#undef ORV_SEMI_ENTRY

} // namespace

extern "C" DeviceRowKernels orv_kernels_sse41(void)
{
    return {sse_yuv_rgb32<Chroma::planar>,
            sse_filter_rgb565<Chroma::planar>,
            sse_yuv_rgb32_semi,
            sse_filter_rgb565_semi,
            nullptr,
            nullptr,
            nullptr,
            nullptr};
}

extern "C" DeviceRowKernels orv_kernels_avx2(void)
{
    return {avx_yuv_rgb32<Chroma::planar>,
            avx_filter_rgb565<Chroma::planar>,
            avx_yuv_rgb32_semi,
            avx_filter_rgb565_semi,
            avx_yuv_rgb32_pair<Chroma::planar>,
            avx_filter_rgb565_pair<Chroma::planar>,
            avx_yuv_rgb32_semi_pair,
            avx_filter_rgb565_semi_pair};
}

#endif
