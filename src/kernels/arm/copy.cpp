// The ARM tiers' plane copies: the padding and the row ends here in
// intrinsics, the bulk in 64-byte copy blocks and 16-pair split blocks. The
// NEON tier writes the blocks in intrinsics too (through SIMDe off ARM); the
// A32 and A64 tiers hand them to arm/32/copy.S and arm/64/copy.S, whose
// loops step their own pointers where compiled intrinsics take three times
// the instructions on ARMv7. Owns no state; takes no lock.
#include "kernels/arm/arm.h"

#if defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/arm/neon.h>
#endif

namespace {

using CopyBlocks = void (*)(uint8_t *dst, const uint8_t *src, int blocks);
using SplitBlocks = void (*)(uint8_t *a, uint8_t *b, const uint8_t *pairs, int blocks);

void copy_bytes(uint8_t *dst, const uint8_t *src, int count)
{
    for (int i = 0; i < count; ++i)
        dst[i] = src[i];
}

void split_bytes(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count)
{
    for (int i = 0; i < count; ++i) {
        a[i] = pairs[2 * i];
        b[i] = pairs[2 * i + 1];
    }
}

void pad_bytes(uint8_t *dst, int from, int to)
{
    for (int i = from; i < to; ++i)
        dst[i] = ORV_COPY_PAD;
}

// The padding goes first, in 16-byte stores of which the last may reach
// back into the row: the copy then writes those bytes over. A row shorter
// than one store is padded bytewise.
inline void pad_row(uint8_t *dst, int count, int padded)
{
    if (padded <= count)
        return;
    if (padded < 16) {
        pad_bytes(dst, count, padded);
        return;
    }
    const uint8x16_t grey = vdupq_n_u8(ORV_COPY_PAD);
    for (int i = count; i + 16 < padded; i += 16)
        vst1q_u8(dst + i, grey);
    vst1q_u8(dst + padded - 16, grey);
}

void copy_blocks_neon(uint8_t *dst, const uint8_t *src, int blocks)
{
    for (; blocks > 0; --blocks, src += 64, dst += 64) {
        const uint8x16_t a = vld1q_u8(src), b = vld1q_u8(src + 16);
        const uint8x16_t c = vld1q_u8(src + 32), d = vld1q_u8(src + 48);
        vst1q_u8(dst, a);
        vst1q_u8(dst + 16, b);
        vst1q_u8(dst + 32, c);
        vst1q_u8(dst + 48, d);
    }
}

void split_blocks_neon(uint8_t *a, uint8_t *b, const uint8_t *pairs, int blocks)
{
    for (; blocks > 0; --blocks, pairs += 32, a += 16, b += 16) {
        const uint8x16x2_t p = vld2q_u8(pairs);
        vst1q_u8(a, p.val[0]);
        vst1q_u8(b, p.val[1]);
    }
}

// What follows the blocks, in 16-byte steps, the last one overlapping what
// was written when the row is long enough. Out of line: a 1080p or 720p row
// has none, and every instruction per row counts in a plane copy.
[[gnu::noinline]] void copy_rest(uint8_t *dst, const uint8_t *src, int done, int count)
{
    int i = done;
    for (; i + 16 <= count; i += 16)
        vst1q_u8(dst + i, vld1q_u8(src + i));
    if (i == count)
        return;
    if (count >= 16)
        vst1q_u8(dst + count - 16, vld1q_u8(src + count - 16));
    else
        copy_bytes(dst + i, src + i, count - i);
}

template <CopyBlocks Blocks>
void copy_row(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    pad_row(dst, count, padded);
    if (count >= 64)
        Blocks(dst, src, count >> 6);
    if (count & 63)
        copy_rest(dst, src, count & ~63, count);
}

[[gnu::noinline]] void split_rest(uint8_t *a, uint8_t *b, const uint8_t *pairs, int done, int count)
{
    int i = done;
    if (i + 8 <= count) {
        const uint8x8x2_t p = vld2_u8(pairs + 2 * i);
        vst1_u8(a + i, p.val[0]);
        vst1_u8(b + i, p.val[1]);
        i += 8;
    }
    split_bytes(a + i, b + i, pairs + 2 * i, count - i);
}

template <SplitBlocks Blocks>
void split_row(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    pad_row(a, count, padded);
    pad_row(b, count, padded);
    if (count >= 16)
        Blocks(a, b, pairs, count >> 4);
    if (count & 15)
        split_rest(a, b, pairs, count & ~15, count);
}

// 10-bit words: one value of 0-1023, the rest of the word masked off (low)
// or shifted out (high), then rounded to 8 bits with saturation (1023 and
// 1022 would round to 256).
template <bool High>
inline uint8_t narrow_one(const uint8_t *word)
{
    return orv_narrow10(word, High);
}

template <bool High>
inline uint8x8_t narrow8(uint16x8_t w)
{
    if constexpr (High)
        return vqrshrn_n_u16(vshrq_n_u16(w, 6), 2);
    else
        return vqrshrn_n_u16(vandq_u16(w, vdupq_n_u16(0x3FF)), 2);
}

template <bool High>
void narrow_row(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    pad_row(dst, count, padded);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const uint16x8_t a = vreinterpretq_u16_u8(vld1q_u8(src + 2 * i));
        const uint16x8_t b = vreinterpretq_u16_u8(vld1q_u8(src + 2 * i + 16));
        vst1q_u8(dst + i, vcombine_u8(narrow8<High>(a), narrow8<High>(b)));
    }
    for (; i < count; ++i)
        dst[i] = narrow_one<High>(src + 2 * i);
}

template <bool High>
void split_narrow_row(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    pad_row(a, count, padded);
    pad_row(b, count, padded);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        // The load splits 16-bit lanes and takes any byte alignment.
        const uint16x8x2_t w = vld2q_u16(reinterpret_cast<const uint16_t *>(pairs + 4 * i));
        vst1_u8(a + i, narrow8<High>(w.val[0]));
        vst1_u8(b + i, narrow8<High>(w.val[1]));
    }
    for (; i < count; ++i) {
        a[i] = narrow_one<High>(pairs + 4 * i);
        b[i] = narrow_one<High>(pairs + 4 * i + 2);
    }
}

constexpr DeviceCopyKernels with_narrowing(DeviceCopyRow copy, DeviceSplitRow split)
{
    return {
        copy, split, narrow_row<false>, narrow_row<true>, split_narrow_row<false>, split_narrow_row<true>};
}

} // namespace

extern "C" DeviceCopyKernels orv_copy_kernels_neon(void)
{
    return with_narrowing(copy_row<copy_blocks_neon>, split_row<split_blocks_neon>);
}

#ifdef ORV_KERNELS_HAVE_A32
extern "C" DeviceCopyKernels orv_copy_kernels_a32(void)
{
    return with_narrowing(copy_row<orv_a32_copy_blocks>, split_row<orv_a32_split_blocks>);
}
#endif

#ifdef ORV_KERNELS_HAVE_A64
extern "C" DeviceCopyKernels orv_copy_kernels_a64(void)
{
    return with_narrowing(copy_row<orv_a64_copy_blocks>, split_row<orv_a64_split_blocks>);
}
#endif
