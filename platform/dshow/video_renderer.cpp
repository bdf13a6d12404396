// The "Video Renderer": uncompressed RGB video described by a VIDEOINFOHEADER, paced like a display, with
// the window settings of IVideoWindow. Frames are shown in the owner window (the window system's frame of
// that window) while it is visible, and handed to the process's frame sink when one is set.
#include "platform/dshow/base/renderer.h"
#include "platform/dshow/internal.h"
#include "platform/dshow/video_window.h"
#include "platform/ui/ui.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace kavro::dshow {

namespace {

struct Sink {
    std::mutex lock;
    VideoFrameSink fn;
};
Sink& sink() {
    static Sink* s = new Sink; // renderers may render during static destruction
    return *s;
}

bool is_rgb(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_RGB555 || subtype == MEDIASUBTYPE_RGB24 ||
           subtype == MEDIASUBTYPE_RGB32;
}

// Converts one frame to 0xFFRRGGBB pixels, top row first. False when the data is shorter than the format says.
bool to_xrgb(const BITMAPINFOHEADER& h, const GUID& subtype, const BYTE* data, std::size_t length,
             std::vector<std::uint32_t>& out) {
    const LONG w = h.biWidth;
    const LONG rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const std::size_t stride = std::size_t((std::int64_t(w) * h.biBitCount + 31) / 32 * 4);
    if (w <= 0 || rows <= 0 || !data || stride * std::size_t(rows) > length) return false;
    out.resize(std::size_t(w) * std::size_t(rows));
    for (LONG y = 0; y < rows; ++y) {
        const BYTE* src = data + stride * std::size_t(h.biHeight < 0 ? y : rows - 1 - y);
        std::uint32_t* dst = out.data() + std::size_t(y) * std::size_t(w);
        for (LONG x = 0; x < w; ++x) {
            std::uint32_t r, g, b;
            if (subtype == MEDIASUBTYPE_RGB32) {
                b = src[4 * x], g = src[4 * x + 1], r = src[4 * x + 2];
            } else if (subtype == MEDIASUBTYPE_RGB24) {
                b = src[3 * x], g = src[3 * x + 1], r = src[3 * x + 2];
            } else {
                const std::uint32_t v = std::uint32_t(src[2 * x]) | std::uint32_t(src[2 * x + 1]) << 8;
                if (subtype == MEDIASUBTYPE_RGB565) {
                    r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
                    r = r << 3 | r >> 2, g = g << 2 | g >> 4, b = b << 3 | b >> 2;
                } else {
                    r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                    r = r << 3 | r >> 2, g = g << 3 | g >> 2, b = b << 3 | b >> 2;
                }
            }
            dst[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return true;
}

class CVideoRenderer final : public CBaseRenderer, public IVideoWindow {
public:
    CVideoRenderer(IUnknown* outer, HRESULT* phr)
        : CBaseRenderer(CLSID_VideoRenderer, "video renderer", outer, phr) {}

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), object);
        return CBaseRenderer::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT CheckMediaType(const CMediaType* mt) override {
        if (!mt) return E_POINTER;
        if (!(mt->majortype == MEDIATYPE_Video) || !is_rgb(mt->subtype)) return E_INVALIDARG;
        if (!(mt->formattype == FORMAT_VideoInfo) || mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
            return E_INVALIDARG;
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
        if (vih->bmiHeader.biWidth <= 0 || vih->bmiHeader.biHeight == 0) return E_INVALIDARG;
        return S_OK;
    }

    HRESULT SetMediaType(const CMediaType* mt) override {
        std::lock_guard g(window_lock_);
        header_ = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
        subtype_ = mt->subtype;
        if (position_.right == 0 && position_.bottom == 0) {
            position_.right = header_.biWidth;
            position_.bottom = header_.biHeight < 0 ? -header_.biHeight : header_.biHeight;
        }
        return S_OK;
    }

    HRESULT DoRenderSample(IMediaSample* sample) override {
        VideoFrame f{};
        BITMAPINFOHEADER header;
        GUID subtype;
        {
            std::lock_guard g(window_lock_);
            f.owner = owner_;
            f.position = position_;
            f.visible = visible_;
            header = header_;
            subtype = subtype_;
        }
        f.format = &header;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        f.data = data;
        f.length = std::size_t(sample->GetActualDataLength());
        f.has_time = SUCCEEDED(sample->GetTime(&f.start, &f.stop));
        if (f.owner && f.visible && to_xrgb(header, subtype, data, f.length, pixels_))
            kavro::ui::present_frame(kavro::ui::Hwnd{std::uint32_t(f.owner)}, header.biWidth,
                                     header.biHeight < 0 ? -header.biHeight : header.biHeight, pixels_.data(),
                                     header.biWidth);
        VideoFrameSink fn;
        {
            std::lock_guard g(sink().lock);
            fn = sink().fn;
        }
        if (fn) fn(f);
        return S_OK;
    }

    // IVideoWindow
    HRESULT put_Owner(OAHWND owner) override {
        std::lock_guard g(window_lock_);
        owner_ = owner;
        return S_OK;
    }
    HRESULT get_Owner(OAHWND* owner) override {
        if (!owner) return E_POINTER;
        std::lock_guard g(window_lock_);
        *owner = owner_;
        return S_OK;
    }
    HRESULT put_WindowStyle(LONG style) override {
        std::lock_guard g(window_lock_);
        style_ = style;
        return S_OK;
    }
    HRESULT get_WindowStyle(LONG* style) override {
        if (!style) return E_POINTER;
        std::lock_guard g(window_lock_);
        *style = style_;
        return S_OK;
    }
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
        if (width < 0 || height < 0) return E_INVALIDARG;
        std::lock_guard g(window_lock_);
        position_ = RECT{left, top, left + width, top + height};
        return S_OK;
    }
    HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
        if (!left || !top || !width || !height) return E_POINTER;
        std::lock_guard g(window_lock_);
        *left = position_.left;
        *top = position_.top;
        *width = position_.right - position_.left;
        *height = position_.bottom - position_.top;
        return S_OK;
    }
    HRESULT put_Visible(LONG visible) override {
        if (visible != OATRUE && visible != OAFALSE) return E_INVALIDARG;
        std::lock_guard g(window_lock_);
        visible_ = visible == OATRUE;
        return S_OK;
    }
    HRESULT get_Visible(LONG* visible) override {
        if (!visible) return E_POINTER;
        std::lock_guard g(window_lock_);
        *visible = visible_ ? OATRUE : OAFALSE;
        return S_OK;
    }

private:
    std::mutex window_lock_;
    OAHWND owner_ = 0;
    LONG style_ = 0;
    RECT position_{0, 0, 0, 0};
    bool visible_ = true;
    BITMAPINFOHEADER header_{};
    GUID subtype_{};
    std::vector<std::uint32_t> pixels_; // streaming thread only
};

} // namespace

VideoFrameSink set_video_frame_sink(VideoFrameSink fn) {
    std::lock_guard g(sink().lock);
    std::swap(sink().fn, fn);
    return fn;
}

HRESULT create_video_renderer(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CVideoRenderer>(iid, object, outer);
}

} // namespace kavro::dshow
