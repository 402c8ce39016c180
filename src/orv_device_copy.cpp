// Plane copies into YV12 window buffers: the layout rule and the frame
// walker that copies each visible row with the kernel layer's row copies and
// pads each chroma row with mid-grey. Owns no state; takes no lock.
#include "orv_device_copy.h"

#include <cstdint>

namespace {

// Each row padded up to padded bytes. Rows that follow each other without
// a gap on both sides (nothing to pad) go as one copy: at 1080p the per-row
// calls and their row ends cost as much as a tenth of the copy itself.
void copy_plane(DeviceCopyRow copy, uint8_t *dst, int32_t dst_stride, const uint8_t *src, int32_t src_stride,
                int width, int rows, int padded)
{
    if (rows > 1 && dst_stride == width && src_stride == width && int64_t(width) * rows <= INT32_MAX) {
        copy(dst, src, width * rows, width * rows);
        return;
    }
    for (int r = 0; r < rows; ++r, dst += dst_stride, src += src_stride)
        copy(dst, src, width, padded);
}

} // namespace

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
                                    const DeviceCopyKernels *kernels)
{
    const DeviceCopyRow copy = kernels->copy;
    const DeviceSplitRow split = kernels->split;
    const int width = frame->width, height = frame->height;
    const int c_width = width / 2, c_rows = height / 2;
    // The luma rows' padding is left as it is; each chroma row's is filled.
    copy_plane(copy, dst->y, dst->y_stride, frame->y, frame->y_stride, width, height, width);
    if (chroma_step != 2) {
        copy_plane(copy, dst->v, dst->c_stride, frame->v, frame->v_stride, c_width, c_rows, dst->c_stride);
        copy_plane(copy, dst->u, dst->c_stride, frame->u, frame->u_stride, c_width, c_rows, dst->c_stride);
        return;
    }
    // NV12 pairs start with Cb, NV21 pairs with Cr.
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
