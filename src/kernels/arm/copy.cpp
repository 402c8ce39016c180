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

// The rest after the blocks in 16-byte steps, the last one overlapping what
// was written when the row is long enough.
template <CopyBlocks Blocks>
void copy_row(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    pad_row(dst, count, padded);
    const int done = count / 64 * 64;
    if (done > 0)
        Blocks(dst, src, count / 64);
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

template <SplitBlocks Blocks>
void split_row(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    pad_row(a, count, padded);
    pad_row(b, count, padded);
    int i = count / 16 * 16;
    if (i > 0)
        Blocks(a, b, pairs, count / 16);
    if (i + 8 <= count) {
        const uint8x8x2_t p = vld2_u8(pairs + 2 * i);
        vst1_u8(a + i, p.val[0]);
        vst1_u8(b + i, p.val[1]);
        i += 8;
    }
    split_bytes(a + i, b + i, pairs + 2 * i, count - i);
}

} // namespace

extern "C" DeviceCopyKernels orv_copy_kernels_neon(void)
{
    return {copy_row<copy_blocks_neon>, split_row<split_blocks_neon>};
}

#ifdef ORV_KERNELS_HAVE_A32
extern "C" DeviceCopyKernels orv_copy_kernels_a32(void)
{
    return {copy_row<orv_a32_copy_blocks>, split_row<orv_a32_split_blocks>};
}
#endif

#ifdef ORV_KERNELS_HAVE_A64
extern "C" DeviceCopyKernels orv_copy_kernels_a64(void)
{
    return {copy_row<orv_a64_copy_blocks>, split_row<orv_a64_split_blocks>};
}
#endif
