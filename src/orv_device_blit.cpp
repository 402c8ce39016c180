// The YUV-to-RGB blitter: walks the rows of a YUV 4:2:0 frame (planar or
// semi-planar chroma), hands every whole group of 16 pixels to a row kernel
// and converts the remaining 0-15 pixels here in Q13 integer arithmetic with
// a clipping table. Owns the per-column error carry of the RGB565 output (the
// dither buffer) and the colour settings word. Takes no lock: the overlay
// that owns it serialises every call, and the settings word is atomic.
#include "orv_device_blit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "kernels/kernels.h"
#include "kernels/ten_bit.h"
#include "orv_device_record.h"

namespace {

// Lines the leak report names for the two blocks (the tags hosts know).
constexpr int kObjectTagLine = 122;
constexpr int kDitherTagLine = 182;

// clip(v) = kClip[kClipZero + v] for v in -8192..8447: overshoot on either
// side lands in the table instead of a branch. Built at compile time, so it
// is ready before any blitter exists and never changes.
constexpr int kClipZero = 8192;
constexpr auto kClip = [] {
    std::array<uint8_t, 16640> t{};
    for (int i = 0; i < 16640; ++i)
        t[i] = i < kClipZero ? 0 : i < kClipZero + 256 ? uint8_t(i - kClipZero) : 255;
    return t;
}();

inline uint8_t clip(int v)
{
    return kClip[kClipZero + v];
}

struct DeviceBlit {
    DeviceBlit *self;
    DeviceBlitOps ops;
    // Error carry, ORV_DITHER_BYTES_PER_COLUMN bytes per column; its layout
    // follows carry_width (the width of the last frame drawn with it).
    uint8_t *dither_buffer;
    int32_t dither_columns; // columns the buffer has room for
    int32_t carry_width;
    // Matrix, range and chroma step, packed (see Settings); zero is the
    // default. Written by host threads, read once per blit.
    uint32_t settings;
    DeviceRowKernels kernels;      // picked for this CPU at creation
    DeviceRowKernels kernels10[2]; // the same tier's, for DEVICE_SAMPLES_10_LOW and _HIGH
    DeviceTurnKernels turn;        // its turn stores
    DeviceMirrorKernels mirror;    // and its mirrored row pairs (may be null)
    // Render thread only (the overlay's mutex): the step the last blit drew
    // with, and one that overrides the setting (0: none) for a kept copy
    // laid out under an earlier setting.
    int32_t last_step;
    int32_t forced_step;
    // The same for the sample format; forced_samples holds it plus one.
    int32_t last_samples;
    int32_t forced_samples;
};

// The settings word: one byte each, so one load gives a consistent set.
struct Settings {
    int matrix, range, step, transform, samples;

