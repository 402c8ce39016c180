// The YUV-to-RGB blitter: walks the rows of a YUV 4:2:0 frame (planar or
// semi-planar chroma), hands every whole group of 16 pixels to a row kernel
// and converts the remaining 0-15 pixels here in Q13 integer arithmetic with
// a clipping table. Owns the per-column error carry of the RGB565 output (the
// dither buffer) and the colour settings word. Takes no lock: the overlay
// that owns it serialises every call, and the settings word is atomic.
#include "orv_device_blit.h"

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
    int matrix, range, step, samples;

    static Settings unpack(uint32_t w)
    {
        return {int(w & 0xFF), int(w >> 8 & 0xFF), int(w >> 16 & 0xFF) + 1, int(w >> 24)};
    }
    uint32_t pack() const
    {
        return uint32_t(matrix) | uint32_t(range) << 8 | uint32_t(step - 1) << 16 | uint32_t(samples) << 24;
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

void tail_rgb32(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, int from, int to,
                TailSetup t)
{
    for (int x = from; x < to; ++x) {
        const int c_at = x / 2 * t.step;
        const Q13 c = tail_pixel(y[x], u[c_at], v[c_at], *t.weights);
        uint8_t *p = dst + size_t(x) * 4;
        p[0] = clip(c.r), p[1] = clip(c.g), p[2] = clip(c.b), p[3] = 0xFF;
    }
}

void tail_rgb565(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *carry,
                 int width, int from, TailSetup t)
{
    for (int x = from; x < width; ++x) {
        const int c_at = x / 2 * t.step;
        const Q13 c = tail_pixel(y[x], u[c_at], v[c_at], *t.weights);
        const CarrySlot slot = carry_slot(carry, width, x, false);
        int16_t e[3];
        read_carry(slot, e);
        const int r = clip(clip(c.r) + e[0]), g = clip(clip(c.g) + e[1]), b = clip(clip(c.b) + e[2]);
        const int16_t next[3] = {int16_t(r & 7), int16_t(g & 3), int16_t(b & 7)};
        write_carry(slot, next);
        const unsigned p = unsigned(r >> 3) << 11 | unsigned(g >> 2) << 5 | unsigned(b >> 3);
        dst[size_t(x) * 2] = uint8_t(p), dst[size_t(x) * 2 + 1] = uint8_t(p >> 8);
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
        uint8_t *p = dst + size_t(x) * 4;
        p[0] = orv_ten_bit::to_byte(c.r), p[1] = orv_ten_bit::to_byte(c.g), p[2] = orv_ten_bit::to_byte(c.b);
        p[3] = 0xFF;
    }
}

void tail10_rgb565(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *carry,
                   int width, int from, const TailSetup10 &t)
{
    for (int x = from; x < width; ++x) {
        const CarrySlot slot = carry_slot(carry, width, x, true);
        int16_t e[3];
        read_carry(slot, e);
        uint8_t bytes[3] = {uint8_t(e[0]), uint8_t(e[1]), uint8_t(e[2])};
        const uint16_t p = orv_ten_bit::pack565(t.pixel(y, u, v, x), bytes);
        const int16_t next[3] = {bytes[0], bytes[1], bytes[2]};
        write_carry(slot, next);
        dst[size_t(x) * 2] = uint8_t(p), dst[size_t(x) * 2 + 1] = uint8_t(p >> 8);
    }
}

// Whether a 10-bit frame's strides cover their rows in words (the render
// path checked them in bytes only) and its semi-planar pointers lie one word
// apart; logged when not.
bool words_fit(const YuvFrame *f, int step)
{
    auto covers = [](int32_t stride, int64_t bytes) {
        return (stride < 0 ? -int64_t{stride} : int64_t{stride}) >= bytes;
    };
    const int64_t chroma = int64_t(f->width + 1) / 2 * 2 * step;
    if (step == 2 && f->v != f->u + 2 && f->u != f->v + 2) {
        orv_log(3, ORV_ERR_INVALID_PARAM,
                "VRE: deviceblit: blit 10-bit chroma step 2 needs u and v one word apart");
        return false;
    }
    if (!covers(f->y_stride, 2 * int64_t(f->width)) || !covers(f->u_stride, chroma) ||
        !covers(f->v_stride, chroma)) {
        orv_log(3, ORV_ERR_INVALID_PARAM,
                "VRE: deviceblit: blit 10-bit frame %dx%d strides %d/%d/%d short of its words", f->width,
                f->height, f->y_stride, f->u_stride, f->v_stride);
        return false;
    }
    return true;
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

ResultCode blit_blit(DeviceBlitOps *ops, const YuvFrame *frame, uint8_t *dst, int dst_stride,
                     int bits_per_pixel)
{
    DeviceBlit *blit = object_of(ops);
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
        if (!words_fit(frame, settings.step))
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
    const TailSetup tail = {&colour->tail, settings.step};
    const TailSetup10 tail10 = {coefficients, settings.step, settings.samples};
    const DeviceRowKernels &k = ten ? blit->kernels10[settings.samples - 1] : blit->kernels;
    const DeviceRowKernel kernel =
        rgb565 ? (semi ? k.filter565_semi : k.filter565) : (semi ? k.rgb32_semi : k.rgb32);
    const DeviceRowPairKernel pair = rgb565 ? (semi ? k.filter565_semi_pair : k.filter565_pair)
                                            : (semi ? k.rgb32_semi_pair : k.rgb32_pair);
    const int width16 = width & ~15;
    uint8_t *carry = blit->dither_buffer;
    const uint8_t *y = frame->y, *u = frame->u, *v = frame->v;
    auto tail_row = [&](uint8_t *d, const uint8_t *l) {
        if (ten) {
            if (rgb565)
                tail10_rgb565(d, l, u, v, carry, width, width16, tail10);
            else
                tail10_rgb32(d, l, u, v, width16, width, tail10);
        } else if (rgb565) {
            tail_rgb565(d, l, u, v, carry, width, width16, tail);
        } else {
            tail_rgb32(d, l, u, v, width16, width, tail);
        }
    };
    int row = 0;
    if (pair && width16 > 0) {
        // Rows 2k and 2k + 1 share chroma row k: both through one kernel
        // call, the tails after it (their carries are columns of their own).
        for (; row + 1 < height; row += 2) {
            pair(dst, dst_stride, y, frame->y_stride, u, v, carry, coefficients, width16);
            tail_row(dst, y);
            tail_row(dst + dst_stride, y + frame->y_stride);
            y += 2 * ptrdiff_t(frame->y_stride);
            dst += 2 * ptrdiff_t(dst_stride);
            u += frame->u_stride, v += frame->v_stride;
        }
    }
    for (; row < height; ++row) {
        if (width16 > 0)
            kernel(dst, y, u, v, carry, coefficients, width16);
        tail_row(dst, y);
        y += frame->y_stride;
        dst += dst_stride;
        if (row & 1)
            u += frame->u_stride, v += frame->v_stride;
    }
    return ORV_OK;
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
    return {s.matrix, s.range, blit && blit->forced_step != 0 ? blit->forced_step : s.step,
            blit && blit->forced_samples != 0 ? blit->forced_samples - 1 : s.samples};
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
