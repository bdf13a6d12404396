#include "mixer/overlay.h"

#include "platform/ui/gdi.h"

#include <cstring>
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
    // The frame's rows, top first, into an off-screen canvas; its black pixels are the transparent key.
    auto canvas = std::make_shared<ui::Canvas>(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        const BYTE* row = buffer + std::size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            std::uint32_t p;
            std::memcpy(&p, row + std::size_t(x) * 4, 4);
            canvas->set_pixel(x, y, 0xFF000000u | (p & 0x00FFFFFFu));
        }
    }
    ui::Dc dc(canvas);
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
