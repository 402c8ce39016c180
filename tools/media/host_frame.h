// Host-side frame storage: three planes of YUV 4:2:0 that a host hands the
// render module through YuvFrame. Chroma planes are half the size, rounded up.
#ifndef ORV_TOOLS_HOST_FRAME_H
#define ORV_TOOLS_HOST_FRAME_H

#include <cstdint>
#include <vector>

#include "device_render.h"

struct HostFrame {
    int32_t width = 0;
    int32_t height = 0;
    int32_t y_stride = 0;
    int32_t c_stride = 0;
    std::vector<uint8_t> y, u, v;

    // Planes for width x height; pad adds bytes to each luma row (half as
    // many to each chroma row), so stride handling is exercised.
    static HostFrame make(int32_t width, int32_t height, int32_t pad = 0);
    static int32_t chroma_width(int32_t width) { return (width + 1) / 2; }
    static int32_t chroma_height(int32_t height) { return (height + 1) / 2; }
    // Every sample of the frame set to one colour.
    void fill(uint8_t y_value, uint8_t u_value, uint8_t v_value);
    YuvFrame view() const;
};

#endif
