#include "outside/adlink/picture_adjust.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace adlink {

int clamp_adjustment(std::int32_t value) { return int(std::clamp<std::int32_t>(value, 0, kMaxAdjustment)); }

namespace {

// The linear part of the adjustments on one colour: to luma and the two colour differences (BT.601 weights),
// colour differences scaled and turned, everything scaled by the contrast, back to R, G, B.
void linear(const Adjustments& a, const double in[3], double out[3]) {
    const double contrast = a.contrast / double(kNeutral);
    const double saturation = a.saturation / double(kNeutral);
    const double angle = (a.hue - kNeutral) / double(kNeutral) * std::numbers::pi;
    const double y = 0.299 * in[0] + 0.587 * in[1] + 0.114 * in[2];
    const double u = in[2] - y; // B - Y
    const double v = in[0] - y; // R - Y
    const double u2 = saturation * (u * std::cos(angle) - v * std::sin(angle));
    const double v2 = saturation * (u * std::sin(angle) + v * std::cos(angle));
    const double y3 = contrast * y, u3 = contrast * u2, v3 = contrast * v2;
    out[0] = y3 + v3;
    out[2] = y3 + u3;
    out[1] = y3 - (0.299 * v3 + 0.114 * u3) / 0.587;
}

std::uint8_t clamp_byte(std::int32_t v) { return std::uint8_t(std::clamp(v, 0, 255)); }

} // namespace

ColourTransform::ColourTransform(const Adjustments& a) {
    if (a.neutral()) return;
    m_identity = false;
    const double one = double(1 << kShift);
    for (int column = 0; column < 3; ++column) {
        double unit[3] = {0, 0, 0};
        unit[column] = 1.0;
        double out[3];
        linear(a, unit, out);
        for (int row = 0; row < 3; ++row) m_matrix[row][column] = std::int32_t(std::lround(out[row] * one));
    }
    // Grey stays grey under the linear part: the offset is the contrast's pivot plus the brightness.
    const double contrast = a.contrast / double(kNeutral);
    const double brightness = (a.brightness - kNeutral) * 128.0 / kNeutral;
    const double offset = 128.0 * (1.0 - contrast) + brightness;
    for (auto& o : m_offset) o = std::int32_t(std::lround(offset * one)) + (1 << (kShift - 1));
}

std::uint32_t ColourTransform::apply(std::uint32_t pixel) const {
    if (m_identity) return pixel;
    const std::int32_t r = std::int32_t((pixel >> 16) & 0xFF), g = std::int32_t((pixel >> 8) & 0xFF),
                       b = std::int32_t(pixel & 0xFF);
    const auto channel = [&](int row) {
        return clamp_byte((m_matrix[row][0] * r + m_matrix[row][1] * g + m_matrix[row][2] * b + m_offset[row]) >>
                          kShift);
    };
    return (pixel & 0xFF000000u) | std::uint32_t(channel(0)) << 16 | std::uint32_t(channel(1)) << 8 | channel(2);
}

void ColourTransform::apply(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride) const {
    if (m_identity) return;
    for (int y = 0; y < height; ++y) {
        std::uint32_t* row = pixels + y * stride;
        for (int x = 0; x < width; ++x) row[x] = apply(row[x]);
    }
}

} // namespace adlink