    static Settings unpack(uint32_t w)
    {
        return {int(w & 0xFF), int(w >> 8 & 0xFF), int(w >> 16 & 0xF) + 1, int(w >> 20 & 0xF), int(w >> 24)};
    }
    uint32_t pack() const
    {
        return uint32_t(matrix) | uint32_t(range) << 8 | uint32_t(step - 1) << 16 |
               uint32_t(transform) << 20 | uint32_t(samples) << 24;
    }
};

// The word stays a plain field of the record; the NDK's libc++ has no
// atomic_ref, so it is reached through the compiler's atomics.
static_assert(int(std::memory_order_relaxed) == __ATOMIC_RELAXED &&
              int(std::memory_order_acquire) == __ATOMIC_ACQUIRE &&
              int(std::memory_order_release) == __ATOMIC_RELEASE);
struct SettingsWord {
    uint32_t &word;
    uint32_t load(std::memory_order order) const { return __atomic_load_n(&word, int(order)); }
    bool compare_exchange_weak(uint32_t &expected, uint32_t desired, std::memory_order success,
                               std::memory_order failure)
    {
        return __atomic_compare_exchange_n(&word, &expected, desired, true, int(success), int(failure));
    }
};
SettingsWord settings_word(DeviceBlit *blit)
{
    return SettingsWord{blit->settings};
}

// Changes the fields that change leaves untouched, also against a
// concurrent change of the others.
template <typename Change>
void update_settings(DeviceBlit *blit, Change change)
{
    SettingsWord word = settings_word(blit);
    uint32_t old = word.load(std::memory_order_relaxed);
    for (;;) {
        Settings s = Settings::unpack(old);
        change(s);
        if (word.compare_exchange_weak(old, s.pack(), std::memory_order_release, std::memory_order_relaxed))
            return;
    }
}

DeviceBlit *object_of(DeviceBlitOps *ops)
{
    return orv_device::record_of<DeviceBlit>(ops);
}

// Where column x's three carries live for a frame of the given width: the
// 8-bit kernels' vector columns as bytes, the 10-bit kernels' as words of
// carry << 4 (kernels/ten_bit.h), every other column as three plain int16.
struct CarrySlot {
    enum Kind { bytes, words, plain } kind;
    uint8_t *at;
};

// Bytes of a group of 16 vector columns.
constexpr size_t group_bytes(bool ten)
{
    return ten ? 96 : 48;
}

CarrySlot carry_slot(uint8_t *buffer, int width, int x, bool ten)
{
    const int width16 = width & ~15;
    if (x < width16 && ten)
        return {CarrySlot::words, buffer + orv_ten_bit::carry_word(x)};
    if (x < width16)
        return {CarrySlot::bytes, buffer + size_t(x / 16) * 48 + size_t(x % 16)};
    return {CarrySlot::plain,
            buffer + size_t(width16) * ORV_DITHER_BYTES_PER_COLUMN + size_t(x - width16) * 6};
}

// Plain carries, whatever the slot holds.
void read_carry(CarrySlot s, int16_t e[3])
{
    for (int c = 0; c < 3; ++c)
        if (s.kind == CarrySlot::bytes)
            e[c] = s.at[16 * c];
        else if (s.kind == CarrySlot::words)
            e[c] = int16_t((s.at[32 * c] | s.at[32 * c + 1] << 8) >> 4);
    if (s.kind == CarrySlot::plain)
        std::memcpy(e, s.at, 6);
}

void write_carry(CarrySlot s, const int16_t e[3])
{
    for (int c = 0; c < 3; ++c)
        if (s.kind == CarrySlot::bytes) {
            s.at[16 * c] = uint8_t(e[c]);
        } else if (s.kind == CarrySlot::words) {
            const unsigned w = unsigned(e[c]) << 4;
            s.at[32 * c] = uint8_t(w), s.at[32 * c + 1] = uint8_t(w >> 8);
        }
    if (s.kind == CarrySlot::plain)
        std::memcpy(s.at, e, 6);
}

// The carry's last byte, which no layout uses, says whose carries the
// buffer holds: 10-bit carries are 16 times finer. It travels with the bytes
// a redraw saves and puts back.
constexpr uint8_t kCarry8 = 0, kCarry10 = 1;

uint8_t &carry_tag(uint8_t *buffer, int width)
{
    return buffer[size_t(width) * ORV_DITHER_BYTES_PER_COLUMN - 1];
}

// Converts every column's carries to the scale of the frame about to use
// them, so switching sample formats neither loses the carry nor adds a
// stale one 16 times too large.
void match_carry(uint8_t *buffer, int width, uint8_t wanted)
{
    uint8_t &tag = carry_tag(buffer, width);
    if (tag == wanted)
        return;
    const bool ten = wanted == kCarry10;
    auto scale = [ten](int16_t e[3]) {
        for (int c = 0; c < 3; ++c)
            e[c] = int16_t(ten ? e[c] << 4 : e[c] >> 4);
    };
    // A group takes 96 bytes at 10 bits, 48 at 8, and its columns change
    // places: each group is read whole before it is written, widening from
    // the last group down and narrowing from the first up, so no group is
    // overwritten before it is read.
    const int groups = width / 16;
    for (int n = 0; n < groups; ++n) {
        const int x0 = 16 * (ten ? groups - 1 - n : n);
        int16_t e[16][3];
        for (int i = 0; i < 16; ++i)
            read_carry(carry_slot(buffer, width, x0 + i, !ten), e[i]);
        for (int i = 0; i < 16; ++i) {
            scale(e[i]);
            write_carry(carry_slot(buffer, width, x0 + i, ten), e[i]);
        }
    }
    const int width16 = groups * 16;
    for (int x = width16; x < width; ++x) {
        const CarrySlot slot = carry_slot(buffer, width, x, ten);
        int16_t e[3];
        read_carry(slot, e);
        scale(e);
        write_carry(slot, e);
    }
    tag = wanted;
}

// Moves the carries from the layout of width `from` to that of width `to`
// in place. Columns below both widths' vector parts sit at the same place in
// either layout; of the shared columns only the at most 15 past that change
// slot. Every other column of the new layout starts at zero.
void relayout_carry(uint8_t *buffer, int from, int to, bool ten)
{
    const int kept = from < to ? from : to;
    const int same = (from & ~15) < (to & ~15) ? from & ~15 : to & ~15;
    int16_t moved[15][3];
    const int n = kept - same;
    for (int i = 0; i < n; ++i)
        read_carry(carry_slot(buffer, from, same + i, ten), moved[i]);
    // Columns below `same` end at same / 16 groups.
    const size_t kept_bytes = size_t(same / 16) * group_bytes(ten);
    std::memset(buffer + kept_bytes, 0, size_t(to) * ORV_DITHER_BYTES_PER_COLUMN - kept_bytes);
    for (int i = 0; i < n; ++i)
        write_carry(carry_slot(buffer, to, same + i, ten), moved[i]);
}

// Lays the carry out for frames of the given width. Carries of the columns
// both widths share keep their values, so a width change neither loses them
// nor reads one layout as another. One buffer serves every width up to the
// widest seen: memory is taken only for a frame wider than any before, so
// frames that alternate widths allocate nothing.
ResultCode ensure_dither(DeviceBlit *blit, int width, const char *who)
{
    if (width == blit->carry_width && width <= blit->dither_columns)
        return ORV_OK;
    if (width > blit->dither_columns) {
        auto *grown = static_cast<uint8_t *>(
            orv_mem_calloc_at(uint32_t(width) * ORV_DITHER_BYTES_PER_COLUMN, ORV_TAG_FILE, kDitherTagLine));
        if (!grown) {
            orv_log(3, ORV_FAIL, "VRE: deviceblit: %s malloc dither_buffer ", who);
            return ORV_FAIL;
        }
        if (blit->dither_buffer) {
            std::memcpy(grown, blit->dither_buffer,
                        size_t(blit->dither_columns) * ORV_DITHER_BYTES_PER_COLUMN);
            orv_mem_free(blit->dither_buffer);
        }
        blit->dither_buffer = grown;
        blit->dither_columns = width;
    }
    const uint8_t tag = blit->carry_width > 0 ? carry_tag(blit->dither_buffer, blit->carry_width) : kCarry8;
    relayout_carry(blit->dither_buffer, blit->carry_width, width, tag == kCarry10);
    carry_tag(blit->dither_buffer, width) = tag;
    blit->carry_width = width;
    return ORV_OK;
}

// Q13 weights of the frame's matrix and range, truncating toward zero.
struct Q13 {
    int r, g, b;
};

inline Q13 tail_pixel(int Y, int U, int V, const YuvTailCoefficients &t)
{
    const int l = t.luma * (Y - t.luma_offset) + t.rounding, u = U - 128, v = V - 128;
    return {(l + t.cr_red * v) / 8192, (l - t.cb_green * u - t.cr_green * v) / 8192,
            (l + t.cb_blue * u) / 8192};
}

// What a row's tail needs beside its pixels: weights and chroma step.
struct TailSetup {
    const YuvTailCoefficients *weights;
    int step;
};

// Tails write from pixel `from` on: dst points at the pixel of column
// `from`, so a tail lands in a turn block as well as in a window row.
void tail_rgb32(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, int from, int to,
                TailSetup t)
{
    for (int x = from; x < to; ++x) {
        const int c_at = x / 2 * t.step;
        const Q13 c = tail_pixel(y[x], u[c_at], v[c_at], *t.weights);
        uint8_t *p = dst + size_t(x - from) * 4;
        p[0] = clip(c.r), p[1] = clip(c.g), p[2] = clip(c.b), p[3] = 0xFF;
    }
}

void tail_rgb565(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *carry,
                 int width, int from, int to, TailSetup t)
{
    for (int x = from; x < to; ++x) {
        const int c_at = x / 2 * t.step;
        const Q13 c = tail_pixel(y[x], u[c_at], v[c_at], *t.weights);
        const CarrySlot slot = carry_slot(carry, width, x, false);
        int16_t e[3];
        read_carry(slot, e);
        const int r = clip(clip(c.r) + e[0]), g = clip(clip(c.g) + e[1]), b = clip(clip(c.b) + e[2]);
        const int16_t next[3] = {int16_t(r & 7), int16_t(g & 3), int16_t(b & 7)};
        write_carry(slot, next);
        const unsigned p = unsigned(r >> 3) << 11 | unsigned(g >> 2) << 5 | unsigned(b >> 3);
        uint8_t *at = dst + size_t(x - from) * 2;
        at[0] = uint8_t(p), at[1] = uint8_t(p >> 8);
    }
}

// The 10-bit tail: the model itself, so a frame's bytes do not depend on
// where its last group of 16 ends.
struct TailSetup10 {
    const YuvCoefficients *block;
    int step, samples;

