// Plane copies into YV12 window buffers: the layout rule, the row kernels
// (a scalar reference; on ARM a NEON block copy and the de-interleaving load
// for split chroma; on x86 the C library's memcpy and SSE2, SSSE3 or AVX2
// splits, picked once per process) and the frame walker that copies each
// visible row and pads each chroma row with mid-grey. Owns no state besides
// the pick; takes no lock.
#include "orv_device_copy.h"

#include <cstring>

#if defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#define ORV_COPY_HAVE_NEON 1
#elif defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORV_COPY_HAVE_X86 1
#endif

namespace {

void copy_reference(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    for (int i = 0; i < count; ++i)
        dst[i] = src[i];
    for (int i = count; i < padded; ++i)
        dst[i] = ORV_YV12_CHROMA_PAD;
}

void copy_memcpy(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    std::memcpy(dst, src, size_t(count));
    if (padded > count)
        std::memset(dst + count, ORV_YV12_CHROMA_PAD, size_t(padded - count));
}

void split_pairs(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
{
    for (int i = 0; i < count; ++i) {
        a[i] = pairs[2 * i];
        b[i] = pairs[2 * i + 1];
    }
}

void split_reference(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    split_pairs(a, b, pairs, count);
    for (int i = count; i < padded; ++i)
        a[i] = b[i] = ORV_YV12_CHROMA_PAD;
}

#ifdef ORV_COPY_HAVE_NEON
// 64 bytes a turn in two 32-byte loads and stores that step their own
// pointers: the compiler's intrinsics code takes three times the
// instructions on ARMv7. The rest in 16-byte steps, the last one
// overlapping what was written when the row allows it. The padding goes
// first, in 16-byte stores whose last one may reach back into the row: the
// copy then writes those bytes over.
void copy_neon(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    if (padded > count) {
        if (padded < 16) {
            copy_reference(dst, src, count, padded);
            return;
        }
        const uint8x16_t grey = vdupq_n_u8(ORV_YV12_CHROMA_PAD);
        for (int i = count; i + 16 < padded; i += 16)
            vst1q_u8(dst + i, grey);
        vst1q_u8(dst + padded - 16, grey);
    }
    int blocks = count / 64;
    const int rest = count % 64;
    if (blocks > 0) {
        // clang-format off
#if defined(__aarch64__)
        asm volatile(
            "1:                                                    \n"
            "ld1        {v0.16b, v1.16b, v2.16b, v3.16b}, [%[src]], #64 \n"
            "subs       %w[n], %w[n], #1                           \n"
            "st1        {v0.16b, v1.16b, v2.16b, v3.16b}, [%[dst]], #64 \n"
            "b.gt       1b                                         \n"
            : [dst] "+r"(dst), [src] "+r"(src), [n] "+r"(blocks)
            :
            : "cc", "memory", "v0", "v1", "v2", "v3");
#else
        asm volatile(
            "1:                                  \n"
            "vld1.8     {d0-d3}, [%[src]]!       \n"
            "vld1.8     {d4-d7}, [%[src]]!       \n"
            "subs       %[n], %[n], #1           \n"
            "vst1.8     {d0-d3}, [%[dst]]!       \n"
            "vst1.8     {d4-d7}, [%[dst]]!       \n"
            "bgt        1b                       \n"
            : [dst] "+r"(dst), [src] "+r"(src), [n] "+r"(blocks)
            :
            : "cc", "memory", "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7");
#endif
        // clang-format on
    }
    int i = 0;
    for (; i + 16 <= rest; i += 16)
        vst1q_u8(dst + i, vld1q_u8(src + i));
    if (i == rest)
        return;
    if (count >= 16)
        vst1q_u8(dst + rest - 16, vld1q_u8(src + rest - 16));
    else
        copy_reference(dst + i, src + i, rest - i, rest - i);
}

// Padding first, as in copy_neon.
void split_neon(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    if (padded > count) {
        if (padded < 16) {
            split_reference(a, b, pairs, count, padded);
            return;
        }
        const uint8x16_t grey = vdupq_n_u8(ORV_YV12_CHROMA_PAD);
        for (int i = count; i + 16 < padded; i += 16) {
            vst1q_u8(a + i, grey);
            vst1q_u8(b + i, grey);
        }
        vst1q_u8(a + padded - 16, grey);
        vst1q_u8(b + padded - 16, grey);
    }
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const uint8x16x2_t p = vld2q_u8(pairs + 2 * i);
        vst1q_u8(a + i, p.val[0]);
        vst1q_u8(b + i, p.val[1]);
    }
    if (i + 8 <= count) {
        const uint8x8x2_t p = vld2_u8(pairs + 2 * i);
        vst1_u8(a + i, p.val[0]);
        vst1_u8(b + i, p.val[1]);
        i += 8;
    }
    split_pairs(a + i, b + i, pairs + 2 * i, count - i);
}
#endif

#ifdef ORV_COPY_HAVE_X86
#define ORV_TARGET_SSE2  __attribute__((target("sse2")))
#define ORV_TARGET_SSSE3 __attribute__((target("ssse3")))
#define ORV_TARGET_AVX2  __attribute__((target("avx2")))

void pad_rows(uint8_t *a, uint8_t *b, int count, int padded)
{
    if (padded > count) {
        std::memset(a + count, ORV_YV12_CHROMA_PAD, size_t(padded - count));
        std::memset(b + count, ORV_YV12_CHROMA_PAD, size_t(padded - count));
    }
}

// Even bytes by masking each 16-bit lane, odd ones by shifting it down.
ORV_TARGET_SSE2 void split_sse2_rows(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
{
    const __m128i low = _mm_set1_epi16(0x00FF);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + 2 * i));
        const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + 2 * i + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(a + i),
                         _mm_packus_epi16(_mm_and_si128(p0, low), _mm_and_si128(p1, low)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(b + i),
                         _mm_packus_epi16(_mm_srli_epi16(p0, 8), _mm_srli_epi16(p1, 8)));
    }
    split_pairs(a + i, b + i, pairs + 2 * i, count - i);
}

