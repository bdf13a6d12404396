// The mixing core of the video mixing renderer: input streams placed in normalized rectangles with their own
// opacity and layer, an optional colour-keyed bitmap laid over everything, composed with pixman.
//
// Streams deliver frames on their own threads. A hand-over either converts the frame into a private buffer or,
// for 32-bit top-down frames in memory the source lends (the renderer's own sample buffers), keeps a lease on
// that memory and reads it where it lies; then it swaps pointers under a short lock. Composition swaps the
// newest frame in under the same short lock and mixes without holding it, so neither side ever waits for the
// other longer than a pointer swap. A lent frame is given back once a newer frame of its stream has replaced
// it in the composition, so a source never writes into memory that is being read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kavro::vmr9 {

// Uncompressed layouts a source may deliver (device-independent bitmap rows, each padded to 4 bytes).
enum class PixelFormat {
    rgb565, // 16 bits: red 5, green 6, blue 5 (little-endian word)
    rgb24,  // bytes blue, green, red
    rgb32,  // bytes blue, green, red, unused
};

int bits_per_pixel(PixelFormat format);
// Bytes of one row of a device-independent bitmap: padded to a multiple of 4. 0 when width is out of range.
std::size_t dib_stride(PixelFormat format, int width);

// A frame as the source holds it. bottom_up: the first row in memory is the bottom row of the picture.
struct FrameView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0; // bytes available at data
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::rgb32;
    bool bottom_up = false;
    std::size_t stride = 0; // 0: the bitmap's own padded stride
};

struct NormalizedRect {
    float left = 0, top = 0, right = 1, bottom = 1;
    friend bool operator==(const NormalizedRect&, const NormalizedRect&) = default;
};

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// 32-bit pixels 0xFFRRGGBB (bytes blue, green, red, 0xff), rows top to bottom.
struct ImageView {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0; // bytes
};

// Where the composition space (normalized 0..1 in both directions) lands in the target, in target pixels.
struct Viewport {
    double x = 0, y = 0, width = 0, height = 0;
    static Viewport whole(int w, int h) { return {0, 0, double(w), double(h)}; }
};

struct AlphaBitmapParams {
    PixelRect source;            // part of the bitmap to show; empty: the whole bitmap
    NormalizedRect destination;  // where it goes in the composition space
    float alpha = 1.0f;          // overall opacity 0..1
    bool use_colour_key = false;
    std::uint32_t colour_key = 0; // 0x00BBGGRR; pixels of that colour are transparent
};

enum class Status { ok, bad_stream, bad_value, bad_frame };

class Compositor {
public:
    static constexpr int max_streams = 16;
    static constexpr int max_dimension = 8192;

    explicit Compositor(int streams);
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    int stream_count() const { return int(slots_.size()); }

    // Placement of one stream. Alpha must lie in 0..1; rectangles must be finite (left > right mirrors).
    Status set_output_rect(int stream, const NormalizedRect& rect);
    Status set_alpha(int stream, float alpha);
    // Higher values lie further back; equal values stack by stream number, higher numbers in front.
    Status set_z_order(int stream, std::uint32_t z);
    Status get_output_rect(int stream, NormalizedRect& rect) const;
    Status get_alpha(int stream, float& alpha) const;
    Status get_z_order(int stream, std::uint32_t& z) const;

    // Colour behind every stream, 0x00RRGGBB.
    void set_background(std::uint32_t rgb);
    std::uint32_t background() const;

    // Hands a frame over (any thread). The frame is converted and copied before the call returns.
    Status submit(int stream, const FrameView& frame);
    // Hands over a frame that is read where it lies, without a copy (any thread): 32-bit pixels, rows top to
    // bottom (bottom_up false), the fourth byte ignored, data aligned to 4 bytes. The memory must stay unchanged
    // while the compositor holds `lease`; it drops the lease once a newer frame of the stream (or a clear)
    // has replaced this one in a composition, or at once when the frame is uniform (drawn as a fill).
    // bad_frame for any other layout; the lease is then dropped before the call returns.
    Status submit_in_place(int stream, const FrameView& frame, std::shared_ptr<const void> lease);
    // The stream shows nothing until its next frame (a source went away).
    Status clear(int stream);
    // Native size of the stream's latest frame; false while it has none.
    bool frame_size(int stream, int& width, int& height) const;

    // The overlay bitmap, copied; colour-keyed pixels become transparent. clear_alpha_bitmap removes it.
    Status set_alpha_bitmap(const FrameView& bitmap, const AlphaBitmapParams& params);
    void clear_alpha_bitmap();
    bool alpha_bitmap_params(AlphaBitmapParams& params) const;

    // Frames handed over since the last composition (any stream or the overlay).
    bool dirty() const;

    // What the compositor has done since it was made (for benchmarks and tests).
    struct Counts {
        std::uint64_t in_place = 0;     // frames read where the source wrote them
        std::uint64_t converted = 0;    // frames converted and copied on hand-over
        std::uint64_t compositions = 0; // pictures composed (the display's and snapshots)
    };
    Counts counts() const;

    // Mixes everything into the target: background, streams back to front, overlay. Serialised with itself.
    // A composition for another purpose than the display (a snapshot) leaves the changes marked.
    void compose(const ImageView& target, const Viewport& viewport, bool mark_shown = true);
    void compose(const ImageView& target) { compose(target, Viewport::whole(target.width, target.height)); }

private:
    struct Frame;
    struct Slot;
    class Composition; // the steps of one compose (compositor.cpp)
    struct Placement {
        NormalizedRect rect;
        float alpha = 1.0f;
        std::uint32_t z = 0;
    };

    bool valid(int stream) const { return stream >= 0 && stream < stream_count(); }
    static Status convert(const FrameView& in, Frame& out, bool key, std::uint32_t colour_key);
    static bool uniform(const FrameView& in, std::size_t stride, std::size_t row_bytes, std::uint32_t& colour);
    static void hand_over(Slot& slot, std::unique_ptr<Frame>& frame);
    static void take_newest(Slot& slot);
    void publish(Slot& slot); // hands the slot's converted back buffer over unless it repeats a uniform frame

    std::vector<std::unique_ptr<Slot>> slots_;
    std::unique_ptr<Slot> overlay_;

    mutable std::mutex settings_mutex_; // placements, background, overlay parameters
    std::vector<Placement> placements_;
    std::uint32_t background_ = 0;
    bool settings_changed_ = true;
    AlphaBitmapParams overlay_params_;
    bool overlay_shown_ = false;
    std::atomic<bool> frames_changed_{false};
    std::atomic<std::uint64_t> in_place_{0}, converted_{0}, compositions_{0};

    std::mutex compose_mutex_; // one composition at a time; owns every slot's front frame and scratch_
    std::vector<std::uint32_t> scratch_; // a lent frame scaled to its place before it is blended
};

} // namespace kavro::vmr9
