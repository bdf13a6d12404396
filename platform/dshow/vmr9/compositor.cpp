#include "platform/dshow/vmr9/compositor.h"

#include <pixman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace kavro::vmr9 {

namespace {

constexpr std::uint32_t opaque_alpha = 0xff000000u;

bool finite(const NormalizedRect& r) {
    return std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom);
}

// One axis of a placement: the covered target pixels and the affine map from a composite-region coordinate
// (pixel index relative to the region start, plus one half) back to source coordinates.
struct AxisMap {
    int begin = 0, end = 0; // covered target pixels [begin, end)
    double a = 0, b = 0;    // source = a * p + b
};

// Maps source span [s0, s1) onto target span [t0, t1) (t0 > t1 mirrors), clipped to [0, limit).
// A target pixel is covered when its centre lies inside the span.
bool map_axis(double t0, double t1, double s0, double s1, int limit, AxisMap& m) {
    const bool mirrored = t0 > t1;
    const double lo = mirrored ? t1 : t0, hi = mirrored ? t0 : t1;
    if (!(hi - lo > 1e-9)) return false;
    const double begin = std::clamp(std::ceil(lo - 0.5), 0.0, double(limit));
    const double end = std::clamp(std::ceil(hi - 0.5), 0.0, double(limit));
    if (end <= begin) return false;
    m.begin = int(begin);
    m.end = int(end);
    const double scale = (s1 - s0) / (hi - lo);
    if (mirrored) {
        m.a = -scale;
        m.b = (hi - m.begin) * scale + s0;
    } else {
        m.a = scale;
        m.b = (m.begin - lo) * scale + s0;
    }
    // pixman's transform is 16.16 fixed point; anything beyond it would draw garbage.
    return std::fabs(m.a) < 30000.0 && std::fabs(m.b) < 30000.0 && std::fabs(m.a) * 65536.0 >= 1.0;
}

// Releases a pixman image at scope exit.
struct ImageRef {
    pixman_image_t* image = nullptr;
    explicit ImageRef(pixman_image_t* i) : image(i) {}
    ~ImageRef() {
        if (image) pixman_image_unref(image);
    }
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
};

inline std::uint32_t expand565(std::uint16_t v) {
    const std::uint32_t r = (v >> 11) & 0x1f, g = (v >> 5) & 0x3f, b = v & 0x1f;
    return opaque_alpha | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

// One row of `w` pixels of the source format as opaque a8r8g8b8.
void convert_row(PixelFormat format, const std::uint8_t* src, std::uint32_t* dst, int w) {
    switch (format) {
    case PixelFormat::rgb32:
        for (int x = 0; x < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, src + 4 * x, 4);
            dst[x] = v | opaque_alpha;
        }
        break;
    case PixelFormat::rgb24:
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = src + 3 * x;
            dst[x] = opaque_alpha | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
        }
        break;
    case PixelFormat::rgb565:
        for (int x = 0; x < w; ++x) {
            std::uint16_t v;
            std::memcpy(&v, src + 2 * x, 2);
            dst[x] = expand565(v);
        }
        break;
    }
}

} // namespace

int bits_per_pixel(PixelFormat format) {
    switch (format) {
    case PixelFormat::rgb565: return 16;
    case PixelFormat::rgb24: return 24;
    case PixelFormat::rgb32: return 32;
    }
    return 0;
}

std::size_t dib_stride(PixelFormat format, int width) {
    if (width <= 0 || width > Compositor::max_dimension) return 0;
    return (std::size_t(width) * std::size_t(bits_per_pixel(format)) + 31) / 32 * 4;
}

// A frame ready to compose, rows top to bottom: converted into `pixels` (premultiplied a8r8g8b8), or lent by
// its source (x8r8g8b8 in the source's memory, kept unchanged while `lease` is held).
struct Compositor::Frame {
    std::vector<std::uint32_t> pixels;
    const std::uint32_t* data = nullptr; // first row: pixels.data() or the source's memory
    std::size_t stride = 0;              // bytes between rows
    bool lent = false;
    std::shared_ptr<const void> lease;
    int width = 0; // 0: nothing to show
    int height = 0;
    bool solid = false;       // every pixel is `colour`: drawn as a fill instead of a scaled picture
    std::uint32_t colour = 0;
    AlphaBitmapParams params; // the overlay's placement, handed over with its picture
};

