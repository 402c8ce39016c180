// The NEON turn stores: blocks of 32-bit and 16-bit pixels transposed by
// lane loads (VLD4 to one lane), rows reversed with VREV64 and a swap of
// halves. Written in intrinsics, so
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

// A lane load of four structures puts one element of four columns into
// lane k of four registers: four rows loaded so are four columns, and the
// transpose costs no permute at all (one load per row, one store per
// column of four).
void transpose32(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
                 int cols)
{
    const int rows4 = rows & ~3, cols4 = cols & ~3;
    uint32x4x4_t t;
    t.val[0] = t.val[1] = t.val[2] = t.val[3] = vdupq_n_u32(0);
    for (int i = 0; i < cols4; i += 4) {
        uint8_t *d = dst + i * dst_stride;
        const uint8_t *s = src + i * 4;
        for (int j = 0; j < rows4; j += 4, s += 4 * src_stride) {
            t = vld4q_lane_u32(reinterpret_cast<const uint32_t *>(s), t, 0);
            t = vld4q_lane_u32(reinterpret_cast<const uint32_t *>(s + src_stride), t, 1);
            t = vld4q_lane_u32(reinterpret_cast<const uint32_t *>(s + 2 * src_stride), t, 2);
            t = vld4q_lane_u32(reinterpret_cast<const uint32_t *>(s + 3 * src_stride), t, 3);
            vst1q_u32(reinterpret_cast<uint32_t *>(d + j * 4), t.val[0]);
            vst1q_u32(reinterpret_cast<uint32_t *>(d + dst_stride + j * 4), t.val[1]);
            vst1q_u32(reinterpret_cast<uint32_t *>(d + 2 * dst_stride + j * 4), t.val[2]);
            vst1q_u32(reinterpret_cast<uint32_t *>(d + 3 * dst_stride + j * 4), t.val[3]);
        }
    }
    transpose_edge<uint32_t>(src, src_stride, dst, dst_stride, rows4, rows, 0, cols4);
    transpose_edge<uint32_t>(src, src_stride, dst, dst_stride, 0, rows, cols4, cols);
}