    orv_ten_bit::Fixed pixel(const uint8_t *y, const uint8_t *u, const uint8_t *v, int x) const
    {
        using namespace orv_ten_bit;
        const size_t c_at = size_t(x / 2 * step) * 2;
        return orv_ten_bit::pixel(sample_of(word_at(y + size_t(x) * 2), samples),
                                  sample_of(word_at(u + c_at), samples),
                                  sample_of(word_at(v + c_at), samples), *block);
    }
};

void tail10_rgb32(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, int from, int to,
                  const TailSetup10 &t)
{
    for (int x = from; x < to; ++x) {
        const orv_ten_bit::Fixed c = t.pixel(y, u, v, x);
        uint8_t *p = dst + size_t(x - from) * 4;
        p[0] = orv_ten_bit::to_byte(c.r), p[1] = orv_ten_bit::to_byte(c.g), p[2] = orv_ten_bit::to_byte(c.b);
        p[3] = 0xFF;
    }
}

void tail10_rgb565(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *carry,
                   int width, int from, int to, const TailSetup10 &t)
{
    for (int x = from; x < to; ++x) {
        const CarrySlot slot = carry_slot(carry, width, x, true);
        int16_t e[3];
        read_carry(slot, e);
        uint8_t bytes[3] = {uint8_t(e[0]), uint8_t(e[1]), uint8_t(e[2])};
        const uint16_t p = orv_ten_bit::pack565(t.pixel(y, u, v, x), bytes);
        const int16_t next[3] = {bytes[0], bytes[1], bytes[2]};
        write_carry(slot, next);
        dst[size_t(x - from) * 2] = uint8_t(p), dst[size_t(x - from) * 2 + 1] = uint8_t(p >> 8);
    }
}

// One frame's conversion, fixed once per blit: the kernels for its output
// and chroma layout, its weights and its carry.
struct Conversion {
    const YuvFrame *frame;
    DeviceRowKernel kernel;
    DeviceRowPairKernel pair; // may be null
    const YuvCoefficients *coefficients;
    TailSetup tail;
    TailSetup10 tail10; // for 10-bit samples (ten)
    bool ten;
    uint8_t *carry;
    bool rgb565;
    int bytes_per_pixel;
};

// Converts source rows [row0, row0 + rows) of columns [x0, x0 + cols) into
// dst, dst_stride bytes per row (negative: bottom-up). x0 is a multiple of
// 16, and cols is too unless the block reaches the frame's right edge. Each
// column's carry runs down the rows in order, so blocks of a frame may be
// converted in any order that keeps each column's rows top to bottom.
void convert_block(const Conversion &c, int row0, int rows, int x0, int cols, uint8_t *dst,
                   ptrdiff_t dst_stride)
{
    const YuvFrame *f = c.frame;
    const int width = f->width, width16 = width & ~15, end = x0 + cols;
    const int vector_end = end < width16 ? end : width16;
    const int n16 = vector_end > x0 ? vector_end - x0 : 0;
    const int tail_from = x0 > width16 ? x0 : width16;
    const ptrdiff_t y_stride = f->y_stride;
    const int sample_bytes = c.ten ? 2 : 1;
    const size_t chroma_x = size_t(x0 / 2) * size_t(c.tail.step) * size_t(sample_bytes);
    const uint8_t *y = f->y + row0 * y_stride + ptrdiff_t(x0) * sample_bytes;
    const uint8_t *u = f->u + ptrdiff_t(row0 / 2) * f->u_stride;
    const uint8_t *v = f->v + ptrdiff_t(row0 / 2) * f->v_stride;
    // 48 bytes per 16 columns, 96 at 10 bits.
    uint8_t *carry = c.carry ? c.carry + size_t(x0 / 16) * group_bytes(c.ten) : nullptr;
    uint8_t *tail_dst_at = dst + ptrdiff_t(tail_from - x0) * c.bytes_per_pixel;
    auto tail_row = [&](ptrdiff_t row_off, const uint8_t *l) {
        if (tail_from >= end)
            return;
        // The tails index the whole row from its start.
        const uint8_t *row = l - ptrdiff_t(x0) * sample_bytes;
        if (c.ten && c.rgb565)
            tail10_rgb565(tail_dst_at + row_off, row, u, v, c.carry, width, tail_from, end, c.tail10);
        else if (c.ten)
            tail10_rgb32(tail_dst_at + row_off, row, u, v, tail_from, end, c.tail10);
        else if (c.rgb565)
            tail_rgb565(tail_dst_at + row_off, row, u, v, c.carry, width, tail_from, end, c.tail);
        else
            tail_rgb32(tail_dst_at + row_off, row, u, v, tail_from, end, c.tail);
    };
    int row = row0;
    const int last = row0 + rows;
    ptrdiff_t off = 0;
    if (c.pair && n16 > 0 && !(row & 1)) {
        // Rows 2k and 2k + 1 share chroma row k: both through one kernel
        // call, the tails after it (their carries are columns of their own).
        // Locals, so the loop keeps them in registers across the calls.
        const DeviceRowPairKernel pair = c.pair;
        const YuvCoefficients *coefficients = c.coefficients;
        const ptrdiff_t u_stride = f->u_stride, v_stride = f->v_stride;
        const bool tails = tail_from < end;
        const uint8_t *uc = u + chroma_x, *vc = v + chroma_x;
        for (const int pairs_end = row + (last - row) / 2 * 2; row < pairs_end; row += 2) {
            pair(dst + off, dst_stride, y, y_stride, uc, vc, carry, coefficients, n16);
            if (tails) {
                tail_row(off, y);
                tail_row(off + dst_stride, y + y_stride);
            }
            y += 2 * y_stride;
            off += 2 * dst_stride;
            u += u_stride, v += v_stride;
            uc += u_stride, vc += v_stride;
        }
    }
    for (; row < last; ++row) {
        if (n16 > 0)
            c.kernel(dst + off, y, u + chroma_x, v + chroma_x, carry, c.coefficients, n16);
        tail_row(off, y);
        y += y_stride;
        off += dst_stride;
        if (row & 1)
            u += f->u_stride, v += f->v_stride;
    }
}

// Bytes of the block a turned frame is converted into before it is stored:
// small enough to stay in the first-level cache with the rows it reads. On
// x86 twice that: it halves the row-kernel calls of a quarter turn, whose
// set-up shows at 1080p, and what spills reads fast from the second level.
#if defined(__x86_64__) || defined(__i386__)
constexpr int kTurnBlockBytes = 32768;
#else
constexpr int kTurnBlockBytes = 16384;
#endif
// Bytes a quarter turn writes to each window row per block: one whole cache
// line. Wider runs of source columns per kernel call matter more (the call's
// set-up is paid per run); the pages stay few because a run's window rows
// are filled top to bottom before the next run (below).
constexpr int kTurnRunBytes = 64;

// The split band for a quarter turn of this conversion, or null: 8-bit RGBA
// without bias on a tier that has one.
DeviceSplitBandKernel split_band(const Conversion &c, const DeviceTurnKernels &turn, int transform)
{
    if (!(transform & DEVICE_TRANSFORM_ROTATE_90) || c.rgb565 || c.ten || !turn.transpose32_split ||
        orv_yuv_has_bias(c.coefficients))
        return nullptr;
    return c.tail.step == 2 ? turn.rgb32_semi_split_band : turn.rgb32_split_band;
}

// Source rows [row0, row0 + rows) of the vector columns [x0, x0 + count)
// into block, split as DeviceTurnKernels describes; row0 even. An odd last
// row goes through the row kernel and is split after.
void convert_block_split(const Conversion &c, DeviceSplitBandKernel band, int row0, int rows, int x0,
                         int count, uint8_t *block, ptrdiff_t block_stride)
{
    const YuvFrame *f = c.frame;
    const int pair_rows = rows & ~1;
    if (pair_rows > 0) {
        const size_t chroma_x = size_t(x0 / 2) * size_t(c.tail.step);
        const DeviceRowBand b{f->y + row0 * f->y_stride + x0,
                              f->u + (row0 / 2) * f->u_stride + chroma_x,
                              f->v + (row0 / 2) * f->v_stride + chroma_x,
                              f->y_stride,
                              f->u_stride,
                              f->v_stride,
                              pair_rows,
                              count};
        band(block, block_stride, &b, c.coefficients);
    }
    if (pair_rows < rows) {
        uint8_t *row = block + pair_rows * block_stride;
        convert_block(c, row0 + pair_rows, 1, x0, count, row, block_stride);
        for (int g = 0; g < count; g += 16) {
            uint32_t group[16];
            std::memcpy(group, row + g * 4, sizeof group);
            for (int i = 0; i < 8; ++i) {
                std::memcpy(row + (g + i) * 4, &group[2 * i], 4);
                std::memcpy(row + (g + 8 + i) * 4, &group[2 * i + 1], 4);
            }
        }
    }
}

// A transform that is not a plain walk (mirror V alone is one, bottom-up):
// the frame goes through the block in bands of source rows and runs of
// columns; each block is stored reversed (mirror H) or transposed (a
// quarter turn), each flip choosing the direction of the store.
void convert_turned(const Conversion &c, const DeviceTurnKernels &turn, int transform, uint8_t *dst,
                    ptrdiff_t dst_stride, int first_row = 0)
{
    alignas(64) uint8_t block[kTurnBlockBytes];
    const int width = c.frame->width, height = c.frame->height, bpp = c.bytes_per_pixel;
    const bool quarter = transform & DEVICE_TRANSFORM_ROTATE_90;
    const bool mirror_h = transform & DEVICE_TRANSFORM_MIRROR_H,
               mirror_v = transform & DEVICE_TRANSFORM_MIRROR_V;
    // A quarter turn stores each block column as one window-row run of
    // kTurnRunBytes; a mirror stores rows, so a pair of rows is band enough.
    const int band = quarter ? kTurnRunBytes / bpp : 2;
    const int run = kTurnBlockBytes / (band * bpp) & ~15;
    const ptrdiff_t block_stride = ptrdiff_t(run) * bpp;
    const DeviceTurnKernel store = quarter ? (bpp == 4 ? turn.transpose32 : turn.transpose16)
                                           : (bpp == 4 ? turn.reverse32 : turn.reverse16);
    const DeviceSplitBandKernel split = first_row & 1 ? nullptr : split_band(c, turn, transform);
    const int width16 = width & ~15;
    auto one_block = [&](int row0, int x0, int rows) {
        rows = height - row0 < rows ? height - row0 : rows;
        const int cols = width - x0 < run ? width - x0 : run;
        // Split: the vector columns, then the rest as usual.
        const int split_cols = split ? std::clamp(width16 - x0, 0, cols) : 0;
        if (split_cols > 0)
            convert_block_split(c, split, row0, rows, x0, split_cols, block, block_stride);
        if (split_cols < cols)
            convert_block(c, row0, rows, x0 + split_cols, cols - split_cols, block + split_cols * bpp,
                          block_stride);
        if (!quarter) {
            // Source (x, y) lands at (W - 1 - x, y), or H - 1 - y with mirror V.
            const int window_row = mirror_v ? height - 1 - row0 : row0;
            uint8_t *at = dst + window_row * dst_stride + ptrdiff_t(width - x0 - cols) * bpp;
            store(block, block_stride, at, mirror_v ? -dst_stride : dst_stride, rows, cols);
            return;
        }
        // Flips first, then the clockwise turn: source (x, y) lands in
        // window row (mirror H ? W - 1 - x : x), column (mirror V ? y : H - 1 - y).
        const int first_window_row = mirror_h ? width - 1 - x0 : x0;
        const uint8_t *from = mirror_v ? block : block + (rows - 1) * block_stride;
        const int window_col = mirror_v ? row0 : height - row0 - rows;
        const ptrdiff_t from_stride = mirror_v ? block_stride : -block_stride;
        const ptrdiff_t row_step = mirror_h ? -dst_stride : dst_stride;
        uint8_t *at = dst + first_window_row * dst_stride + ptrdiff_t(window_col) * bpp;
        if (split_cols > 0)
            turn.transpose32_split(from, from_stride, at, row_step, rows, split_cols);
        if (split_cols < cols)
            store(from + split_cols * bpp, from_stride, at + split_cols * row_step, row_step, rows,
                  cols - split_cols);
#if defined(__x86_64__) || defined(__i386__)
        // The next band writes beside this one in the same window rows, a
        // line or two per row and the rows far apart, which the hardware
        // does not foresee: asked for now, the lines come while it converts.
        if (const int next = height - row0 - rows < band ? height - row0 - rows : band; next > 0) {
            const uint8_t *beside = at + (mirror_v ? rows : -next) * bpp;
            for (int i = 0; i < cols; ++i) {
                const uint8_t *line = beside + i * row_step;
                __builtin_prefetch(line);
                if (reinterpret_cast<uintptr_t>(line) % kTurnRunBytes + uintptr_t(next * bpp) > kTurnRunBytes)
                    __builtin_prefetch(line + next * bpp - 1);
            }
        }
#endif
    };
    if (quarter) {
        // A run of source columns is a band of window rows: all source rows
        // of the run, top to bottom (each column's carry in order), fill
        // those window rows whole while their pages stay in the TLB.
        // On x86 the first band ends where a window cache line starts, so
        // every later block fills whole lines (when the window's stride
        // keeps the lines of its rows in step); an even count keeps the row
        // pairs. ARM keeps whole bands, which its turn stores take in whole
        // blocks of rows.
        int first = band;
#if defined(__x86_64__) || defined(__i386__)
        for (int n = 2; n < band && first_row + n < height; n += 2) {
            const int col = mirror_v ? first_row + n : height - first_row - n;
            if ((reinterpret_cast<uintptr_t>(dst) + uintptr_t(col) * bpp) % kTurnRunBytes == 0)
                first = n;
        }
#endif
        for (int x0 = 0; x0 < width; x0 += run)
            for (int row0 = first_row; row0 < height; row0 += row0 == first_row ? first : band)
                one_block(row0, x0, row0 == first_row ? first : band);
    } else {
        for (int row0 = first_row; row0 < height; row0 += band)
            for (int x0 = 0; x0 < width; x0 += run)
                one_block(row0, x0, band);
    }
}

bool frame_readable(const YuvFrame *frame, const char *who)
{
    if (!frame) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: %s null frame", who);
        return false;
    }
    if (frame->width < 0 || frame->height < 0) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: %s bad frame size %dx%d", who, frame->width,
                frame->height);
        return false;
    }
    if (frame->width > INT32_MAX / ORV_DITHER_BYTES_PER_COLUMN) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: %s frame too wide %d", who, frame->width);
        return false;
    }
    return true;
}