struct Compositor::Slot {
    std::mutex submit_mutex;     // serialises hand-overs into one slot; held during the conversion
    std::unique_ptr<Frame> back; // the converting side's buffer (under submit_mutex)
    bool last_solid = false;     // what the newest hand-over was (under submit_mutex)
    std::uint32_t last_colour = 0;
    int last_width = 0, last_height = 0;

    mutable std::mutex swap_mutex; // guards only the pointer swaps below
    std::unique_ptr<Frame> pending;
    bool fresh = false;
    int width = 0, height = 0; // native size of the newest frame

    std::unique_ptr<Frame> front; // the composing side's buffer (under compose_mutex_)
};

Compositor::Compositor(int streams) {
    streams = std::clamp(streams, 1, max_streams);
    for (int i = 0; i < streams; ++i) slots_.push_back(std::make_unique<Slot>());
    overlay_ = std::make_unique<Slot>();
    placements_.resize(std::size_t(streams));
}

Compositor::~Compositor() = default;

Status Compositor::set_output_rect(int stream, const NormalizedRect& rect) {
    if (!valid(stream)) return Status::bad_stream;
    if (!finite(rect)) return Status::bad_value;
    std::lock_guard lock(settings_mutex_);
    placements_[std::size_t(stream)].rect = rect;
    settings_changed_ = true;
    return Status::ok;
}

Status Compositor::set_alpha(int stream, float alpha) {
    if (!valid(stream)) return Status::bad_stream;
    if (!(alpha >= 0.0f && alpha <= 1.0f)) return Status::bad_value;
    std::lock_guard lock(settings_mutex_);
    placements_[std::size_t(stream)].alpha = alpha;
    settings_changed_ = true;
    return Status::ok;
}

Status Compositor::set_z_order(int stream, std::uint32_t z) {
    if (!valid(stream)) return Status::bad_stream;
    std::lock_guard lock(settings_mutex_);
    placements_[std::size_t(stream)].z = z;
    settings_changed_ = true;
    return Status::ok;
}

Status Compositor::get_output_rect(int stream, NormalizedRect& rect) const {
    if (!valid(stream)) return Status::bad_stream;
    std::lock_guard lock(settings_mutex_);
    rect = placements_[std::size_t(stream)].rect;
    return Status::ok;
}

Status Compositor::get_alpha(int stream, float& alpha) const {
    if (!valid(stream)) return Status::bad_stream;
    std::lock_guard lock(settings_mutex_);
    alpha = placements_[std::size_t(stream)].alpha;
    return Status::ok;
}

Status Compositor::get_z_order(int stream, std::uint32_t& z) const {
    if (!valid(stream)) return Status::bad_stream;
    std::lock_guard lock(settings_mutex_);
    z = placements_[std::size_t(stream)].z;
    return Status::ok;
}

void Compositor::set_background(std::uint32_t rgb) {
    std::lock_guard lock(settings_mutex_);
    background_ = rgb & 0xffffffu;
    settings_changed_ = true;
}

std::uint32_t Compositor::background() const {
    std::lock_guard lock(settings_mutex_);
    return background_;
}

