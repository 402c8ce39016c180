// Frame pieces shared by the blitter fuzz targets: planes of exactly the
// bytes a frame covers (so a read past them trips AddressSanitizer), walked
// top-down or bottom-up, and the RGB565 carry as the blitter keeps it.
#ifndef ORV_FUZZ_FRAME_H
#define ORV_FUZZ_FRAME_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

// Rows of `row_bytes`, `span` bytes apart, no bytes after the last row;
// random content.
struct FuzzPlane {
    std::unique_ptr<uint8_t[]> bytes;
    const uint8_t *first = nullptr; // row 0
    int32_t stride = 0;

    FuzzPlane(int row_bytes, int rows, int span, bool bottom_up, std::mt19937 &rng)
    {
        const size_t size = rows ? size_t(span) * size_t(rows - 1) + size_t(row_bytes) : 0;
        bytes.reset(new uint8_t[size ? size : 1]);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = uint8_t(rng());
        first = bottom_up && rows ? bytes.get() + size_t(span) * size_t(rows - 1) : bytes.get();
        stride = bottom_up ? -span : span;
    }
    const uint8_t *at(size_t byte_in_row, int row) const
    {
        return first + ptrdiff_t(row) * stride + ptrdiff_t(byte_in_row);
    }
};

// The carry per column across frames and widths: columns a width change
// adds start from zero.
struct FuzzCarryModel {
    std::vector<std::array<uint8_t, 3>> carry;
    int width = 0;

    void set_width(int w)
    {
        if (w == width)
            return;
        if (carry.size() < size_t(w))
            carry.resize(size_t(w), {0, 0, 0});
        for (size_t x = size_t(std::min(w, width)); x < carry.size(); ++x)
            carry[x] = {0, 0, 0};
        width = w;
    }
};

#endif
