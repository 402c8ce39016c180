// Host-side frame storage: see host_frame.h.
#include "host_frame.h"

#include <cstring>

HostFrame HostFrame::make(int32_t width, int32_t height, int32_t pad)
{
    HostFrame f;
    f.width = width;
    f.height = height;
    f.y_stride = width + pad;
    f.c_stride = chroma_width(width) + pad / 2;
    f.y.assign(static_cast<size_t>(f.y_stride) * height, 0);
    f.u.assign(static_cast<size_t>(f.c_stride) * chroma_height(height), 0);
    f.v.assign(f.u.size(), 0);
    return f;
}

void HostFrame::fill(uint8_t y_value, uint8_t u_value, uint8_t v_value)
{
    std::memset(y.data(), y_value, y.size());
    std::memset(u.data(), u_value, u.size());
    std::memset(v.data(), v_value, v.size());
}

YuvFrame HostFrame::view() const
{
    YuvFrame f{};
    f.y = y.data();
    f.u = u.data();
    f.v = v.data();
    f.y_stride = y_stride;
    f.u_stride = c_stride;
    f.v_stride = c_stride;
    f.width = width;
    f.height = height;
    return f;
}
