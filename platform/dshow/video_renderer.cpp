// The "Video Renderer": uncompressed RGB video described by a VIDEOINFOHEADER, paced like a display, with
// the window settings of IVideoWindow. Frames go to the process's frame sink.
#include "platform/dshow/base/renderer.h"
#include "platform/dshow/internal.h"
#include "platform/dshow/video_window.h"

#include <mutex>

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
        if (position_.right == 0 && position_.bottom == 0) {
            position_.right = header_.biWidth;
            position_.bottom = header_.biHeight < 0 ? -header_.biHeight : header_.biHeight;
        }
        return S_OK;
    }

    HRESULT DoRenderSample(IMediaSample* sample) override {
        VideoFrameSink fn;
        {
            std::lock_guard g(sink().lock);
            fn = sink().fn;
        }
        if (!fn) return S_OK;
        VideoFrame f{};
        BITMAPINFOHEADER header;
        {
            std::lock_guard g(window_lock_);
            f.owner = owner_;
            f.position = position_;
            f.visible = visible_;
            header = header_;
        }
        f.format = &header;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        f.data = data;
        f.length = std::size_t(sample->GetActualDataLength());
        f.has_time = SUCCEEDED(sample->GetTime(&f.start, &f.stop));
        fn(f);
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
