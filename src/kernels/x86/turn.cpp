// The x86 turn stores: 4x4 blocks of 32-bit pixels and 8x8 blocks of
// 16-bit pixels transposed with the unpack ladder, rows reversed with
// shuffles, in SSE2 for both tiers; the AVX2 tier transposes 8 rows by 4
// 32-bit pixels and 16 rows by 8 16-bit ones, two rows to a register. The
// edges that fill no whole block go one element at a time.
#include "kernels/x86/x86.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstddef>
#include <cstring>

namespace {

inline __m128i load(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

inline void store(uint8_t *p, __m128i x)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), x);
}

template <int Size>
inline void transpose_edge(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                           int row_from, int rows, int col_from, int cols)
{
    for (int i = col_from; i < cols; ++i)
        for (int j = row_from; j < rows; ++j)
            std::memcpy(dst + i * dst_stride + j * Size, src + j * src_stride + i * Size, Size);
}

void transpose32(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
                 int cols)
{
    const int rows4 = rows & ~3, cols4 = cols & ~3;
    for (int i = 0; i < cols4; i += 4) {
        uint8_t *d = dst + i * dst_stride;
        for (int j = 0; j < rows4; j += 4) {
            const uint8_t *s = src + j * src_stride + i * 4;
            const __m128i r0 = load(s), r1 = load(s + src_stride);
            const __m128i r2 = load(s + 2 * src_stride), r3 = load(s + 3 * src_stride);
            const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
            const __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
            store(d + j * 4, _mm_unpacklo_epi64(t0, t1));
            store(d + dst_stride + j * 4, _mm_unpackhi_epi64(t0, t1));
            store(d + 2 * dst_stride + j * 4, _mm_unpacklo_epi64(t2, t3));
            store(d + 3 * dst_stride + j * 4, _mm_unpackhi_epi64(t2, t3));
        }
    }
    transpose_edge<4>(src, src_stride, dst, dst_stride, rows4, rows, 0, cols4);
    transpose_edge<4>(src, src_stride, dst, dst_stride, 0, rows, cols4, cols);
}

void transpose16(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
                 int cols)
{
    const int rows8 = rows & ~7, cols8 = cols & ~7;
    for (int i = 0; i < cols8; i += 8) {
        uint8_t *d = dst + i * dst_stride;
        for (int j = 0; j < rows8; j += 8) {
            const uint8_t *s = src + j * src_stride + i * 2;
            const __m128i r0 = load(s), r1 = load(s + src_stride), r2 = load(s + 2 * src_stride),
                          r3 = load(s + 3 * src_stride), r4 = load(s + 4 * src_stride),
                          r5 = load(s + 5 * src_stride), r6 = load(s + 6 * src_stride),
                          r7 = load(s + 7 * src_stride);
            // Pairs of rows interleave, then quads, then the halves.
            const __m128i a0 = _mm_unpacklo_epi16(r0, r1), a1 = _mm_unpacklo_epi16(r2, r3);
            const __m128i a2 = _mm_unpacklo_epi16(r4, r5), a3 = _mm_unpacklo_epi16(r6, r7);
            const __m128i a4 = _mm_unpackhi_epi16(r0, r1), a5 = _mm_unpackhi_epi16(r2, r3);
            const __m128i a6 = _mm_unpackhi_epi16(r4, r5), a7 = _mm_unpackhi_epi16(r6, r7);
            const __m128i b0 = _mm_unpacklo_epi32(a0, a1), b1 = _mm_unpackhi_epi32(a0, a1);
            const __m128i b2 = _mm_unpacklo_epi32(a2, a3), b3 = _mm_unpackhi_epi32(a2, a3);
            const __m128i b4 = _mm_unpacklo_epi32(a4, a5), b5 = _mm_unpackhi_epi32(a4, a5);
            const __m128i b6 = _mm_unpacklo_epi32(a6, a7), b7 = _mm_unpackhi_epi32(a6, a7);
            uint8_t *o = d + j * 2;
            store(o, _mm_unpacklo_epi64(b0, b2));
            store(o + dst_stride, _mm_unpackhi_epi64(b0, b2));
            store(o + 2 * dst_stride, _mm_unpacklo_epi64(b1, b3));
            store(o + 3 * dst_stride, _mm_unpackhi_epi64(b1, b3));
            store(o + 4 * dst_stride, _mm_unpacklo_epi64(b4, b6));
            store(o + 5 * dst_stride, _mm_unpackhi_epi64(b4, b6));
            store(o + 6 * dst_stride, _mm_unpacklo_epi64(b5, b7));
            store(o + 7 * dst_stride, _mm_unpackhi_epi64(b5, b7));
        }
    }
    transpose_edge<2>(src, src_stride, dst, dst_stride, rows8, rows, 0, cols8);
    transpose_edge<2>(src, src_stride, dst, dst_stride, 0, rows, cols8, cols);
}

