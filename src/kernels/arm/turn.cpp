// The NEON turn stores: 4x4 blocks of 32-bit pixels and 8x8 blocks of
// 16-bit pixels transposed in registers (VTRN, then the halves recombined),
// rows reversed with VREV64 and a swap of halves. Written in intrinsics, so
// off ARM they compile through SIMDe like the rest of the NEON tier. The
// edges that fill no whole block go one element at a time.
#include "kernels/arm/arm.h"

#if defined(__ARM_NEON) || defined(__ARM_NEON__)
#include <arm_neon.h>
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/arm/neon.h>
#endif

#include <cstddef>
#include <cstring>

namespace {

template <typename T>
inline void transpose_edge(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride,
                           int row_from, int rows, int col_from, int cols)
{
    for (int i = col_from; i < cols; ++i)
        for (int j = row_from; j < rows; ++j)
            std::memcpy(dst + i * dst_stride + j * ptrdiff_t(sizeof(T)),
                        src + j * src_stride + i * ptrdiff_t(sizeof(T)), sizeof(T));
}

void transpose32(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
                 int cols)
{
    const int rows4 = rows & ~3, cols4 = cols & ~3;
    for (int i = 0; i < cols4; i += 4) {
        uint8_t *d = dst + i * dst_stride;
        for (int j = 0; j < rows4; j += 4) {
            const uint8_t *s = src + j * src_stride + i * 4;
            const uint32x4_t r0 = vld1q_u32(reinterpret_cast<const uint32_t *>(s));
            const uint32x4_t r1 = vld1q_u32(reinterpret_cast<const uint32_t *>(s + src_stride));
            const uint32x4_t r2 = vld1q_u32(reinterpret_cast<const uint32_t *>(s + 2 * src_stride));
            const uint32x4_t r3 = vld1q_u32(reinterpret_cast<const uint32_t *>(s + 3 * src_stride));
            const uint32x4x2_t a = vtrnq_u32(r0, r1), b = vtrnq_u32(r2, r3);
            auto *o = reinterpret_cast<uint32_t *>(d + j * 4);
            vst1q_u32(o, vcombine_u32(vget_low_u32(a.val[0]), vget_low_u32(b.val[0])));
            o = reinterpret_cast<uint32_t *>(d + dst_stride + j * 4);
            vst1q_u32(o, vcombine_u32(vget_low_u32(a.val[1]), vget_low_u32(b.val[1])));
            o = reinterpret_cast<uint32_t *>(d + 2 * dst_stride + j * 4);
            vst1q_u32(o, vcombine_u32(vget_high_u32(a.val[0]), vget_high_u32(b.val[0])));
            o = reinterpret_cast<uint32_t *>(d + 3 * dst_stride + j * 4);
            vst1q_u32(o, vcombine_u32(vget_high_u32(a.val[1]), vget_high_u32(b.val[1])));
        }
    }
    transpose_edge<uint32_t>(src, src_stride, dst, dst_stride, rows4, rows, 0, cols4);
    transpose_edge<uint32_t>(src, src_stride, dst, dst_stride, 0, rows, cols4, cols);
}

inline uint16x8_t join(uint16x4_t lo, uint16x4_t hi)
{
    return vcombine_u16(lo, hi);
}

void transpose16(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
                 int cols)
{
    const int rows8 = rows & ~7, cols8 = cols & ~7;
    for (int i = 0; i < cols8; i += 8) {
        uint8_t *d = dst + i * dst_stride;
        for (int j = 0; j < rows8; j += 8) {
            const uint8_t *s = src + j * src_stride + i * 2;
            auto row = [&](int k) {
                return vld1q_u16(reinterpret_cast<const uint16_t *>(s + k * src_stride));
            };
            const uint16x8x2_t a0 = vtrnq_u16(row(0), row(1)), a1 = vtrnq_u16(row(2), row(3));
            const uint16x8x2_t a2 = vtrnq_u16(row(4), row(5)), a3 = vtrnq_u16(row(6), row(7));
            // Pairs of rows, then quads: columns c and c + 4 share a register.
            const uint32x4x2_t b0 =
                vtrnq_u32(vreinterpretq_u32_u16(a0.val[0]), vreinterpretq_u32_u16(a1.val[0]));
            const uint32x4x2_t b1 =
                vtrnq_u32(vreinterpretq_u32_u16(a0.val[1]), vreinterpretq_u32_u16(a1.val[1]));
            const uint32x4x2_t b2 =
                vtrnq_u32(vreinterpretq_u32_u16(a2.val[0]), vreinterpretq_u32_u16(a3.val[0]));
            const uint32x4x2_t b3 =
                vtrnq_u32(vreinterpretq_u32_u16(a2.val[1]), vreinterpretq_u32_u16(a3.val[1]));
            auto lo = [](uint32x4_t x) { return vget_low_u16(vreinterpretq_u16_u32(x)); };
            auto hi = [](uint32x4_t x) { return vget_high_u16(vreinterpretq_u16_u32(x)); };
            auto put = [&](int c, uint16x8_t x) {
                vst1q_u16(reinterpret_cast<uint16_t *>(d + c * dst_stride + j * 2), x);
            };
            put(0, join(lo(b0.val[0]), lo(b2.val[0])));
            put(1, join(lo(b1.val[0]), lo(b3.val[0])));
            put(2, join(lo(b0.val[1]), lo(b2.val[1])));
            put(3, join(lo(b1.val[1]), lo(b3.val[1])));
            put(4, join(hi(b0.val[0]), hi(b2.val[0])));
            put(5, join(hi(b1.val[0]), hi(b3.val[0])));
            put(6, join(hi(b0.val[1]), hi(b2.val[1])));
            put(7, join(hi(b1.val[1]), hi(b3.val[1])));
        }
    }
    transpose_edge<uint16_t>(src, src_stride, dst, dst_stride, rows8, rows, 0, cols8);
    transpose_edge<uint16_t>(src, src_stride, dst, dst_stride, 0, rows, cols8, cols);
}

void reverse32(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
               int cols)
{
    for (int j = 0; j < rows; ++j, src += src_stride, dst += dst_stride) {
        int i = 0;
        for (; i + 4 <= cols; i += 4) {
            const uint32x4_t x = vrev64q_u32(vld1q_u32(reinterpret_cast<const uint32_t *>(src + i * 4)));
            vst1q_u32(reinterpret_cast<uint32_t *>(dst + (cols - 4 - i) * 4),
                      vcombine_u32(vget_high_u32(x), vget_low_u32(x)));
        }
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
            const uint16x8_t x = vrev64q_u16(vld1q_u16(reinterpret_cast<const uint16_t *>(src + i * 2)));
            vst1q_u16(reinterpret_cast<uint16_t *>(dst + (cols - 8 - i) * 2),
                      vcombine_u16(vget_high_u16(x), vget_low_u16(x)));
        }
        for (; i < cols; ++i)
            std::memcpy(dst + (cols - 1 - i) * 2, src + i * 2, 2);
    }
}

} // namespace

extern "C" DeviceTurnKernels orv_turn_kernels_neon(void)
{
    return {transpose32, transpose16, reverse32, reverse16};
}
