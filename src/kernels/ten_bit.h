/* The one scalar model of the 10-bit conversions: every 10-bit kernel tier
 * and the blitter's scalar tail give its bytes, and the tests hold the
 * kernels to it. C++ only; private to the render module and its tests.
 *
 * A sample s (0-1023, taken from bits 0-9 or 6-15 of its 16-bit word, the
 * other bits ignored) enters a 16-bit lane as s << 5, the scale an 8-bit
 * sample has at << 7, so the block's offsets and Q12 weights act exactly as
 * in the 8-bit lanes:
 *   L = mulq((Y << 5) - luma_offset, luma_gain)
 *   u = (U << 5) - chroma_offset, v = (V << 5) - chroma_offset
 *   R = L + mulq(v, cr_red), G = L - mulq(u, cb_green) - mulq(v, cr_green),
 *   B = L + mulq(u, cb_blue)
 * with mulq(a, w) = (2aw + 32768) >> 16 (the rounding doubling multiply-high)
 * and 16-bit sums. The block's offsets are whole 10-bit levels (multiples of
 * 32, below 32768), as every library block's are. R, G and B are then sixteenths of the 8-bit output step:
 * 12 bits for 0-255 (the bias bytes of the block are not used).
 *
 * RGBA/RGBX: each channel is (C + 8) >> 4 clamped to 0-255, round to nearest.
 *
 * RGB565 with the error carry, at the full 12 bits: c = clamp(C, 0, 4095),
 * s = min(c + e, 4095) with e the column's carry, the 5-bit field is s >> 7
 * (6-bit: s >> 6) and the new carry is s & 127 (green s & 63): everything
 * below the field's step, in sixteenths, where the 8-bit path keeps only
 * whole 8-bit steps (r & 7, g & 3).
 *
 * Where the carries live: the vector columns (below the width rounded down
 * to 16) keep, per group of 16 columns, 96 bytes: red, green, blue, each as
 * 16 little-endian words holding carry << 4 (the scale the lanes add), the
 * 8 even columns first, then the 8 odd ones (the order the lanes compute
 * them); carry_word gives the byte of a column's red word (green +32, blue
 * +64). The other columns keep the 8-bit path's slots, three plain int16.
 * Between the two formats the carries convert by << 4 and >> 4. */
#ifndef ORV_KERNELS_TEN_BIT_H
#define ORV_KERNELS_TEN_BIT_H

#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"

namespace orv_ten_bit {

// Sixteenths of an 8-bit step: the intermediate scale.
constexpr int kFullScale = 4095;

inline int sample_of(uint16_t word, int samples)
{
    return samples == DEVICE_SAMPLES_10_HIGH ? word >> 6 : word & 0x3FF;
}

// Little-endian word at p, whatever its alignment.
inline uint16_t word_at(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline int16_t mulq(int16_t a, int16_t w)
{
    int32_t p = (2 * int32_t(a) * int32_t(w) + 32768) >> 16;
    return int16_t(p < INT16_MIN ? INT16_MIN : p > INT16_MAX ? INT16_MAX : p);
}

struct Fixed {
    int16_t r, g, b;
};

// One pixel in sixteenths, unclamped, from 10-bit samples.
inline Fixed pixel(int Y, int U, int V, const YuvCoefficients &k)
{
    const int16_t cb = int16_t(uint16_t((U << 5) - k.chroma_offset));
    const int16_t cr = int16_t(uint16_t((V << 5) - k.chroma_offset));
    const int16_t l = mulq(int16_t(uint16_t((Y << 5) - k.luma_offset)), k.luma_gain);
    const int16_t g_uv = int16_t(uint16_t(mulq(cb, k.cb_green) + mulq(cr, k.cr_green)));
    return {int16_t(uint16_t(l + mulq(cr, k.cr_red))), int16_t(uint16_t(l - g_uv)),
            int16_t(uint16_t(l + mulq(cb, k.cb_blue)))};
}

inline uint8_t to_byte(int16_t c)
{
    const int x = (int(c) + 8) >> 4;
    return uint8_t(x < 0 ? 0 : x > 255 ? 255 : x);
}

// One channel of RGB565: returns the field, updates the carry.
template <int Bits>
inline int field565(int16_t c, uint8_t &carry)
{
    constexpr int kShift = 12 - Bits;
    int s = c < 0 ? 0 : c > kFullScale ? kFullScale : c;
    s += carry;
    if (s > kFullScale)
        s = kFullScale;
    carry = uint8_t(s & ((1 << kShift) - 1));
    return s >> kShift;
}

// Byte of column x's red carry word in the vector part (green +32, blue +64).
constexpr size_t carry_word(int x)
{
    return size_t(x / 16) * 96 + size_t(x % 2) * 16 + size_t(x % 16 / 2) * 2;
}

inline uint16_t pack565(Fixed c, uint8_t carry[3])
{
    const int r = field565<5>(c.r, carry[0]), g = field565<6>(c.g, carry[1]), b = field565<5>(c.b, carry[2]);
    return uint16_t(r << 11 | g << 5 | b);
}

} // namespace orv_ten_bit

#endif /* ORV_KERNELS_TEN_BIT_H */