ResultCode blit_update_buffer(DeviceBlitOps *ops, const YuvFrame *frame)
{
    DeviceBlit *blit = object_of(ops);
    if (!blit || !frame_readable(frame, "update_buffer"))
        return ORV_ERR_INVALID_PARAM;
    if (frame->width == 0)
        return ORV_OK; // nothing to size yet; blit lays it out
    return ensure_dither(blit, frame->width, "update_buffer");
}

DeviceRowPairKernel mirror_pair(const DeviceMirrorKernels &m, bool rgb565, bool semi)
{
    return rgb565 ? (semi ? m.filter565_semi_pair : m.filter565_pair)
                  : (semi ? m.rgb32_semi_pair : m.rgb32_pair);
}

// Reverses the 16 lanes of each vector carry (red, green, blue of every
// group): the mirrored row pairs read them so.
void reverse_carry_lanes(uint8_t *carry, int width16)
{
    // Two byte-swapped words a vector: a few instructions where a byte loop
    // took some sixty, twice a mirrored frame.
    for (uint8_t *v = carry, *end = carry + size_t(width16) * 3; v < end; v += 16) {
        uint64_t lo, hi;
        std::memcpy(&lo, v, 8);
        std::memcpy(&hi, v + 8, 8);
        lo = __builtin_bswap64(lo), hi = __builtin_bswap64(hi);
        std::memcpy(v, &hi, 8);
        std::memcpy(v + 8, &lo, 8);
    }
}