Status Compositor::convert(const FrameView& in, Frame& out, bool key, std::uint32_t colour_key) {
    if (!in.data || in.width <= 0 || in.height <= 0 || in.width > max_dimension || in.height > max_dimension)
        return Status::bad_frame;
    const std::size_t row_bytes = std::size_t(in.width) * std::size_t(bits_per_pixel(in.format)) / 8;
    const std::size_t stride = in.stride ? in.stride : dib_stride(in.format, in.width);
    if (stride < row_bytes) return Status::bad_frame;
    // The last row needs only its pixels, not its padding.
    if (in.size < stride * std::size_t(in.height - 1) + row_bytes) return Status::bad_frame;

    out.lease.reset();
    out.lent = false;
    const int w = in.width, h = in.height;
    auto row_of = [&](int y) { return in.data + stride * std::size_t(in.bottom_up ? h - 1 - y : y); };
    // The key compares the colour as the bitmap holds it (0x00BBGGRR against our 0x00RRGGBB).
    const std::uint32_t key_rgb =
        (colour_key & 0xff) << 16 | (colour_key & 0xff00) | (colour_key >> 16 & 0xff);
    out.width = w;
    out.height = h;

    // A uniform picture (a black background) is kept as its colour and drawn as a fill.
    std::uint32_t first = 0;
    if (uniform(in, stride, row_bytes, first)) {
        out.solid = true;
        out.colour = key && (first & 0xffffffu) == key_rgb ? 0 : first;
        return Status::ok;
    }
    out.solid = false;
    out.pixels.resize(std::size_t(w) * std::size_t(h));
    out.data = out.pixels.data();
    out.stride = std::size_t(w) * 4;
    for (int y = 0; y < h; ++y) {
        std::uint32_t* dst = out.pixels.data() + std::size_t(y) * std::size_t(w);
        convert_row(in.format, row_of(y), dst, w);
        if (key) {
            for (int x = 0; x < w; ++x)
                if ((dst[x] & 0xffffffu) == key_rgb) dst[x] = 0; // transparent, premultiplied
        }
    }
    return Status::ok;
}

// Whether every pixel of the frame has one colour (the unused byte of 32-bit pixels aside); `colour` gets
// it as an opaque a8r8g8b8 value. Real pictures differ within their first pixels, so this costs them little.
bool Compositor::uniform(const FrameView& in, std::size_t stride, std::size_t row_bytes, std::uint32_t& colour) {
    const int w = in.width, h = in.height;
    const std::uint8_t* base = in.data;
    switch (in.format) {
    case PixelFormat::rgb32: {
        std::uint32_t v0;
        std::memcpy(&v0, base, 4);
        v0 &= 0xffffffu;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = base + stride * std::size_t(y);
            // A row equal to the first, which is known uniform, needs no pixel-by-pixel look.
            if (y > 0 && std::memcmp(row, base, row_bytes) == 0) continue;
            std::uint32_t diff = 0;
            for (int x = 0; x < w; ++x) {
                std::uint32_t v;
                std::memcpy(&v, row + 4 * x, 4);
                diff |= (v & 0xffffffu) ^ v0;
            }
            if (diff) return false;
        }
        colour = v0 | opaque_alpha;
        return true;
    }
    case PixelFormat::rgb565: {
        std::uint16_t v0;
        std::memcpy(&v0, base, 2);
        for (int x = 1; x < w; ++x) {
            std::uint16_t v;
            std::memcpy(&v, base + 2 * x, 2);
            if (v != v0) return false;
        }
        for (int y = 1; y < h; ++y)
            if (std::memcmp(base + stride * std::size_t(y), base, row_bytes) != 0) return false;
        colour = expand565(v0);
        return true;
    }
    case PixelFormat::rgb24: {
        for (std::size_t i = 3; i < row_bytes; ++i)
            if (base[i] != base[i - 3]) return false;
        for (int y = 1; y < h; ++y)
            if (std::memcmp(base + stride * std::size_t(y), base, row_bytes) != 0) return false;
        colour = opaque_alpha | std::uint32_t(base[2]) << 16 | std::uint32_t(base[1]) << 8 | base[0];
        return true;
    }
    }
    return false;
}

void Compositor::hand_over(Slot& slot, std::unique_ptr<Frame>& frame) {
    std::lock_guard lock(slot.swap_mutex);
    slot.width = frame->width;
    slot.height = frame->height;
    std::swap(frame, slot.pending);
    slot.fresh = true;
}

void Compositor::take_newest(Slot& slot) {
    std::shared_ptr<const void> replaced;
    {
        std::lock_guard lock(slot.swap_mutex);
        if (!slot.fresh) return;
        std::swap(slot.front, slot.pending);
        slot.fresh = false;
        // The frame just replaced is never read again: its source may have its memory back.
        if (slot.pending) replaced = std::move(slot.pending->lease);
    }
}

