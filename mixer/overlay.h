// The sensor overlay: each 768 x 576 RGB32 frame of the sensor branch, handed to the mixing renderer as its
// colour-keyed alpha bitmap (black is transparent) at the overlay's opacity.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/gdi.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace kavro::mixer {

// What the callback reads on the streaming thread, under its own lock (never the graph's).
struct OverlayState {
    std::mutex lock;
    float alpha = 0;                 // the overlay's opacity
    bool on = true;                  // drawn at all
    ComPtr<IVMRMixerBitmap9> bitmap; // where it is drawn; null while there is no graph
    std::uint64_t frames_drawn = 0;
    std::shared_ptr<ui::Canvas> canvas; // the picture handed over, reused from frame to frame
};

// The sample grabber's callback. Lives as long as the state it points to; reference counting does nothing.
class OverlayCallback final : public ISampleGrabberCB {
public:
    explicit OverlayCallback(OverlayState& state) : state_(state) {}

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return 0; }
    // On the streaming thread, once per sensor frame. Off: nothing. An alpha of 0.1 or less switches the
    // overlay off after this frame, which is still drawn (fully transparent). A buffer shorter than one frame
    // is not drawn.
    HRESULT BufferCB(double sample_time, BYTE* buffer, LONG length) override;

private:
    OverlayState& state_;
};

} // namespace kavro::mixer