// A mirror without a turn through row pairs that store right to left: the
// window is written once, as in a plain walk. Source column x lands at
// W - 1 - x, so the vector columns fill the window's right part and the
// tail its first columns, reversed through a small buffer. An odd last row
// goes through the turn block (the pairs have no single-row twin).
void convert_mirrored(const Conversion &c, DeviceRowPairKernel mirror_pair, const DeviceTurnKernels &turn,
                      int transform, uint8_t *dst, ptrdiff_t dst_stride)
{
    const YuvFrame *f = c.frame;
    const int width = f->width, height = f->height, width16 = width & ~15, bpp = c.bytes_per_pixel;
    const int tail = width - width16;
    uint8_t *row_at = transform & DEVICE_TRANSFORM_MIRROR_V ? dst + ptrdiff_t(height - 1) * dst_stride : dst;
    const ptrdiff_t step = transform & DEVICE_TRANSFORM_MIRROR_V ? -ptrdiff_t(dst_stride) : dst_stride;
    const bool carry_lanes = c.rgb565 && width16 > 0;
    if (carry_lanes)
        reverse_carry_lanes(c.carry, width16);
    const ptrdiff_t y_stride = f->y_stride;
    const uint8_t *y = f->y, *u = f->u, *v = f->v;
    uint8_t reversed[16 * 4];
    // The chroma rows come as arguments: a reference to the loop's own
    // would keep them in memory through every kernel call.
    auto tail_row = [&](uint8_t *d, const uint8_t *l, const uint8_t *cb, const uint8_t *cr) {
        if (c.rgb565) {
            tail_rgb565(reversed, l, cb, cr, c.carry, width, width16, width, c.tail);
        } else {
            tail_rgb32(reversed, l, cb, cr, width16, width, c.tail);
        }
        for (int i = 0; i < tail; ++i)
            std::memcpy(d + ptrdiff_t(tail - 1 - i) * bpp, reversed + i * bpp, size_t(bpp));
    };
    // Locals, so the loop keeps them in registers across the calls.
    const YuvCoefficients *coefficients = c.coefficients;
    uint8_t *carry = c.carry;
    const ptrdiff_t u_stride = f->u_stride, v_stride = f->v_stride;
    const ptrdiff_t pair_step = 2 * step, y_pair_step = 2 * y_stride;
    uint8_t *pair_at = row_at + ptrdiff_t(tail) * bpp;
    const int pairs = height / 2;
    if (tail == 0) {
        // Whole groups only: nothing but the kernel calls in the loop.
        for (int k = pairs; k > 0; --k) {
            mirror_pair(pair_at, step, y, y_stride, u, v, carry, coefficients, width16);
            pair_at += pair_step;
            y += y_pair_step;
            u += u_stride, v += v_stride;
        }
    } else {
        for (int k = pairs; k > 0; --k) {
            mirror_pair(pair_at, step, y, y_stride, u, v, carry, coefficients, width16);
            uint8_t *at = pair_at - ptrdiff_t(tail) * bpp;
            tail_row(at, y, u, v);
            tail_row(at + step, y + y_stride, u, v);
            pair_at += pair_step;
            y += y_pair_step;
            u += u_stride, v += v_stride;
        }
    }
    const int row = 2 * pairs;
    if (carry_lanes)
        reverse_carry_lanes(c.carry, width16);
    if (row < height)
        convert_turned(c, turn, transform, dst, dst_stride, row);
}

