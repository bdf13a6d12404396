#include "console/video/overlay.h"

namespace kavro::console {

bool overlay_frame_alpha(OverlayState& state, float& alpha) {
    if (!state.enabled.load(std::memory_order_relaxed)) return false;
    alpha = state.alpha.load(std::memory_order_relaxed);
    if (alpha <= 0.1f) {
        state.alpha.store(0.0f, std::memory_order_relaxed);
        state.enabled.store(false, std::memory_order_relaxed);
    }
    return true;
}

MyCallback::MyCallback(OverlayState& state, IVMRMixerBitmap9* bitmap)
    : state_(state), bitmap_(bitmap), canvas_(std::make_shared<ui::Canvas>(kOverlayWidth, kOverlayHeight)) {
    if (bitmap_) bitmap_->AddRef();
}

MyCallback::~MyCallback() {
    if (bitmap_) bitmap_->Release();
}

HRESULT MyCallback::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT MyCallback::BufferCB(double, BYTE* buffer, LONG length) {
    float alpha = 0;
    if (!overlay_frame_alpha(state_, alpha)) return 0;
    constexpr std::size_t kBytes = std::size_t(kOverlayWidth) * kOverlayHeight * 4;
    if (!buffer || !bitmap_ || length < 0 || std::size_t(length) < kBytes) return 0;

    // The picture into the off-screen canvas, rows top first, as the device context shows it.
    canvas_->write_pixels(0, 0, buffer, kOverlayWidth, kOverlayHeight, std::size_t(kOverlayWidth) * 4);
    ui::Dc dc(canvas_);
    VMR9AlphaBitmap ab{};
    ab.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
    ab.hdc = &dc;
    ab.rSrc = RECT{0, 0, kOverlayWidth, kOverlayHeight};
    ab.rDest = VMR9NormalizedRect{0.0f, 0.0f, 1.0f, 1.0f};
    ab.fAlpha = alpha;
    ab.clrSrcKey = 0x000000;  // black is transparent
    if (SUCCEEDED(bitmap_->SetAlphaBitmap(&ab))) drawn_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

} // namespace kavro::console
