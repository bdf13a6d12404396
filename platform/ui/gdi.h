// The drawing subset of the window system: pixel canvases, pens, brushes, lines, rectangles, ellipses, fills.
// Coordinates follow the Win32 rules: a line leaves out its end point, and a rectangle or ellipse covers
// left..right-1 and top..bottom-1 (its outline inside that box, drawn with the pen; the inside with the brush).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kavro::ui {

struct Point {
    int x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};
constexpr Colour rgb(int r, int g, int b) { return Colour{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)}; }
// Pixels are 0xFFRRGGBB.
constexpr std::uint32_t to_pixel(Colour c) {
    return 0xFF000000u | (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | std::uint32_t(c.b);
}
constexpr Colour from_pixel(std::uint32_t p) {
    return Colour{std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p)};
}

// A pixel buffer, top row first, white when created.
class Canvas {
public:
    Canvas() = default;
    Canvas(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    // Keeps what overlaps the new size; new pixels are white.
    void resize(int width, int height);
    std::uint32_t pixel(int x, int y) const; // 0 outside
    Colour colour(int x, int y) const { return from_pixel(pixel(x, y)); }
    void set_pixel(int x, int y, std::uint32_t p); // ignores points outside
    // Copies a block of 32-bit pixels (bytes blue, green, red, unused; rows `stride` bytes apart, top first)
    // with its top-left corner at (x, y), as set_pixel(x + i, y + j, 0xFF000000 | (p & 0xFFFFFF)) would for
    // each: the unused byte is dropped, so black is always 0xFF000000 whatever the source carries. What falls
    // outside the canvas is left out.
    void write_pixels(int x, int y, const void* source, int width, int height, std::size_t stride);
    const std::vector<std::uint32_t>& pixels() const { return px_; }

private:
    int width_ = 0, height_ = 0;
    std::vector<std::uint32_t> px_;
};

enum class PenStyle { Solid, Null };
struct Pen {
    PenStyle style = PenStyle::Solid;
    int width = 1;
    Colour colour{};
};
constexpr Pen solid_pen(Colour c, int width = 1) { return Pen{PenStyle::Solid, width, c}; }
constexpr Pen null_pen() { return Pen{PenStyle::Null, 1, {}}; }

struct Brush {
    bool null = false;
    Colour colour{255, 255, 255};
};
constexpr Brush solid_brush(Colour c) { return Brush{false, c}; }
constexpr Brush null_brush() { return Brush{true, {}}; }

// A device context over a canvas. Starts with a black 1-pixel pen, a white brush, current point (0, 0).
class Dc {
public:
    Dc() = default;
    // `done` runs when the Dc is destroyed (the window system tells its observers).
    explicit Dc(std::shared_ptr<Canvas> canvas, std::function<void()> done = {});
    Dc(Dc&&) noexcept;
    Dc& operator=(Dc&&) noexcept;
    Dc(const Dc&) = delete;
    Dc& operator=(const Dc&) = delete;
    ~Dc();

    explicit operator bool() const { return canvas_ != nullptr; }
    Canvas* canvas() const { return canvas_.get(); }

    Pen select_pen(Pen p);       // answers the previous pen
    Brush select_brush(Brush b); // answers the previous brush
    Pen pen() const { return pen_; }
    Brush brush() const { return brush_; }

    Point move_to(int x, int y); // answers the previous current point
    void line_to(int x, int y);   // draws to (x, y) leaving that point out; it becomes the current point
    void rectangle(int left, int top, int right, int bottom);
    void ellipse(int left, int top, int right, int bottom);
    void fill_rect(int left, int top, int right, int bottom, Brush b); // no outline
    void set_pixel(int x, int y, Colour c);

private:
    void plot_pen(int x, int y);
    void release();

    std::shared_ptr<Canvas> canvas_;
    std::function<void()> done_;
    Pen pen_{};
    Brush brush_{};
    int cx_ = 0, cy_ = 0;
};

} // namespace kavro::ui
