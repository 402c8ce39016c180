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

// The same picture at 10 bits (each sample times 4 plus a little more), as
// 16-bit little-endian words: value in bits 0-9 (I010), or 6-15 with the
// chroma as one plane of pairs, Cb first (P010).
struct BenchPlanes10 {
    int width, height;
    bool p010;
    std::vector<uint16_t> y, u, v;

    BenchPlanes10(int w, int h, bool high) : width(w), height(h), p010(high)
    {
        const BenchPlanes p(w, h);
        const int shift = high ? 6 : 0;
        y.resize(p.y.size());
        for (size_t i = 0; i < y.size(); ++i)
            y[i] = uint16_t((p.y[i] * 4 + int(i % 3)) << shift);
        if (high) {
            u.resize(p.u.size() * 2);
            for (size_t i = 0; i < p.u.size(); ++i)
                u[2 * i] = uint16_t((p.u[i] * 4 + 1) << shift),
                      u[2 * i + 1] = uint16_t((p.v[i] * 4 + 2) << shift);
        } else {
            u.resize(p.u.size()), v.resize(p.v.size());
            for (size_t i = 0; i < u.size(); ++i)
                u[i] = uint16_t(p.u[i] * 4 + 1), v[i] = uint16_t(p.v[i] * 4 + 2);
        }
    }
    YuvFrame frame() const
    {
        const auto *yb = reinterpret_cast<const uint8_t *>(y.data());
        const auto *ub = reinterpret_cast<const uint8_t *>(u.data());
        if (p010)
            return {yb, ub, ub + 2, 2 * width, 2 * width, 2 * width, width, height};
        return {yb, ub, reinterpret_cast<const uint8_t *>(v.data()), 2 * width, width, width, width, height};
    }
};