// Under slot.submit_mutex.
void Compositor::publish(Slot& slot) {
    // The same uniform picture again (a black background every tick) changes nothing on screen.
    const Frame& f = *slot.back;
    const bool same = f.solid && slot.last_solid && slot.last_colour == f.colour && slot.last_width == f.width &&
                      slot.last_height == f.height;
    slot.last_solid = f.solid;
    slot.last_colour = f.colour;
    slot.last_width = f.width;
    slot.last_height = f.height;
    if (same) return;
    hand_over(slot, slot.back);
    // What comes back was either never composed or already replaced in a composition: not read again.
    if (slot.back) slot.back->lease.reset();
    frames_changed_.store(true, std::memory_order_relaxed);
}

Status Compositor::submit(int stream, const FrameView& frame) {
    if (!valid(stream)) return Status::bad_stream;
    Slot& slot = *slots_[std::size_t(stream)];
    std::lock_guard lock(slot.submit_mutex);
    if (!slot.back) slot.back = std::make_unique<Frame>();
    const Status s = convert(frame, *slot.back, false, 0);
    if (s != Status::ok) return s;
    converted_.fetch_add(1, std::memory_order_relaxed);
    publish(slot);
    return Status::ok;
}

Status Compositor::submit_in_place(int stream, const FrameView& frame, std::shared_ptr<const void> lease) {
    if (!valid(stream)) return Status::bad_stream;
    const int w = frame.width, h = frame.height;
    if (frame.format != PixelFormat::rgb32 || frame.bottom_up || !frame.data ||
        reinterpret_cast<std::uintptr_t>(frame.data) % 4 != 0 || w <= 0 || h <= 0 || w > max_dimension ||
        h > max_dimension)
        return Status::bad_frame;
    const std::size_t row_bytes = std::size_t(w) * 4;
    const std::size_t stride = frame.stride ? frame.stride : row_bytes;
    if (stride < row_bytes || stride % 4 != 0 || frame.size < stride * std::size_t(h - 1) + row_bytes)
        return Status::bad_frame;

    Slot& slot = *slots_[std::size_t(stream)];
    std::lock_guard lock(slot.submit_mutex);
    if (!slot.back) slot.back = std::make_unique<Frame>();
    Frame& f = *slot.back;
    f.width = w;
    f.height = h;
    std::uint32_t colour = 0;
    if (uniform(frame, stride, row_bytes, colour)) { // drawn as a fill: the memory is not needed
        f.solid = true;
        f.colour = colour;
        f.lent = false;
        f.lease.reset();
    } else {
        f.solid = false;
        f.lent = true;
        f.data = reinterpret_cast<const std::uint32_t*>(frame.data);
        f.stride = stride;
        f.lease = std::move(lease);
    }
    in_place_.fetch_add(1, std::memory_order_relaxed);
    publish(slot);
    return Status::ok;
}

Status Compositor::clear(int stream) {
    if (!valid(stream)) return Status::bad_stream;
    Slot& slot = *slots_[std::size_t(stream)];
    std::lock_guard lock(slot.submit_mutex);
    if (!slot.back) slot.back = std::make_unique<Frame>();
    slot.back->width = slot.back->height = 0;
    slot.back->lease.reset();
    slot.last_solid = false;
    hand_over(slot, slot.back);
    if (slot.back) slot.back->lease.reset();
    frames_changed_.store(true, std::memory_order_relaxed);
    return Status::ok;
}

bool Compositor::frame_size(int stream, int& width, int& height) const {
    if (!valid(stream)) return false;
    const Slot& slot = *slots_[std::size_t(stream)];
    std::lock_guard lock(slot.swap_mutex);
    if (slot.width <= 0) return false;
    width = slot.width;
    height = slot.height;
    return true;
}

