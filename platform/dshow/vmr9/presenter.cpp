#include "platform/dshow/vmr9/presenter.h"

#include <cstdint>
#include <cstring>

namespace kavro::vmr9 {

Presenter::Presenter(int streams) : mixer_(streams) {}

void Presenter::set_sink(PictureSink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
    position_changed_ = true;
}

void Presenter::set_window(std::intptr_t window) {
    std::lock_guard lock(mutex_);
    window_ = window;
    position_changed_ = true;
}

std::intptr_t Presenter::window() const {
    std::lock_guard lock(mutex_);
    return window_;
}

bool Presenter::set_video_position(const PixelRect* source, const PixelRect* destination) {
    if (source && (source->left < 0 || source->top < 0 || source->width() <= 0 || source->height() <= 0))
        return false;
    if (destination && (destination->width() < 0 || destination->height() < 0)) return false;
    int ref_w, ref_h;
    if (source && native_size(ref_w, ref_h) && (source->right > ref_w || source->bottom > ref_h)) return false;
    std::lock_guard lock(mutex_);
    if (source) source_ = *source;
    if (destination) destination_ = *destination;
    position_changed_ = true;
    return true;
}

void Presenter::video_position(PixelRect& source, PixelRect& destination) const {
    int ref_w = 0, ref_h = 0;
    native_size(ref_w, ref_h);
    std::lock_guard lock(mutex_);
    source = source_.width() > 0 ? source_ : PixelRect{0, 0, ref_w, ref_h};
    destination = destination_;
}

void Presenter::set_reference_size(int width, int height) {
    std::lock_guard lock(mutex_);
    ref_w_ = width > 0 && width <= Compositor::max_dimension ? width : 0;
    ref_h_ = height > 0 && height <= Compositor::max_dimension ? height : 0;
    if (ref_w_ == 0 || ref_h_ == 0) ref_w_ = ref_h_ = 0;
    position_changed_ = true;
}

bool Presenter::native_size(int& width, int& height) const {
    {
        std::lock_guard lock(mutex_);
        if (ref_w_ > 0) {
            width = ref_w_;
            height = ref_h_;
            return true;
        }
    }
    return mixer_.frame_size(0, width, height);
}

Viewport Presenter::viewport_for(const PixelRect& source, const PixelRect& destination, int ref_w,
                                 int ref_h) const {
    // The composition spans the native video; the source part of it fills the destination.
    const PixelRect s = source.width() > 0 ? source : PixelRect{0, 0, ref_w, ref_h};
    const double sx = double(destination.width()) / s.width(), sy = double(destination.height()) / s.height();
    return {-s.left * sx, -s.top * sy, ref_w * sx, ref_h * sy};
}

bool Presenter::present(bool force) {
    std::lock_guard present_lock(present_mutex_);
    PictureSink sink;
    std::intptr_t window;
    PixelRect source, destination;
    bool changed;
    {
        std::lock_guard lock(mutex_);
        sink = sink_;
        window = window_;
        source = source_;
        destination = destination_;
        changed = position_changed_;
        position_changed_ = false;
    }
    if (!sink || destination.width() <= 0 || destination.height() <= 0) return false;
    if (!force && !changed && !mixer_.dirty()) return true;
    int ref_w, ref_h;
    if (!native_size(ref_w, ref_h)) {
        // Nothing connected yet: the composition is the destination itself.
        ref_w = destination.width();
        ref_h = destination.height();
        source = {};
    }
    const int w = destination.width(), h = destination.height();
    picture_.resize(std::size_t(w) * std::size_t(h));
    const ImageView view{picture_.data(), w, h, std::size_t(w) * 4};
    mixer_.compose(view, viewport_for(source, destination, ref_w, ref_h));
    shown_w_ = w;
    shown_h_ = h;
    sink(window, view);
    return true;
}

bool Presenter::shown_picture(std::uint32_t* out, int width, int height, std::size_t stride) {
    if (!out || width <= 0 || height <= 0 || width > Compositor::max_dimension ||
        height > Compositor::max_dimension || stride < std::size_t(width))
        return false;
    std::lock_guard present_lock(present_mutex_);
    const int w = shown_w_, h = shown_h_;
    if (w <= 0 || h <= 0) return false;
    if (column_of_.size() != std::size_t(width) || column_source_ != w) {
        column_source_ = w;
        column_of_.resize(std::size_t(width));
        for (int x = 0; x < width; ++x) column_of_[std::size_t(x)] = int(std::int64_t(x) * w / width);
    }
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = picture_.data() + std::size_t(std::int64_t(y) * h / height) * std::size_t(w);
        std::uint32_t* dst = out + std::size_t(y) * stride;
        if (w == width) {
            std::memcpy(dst, row, std::size_t(width) * 4);
            continue;
        }
        for (int x = 0; x < width; ++x) dst[x] = row[column_of_[std::size_t(x)]];
    }
    return true;
}

bool Presenter::current_image(std::vector<std::uint8_t>& dib) {
    int w, h;
    if (!native_size(w, h)) return false;
    std::vector<std::uint32_t> image(std::size_t(w) * std::size_t(h));
    mixer_.compose({image.data(), w, h, std::size_t(w) * 4}, Viewport::whole(w, h), false);
    const std::size_t row = std::size_t(w) * 4;
    dib.assign(40 + row * std::size_t(h), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&dib[at], &v, 4); };
    put32(0, 40);                    // header size
    put32(4, std::uint32_t(w));      // width
    put32(8, std::uint32_t(h));      // height: positive, rows bottom-up
    put32(12, 1u | 32u << 16);       // planes 1, 32 bits per pixel
    put32(16, 0);                    // uncompressed
    put32(20, std::uint32_t(row * std::size_t(h)));
    for (int y = 0; y < h; ++y)
        std::memcpy(&dib[40 + row * std::size_t(h - 1 - y)], &image[std::size_t(y) * std::size_t(w)], row);
    return true;
}

} // namespace kavro::vmr9
