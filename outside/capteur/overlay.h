// The overlay picture: the robots' and base station's status drawn on black, which the callers treat as
// transparent. One row per configured index at the top left: its name, then battery, speed and signal bars
// with their values.
#pragma once

#include "outside/capteur/channels.h"

#include <cstdint>
#include <string_view>

namespace capteur {

inline constexpr int kFrameWidth = 768;
inline constexpr int kFrameHeight = 576;
inline constexpr int kFrameBytes = kFrameWidth * kFrameHeight * 4;

// Colours as 32-bit RGB pixels (0x00RRGGBB; in memory B, G, R, unused). None is black.
inline constexpr std::uint32_t kWhite = 0x00FFFFFF;
inline constexpr std::uint32_t kGrey = 0x00808080;
inline constexpr std::uint32_t kFrame = 0x00404040;
inline constexpr std::uint32_t kGreen = 0x0020E020;
inline constexpr std::uint32_t kCyan = 0x0020D0F0;
inline constexpr std::uint32_t kYellow = 0x00F0E020;
inline constexpr std::uint32_t kRed = 0x00F03020;

enum class Bar { Battery, Speed, Signal };

struct Rect {
    int left, top, right, bottom; // right and bottom excluded
};

// Where the outline of a bar of an index is drawn; the filled part grows from its left edge inside it.
Rect bar_rect(int index, Bar bar);
// The full length of a bar's inside, in pixels, for a full value.
inline constexpr int kBarLength = 100;

// Signed speed of a wheel byte (bit 6 forward, low six bits the magnitude) and the average of two as 0..63.
int wheel_speed(int wheel);
int speed_magnitude(int wheel1, int wheel2);

// Draws one picture: `pixels` holds kFrameWidth x kFrameHeight pixels, rows top first; `stride` in pixels.
void draw_overlay(std::uint32_t* pixels, int stride, const std::array<ChannelView, kLastIndex + 1>& views);

// Text in the built-in 5x7 font, each dot `scale` pixels; unknown characters draw as blanks.
// Returns the x after the text.
int draw_text(std::uint32_t* pixels, int stride, int x, int y, std::string_view text, std::uint32_t colour,
              int scale);

} // namespace capteur