Status Compositor::set_alpha_bitmap(const FrameView& bitmap, const AlphaBitmapParams& params) {
    if (!(params.alpha >= 0.0f && params.alpha <= 1.0f) || !finite(params.destination)) return Status::bad_value;
    const PixelRect& s = params.source;
    const bool whole = s.width() == 0 && s.height() == 0;
    if (!whole && (s.left < 0 || s.top < 0 || s.right > bitmap.width || s.bottom > bitmap.height ||
                   s.width() <= 0 || s.height() <= 0))
        return Status::bad_value;
    Slot& slot = *overlay_;
    std::lock_guard lock(slot.submit_mutex);
    if (!slot.back) slot.back = std::make_unique<Frame>();
    const Status st = convert(bitmap, *slot.back, params.use_colour_key, params.colour_key);
    if (st != Status::ok) return st;
    slot.back->params = params;
    if (whole) slot.back->params.source = {0, 0, bitmap.width, bitmap.height};
    {
        std::lock_guard settings(settings_mutex_);
        overlay_params_ = slot.back->params;
        overlay_shown_ = true;
    }
    hand_over(slot, slot.back);
    frames_changed_.store(true, std::memory_order_relaxed);
    return Status::ok;
}

void Compositor::clear_alpha_bitmap() {
    Slot& slot = *overlay_;
    std::lock_guard lock(slot.submit_mutex);
    if (!slot.back) slot.back = std::make_unique<Frame>();
    slot.back->width = slot.back->height = 0;
    {
        std::lock_guard settings(settings_mutex_);
        overlay_shown_ = false;
    }
    hand_over(slot, slot.back);
    frames_changed_.store(true, std::memory_order_relaxed);
}

bool Compositor::alpha_bitmap_params(AlphaBitmapParams& params) const {
    std::lock_guard lock(settings_mutex_);
    if (!overlay_shown_) return false;
    params = overlay_params_;
    return true;
}

Compositor::Counts Compositor::counts() const {
    return {in_place_.load(std::memory_order_relaxed), converted_.load(std::memory_order_relaxed),
            compositions_.load(std::memory_order_relaxed)};
}

bool Compositor::dirty() const {
    if (frames_changed_.load(std::memory_order_relaxed)) return true;
    std::lock_guard lock(settings_mutex_);
    return settings_changed_;
}

// One composition, in named steps: what compose draws into one target while it holds compose_mutex_.
class Compositor::Composition {
public:
    Composition(Compositor& self, const ImageView& target, const Viewport& viewport)
        : self_(self), target_(target), viewport_(viewport) {}

    // Copies the settings and takes every stream's newest frame; false when the target cannot be drawn into.
    bool begin(bool mark_shown) {
        {
            std::lock_guard lock(self_.settings_mutex_);
            placements_ = self_.placements_;
            background_ = self_.background_;
            if (mark_shown) self_.settings_changed_ = false;
        }
        for (auto& slot : self_.slots_) take_newest(*slot);
        take_newest(*self_.overlay_);
        dest_.image = pixman_image_create_bits(PIXMAN_a8r8g8b8, target_.width, target_.height, target_.pixels,
                                               int(target_.stride));
        return dest_.image != nullptr;
    }

    // The background where no opaque stream covers the whole target, then the streams back to front.
    void draw_streams() {
        const std::vector<Layer> layers = visible_layers();
        std::size_t first = frontmost_cover(layers);
        if (first == layers.size()) {
            first = 0;
            fill({0, 0, target_.width, target_.height}, opaque_alpha | background_);
        }
        for (std::size_t i = first; i < layers.size(); ++i) {
            const Layer& l = layers[i];
            draw(*self_.slots_[std::size_t(l.stream)]->front, l.x, l.y, placement(l).alpha, true);
        }
    }

