// The x86 tiers' plane copies: the C library's memcpy for whole rows (as
// fast as anything of ours here) and the chroma split in vectors, a shuffle
// on SSE4.1 CPUs and a pack on AVX2 ones. The pick checks that the CPU runs
// them. Owns no state; takes no lock.
#include "kernels/x86/x86.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

#define ORV_SSE  __attribute__((target("sse4.1")))
#define ORV_AVX2 __attribute__((target("avx2")))

void split_bytes(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
{
    for (int i = 0; i < count; ++i) {
        a[i] = pairs[2 * i];
        b[i] = pairs[2 * i + 1];
    }
}

void pad_rows(uint8_t *a, uint8_t *b, int count, int padded)
{
    if (padded > count) {
        std::memset(a + count, ORV_COPY_PAD, size_t(padded - count));
        std::memset(b + count, ORV_COPY_PAD, size_t(padded - count));
    }
}

void copy_row(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    std::memcpy(dst, src, size_t(count));
    if (padded > count)
        std::memset(dst + count, ORV_COPY_PAD, size_t(padded - count));
}

// One shuffle gathers each half's even bytes low and odd bytes high.
ORV_SSE void split_sse(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
{
    const __m128i gather = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i p0 =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + 2 * i)), gather);
        const __m128i p1 =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + 2 * i + 16)), gather);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(a + i), _mm_unpacklo_epi64(p0, p1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(b + i), _mm_unpackhi_epi64(p0, p1));
    }
    split_bytes(a + i, b + i, pairs + 2 * i, count - i);
}

// The 256-bit pack works per 128-bit lane: the quarters come out as
// p0 low, p1 low, p0 high, p1 high and one cross-lane permute orders them.
ORV_AVX2 void split_avx2(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
{
    const __m256i low = _mm256_set1_epi16(0x00FF);
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs + 2 * i));
        const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs + 2 * i + 32));
        const __m256i even = _mm256_packus_epi16(_mm256_and_si256(p0, low), _mm256_and_si256(p1, low));
        const __m256i odd = _mm256_packus_epi16(_mm256_srli_epi16(p0, 8), _mm256_srli_epi16(p1, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(a + i), _mm256_permute4x64_epi64(even, 0xD8));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(b + i), _mm256_permute4x64_epi64(odd, 0xD8));
    }
    split_sse(a + i, b + i, pairs + 2 * i, count - i);
}

template <void (*Rows)(uint8_t *, uint8_t *, const uint8_t *, int)>
void split_row(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    Rows(a, b, pairs, count);
    pad_rows(a, b, count, padded);
}

// 10-bit words to bytes, (v + 2) >> 2 with v the masked (low) or shifted
// (high) value; the pack saturates the 256 that 1022 and 1023 give.
template <bool High>
inline uint8_t narrow_one(const uint8_t *word)
{
    return orv_narrow10(word, High);
}

template <bool High>
ORV_SSE inline __m128i narrow_words(__m128i w)
{
    const __m128i v = High ? _mm_srli_epi16(w, 6) : _mm_and_si128(w, _mm_set1_epi16(0x3FF));
    return _mm_srli_epi16(_mm_add_epi16(v, _mm_set1_epi16(2)), 2);
}

// 16 words to 16 bytes, in order.
template <bool High>
ORV_SSE inline __m128i narrow16(const uint8_t *words)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(words));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 16));
    return _mm_packus_epi16(narrow_words<High>(a), narrow_words<High>(b));
}

template <bool High>
ORV_SSE void narrow_row(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    int i = 0;
    for (; i + 16 <= count; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), narrow16<High>(src + 2 * i));
    for (; i < count; ++i)
        dst[i] = narrow_one<High>(src + 2 * i);
    if (padded > count)
        std::memset(dst + count, ORV_COPY_PAD, size_t(padded - count));
}

// The pairs narrowed to bytes in order, then split as 8-bit pairs are.
template <bool High>
ORV_SSE void split_narrow_row(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    const __m128i gather = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i p0 = _mm_shuffle_epi8(narrow16<High>(pairs + 4 * i), gather);
        const __m128i p1 = _mm_shuffle_epi8(narrow16<High>(pairs + 4 * i + 32), gather);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(a + i), _mm_unpacklo_epi64(p0, p1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(b + i), _mm_unpackhi_epi64(p0, p1));
    }
    for (; i < count; ++i) {
        a[i] = narrow_one<High>(pairs + 4 * i);
        b[i] = narrow_one<High>(pairs + 4 * i + 2);
    }
    pad_rows(a, b, count, padded);
}

} // namespace

// The AVX2 tier narrows with the SSE4.1 code: 10-bit YV12 copies are rare
// enough not to need a wider one.
extern "C" DeviceCopyKernels orv_copy_kernels_sse41(void)
{
    return {copy_row,         split_row<split_sse>,    narrow_row<false>,
            narrow_row<true>, split_narrow_row<false>, split_narrow_row<true>};
}

extern "C" DeviceCopyKernels orv_copy_kernels_avx2(void)
{
    return {copy_row,         split_row<split_avx2>,   narrow_row<false>,
            narrow_row<true>, split_narrow_row<false>, split_narrow_row<true>};
}

#endif