ResultCode draw(DeviceBlit *blit, const YuvFrame *frame, uint8_t *dst, int dst_stride, int bits_per_pixel,
                int transform)
{
    if (!blit || !frame_readable(frame, "blit"))
        return ORV_ERR_INVALID_PARAM;
    const int width = frame->width, height = frame->height;
    if (width == 0 || height == 0 || (bits_per_pixel != 16 && bits_per_pixel != 32))
        return ORV_OK;
    if (!dst || !frame->y || !frame->u || !frame->v) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: blit null plane or destination");
        return ORV_ERR_INVALID_PARAM;
    }
    // Once per frame: every row of this frame follows these settings.
    Settings settings = Settings::unpack(settings_word(blit).load(std::memory_order_acquire));
    if (blit->forced_step != 0)
        settings.step = blit->forced_step;
    if (blit->forced_samples != 0)
        settings.samples = blit->forced_samples - 1;
    blit->last_step = settings.step;
    blit->last_samples = settings.samples;
    const bool semi = settings.step == 2;
    const bool ten = settings.samples != DEVICE_SAMPLES_8;
    if (ten) {
        if (!orv_device_words_fit(frame, settings.step))
            return ORV_ERR_INVALID_PARAM;
    } else if (semi && frame->v != frame->u + 1 && frame->u != frame->v + 1) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: blit chroma step 2 needs u and v one byte apart");
        return ORV_ERR_INVALID_PARAM;
    }
    const bool rgb565 = bits_per_pixel == 16;
    if (rgb565) {
        // A frame wider than the buffer was sized for must not run past it.
        if (ResultCode rc = ensure_dither(blit, width, "blit"); ORV_FAILED(rc))
            return rc;
        match_carry(blit->dither_buffer, width, ten ? kCarry10 : kCarry8);
    }
    const YuvColourCoefficients *colour = orv_yuv_colour_coefficients(settings.matrix, settings.range);
    const YuvCoefficients *coefficients =
        ten ? orv_yuv_coefficients10(settings.matrix, settings.range) : &colour->lanes;
    const DeviceRowKernels &k = ten ? blit->kernels10[settings.samples - 1] : blit->kernels;
    Conversion c{};
    c.frame = frame;
    c.kernel = rgb565 ? (semi ? k.filter565_semi : k.filter565) : (semi ? k.rgb32_semi : k.rgb32);
    c.pair = rgb565 ? (semi ? k.filter565_semi_pair : k.filter565_pair)
                    : (semi ? k.rgb32_semi_pair : k.rgb32_pair);
    c.coefficients = coefficients;
    c.tail = {&colour->tail, settings.step};
    c.tail10 = {coefficients, settings.step, settings.samples};
    c.ten = ten;
    c.carry = blit->dither_buffer;
    c.rgb565 = rgb565;
    c.bytes_per_pixel = rgb565 ? 2 : 4;
    if (transform == DEVICE_TRANSFORM_NONE) {
        convert_block(c, 0, height, 0, width, dst, dst_stride);
    } else if (transform == DEVICE_TRANSFORM_MIRROR_V) {
        convert_block(c, 0, height, 0, width, dst + ptrdiff_t(height - 1) * dst_stride,
                      -ptrdiff_t(dst_stride));
    } else if (DeviceRowPairKernel mirror = ten ? nullptr : mirror_pair(blit->mirror, rgb565, semi);
               mirror && width >= 16 && (transform & DEVICE_TRANSFORM_ROTATE_90) == 0 &&
               !orv_yuv_has_bias(c.coefficients)) {
        // 8-bit only: the mirrored pairs reverse the 8-bit carry's lanes.
        convert_mirrored(c, mirror, blit->turn, transform, dst, dst_stride);
    } else {
        convert_turned(c, blit->turn, transform, dst, dst_stride);
    }
    return ORV_OK;
}