void reverse32(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
               int cols)
{
    for (int j = 0; j < rows; ++j, src += src_stride, dst += dst_stride) {
        int i = 0;
        for (; i + 4 <= cols; i += 4)
            store(dst + (cols - 4 - i) * 4, _mm_shuffle_epi32(load(src + i * 4), 0x1B));
        for (; i < cols; ++i)
            std::memcpy(dst + (cols - 1 - i) * 4, src + i * 4, 4);
    }
}

void reverse16(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
               int cols)
{
    for (int j = 0; j < rows; ++j, src += src_stride, dst += dst_stride) {
        int i = 0;
        for (; i + 8 <= cols; i += 8) {
            const __m128i x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(load(src + i * 2), 0x1B), 0x1B);
            store(dst + (cols - 8 - i) * 2, _mm_shuffle_epi32(x, 0x4E));
        }
        for (; i < cols; ++i)
            std::memcpy(dst + (cols - 1 - i) * 2, src + i * 2, 2);
    }
}

__attribute__((target("avx2"))) inline void store8(uint8_t *p, __m256i x)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), x);
}

// Two 128-bit rows as one register: lo in the low half, hi in the high.
__attribute__((target("avx2"))) inline __m256i load_halves(const uint8_t *lo, const uint8_t *hi)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load(lo)), load(hi), 1);
}

// AVX2: blocks of 8 rows by 4 32-bit pixels. Each register holds four
// pixels of row k below the same four of row k + 4, so the SSE2 ladder run
// on both halves at once leaves whole 8-pixel output rows: no cross-half
// permute, which costs more than loading the halves apart. The edges by the
// SSE2 code.
__attribute__((target("avx2"))) void transpose32_avx2(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                                                      ptrdiff_t dst_stride, int rows, int cols)
{
    const int rows8 = rows & ~7, cols4 = cols & ~3;
    for (int i = 0; i < cols4; i += 4) {
        uint8_t *d = dst + i * dst_stride;
        for (int j = 0; j < rows8; j += 8) {
            const uint8_t *s = src + j * src_stride + i * 4, *s4 = s + 4 * src_stride;
            const __m256i r0 = load_halves(s, s4), r1 = load_halves(s + src_stride, s4 + src_stride),
                          r2 = load_halves(s + 2 * src_stride, s4 + 2 * src_stride),
                          r3 = load_halves(s + 3 * src_stride, s4 + 3 * src_stride);
            const __m256i t0 = _mm256_unpacklo_epi32(r0, r1), t1 = _mm256_unpackhi_epi32(r0, r1);
            const __m256i t2 = _mm256_unpacklo_epi32(r2, r3), t3 = _mm256_unpackhi_epi32(r2, r3);
            uint8_t *o = d + j * 4;
            store8(o, _mm256_unpacklo_epi64(t0, t2));
            store8(o + dst_stride, _mm256_unpackhi_epi64(t0, t2));
            store8(o + 2 * dst_stride, _mm256_unpacklo_epi64(t1, t3));
            store8(o + 3 * dst_stride, _mm256_unpackhi_epi64(t1, t3));
        }
    }
    if (rows8 < rows && cols4 > 0)
        transpose32(src + rows8 * src_stride, src_stride, dst + rows8 * 4, dst_stride, rows - rows8, cols4);
    if (cols4 < cols)
        transpose32(src + cols4 * 4, src_stride, dst + cols4 * dst_stride, dst_stride, rows, cols - cols4);
}

