// The sensor overlay of the composite: the sample-grabber callback `MyCallback` lays every picture of the
// sensor filter over the whole composite, black transparent, at the overlay alpha.
#pragma once

#include "platform/dshow/grabber.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/gdi.h"

#include <atomic>
#include <memory>

namespace kavro::console {

// The sensor filter's pictures: 768 x 576, 32 bits, rows top first.
inline constexpr int kOverlayWidth = 768;
inline constexpr int kOverlayHeight = 576;

// The overlay alpha and its switch, written by the remote layout command and the window thread, read (and
// switched off) by the sensor filter's streaming thread.
struct OverlayState {
    std::atomic<float> alpha{0.0f};
    std::atomic<bool> enabled{false};
};

// The overlay is switched off once its alpha has fallen to 0.1 or below; the comparison is made in single
// precision, so an alpha of exactly 0.1f switches it off. Answers whether the frame at hand is drawn (it is,
// also when this frame switches the overlay off), and the alpha to draw it with.
bool overlay_frame_alpha(OverlayState& state, float& alpha);

// Owned by the video panes (created by the build, deleted by the release); reference counting does nothing.
// BufferCB runs on the sensor filter's streaming thread.
class MyCallback final : public ISampleGrabberCB {
public:
    // `bitmap` is the composite renderer's mixer bitmap; the callback keeps its own reference.
    MyCallback(OverlayState& state, IVMRMixerBitmap9* bitmap);
    ~MyCallback();

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return 0; }
    // A picture shorter than 768 x 576 x 4 bytes is not drawn (nothing is read past the buffer).
    HRESULT BufferCB(double time, BYTE* buffer, LONG length) override;

    // Pictures handed to the renderer so far (for tests).
    int drawn() const { return drawn_.load(std::memory_order_relaxed); }

private:
    OverlayState& state_;
    IVMRMixerBitmap9* bitmap_;
    std::shared_ptr<ui::Canvas> canvas_;  // the streaming thread's only; reused from picture to picture
    std::atomic<int> drawn_{0};
};

} // namespace kavro::console