// The same with 16-bit elements: eight rows fill eight lanes of four
// registers, each then a column of eight.
void transpose16(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride, int rows,
                 int cols)
{
    const int rows8 = rows & ~7, cols4 = cols & ~3;
    uint16x8x4_t t;
    t.val[0] = t.val[1] = t.val[2] = t.val[3] = vdupq_n_u16(0);
    for (int i = 0; i < cols4; i += 4) {
        uint8_t *d = dst + i * dst_stride;
        const uint8_t *s = src + i * 2;
        for (int j = 0; j < rows8; j += 8, s += 8 * src_stride) {
            auto row = [&](int k) { return reinterpret_cast<const uint16_t *>(s + k * src_stride); };
            t = vld4q_lane_u16(row(0), t, 0);
            t = vld4q_lane_u16(row(1), t, 1);
            t = vld4q_lane_u16(row(2), t, 2);
            t = vld4q_lane_u16(row(3), t, 3);
            t = vld4q_lane_u16(row(4), t, 4);
            t = vld4q_lane_u16(row(5), t, 5);
            t = vld4q_lane_u16(row(6), t, 6);
            t = vld4q_lane_u16(row(7), t, 7);
            vst1q_u16(reinterpret_cast<uint16_t *>(d + j * 2), t.val[0]);
            vst1q_u16(reinterpret_cast<uint16_t *>(d + dst_stride + j * 2), t.val[1]);
            vst1q_u16(reinterpret_cast<uint16_t *>(d + 2 * dst_stride + j * 2), t.val[2]);
            vst1q_u16(reinterpret_cast<uint16_t *>(d + 3 * dst_stride + j * 2), t.val[3]);
        }
    }
    transpose_edge<uint16_t>(src, src_stride, dst, dst_stride, rows8, rows, 0, cols4);
    transpose_edge<uint16_t>(src, src_stride, dst, dst_stride, 0, rows, cols4, cols);
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

// An assembly transpose of whole blocks, its edges by the NEON one: the
// rows past the last whole block of rows, then the columns past the last
// group of four.
template <void (*Blocks)(const uint8_t *, ptrdiff_t, uint8_t *, ptrdiff_t, int, int), int RowBlock, int Size,
          DeviceTurnKernel Edges>
[[maybe_unused]] void transpose_with(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                                     ptrdiff_t dst_stride, int rows, int cols)
{
    const int whole_rows = rows / RowBlock * RowBlock, whole_cols = cols & ~3;
    if (whole_rows > 0 && whole_cols > 0)
        Blocks(src, src_stride, dst, dst_stride, whole_rows, whole_cols);
    if (whole_rows < rows && whole_cols > 0)
        Edges(src + whole_rows * src_stride, src_stride, dst + whole_rows * Size, dst_stride,
              rows - whole_rows, whole_cols);
    if (whole_cols < cols)
        Edges(src + whole_cols * Size, src_stride, dst + whole_cols * dst_stride, dst_stride, rows,
              cols - whole_cols);
}

// The column a split block holds at element i (see DeviceTurnKernels).
constexpr int split_column(int i)
{
    const int k = i & 15;
    return (i & ~15) + (k < 8 ? 2 * k : 2 * (k - 8) + 1);
}

// The assembly on whole blocks of 8 rows, the rows past them one element
// at a time.
template <void (*Blocks)(const uint8_t *, ptrdiff_t, uint8_t *, ptrdiff_t, int, int)>
[[maybe_unused]] void transpose32_split_with(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                                             ptrdiff_t dst_stride, int rows, int cols)
{
    const int whole_rows = rows & ~7;
    if (whole_rows > 0 && cols > 0)
        Blocks(src, src_stride, dst, dst_stride, whole_rows, cols);
    if (whole_rows == rows)
        return;
    for (int i = 0; i < cols; ++i)
        for (int j = whole_rows; j < rows; ++j)
            std::memcpy(dst + split_column(i) * dst_stride + j * ptrdiff_t(4), src + j * src_stride + i * 4,
                        4);
}

// The band kernels' checks, once per band.
template <DeviceSplitBandKernel Assembly>
[[maybe_unused]] void band_entry(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                 const YuvCoefficients *coefficients)
{
    if (band->rows >= 2 && !(band->rows & 1) && band->count >= 16 && !(band->count & 15) &&
        !orv_yuv_has_bias(coefficients))
        Assembly(dst, dst_stride, band, coefficients);
}

template <DeviceSplitBandKernel Uv, DeviceSplitBandKernel Vu>
[[maybe_unused]] void semi_band_entry(uint8_t *dst, ptrdiff_t dst_stride, const DeviceRowBand *band,
                                      const YuvCoefficients *coefficients)
{
    if (band->v == band->u + 1)
        band_entry<Uv>(dst, dst_stride, band, coefficients);
    else if (band->u == band->v + 1)
        band_entry<Vu>(dst, dst_stride, band, coefficients);
}

} // namespace

extern "C" {

DeviceTurnKernels orv_turn_kernels_neon(void)
{
    return {transpose32, transpose16, reverse32, reverse16, nullptr, nullptr, nullptr};
}

#ifdef ORV_KERNELS_HAVE_A32
DeviceTurnKernels orv_turn_kernels_a32(void)
{
    return {transpose_with<orv_a32_transpose32_blocks, 8, 4, transpose32>,
            transpose_with<orv_a32_transpose16_blocks, 16, 2, transpose16>,
            reverse32,
            reverse16,
            band_entry<orv_a32_rgba_band_split_planar>,
            semi_band_entry<orv_a32_rgba_band_split_uv, orv_a32_rgba_band_split_vu>,
            transpose32_split_with<orv_a32_transpose32_split_blocks>};
}
#endif

#ifdef ORV_KERNELS_HAVE_A64
DeviceTurnKernels orv_turn_kernels_a64(void)
{
    return {transpose_with<orv_a64_transpose32_blocks, 8, 4, transpose32>,
            transpose_with<orv_a64_transpose16_blocks, 16, 2, transpose16>,
            reverse32,
            reverse16,
            band_entry<orv_a64_rgba_band_split_planar>,
            semi_band_entry<orv_a64_rgba_band_split_uv, orv_a64_rgba_band_split_vu>,
            transpose32_split_with<orv_a64_transpose32_split_blocks>};
}
#endif

} // extern "C"