// AVX2: blocks of 16 rows by 8 16-bit pixels, rows k and k + 8 in one
// register as above; the edges by the SSE2 code.
__attribute__((target("avx2"))) void transpose16_avx2(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                                                      ptrdiff_t dst_stride, int rows, int cols)
{
    const int rows16 = rows & ~15, cols8 = cols & ~7;
    for (int i = 0; i < cols8; i += 8) {
        uint8_t *d = dst + i * dst_stride;
        for (int j = 0; j < rows16; j += 16) {
            const uint8_t *s = src + j * src_stride + i * 2, *s8 = s + 8 * src_stride;
            const __m256i r0 = load_halves(s, s8), r1 = load_halves(s + src_stride, s8 + src_stride),
                          r2 = load_halves(s + 2 * src_stride, s8 + 2 * src_stride),
                          r3 = load_halves(s + 3 * src_stride, s8 + 3 * src_stride),
                          r4 = load_halves(s + 4 * src_stride, s8 + 4 * src_stride),
                          r5 = load_halves(s + 5 * src_stride, s8 + 5 * src_stride),
                          r6 = load_halves(s + 6 * src_stride, s8 + 6 * src_stride),
                          r7 = load_halves(s + 7 * src_stride, s8 + 7 * src_stride);
            const __m256i a0 = _mm256_unpacklo_epi16(r0, r1), a1 = _mm256_unpacklo_epi16(r2, r3);
            const __m256i a2 = _mm256_unpacklo_epi16(r4, r5), a3 = _mm256_unpacklo_epi16(r6, r7);
            const __m256i a4 = _mm256_unpackhi_epi16(r0, r1), a5 = _mm256_unpackhi_epi16(r2, r3);
            const __m256i a6 = _mm256_unpackhi_epi16(r4, r5), a7 = _mm256_unpackhi_epi16(r6, r7);
            const __m256i b0 = _mm256_unpacklo_epi32(a0, a1), b1 = _mm256_unpackhi_epi32(a0, a1);
            const __m256i b2 = _mm256_unpacklo_epi32(a2, a3), b3 = _mm256_unpackhi_epi32(a2, a3);
            const __m256i b4 = _mm256_unpacklo_epi32(a4, a5), b5 = _mm256_unpackhi_epi32(a4, a5);
            const __m256i b6 = _mm256_unpacklo_epi32(a6, a7), b7 = _mm256_unpackhi_epi32(a6, a7);
            uint8_t *o = d + j * 2;
            store8(o, _mm256_unpacklo_epi64(b0, b2));
            store8(o + dst_stride, _mm256_unpackhi_epi64(b0, b2));
            store8(o + 2 * dst_stride, _mm256_unpacklo_epi64(b1, b3));
            store8(o + 3 * dst_stride, _mm256_unpackhi_epi64(b1, b3));
            store8(o + 4 * dst_stride, _mm256_unpacklo_epi64(b4, b6));
            store8(o + 5 * dst_stride, _mm256_unpackhi_epi64(b4, b6));
            store8(o + 6 * dst_stride, _mm256_unpacklo_epi64(b5, b7));
            store8(o + 7 * dst_stride, _mm256_unpackhi_epi64(b5, b7));
        }
    }
    if (rows16 < rows && cols8 > 0)
        transpose16(src + rows16 * src_stride, src_stride, dst + rows16 * 2, dst_stride, rows - rows16,
                    cols8);
    if (cols8 < cols)
        transpose16(src + cols8 * 2, src_stride, dst + cols8 * dst_stride, dst_stride, rows, cols - cols8);
}

} // namespace

extern "C" DeviceTurnKernels orv_turn_kernels_sse(void)
{
    return {transpose32, transpose16, reverse32, reverse16, nullptr, nullptr, nullptr};
}

extern "C" DeviceTurnKernels orv_turn_kernels_avx2(void)
{
    return {transpose32_avx2, transpose16_avx2, reverse32, reverse16, nullptr, nullptr, nullptr};
}

#endif
