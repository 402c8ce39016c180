// The blitter with geometry drawn from the input: widths across and around
// the 16-pixel groups, heights, plane strides with padding (negative for
// bottom-up planes), destination padding, pixel formats, width changes on one
// blitter and update_buffer at random points. Every plane and the destination
// are blocks of exactly the bytes the frame covers, so a read or write past
// them trips AddressSanitizer; the output is compared with the pixel models
// and the destination's row padding must stay untouched.
#include <random>
#include <vector>

#include "fuzz_frame.h"
#include "fuzz_util.h"
#include "orv/orv_mem.h"
#include "orv_device_blit.h"
#include "kernels/kernels.h"
#include "yuv_model.h"

namespace {

using namespace yuv_model;

constexpr uint8_t kPad = 0xA5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    FuzzBytes in{input, size};
    const size_t live = orv_mem_live_count();
    DeviceBlitOps *blit = orv_device_blit_create();
    if (!blit)
        fuzz_fail("no blitter");
    FuzzCarryModel model;
    static constexpr int kFormats[] = {16, 32, 16, 32, 24, 0, 16, 32};
    for (int frame_no = 0; frame_no < 6 && in.size; ++frame_no) {
        const uint32_t shape = in.byte();
        const int width = shape & 1 ? int(in.below(400)) : int(in.below(64));
        const int height = int(in.below(20));
        const int y_pad = int(in.below(8)), c_pad = int(in.below(8)), dst_pad = int(in.below(9));
        const int bpp = kFormats[shape >> 1 & 7];
        const bool bottom_up = shape & 0x10, update = shape & 0x20 || frame_no == 0;
        std::mt19937 rng(in.u32());

        const int chroma_width = (width + 1) / 2, chroma_rows = (height + 1) / 2;
        FuzzPlane y(width, height, width + y_pad, bottom_up, rng);
        FuzzPlane u(chroma_width, chroma_rows, chroma_width + c_pad, bottom_up, rng);
        FuzzPlane v(chroma_width, chroma_rows, chroma_width + c_pad + int(shape >> 6), bottom_up, rng);
        YuvFrame frame{y.first, u.first, v.first, y.stride, u.stride, v.stride, width, height};

        const int pixel_bytes = bpp == 16 ? 2 : 4;
        const int row_bytes = width * pixel_bytes, dst_stride = row_bytes + dst_pad;
        const size_t dst_size = height ? size_t(dst_stride) * size_t(height - 1) + size_t(row_bytes) : 0;
        std::vector<uint8_t> dst(dst_size, kPad);
        std::vector<uint8_t> want(dst_size, kPad);

        if (update) {
            if (blit->update_buffer(blit, &frame) != ORV_OK)
                fuzz_fail("update_buffer refuses a %dx%d frame", width, height);
            if (width > 0)
                model.set_width(width);
        }
        const ResultCode rc = blit->blit(blit, &frame, dst_size ? dst.data() : nullptr, dst_stride, bpp);
        if (rc != ORV_OK && !(dst_size == 0 && rc == ORV_ERR_INVALID_PARAM))
            fuzz_fail("blit of %dx%d at %d bits gives %#x", width, height, bpp, unsigned(rc));
        if (bpp != 16 && bpp != 32) {
            if (dst != want)
                fuzz_fail("blit at %d bits wrote to the destination", bpp);
            continue;
        }
        if (bpp == 16 && width > 0 && height > 0)
            model.set_width(width);
        const int width16 = width & ~15;
        for (int r = 0; r < height; ++r) {
            uint8_t *p = want.data() + size_t(r) * size_t(dst_stride);
            for (int x = 0; x < width; ++x) {
                const uint8_t Y = *y.at(size_t(x), r), U = *u.at(size_t(x / 2), r / 2),
                              V = *v.at(size_t(x / 2), r / 2);
                const Rgb c = x < width16 ? lane_pixel(Y, U, V, orv_yuv_coefficients) : tail_pixel(Y, U, V);
                if (bpp == 32) {
                    p[4 * x] = c.r, p[4 * x + 1] = c.g, p[4 * x + 2] = c.b, p[4 * x + 3] = 0xFF;
                    continue;
                }
                auto &e = model.carry[size_t(x)];
                const uint8_t cr = add_sat(c.r, e[0]), cg = add_sat(c.g, e[1]), cb = add_sat(c.b, e[2]);
                e = {uint8_t(cr & 7), uint8_t(cg & 3), uint8_t(cb & 7)};
                const uint16_t px = pack565(cr, cg, cb);
                p[2 * x] = uint8_t(px), p[2 * x + 1] = uint8_t(px >> 8);
            }
        }
        for (size_t i = 0; i < dst_size; ++i)
            if (dst[i] != want[i])
                fuzz_fail(
                    "%dx%d at %d bits (strides %d %d %d, dst %d): byte %zu (row %zu) is %02x, model %02x",
                    width, height, bpp, y.stride, u.stride, v.stride, dst_stride, i, i / size_t(dst_stride),
                    dst[i], want[i]);
    }
    blit->destroy(blit);
    if (orv_mem_live_count() != live)
        fuzz_fail("tracked blocks leaked");
    return 0;
}
