// The built-in test clip: see clip.h.
#include "clip.h"

#include <cstdio>
#include <cstring>

namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75% bars in BT.601 limited range: white, yellow, cyan, green, magenta, red, blue.
constexpr Yuv kBars[] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                         {84, 184, 198},  {65, 100, 212}, {35, 212, 114}};
constexpr int kBarCount = sizeof kBars / sizeof kBars[0];

// 3 x 5 digits, one row per 3 bits, top row first.
constexpr uint16_t kDigits[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9,
                                  0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};

void fill_rect(HostFrame *f, int x0, int y0, int w, int h, Yuv c)
{
    for (int y = y0; y < y0 + h && y < f->height; ++y) {
        if (y < 0)
            continue;
        for (int x = x0; x < x0 + w && x < f->width; ++x) {
            if (x < 0)
                continue;
            f->y[static_cast<size_t>(y) * f->y_stride + x] = c.y;
            const size_t ci = static_cast<size_t>(y / 2) * f->c_stride + x / 2;
            f->u[ci] = c.u;
            f->v[ci] = c.v;
        }
    }
}

} // namespace

void draw_clip_frame(int index, HostFrame *f)
{
    const int shift = index * 4;
    for (int x = 0; x < f->width; ++x) {
        const Yuv c = kBars[((x + shift) * kBarCount / f->width) % kBarCount];
        for (int y = 0; y < f->height; ++y)
            f->y[static_cast<size_t>(y) * f->y_stride + x] = c.y;
        if ((x & 1) == 0) {
            for (int y = 0; y < HostFrame::chroma_height(f->height); ++y) {
                f->u[static_cast<size_t>(y) * f->c_stride + x / 2] = c.u;
                f->v[static_cast<size_t>(y) * f->c_stride + x / 2] = c.v;
            }
        }
    }
    // A luma ramp along the bottom eighth shows the conversion's grey scale.
    const int ramp_top = f->height - f->height / 8;
    for (int y = ramp_top; y < f->height; ++y)
        for (int x = 0; x < f->width; ++x)
            f->y[static_cast<size_t>(y) * f->y_stride + x] =
                static_cast<uint8_t>(16 + x * 219 / (f->width > 1 ? f->width - 1 : 1));
    for (int y = ramp_top / 2; y < HostFrame::chroma_height(f->height); ++y) {
        std::memset(&f->u[static_cast<size_t>(y) * f->c_stride], 128, HostFrame::chroma_width(f->width));
        std::memset(&f->v[static_cast<size_t>(y) * f->c_stride], 128, HostFrame::chroma_width(f->width));
    }
    // Frame number on a black box.
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%d", index);
    const int scale = f->height / 40 > 1 ? f->height / 40 : 1;
    const int pad = scale * 2;
    fill_rect(f, pad, pad, (n * 4 - 1) * scale + 2 * pad, 5 * scale + 2 * pad, {16, 128, 128});
    for (int i = 0; i < n; ++i) {
        const uint16_t bits = kDigits[digits[i] - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (bits >> (14 - row * 3 - col) & 1)
                    fill_rect(f, 2 * pad + (i * 4 + col) * scale, 2 * pad + row * scale, scale, scale,
                              {235, 128, 128});
    }
}
