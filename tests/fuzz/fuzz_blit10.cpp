// The blitter on 10-bit frames with geometry drawn from the input: I010 and
// P010 words (either chroma order) with random bits outside the 10, widths
// across and around the 16-pixel groups, strides with padding, bottom-up
// planes, strides one byte short of their words (refused, nothing drawn),
// width changes on one blitter. Every plane and the destination are blocks
// of exactly the bytes the frame covers, so a read or write past them trips
// AddressSanitizer; the output is compared with the model of
// kernels/ten_bit.h, the RGB565 carry followed across frames.
#include <random>
#include <vector>

#include "fuzz_frame.h"
#include "fuzz_util.h"
#include "kernels/kernels.h"
#include "kernels/ten_bit.h"
#include "orv/orv_mem.h"
#include "orv_device_blit.h"

namespace {

constexpr uint8_t kPad = 0xA5;

// A sample of a plane of 16-bit words, by the model's reading of a word.
int sample(const FuzzPlane &p, size_t byte_in_row, int row, int samples)
{
    return orv_ten_bit::sample_of(orv_ten_bit::word_at(p.at(byte_in_row, row)), samples);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    FuzzBytes in{input, size};
    const size_t live = orv_mem_live_count();
    DeviceBlitOps *blit = orv_device_blit_create();
    if (!blit)
        fuzz_fail("no blitter");
    FuzzCarryModel model;
    for (int frame_no = 0; frame_no < 6 && in.size; ++frame_no) {
        const uint32_t shape = in.byte(), setting = in.byte();
        const int width = shape & 1 ? int(in.below(300)) : int(in.below(64));
        const int height = int(in.below(16));
        const int y_pad = int(in.below(6)), c_pad = int(in.below(6)), dst_pad = int(in.below(9));
        const int bpp = shape & 2 ? 16 : 32;
        const bool bottom_up = shape & 4, semi = shape & 8, cr_first = shape & 0x10;
        // 1-3: y, the first or the second chroma plane one byte short of its words.
        const int short_plane = shape >> 5 & 3;
        const int samples = setting & 1 ? DEVICE_SAMPLES_10_HIGH : DEVICE_SAMPLES_10_LOW;
        const int matrix = int(setting >> 1 & 3) % 3, range = int(setting >> 3 & 1);
        std::mt19937 rng(in.u32());

        const int cw = (width + 1) / 2, c_rows = (height + 1) / 2;
        const int y_row = 2 * width, c_row = semi ? 4 * cw : 2 * cw;
        auto span = [&](int row, int pad, bool cut) { return cut && row > 1 ? row - 1 : row + pad; };
        FuzzPlane y(y_row, height, span(y_row, y_pad, short_plane == 1), bottom_up, rng);
        FuzzPlane u(c_row, c_rows, span(c_row, c_pad, short_plane == 2), bottom_up, rng);
        FuzzPlane v(semi ? 0 : c_row, semi ? 0 : c_rows, span(c_row, c_pad + 1, short_plane == 3), bottom_up,
                    rng);
        YuvFrame frame{y.first, u.first, v.first, y.stride, u.stride, v.stride, width, height};
        if (semi) {
            frame.u = u.first + (cr_first ? 2 : 0), frame.v = u.first + (cr_first ? 0 : 2);
            frame.v_stride = frame.u_stride;
        }
        const bool refused = (short_plane == 1 && y_row > 1 && height > 0) ||
                             (short_plane == 2 && c_row > 1 && c_rows > 0) ||
                             (short_plane == 3 && !semi && c_row > 1 && c_rows > 0);
        if (orv_device_blit_set_colour(blit, matrix, range) != ORV_OK ||
            orv_device_blit_set_samples(blit, samples) != ORV_OK ||
            orv_device_blit_set_chroma_step(blit, semi ? 2 : 1) != ORV_OK)
            fuzz_fail("settings refused");

        const int pixel_bytes = bpp / 8;
        const int row_bytes = width * pixel_bytes, dst_stride = row_bytes + dst_pad;
        const size_t dst_size = height ? size_t(dst_stride) * size_t(height - 1) + size_t(row_bytes) : 0;
        std::vector<uint8_t> dst(dst_size, kPad), want(dst_size, kPad);
        const ResultCode rc = blit->blit(blit, &frame, dst_size ? dst.data() : nullptr, dst_stride, bpp);
        if (width == 0 || height == 0) {
            if (rc != ORV_OK && rc != ORV_ERR_INVALID_PARAM)
                fuzz_fail("empty frame gives %#x", unsigned(rc));
            continue;
        }
        if (refused) {
            if (rc != ORV_ERR_INVALID_PARAM || dst != want)
                fuzz_fail("plane %d short of its words: %#x, or drawn", short_plane, unsigned(rc));
            continue;
        }
        if (rc != ORV_OK)
            fuzz_fail("blit of %dx%d at %d bits gives %#x", width, height, bpp, unsigned(rc));
        if (bpp == 16)
            model.set_width(width);
        const YuvCoefficients &k = *orv_yuv_coefficients10(matrix, range);
        for (int r = 0; r < height; ++r) {
            uint8_t *p = want.data() + size_t(r) * size_t(dst_stride);
            for (int x = 0; x < width; ++x) {
                const size_t cb_at = semi ? size_t(x / 2) * 4 + (cr_first ? 2 : 0) : size_t(x / 2) * 2;
                const size_t cr_at = semi ? size_t(x / 2) * 4 + (cr_first ? 0 : 2) : size_t(x / 2) * 2;
                const FuzzPlane &crp = semi ? u : v;
                const orv_ten_bit::Fixed c =
                    orv_ten_bit::pixel(sample(y, size_t(x) * 2, r, samples), sample(u, cb_at, r / 2, samples),
                                       sample(crp, cr_at, r / 2, samples), k);
                if (bpp == 32) {
                    p[4 * x] = orv_ten_bit::to_byte(c.r), p[4 * x + 1] = orv_ten_bit::to_byte(c.g);
                    p[4 * x + 2] = orv_ten_bit::to_byte(c.b), p[4 * x + 3] = 0xFF;
                    continue;
                }
                const uint16_t px = orv_ten_bit::pack565(c, model.carry[size_t(x)].data());
                p[2 * x] = uint8_t(px), p[2 * x + 1] = uint8_t(px >> 8);
            }
        }
        for (size_t i = 0; i < dst_size; ++i)
            if (dst[i] != want[i])
                fuzz_fail(
                    "%dx%d at %d bits, samples %d, semi %d (strides %d %d %d, dst %d): byte %zu (row %zu) "
                    "is %02x, model %02x",
                    width, height, bpp, samples, int(semi), frame.y_stride, frame.u_stride, frame.v_stride,
                    dst_stride, i, i / size_t(dst_stride), dst[i], want[i]);
    }
    blit->destroy(blit);
    if (orv_mem_live_count() != live)
        fuzz_fail("tracked blocks leaked");
    return 0;
}
