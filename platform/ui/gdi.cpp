#include "platform/ui/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kavro::ui {

namespace {
constexpr std::uint32_t white = 0xFFFFFFFFu;
}

Canvas::Canvas(int width, int height) { resize(width, height); }

void Canvas::resize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    std::vector<std::uint32_t> next(std::size_t(width) * std::size_t(height), white);
    for (int y = 0; y < std::min(height, height_); ++y)
        std::copy_n(px_.begin() + std::ptrdiff_t(y) * width_, std::min(width, width_),
                    next.begin() + std::ptrdiff_t(y) * width);
    px_ = std::move(next);
    width_ = width;
    height_ = height;
}

std::uint32_t Canvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return px_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
}

void Canvas::set_pixel(int x, int y, std::uint32_t p) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    px_[std::size_t(y) * std::size_t(width_) + std::size_t(x)] = p;
}

void Canvas::write_pixels(int x, int y, const void* source, int width, int height, std::size_t stride) {
    if (!source) return;
    // The part of the block that lies on the canvas, in 64 bits so that no corner overflows.
    const long long x0 = std::max<long long>(x, 0), y0 = std::max<long long>(y, 0);
    const long long x1 = std::min<long long>(0LL + x + width, width_);
    const long long y1 = std::min<long long>(0LL + y + height, height_);
    if (x0 >= x1 || y0 >= y1) return;
    const auto* src = static_cast<const std::uint8_t*>(source);
    const std::size_t n = std::size_t(x1 - x0);
    for (long long row = y0; row < y1; ++row) {
        const std::uint8_t* in = src + std::size_t(row - y) * stride + std::size_t(x0 - x) * 4;
        std::uint32_t* out = px_.data() + std::size_t(row) * std::size_t(width_) + std::size_t(x0);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t p;
            std::memcpy(&p, in + 4 * i, 4);
            out[i] = 0xFF000000u | p;
        }
    }
}

Dc::Dc(std::shared_ptr<Canvas> canvas, std::function<void()> done)
    : canvas_(std::move(canvas)), done_(std::move(done)) {}

Dc::Dc(Dc&& o) noexcept
    : canvas_(std::move(o.canvas_)), done_(std::move(o.done_)), pen_(o.pen_), brush_(o.brush_), cx_(o.cx_),
      cy_(o.cy_) {
    o.done_ = nullptr;
}

Dc& Dc::operator=(Dc&& o) noexcept {
    if (this != &o) {
        release();
        canvas_ = std::move(o.canvas_);
        done_ = std::move(o.done_);
        o.done_ = nullptr;
        pen_ = o.pen_;
        brush_ = o.brush_;
        cx_ = o.cx_;
        cy_ = o.cy_;
    }
    return *this;
}

Dc::~Dc() { release(); }

void Dc::release() {
    if (done_) {
        auto fn = std::move(done_);
        done_ = nullptr;
        fn();
    }
    canvas_.reset();
}

Pen Dc::select_pen(Pen p) { return std::exchange(pen_, p); }
Brush Dc::select_brush(Brush b) { return std::exchange(brush_, b); }

Point Dc::move_to(int x, int y) {
    Point old{cx_, cy_};
    cx_ = x;
    cy_ = y;
    return old;
}

void Dc::plot_pen(int x, int y) {
    if (!canvas_ || pen_.style == PenStyle::Null) return;
    const std::uint32_t p = to_pixel(pen_.colour);
    if (pen_.width <= 1) {
        canvas_->set_pixel(x, y, p);
        return;
    }
    const int lo = -(pen_.width / 2), hi = lo + pen_.width;
    for (int dy = lo; dy < hi; ++dy)
        for (int dx = lo; dx < hi; ++dx) canvas_->set_pixel(x + dx, y + dy, p);
}

void Dc::line_to(int x, int y) {
    // Bresenham from the current point, leaving out the end point.
    int x0 = cx_, y0 = cy_;
    const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    while (!(x0 == x && y0 == y)) {
        plot_pen(x0, y0);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    cx_ = x;
    cy_ = y;
}

void Dc::fill_rect(int left, int top, int right, int bottom, Brush b) {
    if (!canvas_ || b.null) return;
    const std::uint32_t p = to_pixel(b.colour);
    for (int y = std::max(top, 0); y < std::min(bottom, canvas_->height()); ++y)
        for (int x = std::max(left, 0); x < std::min(right, canvas_->width()); ++x) canvas_->set_pixel(x, y, p);
}

void Dc::rectangle(int left, int top, int right, int bottom) {
    if (!canvas_) return;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (pen_.style == PenStyle::Null) {
        // Without an outline the filled area is one pixel smaller, as the system draws it.
        fill_rect(left, top, right - 1, bottom - 1, brush_);
        return;
    }
    const int w = std::max(pen_.width, 1);
    fill_rect(left + w, top + w, right - w, bottom - w, brush_);
    const std::uint32_t p = to_pixel(pen_.colour);
    for (int i = 0; i < w; ++i) {
        for (int x = left; x < right; ++x) {
            canvas_->set_pixel(x, top + i, p);
            canvas_->set_pixel(x, bottom - 1 - i, p);
        }
        for (int y = top; y < bottom; ++y) {
            canvas_->set_pixel(left + i, y, p);
            canvas_->set_pixel(right - 1 - i, y, p);
        }
    }
}

void Dc::ellipse(int left, int top, int right, int bottom) {
    if (!canvas_) return;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (right - left < 1 || bottom - top < 1) return;
    const double cx = (left + right - 1) / 2.0, cy = (top + bottom - 1) / 2.0;
    const double rx = (right - left - 1) / 2.0 + 0.5, ry = (bottom - top - 1) / 2.0 + 0.5;
    auto inside = [&](int x, int y) {
        if (x < left || x >= right || y < top || y >= bottom) return false;
        const double nx = (x - cx) / rx, ny = (y - cy) / ry;
        return nx * nx + ny * ny <= 1.0;
    };
    const bool outline = pen_.style != PenStyle::Null;
    const int w = std::max(pen_.width, 1);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            if (!inside(x, y)) continue;
            bool edge = false;
            if (outline)
                for (int d = 1; d <= w && !edge; ++d)
                    edge = !inside(x - d, y) || !inside(x + d, y) || !inside(x, y - d) || !inside(x, y + d);
            if (edge)
                canvas_->set_pixel(x, y, to_pixel(pen_.colour));
            else if (!brush_.null)
                canvas_->set_pixel(x, y, to_pixel(brush_.colour));
        }
}

void Dc::set_pixel(int x, int y, Colour c) {
    if (canvas_) canvas_->set_pixel(x, y, to_pixel(c));
}

} // namespace kavro::ui
