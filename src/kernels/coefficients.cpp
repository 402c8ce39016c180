// The coefficient blocks of every matrix and range the library offers, with
// the scalar tail's weights beside each: computed at compile time from the
// standards' Kr and Kb, except BT.601 limited, which keeps the block the
// kernels always had. Read-only data; no state, no lock.
#include "kernels/kernels.h"

#include <cstddef>
#include <initializer_list>

static_assert(sizeof(YuvCoefficients) == 32, "the kernels read a 32-byte block");
static_assert(offsetof(YuvCoefficients, red_bias) == 18 && offsetof(YuvCoefficients, green_bias) == 20 &&
                  offsetof(YuvCoefficients, blue_bias) == 22,
              "bias bytes sit at offsets 18, 20, 22");

extern "C" const YuvCoefficients orv_yuv_coefficients = {
    2048, 16384, 4767, 3330, 1601, 6537, 8265, {0, 0, 0, 0}, 0, 0, 0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}};

namespace {

// Kr and Kb of each matrix, in DEVICE_MATRIX_* order.
struct Standard {
    double kr, kb;
};
constexpr Standard kStandards[] = {{0.299, 0.114}, {0.2126, 0.0722}, {0.2627, 0.0593}};

constexpr int32_t fixed(double x, double one)
{
    return int32_t(x * one + 0.5);
}

// Weights straight from Kr and Kb: limited range scales luma by 255/219 and
// chroma by 255/224 around offsets 16 and 128; full range uses 0-255 as is.
// The tail rounds to nearest.
constexpr YuvColourCoefficients colour_of(Standard s, bool full)
{
    const double kg = 1 - s.kr - s.kb;
    const double ys = full ? 1.0 : 255.0 / 219.0, cs = full ? 1.0 : 255.0 / 224.0;
    const double cr_red = 2 * (1 - s.kr) * cs, cb_blue = 2 * (1 - s.kb) * cs;
    const double cb_green = 2 * (1 - s.kb) * s.kb / kg * cs, cr_green = 2 * (1 - s.kr) * s.kr / kg * cs;
    YuvColourCoefficients c{};
    c.lanes.luma_offset = uint16_t(full ? 0 : 16 << 7);
    c.lanes.chroma_offset = 128 << 7;
    c.lanes.luma_gain = int16_t(fixed(ys, 4096));
    c.lanes.cr_green = int16_t(fixed(cr_green, 4096));
    c.lanes.cb_green = int16_t(fixed(cb_green, 4096));
    c.lanes.cr_red = int16_t(fixed(cr_red, 4096));
    c.lanes.cb_blue = int16_t(fixed(cb_blue, 4096));
    c.tail = {full ? 0 : 16,
              fixed(ys, 8192),
              fixed(cr_red, 8192),
              fixed(cb_green, 8192),
              fixed(cr_green, 8192),
              fixed(cb_blue, 8192),
              4096};
    return c;
}

// BT.601 limited keeps the weights (and the truncating tail) it always had,
// so the default output does not change by a bit.
constexpr YuvColourCoefficients legacy_bt601()
{
    YuvColourCoefficients c{};
    c.lanes = {2048,         16384, 4767, 3330, 1601, 6537, 8265,
               {0, 0, 0, 0}, 0,     0,    0,    0,    0,    {0, 0, 0, 0, 0, 0, 0, 0, 0}};
    c.tail = {16, 9576, 13123, 3218, 6686, 16591, 0};
    return c;
}

// 10-bit blocks: samples enter the lanes at << 5, so the offsets 64 << 5 and
// 512 << 5 are the 8-bit ones and a weight is 4080 * 1024 / D times the
// standard's factor, D the span of the range: 876 (luma) and 896 (chroma)
// limited, 1023 full. Limited weights thus equal the computed 8-bit ones.
constexpr YuvCoefficients colour10_of(Standard s, bool full)
{
    const double kg = 1 - s.kr - s.kb;
    const double scale = 4080.0 * 1024.0;
    const double ys = scale / (full ? 1023.0 : 876.0), cs = scale / (full ? 1023.0 : 896.0);
    YuvCoefficients c{};
    c.luma_offset = uint16_t(full ? 0 : 64 << 5);
    c.chroma_offset = 512 << 5;
    c.luma_gain = int16_t(fixed(ys, 1));
    c.cr_green = int16_t(fixed(2 * (1 - s.kr) * s.kr / kg * cs, 1));
    c.cb_green = int16_t(fixed(2 * (1 - s.kb) * s.kb / kg * cs, 1));
    c.cr_red = int16_t(fixed(2 * (1 - s.kr) * cs, 1));
    c.cb_blue = int16_t(fixed(2 * (1 - s.kb) * cs, 1));
    return c;
}

constexpr YuvCoefficients kColours10[3][2] = {
    {colour10_of(kStandards[0], false), colour10_of(kStandards[0], true)},
    {colour10_of(kStandards[1], false), colour10_of(kStandards[1], true)},
    {colour10_of(kStandards[2], false), colour10_of(kStandards[2], true)},
};
static_assert(kColours10[1][0].cr_red == 7343 && kColours10[0][1].luma_gain == 4084,
              "10-bit weights follow the 8-bit scale");

// [matrix][range]
constexpr YuvColourCoefficients kColours[3][2] = {
    {legacy_bt601(), colour_of(kStandards[0], true)},
    {colour_of(kStandards[1], false), colour_of(kStandards[1], true)},
    {colour_of(kStandards[2], false), colour_of(kStandards[2], true)},
};

constexpr bool weights_avoid_int16_min()
{
    for (const auto &m : kColours)
        for (const auto &c : m)
            for (int16_t w :
                 {c.lanes.luma_gain, c.lanes.cr_green, c.lanes.cb_green, c.lanes.cr_red, c.lanes.cb_blue})
                if (w == INT16_MIN)
                    return false;
    return true;
}
static_assert(weights_avoid_int16_min(), "every kernel tier must give the same bytes for library blocks");

} // namespace

extern "C" const YuvColourCoefficients *orv_yuv_colour_coefficients(int matrix, int range)
{
    if (matrix < DEVICE_MATRIX_BT601 || matrix > DEVICE_MATRIX_BT2020)
        return nullptr;
    if (range != DEVICE_RANGE_LIMITED && range != DEVICE_RANGE_FULL)
        return nullptr;
    return &kColours[matrix][range];
}

extern "C" const YuvCoefficients *orv_yuv_coefficients10(int matrix, int range)
{
    if (!orv_yuv_colour_coefficients(matrix, range))
        return nullptr;
    return &kColours10[matrix][range];
}
