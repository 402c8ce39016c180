// Plane copies into YV12 window buffers: the layout rule and the frame
// walker that copies each visible row with the kernel layer's row copies and
// pads each chroma row with mid-grey. Owns no state; takes no lock.
#include "orv_device_copy.h"

#include <cstddef>
#include <cstdint>

namespace {

// Each row padded up to padded bytes; bytes per sample 1, or 2 for 10-bit
// words. Rows that follow each other without a gap on both sides (nothing
// to pad) go as one call: at 1080p the per-row calls and their row ends cost
// as much as a tenth of the copy itself.
void copy_plane(DeviceCopyRow copy, uint8_t *dst, int32_t dst_stride, const uint8_t *src, int32_t src_stride,
                int width, int rows, int padded, int bytes)
{
    if (rows > 1 && dst_stride == width && src_stride == width * bytes &&
        int64_t(width) * rows <= INT32_MAX / 2) {
        copy(dst, src, width * rows, width * rows);
        return;
    }
    for (int r = 0; r < rows; ++r, dst += dst_stride, src += src_stride)
        copy(dst, src, width, padded);
}

// A sample's 8-bit value: 10-bit ones rounded as the narrowing copies do.
template <int Samples>
inline uint8_t sample_at(const uint8_t *p)
{
    if constexpr (Samples == DEVICE_SAMPLES_8)
        return *p;
    else
        return orv_narrow10(p, Samples == DEVICE_SAMPLES_10_HIGH);
}

// One source plane, w x h samples, seen through a transform: shown pixel
// (c, r) is the sample at origin + c * along + r * down (bytes).
struct TurnedPlane {
    const uint8_t *origin;
    ptrdiff_t along, down;
    int shown_w, shown_h;
};

TurnedPlane turned_plane(const uint8_t *base, ptrdiff_t stride, ptrdiff_t step, int w, int h, int transform)
{
    const bool quarter = (transform & DEVICE_TRANSFORM_ROTATE_90) != 0,
               flip_h = (transform & DEVICE_TRANSFORM_MIRROR_H) != 0,
               flip_v = (transform & DEVICE_TRANSFORM_MIRROR_V) != 0;
    // Source column and row of shown pixel (c, r) = x0 + c * xc + r * xr,
    // y0 + c * yc + r * yr: the quarter turn undone first, then the flips.
    int x0 = 0, xc = 1, xr = 0, y0 = 0, yc = 0, yr = 1;
    if (quarter) {
        x0 = 0, xc = 0, xr = 1;
        y0 = h - 1, yc = -1, yr = 0;
    }
    if (flip_h)
        x0 = w - 1 - x0, xc = -xc, xr = -xr;
    if (flip_v)
        y0 = h - 1 - y0, yc = -yc, yr = -yr;
    TurnedPlane t;
    t.origin = base + ptrdiff_t(y0) * stride + ptrdiff_t(x0) * step;
    t.along = ptrdiff_t(xc) * step + ptrdiff_t(yc) * stride;
    t.down = ptrdiff_t(xr) * step + ptrdiff_t(yr) * stride;
    t.shown_w = quarter ? h : w;
    t.shown_h = quarter ? w : h;
    return t;
}

// Walked in tiles of 32 x 32 shown pixels, so that a quarter turn reads each
// source cache line while it is still cached.
template <int Samples>
void copy_turned_plane(uint8_t *dst, int32_t dst_stride, int padded, const TurnedPlane &t)
{
    constexpr int kTile = 32;
    for (int r0 = 0; r0 < t.shown_h; r0 += kTile) {
        const int r1 = r0 + kTile < t.shown_h ? r0 + kTile : t.shown_h;
        for (int c0 = 0; c0 < t.shown_w; c0 += kTile) {
            const int c1 = c0 + kTile < t.shown_w ? c0 + kTile : t.shown_w;
            for (int r = r0; r < r1; ++r) {
                uint8_t *out = dst + ptrdiff_t(r) * dst_stride;
                const uint8_t *in = t.origin + ptrdiff_t(r) * t.down + ptrdiff_t(c0) * t.along;
                for (int c = c0; c < c1; ++c, in += t.along)
                    out[c] = sample_at<Samples>(in);
            }
        }
        for (int r = r0; r < r1; ++r)
            for (int c = t.shown_w; c < padded; ++c)
                dst[ptrdiff_t(r) * dst_stride + c] = ORV_YV12_CHROMA_PAD;
    }
}

template <int Samples>
void copy_turned(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step, int transform)
{
    const ptrdiff_t bytes = Samples == DEVICE_SAMPLES_8 ? 1 : 2;
    const int w = frame->width, h = frame->height;
    const TurnedPlane y = turned_plane(frame->y, frame->y_stride, bytes, w, h, transform);
    copy_turned_plane<Samples>(dst->y, dst->y_stride, y.shown_w, y);
    const ptrdiff_t step = bytes * (chroma_step == 2 ? 2 : 1);
    const TurnedPlane u = turned_plane(frame->u, frame->u_stride, step, w / 2, h / 2, transform);
    const TurnedPlane v = turned_plane(frame->v, frame->v_stride, step, w / 2, h / 2, transform);
    copy_turned_plane<Samples>(dst->u, dst->c_stride, dst->c_stride, u);
    copy_turned_plane<Samples>(dst->v, dst->c_stride, dst->c_stride, v);
}

} // namespace

