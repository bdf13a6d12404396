#include "filters/mesh/fit.h"

#include <cstring>

namespace mesh {

float reduction_factor(int w, int h) {
    const float sx = float(w) / float(kFrameWidth);
    const float sy = float(h) / float(kFrameHeight);
    const float s = sx > sy ? sx : sy;
    return float(int(s * 100.0f)) / 100.0f + 0.01f;
}

namespace {

void centre(const std::uint8_t* picture, int w, int h, std::uint8_t* frame) {
    const std::size_t row = std::size_t(w) * 3;
    const int top = (kFrameHeight - h) / 2;
    const int left = (kFrameWidth - w) / 2;
    for (int y = 0; y < h; ++y)
        std::memcpy(frame + std::size_t(top + y) * kFrameStride + std::size_t(left) * 3, picture + y * row, row);
}

void reduce(const std::uint8_t* picture, int w, int h, std::uint8_t* frame) {
    const float f = reduction_factor(w, h);
    const std::size_t row = std::size_t(w) * 3;
    for (int y = h - 1; y >= 0; --y) {
        const int ty = int(float(y) / f);
        if (ty >= kFrameHeight) continue; // cannot happen with f > s; kept as a guard
        std::uint8_t* target_row = frame + std::size_t(ty) * kFrameStride;
        const std::uint8_t* source = picture + std::size_t(y) * row;
        for (int x = w - 1; x >= 0; --x) {
            const std::uint8_t blue = source[std::size_t(x) * 3];
            if (blue >= 180) continue;
            const int tx = int(float(x) / f);
            if (tx >= kFrameWidth) continue;
            std::memset(target_row + std::size_t(tx) * 3, blue, 3);
        }
    }
}

} // namespace

void fit_picture(const std::uint8_t* picture, int w, int h, std::uint8_t* frame) {
    std::memset(frame, 255, kFrameBytes);
    if (!picture || w <= 0 || h <= 0) return;
    if (w <= kFrameWidth && h <= kFrameHeight)
        centre(picture, w, h, frame);
    else
        reduce(picture, w, h, frame);
}

} // namespace mesh
