// The kept copy of a frame (see orv_device_keep.h). The copy takes the
// planes as the blitter reads them, so converting the copy draws what the
// frame drew: the luma rows, and either two chroma planes or one plane of
// pairs. A block is taken only for a frame larger than any kept before, so a
// steady stream allocates nothing per frame.
#include "orv_device_keep.h"

#include <cstddef>
#include <cstring>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace {

// Copies rows of row_bytes from a plane whose rows are stride apart (either
// sign) into packed rows; returns the byte after the last one written.
uint8_t *copy_plane(uint8_t *dst, const uint8_t *src, int32_t stride, size_t row_bytes, int32_t rows)
{
    for (int32_t r = 0; r < rows; ++r) {
        std::memcpy(dst, src, row_bytes);
        dst += row_bytes;
        src += stride;
    }
    return dst;
}

struct Chroma {
    int32_t width, height;
};

Chroma chroma_of(const YuvFrame *f)
{
    return {(f->width + 1) / 2, (f->height + 1) / 2};
}

} // namespace

uint64_t orv_device_keep_bytes(const YuvFrame *f, int sample_bytes)
{
    const Chroma c = chroma_of(f);
    return (uint64_t(f->width) * uint64_t(f->height) + 2 * uint64_t(c.width) * uint64_t(c.height)) *
           uint64_t(sample_bytes);
}

ResultCode orv_device_keep_frame(DeviceKeptFrame *keep, const YuvFrame *f, int step, int samples)
{
    keep->valid = 0;
    const int sb = samples == DEVICE_SAMPLES_8 ? 1 : 2;
    const uint64_t bytes = orv_device_keep_bytes(f, sb);
    if (bytes > keep->capacity) {
        orv_device_keep_release(keep);
        void *block =
            bytes <= orv_mem_max_size ? orv_mem_alloc_at(uint32_t(bytes), ORV_TAG_FILE, __LINE__) : nullptr;
        if (block == nullptr) {
            if (!keep->failure_told)
                orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_FAIL,
                        "VRE: device keep: no block of %llu bytes for the kept frame %dx%d, no redraw",
                        static_cast<unsigned long long>(bytes), f->width, f->height);
            keep->failure_told = 1;
            return ORV_FAIL;
        }
        keep->block = static_cast<uint8_t *>(block);
        keep->capacity = uint32_t(bytes);
    }
    keep->failure_told = 0;
    const Chroma c = chroma_of(f);
    YuvFrame &k = keep->frame;
    k = YuvFrame{};
    k.width = f->width;
    k.height = f->height;
    k.y = keep->block;
    k.y_stride = f->width * sb;
    uint8_t *at = copy_plane(keep->block, f->y, f->y_stride, size_t(f->width) * sb, f->height);
    if (step == 2) {
        // One plane of pairs from the lower of the two pointers, in the
        // order the host had them (NV12 or NV21).
        const bool u_first = f->u < f->v;
        const uint8_t *pairs = u_first ? f->u : f->v;
        k.u = at + (u_first ? 0 : sb);
        k.v = at + (u_first ? sb : 0);
        k.u_stride = k.v_stride = 2 * c.width * sb;
        copy_plane(at, pairs, u_first ? f->u_stride : f->v_stride, 2 * size_t(c.width) * sb, c.height);
    } else {
        k.u = at;
        at = copy_plane(at, f->u, f->u_stride, size_t(c.width) * sb, c.height);
        k.v = at;
        copy_plane(at, f->v, f->v_stride, size_t(c.width) * sb, c.height);
        k.u_stride = k.v_stride = c.width * sb;
    }
    keep->step = step == 2 ? 2 : 1;
    keep->samples = samples;
    keep->valid = 1;
    return ORV_OK;
}

void orv_device_keep_carry(DeviceKeptFrame *keep, const uint8_t *carry, int32_t width, uint32_t bytes)
{
    keep->carry_bytes = 0;
    if (carry == nullptr || bytes == 0)
        return;
    if (bytes > keep->carry_capacity) {
        if (keep->carry != nullptr)
            orv_mem_free(keep->carry);
        keep->carry_capacity = 0;
        keep->carry = static_cast<uint8_t *>(orv_mem_alloc_at(bytes, ORV_TAG_FILE, __LINE__));
        if (keep->carry == nullptr) {
            orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_FAIL,
                    "VRE: device keep: no block of %u bytes for the kept carry, a redraw dithers anew",
                    bytes);
            return;
        }
        keep->carry_capacity = bytes;
    }
    std::memcpy(keep->carry, carry, bytes);
    keep->carry_bytes = bytes;
    keep->carry_width = width;
}

void orv_device_keep_release(DeviceKeptFrame *keep)
{
    if (keep->block != nullptr)
        orv_mem_free(keep->block);
    keep->block = nullptr;
    keep->capacity = 0;
    keep->valid = 0;
    if (keep->carry != nullptr)
        orv_mem_free(keep->carry);
    keep->carry = nullptr;
    keep->carry_capacity = 0;
    keep->carry_bytes = 0;
}