extern "C" void orv_yv12_copy_turned(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step,
                                     int samples, int transform)
{
    switch (samples) {
    case DEVICE_SAMPLES_10_LOW:
        copy_turned<DEVICE_SAMPLES_10_LOW>(dst, frame, chroma_step, transform);
        break;
    case DEVICE_SAMPLES_10_HIGH:
        copy_turned<DEVICE_SAMPLES_10_HIGH>(dst, frame, chroma_step, transform);
        break;
    default:
        copy_turned<DEVICE_SAMPLES_8>(dst, frame, chroma_step, transform);
        break;
    }
}

extern "C" OrvYv12Planes orv_yv12_planes(void *bits, int32_t stride, int32_t height)
{
    OrvYv12Planes p;
    p.y_stride = stride;
    p.c_stride = (stride / 2 + 15) & ~15;
    p.y = static_cast<uint8_t *>(bits);
    p.v = p.y + size_t(stride) * size_t(height);
    p.u = p.v + size_t(p.c_stride) * size_t(height / 2);
    return p;
}

extern "C" size_t orv_yv12_size(int32_t stride, int32_t height)
{
    const size_t c_stride = size_t((stride / 2 + 15) & ~15);
    return size_t(stride) * size_t(height) + 2 * c_stride * size_t(height / 2);
}

extern "C" void orv_yv12_copy_frame(const OrvYv12Planes *dst, const YuvFrame *frame, int chroma_step,
                                    int samples, const DeviceCopyKernels *kernels)
{
    const bool low = samples == DEVICE_SAMPLES_10_LOW, high = samples == DEVICE_SAMPLES_10_HIGH;
    const DeviceCopyRow copy = low ? kernels->narrow_low : high ? kernels->narrow_high : kernels->copy;
    const DeviceSplitRow split = low ? kernels->split_low : high ? kernels->split_high : kernels->split;
    const int bytes = low || high ? 2 : 1;
    const int width = frame->width, height = frame->height;
    const int c_width = width / 2, c_rows = height / 2;
    // The luma rows' padding is left as it is; each chroma row's is filled.
    copy_plane(copy, dst->y, dst->y_stride, frame->y, frame->y_stride, width, height, width, bytes);
    if (chroma_step != 2) {
        copy_plane(copy, dst->v, dst->c_stride, frame->v, frame->v_stride, c_width, c_rows, dst->c_stride,
                   bytes);
        copy_plane(copy, dst->u, dst->c_stride, frame->u, frame->u_stride, c_width, c_rows, dst->c_stride,
                   bytes);
        return;
    }
    // NV12 pairs start with Cb, NV21 pairs with Cr (P010 alike, in words).
    const bool cb_first = frame->u < frame->v;
    const uint8_t *pairs = cb_first ? frame->u : frame->v;
    const int32_t pair_stride = cb_first ? frame->u_stride : frame->v_stride;
    uint8_t *first = cb_first ? dst->u : dst->v;
    uint8_t *second = cb_first ? dst->v : dst->u;
    for (int r = 0; r < c_rows; ++r) {
        split(first, second, pairs, c_width, dst->c_stride);
        first += dst->c_stride;
        second += dst->c_stride;
        pairs += pair_stride;
    }
}
