#include "mixer/overlay.h"

#include "platform/ui/gdi.h"

#include <memory>

namespace kavro::mixer {

namespace {
constexpr int kWidth = 768;
constexpr int kHeight = 576;
} // namespace

HRESULT OverlayCallback::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT OverlayCallback::BufferCB(double, BYTE* buffer, LONG length) {
    std::lock_guard lock(state_.lock);
    if (!state_.on) return 0;
    if (state_.alpha <= 0.1f) {
        state_.alpha = 0;
        state_.on = false;
    }
    if (!buffer || length < LONG(kWidth) * kHeight * 4 || !state_.bitmap) return 0;
    // The frame's rows, top first, into the off-screen canvas kept from frame to frame; its black pixels are
    // the transparent key.
    if (!state_.canvas) state_.canvas = std::make_shared<ui::Canvas>(kWidth, kHeight);
    state_.canvas->write_pixels(0, 0, buffer, kWidth, kHeight, std::size_t(kWidth) * 4);
    ui::Dc dc(state_.canvas);
    VMR9AlphaBitmap ab{};
    ab.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
    ab.hdc = &dc;
    ab.rSrc = {0, 0, kWidth, kHeight};
    ab.rDest = {0, 0, 1, 1};
    ab.fAlpha = state_.alpha;
    ab.clrSrcKey = 0;
    ab.dwFilterMode = 0;
    if (SUCCEEDED(state_.bitmap->SetAlphaBitmap(&ab))) ++state_.frames_drawn;
    return 0;
}

} // namespace kavro::mixer