    // The overlay bitmap over everything, at its own place and alpha.
    void draw_overlay() {
        const Frame* o = self_.overlay_->front.get();
        if (!o || o->width <= 0 || !(o->params.alpha > 0.0f)) return;
        const AlphaBitmapParams& p = o->params;
        AxisMap mx, my;
        if (map_axis(viewport_.x + p.destination.left * viewport_.width,
                     viewport_.x + p.destination.right * viewport_.width, p.source.left, p.source.right,
                     target_.width, mx) &&
            map_axis(viewport_.y + p.destination.top * viewport_.height,
                     viewport_.y + p.destination.bottom * viewport_.height, p.source.top, p.source.bottom,
                     target_.height, my))
            draw(*o, mx, my, p.alpha, false);
    }

private:
    // A visible stream: where its frame lands on the target.
    struct Layer {
        int stream;
        AxisMap x, y;
        bool full; // covers the whole target
    };

    const Placement& placement(const Layer& l) const { return placements_[std::size_t(l.stream)]; }

    // The streams with a frame, a nonzero alpha and some target pixels, back to front (higher z first, then
    // by stream number).
    std::vector<Layer> visible_layers() const {
        std::vector<Layer> layers;
        layers.reserve(self_.slots_.size());
        for (int i = 0; i < self_.stream_count(); ++i) {
            const Frame* f = self_.slots_[std::size_t(i)]->front.get();
            const Placement& p = placements_[std::size_t(i)];
            if (!f || f->width <= 0 || p.alpha <= 0.0f) continue;
            Layer l{i, {}, {}, false};
            if (!map_axis(viewport_.x + p.rect.left * viewport_.width, viewport_.x + p.rect.right * viewport_.width,
                          0, f->width, target_.width, l.x) ||
                !map_axis(viewport_.y + p.rect.top * viewport_.height,
                          viewport_.y + p.rect.bottom * viewport_.height, 0, f->height, target_.height, l.y))
                continue;
            l.full = l.x.begin == 0 && l.x.end == target_.width && l.y.begin == 0 && l.y.end == target_.height;
            layers.push_back(l);
        }
        std::stable_sort(layers.begin(), layers.end(), [&](const Layer& a, const Layer& b) {
            const std::uint32_t za = placement(a).z, zb = placement(b).z;
            return za != zb ? za > zb : a.stream < b.stream;
        });
        return layers;
    }

    // An opaque stream that fills the target hides the background and everything behind it: the frontmost
    // such layer (layers.size() when there is none).
    std::size_t frontmost_cover(const std::vector<Layer>& layers) const {
        for (std::size_t i = layers.size(); i-- > 0;)
            if (layers[i].full && placement(layers[i]).alpha >= 1.0f) return i;
        return layers.size();
    }

    void draw(const Frame& f, const AxisMap& mx, const AxisMap& my, float alpha, bool opaque) {
        if (f.solid)
            draw_solid(f.colour, mx, my, alpha);
        else
            draw_picture(f, mx, my, alpha, opaque);
    }

    // A uniform frame: a fill, blended at the alpha unless it is opaque.
    void draw_solid(std::uint32_t c, const AxisMap& mx, const AxisMap& my, float alpha) {
        if (alpha >= 1.0f && c >> 24 == 0xff) {
            fill({mx.begin, my.begin, mx.end, my.end}, c);
            return;
        }
        if (c >> 24 == 0) return; // entirely transparent
        const pixman_color_t colour = pixman_colour(c);
        ImageRef src(pixman_image_create_solid_fill(&colour));
        ImageRef mask(opacity(alpha));
        if (src.image && mask.image)
            pixman_image_composite32(PIXMAN_OP_OVER, src.image, mask.image, dest_.image, 0, 0, 0, 0, mx.begin,
                                     my.begin, mx.end - mx.begin, my.end - my.begin);
    }

    // A picture, scaled bilinearly to its place. Stream frames are drawn opaque at alpha 1; the overlay
    // keeps its own transparency; a lent frame's fourth byte is ignored.
    void draw_picture(const Frame& f, const AxisMap& mx, const AxisMap& my, float alpha, bool opaque) {
        const int w = mx.end - mx.begin, h = my.end - my.begin;
        ImageRef src(scaled_source(f, mx, my));
        if (!src.image) return;
        if (alpha >= 1.0f) {
            pixman_image_composite32(opaque || f.lent ? PIXMAN_OP_SRC : PIXMAN_OP_OVER, src.image, nullptr,
                                     dest_.image, 0, 0, 0, 0, mx.begin, my.begin, w, h);
            return;
        }
        ImageRef mask(opacity(alpha));
        if (!mask.image) return;
        if (!f.lent) {
            pixman_image_composite32(PIXMAN_OP_OVER, src.image, mask.image, dest_.image, 0, 0, 0, 0, mx.begin,
                                     my.begin, w, h);
            return;
        }
        blend_lent(src.image, mask.image, mx, my);
    }

