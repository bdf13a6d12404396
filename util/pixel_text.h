// Text and boxes drawn straight into 32-bit pixel buffers (0x00RRGGBB, rows top first) with a built-in 5x7
// font: for test cards and "no signal" pictures that must cost little and need no font files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavro::pixels {

// A buffer of `width` x `height` pixels, `stride` pixels from one row to the next.
struct Image {
    std::uint32_t* pixels = nullptr;
    int width = 0, height = 0;
    std::ptrdiff_t stride = 0;
};

// Fills the rectangle [left, right) x [top, bottom), clipped to the image.
void fill_rect(const Image& image, int left, int top, int right, int bottom, std::uint32_t colour);

// Writes `text` with its top left corner at (x, y), each font dot `scale` x `scale` pixels, clipped to the
// image. Letters are shown upper case; characters without a glyph draw as blanks. Answers the x after the text.
int draw_text(const Image& image, int x, int y, std::string_view text, std::uint32_t colour, int scale);

// Width in pixels of `text` at `scale` (6 dots a character, the last column blank).
constexpr int text_width(std::string_view text, int scale) { return int(text.size()) * 6 * scale; }

} // namespace kavro::pixels