ResultCode blit_blit(DeviceBlitOps *ops, const YuvFrame *frame, uint8_t *dst, int dst_stride,
                     int bits_per_pixel)
{
    DeviceBlit *blit = object_of(ops);
    const int transform =
        blit ? Settings::unpack(settings_word(blit).load(std::memory_order_acquire)).transform : 0;
    return draw(blit, frame, dst, dst_stride, bits_per_pixel, transform);
}

ResultCode blit_destroy(DeviceBlitOps *ops)
{
    DeviceBlit *blit = object_of(ops);
    if (!blit)
        return ORV_OK;
    if (blit->dither_buffer)
        orv_mem_free(blit->dither_buffer);
    orv_mem_free(blit);
    return ORV_OK;
}

} // namespace

extern "C" DeviceBlitOps *orv_device_blit_create(void)
{
    auto *blit =
        static_cast<DeviceBlit *>(orv_mem_calloc_at(sizeof(DeviceBlit), ORV_TAG_FILE, kObjectTagLine));
    if (!blit) {
        orv_log(3, ORV_FAIL, "VRE: deviceblit: malloc yuvlist fail");
        return nullptr;
    }
    blit->self = blit;
    blit->ops.update_buffer = blit_update_buffer;
    blit->ops.blit = blit_blit;
    blit->ops.destroy = blit_destroy;
    blit->kernels = orv_device_pick_kernels();
    blit->turn = orv_device_pick_turn_kernels();
    blit->mirror = orv_device_pick_mirror_kernels();
    blit->kernels10[0] = orv_device_pick_kernels10(DEVICE_SAMPLES_10_LOW);
    blit->kernels10[1] = orv_device_pick_kernels10(DEVICE_SAMPLES_10_HIGH);
    return &blit->ops;
}

