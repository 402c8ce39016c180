// The one list of kernel slots: what each computes, where each tier keeps
// it, and the scalar model of its bytes. The bit-exactness tests
// (test_device_kernels) and the per-kernel benchmark (bench_kernels) both
// walk it, so a kernel added to the table is tested and timed by adding one
// line here. Header-only: the benchmark links no test framework.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "kernels/kernels.h"
#include "yuv_model.h"

namespace kernel_list {

enum class Output { rgb32, rgb565_carry };

struct Slot {
    const char *name;
    Output output;
    bool semi;                                       // U and V as one row of pairs (NV12 or NV21)
    DeviceRowKernel DeviceRowKernels::*row;          // null for a pair slot
    DeviceRowPairKernel DeviceRowKernels::*row_pair; // null for a row slot
};

inline constexpr Slot kSlots[] = {
    {"rgb32", Output::rgb32, false, &DeviceRowKernels::rgb32, nullptr},
    {"rgb565", Output::rgb565_carry, false, &DeviceRowKernels::filter565, nullptr},
    {"rgb32_semi", Output::rgb32, true, &DeviceRowKernels::rgb32_semi, nullptr},
    {"rgb565_semi", Output::rgb565_carry, true, &DeviceRowKernels::filter565_semi, nullptr},
    {"rgb32_pair", Output::rgb32, false, nullptr, &DeviceRowKernels::rgb32_pair},
    {"rgb565_pair", Output::rgb565_carry, false, nullptr, &DeviceRowKernels::filter565_pair},
    {"rgb32_semi_pair", Output::rgb32, true, nullptr, &DeviceRowKernels::rgb32_semi_pair},
    {"rgb565_semi_pair", Output::rgb565_carry, true, nullptr, &DeviceRowKernels::filter565_semi_pair},
};

inline bool is_pair(const Slot &s)
{
    return s.row_pair != nullptr;
}

inline int bytes_per_pixel(Output o)
{
    return o == Output::rgb32 ? 4 : 2;
}

// Whether a tier fills the slot (a tier may leave the pairs out).
inline bool has(const Slot &s, const DeviceRowKernels &set)
{
    return is_pair(s) ? set.*s.row_pair != nullptr : set.*s.row != nullptr;
}

// The tier ORV_KERNELS names (one ctest entry per tier sets it), or
// ORV_KERNELS_AUTO when unset or "auto"; -2 for a name that is no tier.
inline int forced_tier()
{
    const char *name = std::getenv("ORV_KERNELS");
    return name && *name ? orv_kernel_tier_of(name) : int(ORV_KERNELS_AUTO);
}

// The tiers to check: the forced one alone, else every one this machine
// runs. Empty when the forced tier is not runnable here (the entry skips).
inline std::vector<int> tiers_under_test()
{
    std::vector<int> tiers;
    const int forced = forced_tier();
    for (int t = 0; t < ORV_KERNELS_TIERS; ++t)
        if (orv_device_kernels_runnable(t) && (forced == ORV_KERNELS_AUTO || forced == t))
            tiers.push_back(t);
    return tiers;
}

// Input of one call: two luma rows y_stride apart (a row slot reads the
// first), one chroma row as planes and as pairs, and the error carry.
struct Rows {
    int count = 0;
    ptrdiff_t y_stride = 0;
    std::vector<uint8_t> luma, cb, cr, errors;
    std::vector<uint8_t> pairs; // cb, cr interleaved (NV12 order)
};

inline Rows random_rows(std::mt19937 &rng, int count)
{
    std::uniform_int_distribution<int> byte(0, 255), carry(0, 7);
    Rows r;
    r.count = count;
    r.y_stride = count + 24;
    r.luma.resize(size_t(r.y_stride) * 2);
    r.cb.resize(size_t(count + 1) / 2);
    r.cr.resize(r.cb.size());
    r.errors.resize(size_t(count) * 8);
    for (auto *v : {&r.luma, &r.cb, &r.cr})
        for (auto &b : *v)
            b = uint8_t(byte(rng));
    for (auto &b : r.errors)
        b = uint8_t(carry(rng));
    r.pairs.resize(r.cb.size() * 2);
    for (size_t i = 0; i < r.cb.size(); ++i)
        r.pairs[2 * i] = r.cb[i], r.pairs[2 * i + 1] = r.cr[i];
    return r;
}

// Output of one call: one or two rows dst_stride apart, guard bytes after,
// and the carry after the call.
struct Result {
    ptrdiff_t dst_stride = 0;
    std::vector<uint8_t> pixels, errors;
};

inline Result blank_result(const Slot &s, const Rows &in)
{
    Result r;
    r.dst_stride = ptrdiff_t(in.count) * bytes_per_pixel(s.output) + 40;
    r.pixels.assign(size_t(r.dst_stride) * 2, 0xA5);
    r.errors = in.errors;
    return r;
}

// Layouts: 0 planar; for semi slots 1 NV12 (Cb first), 2 NV21 (Cr first).
// For NV21 the pairs row is read with its bytes swapped, so the samples are
// the same: the buffer passed is `swapped` (filled here).
inline void chroma_pointers(const Rows &in, int layout, std::vector<uint8_t> &swapped, const uint8_t *&u,
                            const uint8_t *&v)
{
    u = in.cb.data(), v = in.cr.data();
    if (layout == 1) {
        u = in.pairs.data(), v = u + 1;
    } else if (layout == 2) {
        swapped = in.pairs;
        for (size_t i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        v = swapped.data(), u = v + 1;
    }
}

inline void call(const Slot &s, const DeviceRowKernels &set, const Rows &in, int layout,
                 const YuvCoefficients &k, Result &out, std::vector<uint8_t> &swapped)
{
    const uint8_t *u, *v;
    chroma_pointers(in, layout, swapped, u, v);
    if (is_pair(s))
        (set.*s.row_pair)(out.pixels.data(), out.dst_stride, in.luma.data(), in.y_stride, u, v,
                          out.errors.data(), &k, in.count);
    else
        (set.*s.row)(out.pixels.data(), in.luma.data(), u, v, out.errors.data(), &k, in.count);
}

// One row as the model converts it: count / 16 whole groups.
inline void model_row(Output o, uint8_t *dst, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                      uint8_t *errors, const YuvCoefficients &k, int count)
{
    using namespace yuv_model;
    const int n = count / 16 * 16;
    for (int x = 0; x < n; ++x) {
        Rgb c = lane_pixel(y[x], cb[x / 2], cr[x / 2], k);
        if (o == Output::rgb32) {
            uint8_t *p = dst + 4 * x;
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 0xFF;
        } else {
            uint8_t *e = errors + x / 16 * 48 + x % 16;
            const uint8_t r = add_sat(c.r, e[0]), g = add_sat(c.g, e[16]), b = add_sat(c.b, e[32]);
            e[0] = r & 7, e[16] = g & 3, e[32] = b & 7;
            const uint16_t p = pack565(r, g, b);
            dst[2 * x] = uint8_t(p), dst[2 * x + 1] = uint8_t(p >> 8);
        }
    }
}

// The slot's bytes by the model: a pair runs the carry through the first row
// into the second, as two row calls would.
inline void model(const Slot &s, const Rows &in, const YuvCoefficients &k, Result &out)
{
    model_row(s.output, out.pixels.data(), in.luma.data(), in.cb.data(), in.cr.data(), out.errors.data(), k,
              in.count);
    if (is_pair(s))
        model_row(s.output, out.pixels.data() + out.dst_stride, in.luma.data() + in.y_stride, in.cb.data(),
                  in.cr.data(), out.errors.data(), k, in.count);
}

// The turn stores: each tier's against one model, in elements of 2 or 4
// bytes, with strides of either sign.
struct TurnSlot {
    const char *name;
    DeviceTurnKernel DeviceTurnKernels::*kernel;
    int size;           // bytes per element
    bool transpose;     // else reverse
    bool split = false; // columns split in groups of 16 (optional slot)
};

inline constexpr TurnSlot kTurnSlots[] = {
    {"transpose32", &DeviceTurnKernels::transpose32, 4, true},
    {"transpose16", &DeviceTurnKernels::transpose16, 2, true},
    {"reverse32", &DeviceTurnKernels::reverse32, 4, false},
    {"reverse16", &DeviceTurnKernels::reverse16, 2, false},
    {"transpose32_split", &DeviceTurnKernels::transpose32_split, 4, true, true},
};

// The pixel a split group of 16 holds at element i: its 8 even pixels, then
// its 8 odd ones.
inline int split_column(int i)
{
    const int k = i % 16;
    return i - k + (k < 8 ? 2 * k : 2 * (k - 8) + 1);
}

inline void turn_model(const TurnSlot &s, const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst,
                       ptrdiff_t dst_stride, int rows, int cols)
{
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            const uint8_t *from = src + j * src_stride + i * s.size;
            uint8_t *to = s.transpose ? dst + (s.split ? split_column(i) : i) * dst_stride + j * s.size
                                      : dst + j * dst_stride + (cols - 1 - i) * s.size;
            std::copy(from, from + s.size, to);
        }
}

// The plane copies (DeviceCopyKernels) as they are meant to work: the rows
// moved or split as they are, the padding up to padded mid-grey.
inline void model_copy(uint8_t *dst, const uint8_t *src, int count, int padded)
{
    for (int i = 0; i < count; ++i)
        dst[i] = src[i];
    for (int i = count; i < padded; ++i)
        dst[i] = ORV_COPY_PAD;
}

inline void model_split(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded)
{
    for (int i = 0; i < count; ++i)
        a[i] = pairs[2 * i], b[i] = pairs[2 * i + 1];
    for (int i = count; i < padded; ++i)
        a[i] = b[i] = ORV_COPY_PAD;
}

// A 10-bit word (two bytes, little-endian) rounded to 8 bits: the value in
// bits 0-9 (low) or 6-15 (high), (v + 2) >> 2, at most 255.
inline uint8_t model_narrow_one(const uint8_t *word, bool high)
{
    const unsigned w = unsigned(word[0]) | unsigned(word[1]) << 8;
    const unsigned v = ((high ? w >> 6 : w & 0x3FF) + 2) / 4;
    return uint8_t(std::min(v, 255u));
}

inline void model_narrow(uint8_t *dst, const uint8_t *words, int count, int padded, bool high)
{
    for (int i = 0; i < count; ++i)
        dst[i] = model_narrow_one(words + 2 * i, high);
    for (int i = count; i < padded; ++i)
        dst[i] = ORV_COPY_PAD;
}

inline void model_split_narrow(uint8_t *a, uint8_t *b, const uint8_t *pairs, int count, int padded, bool high)
{
    for (int i = 0; i < count; ++i)
        a[i] = model_narrow_one(pairs + 4 * i, high), b[i] = model_narrow_one(pairs + 4 * i + 2, high);
    for (int i = count; i < padded; ++i)
        a[i] = b[i] = ORV_COPY_PAD;
}

// The mirrored row pairs (DeviceMirrorKernels): the pair slot of the same
// name, right to left, with each group's carry lane-reversed.
struct MirrorSlot {
    const char *name;
    Output output;
    bool semi;
    DeviceRowPairKernel DeviceMirrorKernels::*kernel;
    const Slot *plain; // the pair slot whose bytes it mirrors
};

inline constexpr MirrorSlot kMirrorSlots[] = {
    {"rgb32_pair_mirror", Output::rgb32, false, &DeviceMirrorKernels::rgb32_pair, &kSlots[4]},
    {"rgb565_pair_mirror", Output::rgb565_carry, false, &DeviceMirrorKernels::filter565_pair, &kSlots[5]},
    {"rgb32_semi_pair_mirror", Output::rgb32, true, &DeviceMirrorKernels::rgb32_semi_pair, &kSlots[6]},
    {"rgb565_semi_pair_mirror", Output::rgb565_carry, true, &DeviceMirrorKernels::filter565_semi_pair,
     &kSlots[7]},
};

inline void reverse_groups(std::vector<uint8_t> &errors, int count)
{
    for (int at = 0; at + 16 <= count / 16 * 48; at += 16)
        std::reverse(errors.begin() + at, errors.begin() + at + 16);
}

// The model of a mirrored pair: the pair's model on the carry in column
// order, each row's pixels then reversed.
inline void mirror_model(const MirrorSlot &s, const Rows &in, const YuvCoefficients &k, Result &out)
{
    reverse_groups(out.errors, in.count);
    model(*s.plain, in, k, out);
    reverse_groups(out.errors, in.count);
    const int n = in.count / 16 * 16, bpp = bytes_per_pixel(s.output);
    for (int r = 0; r < 2; ++r) {
        uint8_t *row = out.pixels.data() + r * out.dst_stride;
        for (int i = 0; i < n / 2; ++i)
            std::swap_ranges(row + i * bpp, row + (i + 1) * bpp, row + (n - 1 - i) * bpp);
    }
}

inline void call_mirror(const MirrorSlot &s, const DeviceMirrorKernels &set, const Rows &in, int layout,
                        const YuvCoefficients &k, Result &out, std::vector<uint8_t> &swapped)
{
    const uint8_t *u, *v;
    chroma_pointers(in, layout, swapped, u, v);
    (set.*s.kernel)(out.pixels.data(), out.dst_stride, in.luma.data(), in.y_stride, u, v, out.errors.data(),
                    &k, in.count);
}

} // namespace kernel_list
