// Placing a decoded drawing in the filter's 768 x 576 frame (3 bytes a pixel, rows packed, top row first).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mesh {

inline constexpr int kFrameWidth = 768;
inline constexpr int kFrameHeight = 576;
inline constexpr std::size_t kFrameStride = kFrameWidth * 3;
inline constexpr std::size_t kFrameBytes = kFrameStride * kFrameHeight; // 1,327,104

// The reduction factor for a w x h picture larger than the frame: s = the larger of w / 768 and h / 576
// (single precision), f = (integer part of s x 100) / 100 + 0.01, so that f > s.
float reduction_factor(int w, int h);

// Fits a w x h picture (3 x w bytes a row, rows packed) into the frame on white. A picture that fits is
// copied unchanged, centred (offsets rounded down). A larger one is reduced by reduction_factor: each pixel
// whose first byte is below 180 writes that byte to all three bytes of the frame pixel at
// (integer part of y / f, integer part of x / f), the picture being visited from its last pixel back to
// its first; the result shows the dark strokes in grey. w or h of 0 (or less) gives a white frame.
void fit_picture(const std::uint8_t* picture, int w, int h, std::uint8_t* frame);

} // namespace mesh