extern "C" ResultCode orv_device_blit_set_colour(DeviceBlitOps *ops, int matrix, int range)
{
    DeviceBlit *blit = object_of(ops);
    if (!blit || !orv_yuv_colour_coefficients(matrix, range)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: no colour matrix %d range %d", matrix, range);
        return ORV_ERR_INVALID_PARAM;
    }
    update_settings(blit, [&](Settings &s) { s.matrix = matrix, s.range = range; });
    return ORV_OK;
}

extern "C" ResultCode orv_device_blit_set_chroma_step(DeviceBlitOps *ops, int step)
{
    DeviceBlit *blit = object_of(ops);
    if (!blit || (step != 1 && step != 2)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: no chroma step %d", step);
        return ORV_ERR_INVALID_PARAM;
    }
    update_settings(blit, [&](Settings &s) { s.step = step; });
    return ORV_OK;
}

extern "C" ResultCode orv_device_blit_set_transform(DeviceBlitOps *ops, int transform)
{
    DeviceBlit *blit = object_of(ops);
    if (!blit || transform < 0 || transform > 7) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: no transform %d", transform);
        return ORV_ERR_INVALID_PARAM;
    }
    update_settings(blit, [&](Settings &s) { s.transform = transform; });
    return ORV_OK;
}

extern "C" ResultCode orv_device_blit_set_samples(DeviceBlitOps *ops, int samples)
{
    DeviceBlit *blit = object_of(ops);
    if (!blit || (samples != DEVICE_SAMPLES_8 && samples != DEVICE_SAMPLES_10_LOW &&
                  samples != DEVICE_SAMPLES_10_HIGH)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: no sample format %d", samples);
        return ORV_ERR_INVALID_PARAM;
    }
    update_settings(blit, [&](Settings &s) { s.samples = samples; });
    return ORV_OK;
}

extern "C" DeviceBlitSettings orv_device_blit_settings(DeviceBlitOps *ops)
{
    DeviceBlit *blit = object_of(ops);
    const Settings s = Settings::unpack(blit ? settings_word(blit).load(std::memory_order_acquire) : 0);
    return {s.matrix, s.range, blit && blit->forced_step != 0 ? blit->forced_step : s.step, s.transform,
            blit && blit->forced_samples != 0 ? blit->forced_samples - 1 : s.samples};
}

extern "C" ResultCode orv_device_blit_draw(DeviceBlitOps *ops, const YuvFrame *frame, uint8_t *dst,
                                           int dst_stride, int bits_per_pixel, int transform)
{
    if (transform < 0 || transform > 7) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: deviceblit: no transform %d", transform);
        return ORV_ERR_INVALID_PARAM;
    }
    return draw(object_of(ops), frame, dst, dst_stride, bits_per_pixel, transform);
}

extern "C" int orv_device_blit_last_samples(DeviceBlitOps *ops)
{
    DeviceBlit *blit = object_of(ops);
    return blit ? blit->last_samples : DEVICE_SAMPLES_8;
}

extern "C" void orv_device_blit_force_samples(DeviceBlitOps *ops, int samples)
{
    if (DeviceBlit *blit = object_of(ops))
        blit->forced_samples =
            samples >= DEVICE_SAMPLES_8 && samples <= DEVICE_SAMPLES_10_HIGH ? samples + 1 : 0;
}

extern "C" int orv_device_blit_last_step(DeviceBlitOps *ops)
{
    DeviceBlit *blit = object_of(ops);
    return blit && blit->last_step != 0 ? blit->last_step : 1;
}

extern "C" void orv_device_blit_force_step(DeviceBlitOps *ops, int step)
{
    if (DeviceBlit *blit = object_of(ops))
        blit->forced_step = step == 1 || step == 2 ? step : 0;
}

extern "C" uint8_t *orv_device_blit_carry(DeviceBlitOps *ops, int32_t *width, uint32_t *bytes)
{
    DeviceBlit *blit = object_of(ops);
    const bool has = blit && blit->dither_buffer && blit->carry_width > 0;
    *width = has ? blit->carry_width : 0;
    *bytes = has ? uint32_t(blit->carry_width) * ORV_DITHER_BYTES_PER_COLUMN : 0;
    return has ? blit->dither_buffer : nullptr;
}

// Whether a 10-bit frame's strides cover their rows in words (the render
// path checked them in bytes only) and its semi-planar pointers lie one word
// apart; logged when not.
extern "C" int orv_device_words_fit(const YuvFrame *f, int step)
{
    auto covers = [](int32_t stride, int64_t bytes) {
        return (stride < 0 ? -int64_t{stride} : int64_t{stride}) >= bytes;
    };
    const int64_t chroma = int64_t(f->width + 1) / 2 * 2 * step;
    if (step == 2 && f->v != f->u + 2 && f->u != f->v + 2) {
        orv_log(3, ORV_ERR_INVALID_PARAM,
                "VRE: deviceblit: blit 10-bit chroma step 2 needs u and v one word apart");
        return 0;
    }
    if (!covers(f->y_stride, 2 * int64_t(f->width)) || !covers(f->u_stride, chroma) ||
        !covers(f->v_stride, chroma)) {
        orv_log(3, ORV_ERR_INVALID_PARAM,
                "VRE: deviceblit: blit 10-bit frame %dx%d strides %d/%d/%d short of its words", f->width,
                f->height, f->y_stride, f->u_stride, f->v_stride);
        return 0;
    }
    return 1;
}
