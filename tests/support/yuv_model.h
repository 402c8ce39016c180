// Plain scalar models of the conversion arithmetic, shared by the kernel and
// blitter tests: the kernels' 16-bit lanes and the blitter's Q13 tail.
#pragma once

#include <algorithm>
#include <cstdint>

#include "device_render.h"

namespace yuv_model {

// (2·a·w + 32768) >> 16, saturated: the rounding doubling multiply-high.
inline int16_t mulq(int16_t a, int16_t w)
{
    int32_t p = (2 * int32_t(a) * int32_t(w) + 32768) >> 16;
    return int16_t(std::clamp<int32_t>(p, INT16_MIN, INT16_MAX));
}

inline uint8_t narrow(int16_t x)
{
    return uint8_t(std::clamp<int32_t>((int32_t(x) + 8) >> 4, 0, 255));
}

inline uint8_t add_sat(uint8_t a, uint8_t b)
{
    return uint8_t(std::min(255, a + b));
}

struct Rgb {
    uint8_t r, g, b;
};

// One pixel as a vector lane computes it.
inline Rgb lane_pixel(uint8_t Y, uint8_t U, uint8_t V, const YuvCoefficients &k)
{
    int16_t cb = int16_t(uint16_t((U << 7) - k.chroma_offset));
    int16_t cr = int16_t(uint16_t((V << 7) - k.chroma_offset));
    int16_t l = mulq(int16_t(uint16_t((Y << 7) - k.luma_offset)), k.luma_gain);
    int16_t b_u = mulq(cb, k.cb_blue), g_u = mulq(cb, k.cb_green);
    int16_t g_v = mulq(cr, k.cr_green), r_v = mulq(cr, k.cr_red);
    // Plain 16-bit sums: they wrap exactly like the vector lanes.
    int16_t r = int16_t(uint16_t(l + r_v));
    int16_t g = int16_t(uint16_t(uint16_t(l - g_u) - g_v));
    int16_t b = int16_t(uint16_t(l + b_u));
    return {add_sat(narrow(r), k.red_bias), add_sat(narrow(g), k.green_bias),
            add_sat(narrow(b), k.blue_bias)};
}

// One pixel as the scalar tail computes it: Q13 weights, truncating division.
inline Rgb tail_pixel(uint8_t Y, uint8_t U, uint8_t V)
{
    const int l = 9576 * (Y - 16), u = U - 128, v = V - 128;
    auto c = [](int q) { return uint8_t(std::clamp(q / 8192, 0, 255)); };
    return {c(l + 13123 * v), c(l - 3218 * u - 6686 * v), c(l + 16591 * u)};
}

// The same for any matrix and range, with the weights the blitter uses.
template <typename Tail>
inline Rgb tail_pixel(uint8_t Y, uint8_t U, uint8_t V, const Tail &t)
{
    const int l = t.luma * (Y - t.luma_offset) + t.rounding, u = U - 128, v = V - 128;
    auto c = [](int q) { return uint8_t(std::clamp(q / 8192, 0, 255)); };
    return {c(l + t.cr_red * v), c(l - t.cb_green * u - t.cr_green * v), c(l + t.cb_blue * u)};
}

// Exact conversion in floating point, from the standard's Kr and Kb alone
// (matrix 0 BT.601, 1 BT.709, 2 BT.2020; range 0 limited, 1 full), clamped
// to 0..255 and not rounded.
struct Exact {
    double r, g, b;
};

inline Exact exact_pixel(int matrix, int range, int Y, int U, int V)
{
    static const double kr[] = {0.299, 0.2126, 0.2627}, kb[] = {0.114, 0.0722, 0.0593};
    const double r_ = kr[matrix], b_ = kb[matrix], g_ = 1 - r_ - b_;
    const bool full = range == 1;
    const double y = full ? Y / 255.0 : (Y - 16) / 219.0;
    const double pb = full ? (U - 128) / 255.0 : (U - 128) / 224.0;
    const double pr = full ? (V - 128) / 255.0 : (V - 128) / 224.0;
    const double R = y + 2 * (1 - r_) * pr, B = y + 2 * (1 - b_) * pb;
    const double G = (y - r_ * R - b_ * B) / g_;
    auto c = [](double x) { return std::clamp(x * 255.0, 0.0, 255.0); };
    return {c(R), c(G), c(B)};
}

inline uint16_t pack565(uint8_t r, uint8_t g, uint8_t b)
{
    return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

} // namespace yuv_model
