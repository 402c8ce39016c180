// The one frame generator of the benchmarks: 4:2:0 planes with luma
// gradients and a little noise (video-like, not constant) and smooth chroma.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "device_render.h"

struct BenchPlanes {
    int width, height;
    std::vector<uint8_t> y, u, v;

    BenchPlanes(int w, int h) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size())
    {
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> noise(-6, 6);
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x)
                y[size_t(r) * w + x] = uint8_t(16 + (x + r) * 200 / (w + h) + noise(rng) + 6);
        for (int r = 0; r < h / 2; ++r)
            for (int x = 0; x < w / 2; ++x) {
                u[size_t(r) * (w / 2) + x] = uint8_t(40 + x * 170 / (w / 2));
                v[size_t(r) * (w / 2) + x] = uint8_t(220 - r * 170 / (h / 2));
            }
    }
    YuvFrame frame() const
    {
        return {y.data(), u.data(), v.data(), width, width / 2, width / 2, width, height};
    }
};