    // pixman blends a scaled x8r8g8b8 picture at an opacity on its slow general path (about 2.5 times the
    // cost of a8r8g8b8): scale the lent frame into an a8r8g8b8 scratch image, then blend that unscaled.
    // The result is the same to the bit.
    void blend_lent(pixman_image_t* src, pixman_image_t* mask, const AxisMap& mx, const AxisMap& my) {
        const int w = mx.end - mx.begin, h = my.end - my.begin;
        self_.scratch_.resize(std::size_t(w) * std::size_t(h));
        ImageRef scaled(pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, self_.scratch_.data(), w * 4));
        if (!scaled.image) return;
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, scaled.image, 0, 0, 0, 0, 0, 0, w, h);
        pixman_image_composite32(PIXMAN_OP_OVER, scaled.image, mask, dest_.image, 0, 0, 0, 0, mx.begin, my.begin,
                                 w, h);
    }

    // The frame as a pixman image whose transform maps the composite region back to the frame's pixels.
    static pixman_image_t* scaled_source(const Frame& f, const AxisMap& mx, const AxisMap& my) {
        pixman_image_t* src = pixman_image_create_bits(f.lent ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8, f.width,
                                                       f.height, const_cast<std::uint32_t*>(f.data),
                                                       int(f.stride));
        if (!src) return nullptr;
        pixman_transform_t t{};
        t.matrix[0][0] = pixman_double_to_fixed(mx.a);
        t.matrix[0][2] = pixman_double_to_fixed(mx.b);
        t.matrix[1][1] = pixman_double_to_fixed(my.a);
        t.matrix[1][2] = pixman_double_to_fixed(my.b);
        t.matrix[2][2] = pixman_fixed_1;
        pixman_image_set_transform(src, &t);
        pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
        return src;
    }

    void fill(const pixman_box32_t& box, std::uint32_t argb) {
        const pixman_color_t c = pixman_colour(argb);
        pixman_image_fill_boxes(PIXMAN_OP_SRC, dest_.image, &c, 1, &box);
    }

    // 0xAARRGGBB as pixman's 16-bit channels.
    static pixman_color_t pixman_colour(std::uint32_t c) {
        return {std::uint16_t((c >> 16 & 0xff) * 0x101), std::uint16_t((c >> 8 & 0xff) * 0x101),
                std::uint16_t((c & 0xff) * 0x101), std::uint16_t((c >> 24) * 0x101)};
    }

    // A mask of uniform opacity.
    static pixman_image_t* opacity(float alpha) {
        const pixman_color_t m{0, 0, 0, std::uint16_t(std::lround(alpha * 65535.0f))};
        return pixman_image_create_solid_fill(&m);
    }

    Compositor& self_;
    const ImageView& target_;
    const Viewport& viewport_;
    std::vector<Placement> placements_;
    std::uint32_t background_ = 0;
    ImageRef dest_{nullptr};
};

void Compositor::compose(const ImageView& target, const Viewport& viewport, bool mark_shown) {
    if (!target.pixels || target.width <= 0 || target.height <= 0 || target.stride % 4 != 0 ||
        target.stride < std::size_t(target.width) * 4)
        return;
    std::lock_guard compose_lock(compose_mutex_);
    compositions_.fetch_add(1, std::memory_order_relaxed);
    if (mark_shown) frames_changed_.store(false, std::memory_order_relaxed);
    Composition composition(*this, target, viewport);
    if (!composition.begin(mark_shown)) return;
    composition.draw_streams();
    composition.draw_overlay();
}

} // namespace kavro::vmr9