// One shuffle gathers each half's even bytes low and odd bytes high.
ORV_TARGET_SSSE3 void split_ssse3_rows(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
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
    split_pairs(a + i, b + i, pairs + 2 * i, count - i);
}

// The 256-bit pack works per 128-bit lane: the quarters come out as
// p0 low, p1 low, p0 high, p1 high and one cross-lane permute orders them.
ORV_TARGET_AVX2 void split_avx2_rows(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
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
    split_sse2_rows(a + i, b + i, pairs + 2 * i, count - i);
}

template <void (*Rows)(uint8_t *, uint8_t *, const uint8_t *, int)>
void split_padded(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    Rows(a, b, pairs, count);
    pad_rows(a, b, count, padded);
}
#endif

void copy_chroma_plane(OrvCopyRow copy, uint8_t *dst, int32_t dst_stride, const uint8_t *src,
                       int32_t src_stride, int width, int rows)
{
    for (int r = 0; r < rows; ++r) {
        copy(dst, src, width, dst_stride);
        dst += dst_stride;
        src += src_stride;
    }
}

} // namespace

extern "C" OrvYv12Planes orv_yv12_planes(void *bits, int32_t stride, int32_t height)
{
    OrvYv12Planes p;
    p.y_stride = stride;
    p.c_stride = (stride / 2 + 15) & ~15;
    p.y = static_cast<uint8_t *>(bits);
    p.v = p.y + size_t(stride) * size_t(height);
    p.u = p.v + size_t(p.c_stride) * size_t(height / 2);
    return p;
}

extern "C" size_t orv_yv12_size(int32_t stride, int32_t height)
{
    const size_t c_stride = size_t((stride / 2 + 15) & ~15);
    return size_t(stride) * size_t(height) + 2 * c_stride * size_t(height / 2);
}

extern "C" OrvCopyKernels orv_copy_kernels(int tier)
{
    switch (tier) {
    case ORV_COPY_REFERENCE:
        return {copy_reference, split_reference};
#ifdef ORV_COPY_HAVE_NEON
    case ORV_COPY_NEON:
        return {copy_neon, split_neon};
#endif
#ifdef ORV_COPY_HAVE_X86
    case ORV_COPY_SSE2:
        if (__builtin_cpu_supports("sse2"))
            return {copy_memcpy, split_padded<split_sse2_rows>};
        break;
    case ORV_COPY_SSSE3:
        if (__builtin_cpu_supports("ssse3"))
            return {copy_memcpy, split_padded<split_ssse3_rows>};
        break;
    case ORV_COPY_AVX2:
        if (__builtin_cpu_supports("avx2"))
            return {copy_memcpy, split_padded<split_avx2_rows>};
        break;
#endif
    default:
        break;
    }
    return {nullptr, nullptr};
}

extern "C" OrvCopyKernels orv_copy_pick(void)
{
    static const OrvCopyKernels best = [] {
        for (int tier = ORV_COPY_TIERS - 1; tier > ORV_COPY_REFERENCE; --tier)
            if (const OrvCopyKernels k = orv_copy_kernels(tier); k.copy != nullptr)
                return k;
        // No vector tier: the C library's copy beats a byte loop.
        return OrvCopyKernels{copy_memcpy, split_reference};
    }();
    return best;
}

extern "C" void orv_yv12_copy_frame(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step,
                                    const OrvCopyKernels *kernels)
{
    const OrvCopyRow copy = kernels->copy;
    const OrvSplitRow split = kernels->split;
    const int width = frame->width, height = frame->height;
    const int c_width = width / 2, c_rows = height / 2;
    const uint8_t *y = frame->y;
    uint8_t *out = dst->y;
    for (int r = 0; r < height; ++r) {
        copy(out, y, width, width);
        out += dst->y_stride;
        y += frame->y_stride;
    }
    if (chroma_step != 2) {
        copy_chroma_plane(copy, dst->v, dst->c_stride, frame->v, frame->v_stride, c_width, c_rows);
        copy_chroma_plane(copy, dst->u, dst->c_stride, frame->u, frame->u_stride, c_width, c_rows);
        return;
    }
    // NV12 pairs start with Cb, NV21 pairs with Cr.
    const bool cb_first = frame->u < frame->v;
    const uint8_t *pairs = cb_first ? frame->u : frame->v;
    const int32_t pair_stride = cb_first ? frame->u_stride : frame->v_stride;
    uint8_t *first = cb_first ? dst->u : dst->v;
    uint8_t *second = cb_first ? dst->v : dst->u;
    for (int r = 0; r < c_rows; ++r) {
        split(first, second, pairs, c_width, dst->c_stride);
        first += dst->c_stride;
        second += dst->c_stride;
        pairs += pair_stride;
    }
}
