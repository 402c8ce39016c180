// The 10-bit kernel sets beside kernel_list.h: the same slots (a 10-bit set
// has the DeviceRowKernels shape), rows of 16-bit words in either sample
// layout, and the model of kernels/ten_bit.h. Header-only, for the
// bit-exactness tests and the per-kernel benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "kernel_list.h"
#include "kernels/kernels.h"
#include "kernels/ten_bit.h"

namespace kernel_list10 {

using kernel_list::Output;
using kernel_list::Slot;

inline constexpr int kLayouts[] = {DEVICE_SAMPLES_10_LOW, DEVICE_SAMPLES_10_HIGH};

// Samples as words of one layout; `garbage` fills the bits outside the 10.
inline uint16_t word_of(int sample, int samples, uint16_t garbage)
{
    return samples == DEVICE_SAMPLES_10_HIGH ? uint16_t(sample << 6 | (garbage & 0x3F))
                                             : uint16_t(sample | (garbage & 0xFC00));
}

inline void put_word(std::vector<uint8_t> &bytes, size_t at, uint16_t w)
{
    bytes[2 * at] = uint8_t(w), bytes[2 * at + 1] = uint8_t(w >> 8);
}

// One call's input: two luma rows y_stride bytes apart, one chroma row as
// two planes and as pairs (Cb first), the samples behind them, the carry.
struct Rows {
    int count = 0, samples = DEVICE_SAMPLES_10_LOW;
    ptrdiff_t y_stride = 0;
    std::vector<int> y, cb, cr; // the samples, 0-1023
    std::vector<uint8_t> luma, cbw, crw, pairs, errors;
};

// Carries below the 10-bit steps (red and blue 0-127, green 0-63); an odd
// offset makes every word unaligned.
inline Rows random_rows(std::mt19937 &rng, int count, int samples, bool garbage, bool unaligned = false)
{
    std::uniform_int_distribution<int> sample(0, 1023), word(0, 0xFFFF), carry(0, 127);
    Rows r;
    r.count = count, r.samples = samples;
    const int cw = (count + 1) / 2;
    r.y_stride = 2 * count + 26;
    r.y.resize(size_t(count) * 2);
    r.cb.resize(size_t(cw));
    r.cr.resize(size_t(cw));
    for (auto *v : {&r.y, &r.cb, &r.cr})
        for (int &s : *v)
            s = sample(rng);
    const size_t skew = unaligned ? 1 : 0;
    auto noise = [&] { return garbage ? uint16_t(word(rng)) : uint16_t(0); };
    r.luma.assign(size_t(r.y_stride) * 2 + skew, 0);
    std::vector<uint8_t> y0(size_t(r.y_stride) * 2);
    for (int x = 0; x < count; ++x) {
        put_word(y0, size_t(x), word_of(r.y[size_t(x)], samples, noise()));
        put_word(y0, size_t(r.y_stride / 2 + x), word_of(r.y[size_t(count + x)], samples, noise()));
    }
    std::copy(y0.begin(), y0.end(), r.luma.begin() + ptrdiff_t(skew));
    std::vector<uint8_t> cb(size_t(cw) * 2), cr(cb.size()), pairs(cb.size() * 2);
    for (int i = 0; i < cw; ++i) {
        put_word(cb, size_t(i), word_of(r.cb[size_t(i)], samples, noise()));
        put_word(cr, size_t(i), word_of(r.cr[size_t(i)], samples, noise()));
        put_word(pairs, 2 * size_t(i), word_of(r.cb[size_t(i)], samples, noise()));
        put_word(pairs, 2 * size_t(i) + 1, word_of(r.cr[size_t(i)], samples, noise()));
    }
    auto skewed = [skew](const std::vector<uint8_t> &v) {
        std::vector<uint8_t> out(v.size() + skew, 0);
        std::copy(v.begin(), v.end(), out.begin() + ptrdiff_t(skew));
        return out;
    };
    r.cbw = skewed(cb), r.crw = skewed(cr), r.pairs = skewed(pairs);
    // Words of carry << 4 (green below 64) in the vector part's layout.
    r.errors.assign(size_t(count) * 8, 0);
    for (int x = 0; x < count / 16 * 16; ++x)
        for (int i = 0; i < 3; ++i) {
            const int e = (carry(rng) >> (i == 1 ? 1 : 0)) << 4;
            const size_t at = orv_ten_bit::carry_word(x) + 32 * size_t(i);
            r.errors[at] = uint8_t(e), r.errors[at + 1] = uint8_t(e >> 8);
        }
    return r;
}

inline size_t skew(const Rows &in)
{
    return in.luma.size() - size_t(in.y_stride) * 2;
}

// Layouts: 0 planar; for semi slots 1 Cb first (v = u + 2), 2 Cr first
// (u = v + 2, the pairs swapped into `swapped` so the samples stay the same).
inline void chroma_pointers(const Rows &in, int layout, std::vector<uint8_t> &swapped, const uint8_t *&u,
                            const uint8_t *&v)
{
    const size_t off = skew(in);
    u = in.cbw.data() + off, v = in.crw.data() + off;
    if (layout == 1) {
        u = in.pairs.data() + off, v = u + 2;
    } else if (layout == 2) {
        swapped = in.pairs;
        for (size_t i = off; i + 3 < swapped.size(); i += 4)
            std::swap(swapped[i], swapped[i + 2]), std::swap(swapped[i + 1], swapped[i + 3]);
        v = swapped.data() + off, u = v + 2;
    }
}

inline void call(const Slot &s, const DeviceRowKernels &set, const Rows &in, int layout,
                 const YuvCoefficients &k, kernel_list::Result &out, std::vector<uint8_t> &swapped)
{
    const uint8_t *u, *v;
    chroma_pointers(in, layout, swapped, u, v);
    const uint8_t *y = in.luma.data() + skew(in);
    if (kernel_list::is_pair(s))
        (set.*s.row_pair)(out.pixels.data(), out.dst_stride, y, in.y_stride, u, v, out.errors.data(), &k,
                          in.count);
    else
        (set.*s.row)(out.pixels.data(), y, u, v, out.errors.data(), &k, in.count);
}

inline kernel_list::Result blank_result(const Slot &s, const Rows &in)
{
    kernel_list::Result r;
    r.dst_stride = ptrdiff_t(in.count) * kernel_list::bytes_per_pixel(s.output) + 40;
    r.pixels.assign(size_t(r.dst_stride) * 2, 0xA5);
    r.errors = in.errors;
    return r;
}

// One row by the model: count / 16 whole groups; the carry of column x in
// the word at orv_ten_bit::carry_word(x) (+32 green, +64 blue), shifted.
inline void model_row(Output o, uint8_t *dst, const int *y, const int *cb, const int *cr, uint8_t *errors,
                      const YuvCoefficients &k, int count)
{
    const int n = count / 16 * 16;
    for (int x = 0; x < n; ++x) {
        const orv_ten_bit::Fixed c = orv_ten_bit::pixel(y[x], cb[x / 2], cr[x / 2], k);
        if (o == Output::rgb32) {
            uint8_t *p = dst + 4 * x;
            p[0] = orv_ten_bit::to_byte(c.r), p[1] = orv_ten_bit::to_byte(c.g),
            p[2] = orv_ten_bit::to_byte(c.b);
            p[3] = 0xFF;
        } else {
            uint8_t *e = errors + orv_ten_bit::carry_word(x);
            uint8_t carry[3];
            for (int i = 0; i < 3; ++i)
                carry[i] = uint8_t((e[32 * i] | e[32 * i + 1] << 8) >> 4);
            const uint16_t p = orv_ten_bit::pack565(c, carry);
            for (int i = 0; i < 3; ++i)
                e[32 * i] = uint8_t(carry[i] << 4), e[32 * i + 1] = uint8_t(carry[i] >> 4);
            dst[2 * x] = uint8_t(p), dst[2 * x + 1] = uint8_t(p >> 8);
        }
    }
}

inline void model(const Slot &s, const Rows &in, const YuvCoefficients &k, kernel_list::Result &out)
{
    model_row(s.output, out.pixels.data(), in.y.data(), in.cb.data(), in.cr.data(), out.errors.data(), k,
              in.count);
    if (kernel_list::is_pair(s))
        model_row(s.output, out.pixels.data() + out.dst_stride, in.y.data() + in.count, in.cb.data(),
                  in.cr.data(), out.errors.data(), k, in.count);
}

} // namespace kernel_list10
