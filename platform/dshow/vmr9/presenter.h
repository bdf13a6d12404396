// The display side of the mixing renderer: where the composed picture goes (a window, through a sink), which
// part of the composition is shown in which part of the window (the video position), and the current image as
// a device-independent bitmap for snapshots. Plain C++; the renderer filter wraps it in its COM interfaces.
#pragma once

#include "platform/dshow/vmr9/compositor.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kavro::vmr9 {

// Receives each composed picture for a window (0 when none was given), on the renderer's display thread. The
// pixels are valid during the call only.
using PictureSink = std::function<void(std::intptr_t window, const ImageView& picture)>;

class Presenter {
public:
    explicit Presenter(int streams);

    Compositor& mixer() { return mixer_; }
    const Compositor& mixer() const { return mixer_; }

    void set_sink(PictureSink sink);
    void set_window(std::intptr_t window);
    std::intptr_t window() const;

    // Source: part of the native video (pixels of the reference stream); destination: part of the window's
    // client area. A null argument keeps the current value. Refused (false): a source that is empty or lies
    // outside the native video, a destination with negative size.
    bool set_video_position(const PixelRect* source, const PixelRect* destination);
    void video_position(PixelRect& source, PixelRect& destination) const;

    // Native size: the reference stream's (stream 0) connection format; until there is one, its frames.
    void set_reference_size(int width, int height);
    bool native_size(int& width, int& height) const;

    // Composes and hands the picture to the sink when something changed since the last picture, or always
    // when forced. False when there is nowhere to show it (no sink, empty destination).
    bool present(bool force = false);

    // The composition at the native size as a packed bitmap: 40-byte header (32 bits, bottom-up rows) then
    // the rows. False while the native size is unknown.
    bool current_image(std::vector<std::uint8_t>& dib);

    // The picture last handed to the sink, scaled (nearest pixel) to width x height, 32-bit rows top first,
    // `stride` pixels apart, into `out`. What a display output cabled back into a capture input carries; no
    // composition of its own. False while no picture has been shown, or for an unusable target.
    bool shown_picture(std::uint32_t* out, int width, int height, std::size_t stride);

private:
    Viewport viewport_for(const PixelRect& source, const PixelRect& destination, int ref_w, int ref_h) const;

    Compositor mixer_;
    mutable std::mutex mutex_; // the settings below
    PictureSink sink_;
    std::intptr_t window_ = 0;
    PixelRect source_{};      // empty: the whole native video
    PixelRect destination_{}; // empty: nothing shown
    int ref_w_ = 0, ref_h_ = 0;
    bool position_changed_ = false;

    std::mutex present_mutex_; // one picture at a time; owns the buffer
    std::vector<std::uint32_t> picture_;
    int shown_w_ = 0, shown_h_ = 0; // size of the picture last handed to the sink (0: none yet)
    std::vector<int> column_of_;     // shown_picture's column map from a picture column_source_ wide
    int column_source_ = 0;
};

} // namespace kavro::vmr9
