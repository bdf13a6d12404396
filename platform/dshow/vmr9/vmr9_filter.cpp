// The Video Mixing Renderer 9 filter: input pins paced like a display hand their frames to the compositor;
// a display thread composes at every picture tick (25 a second) when something changed and sends the picture
// to the clipping window.
//
// Each input offers its own allocator. A 32-bit top-down source that takes it writes its frames straight into
// memory the compositor reads: the sample is kept (not copied) until a newer frame has replaced it on screen.
// Other layouts, and samples from any other allocator, are converted on hand-over.
#include "platform/dshow/vmr9/vmr9.h"

#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/base/filter.h"
#include "platform/dshow/base/renderer.h"
#include "platform/dshow/internal.h"
#include "platform/ui/gdi.h"
#include "platform/ui/ui.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace kavro::vmr9 {

namespace {

struct SinkSlot {
    std::mutex lock;
    PictureSink fn;
};
SinkSlot& sink_slot() {
    static SinkSlot* s = new SinkSlot; // display threads may still run during static destruction
    return *s;
}

// Every picture goes to the process's sink when one is set, else to the window system's window.
void deliver(std::intptr_t window, const ImageView& picture) {
    PictureSink fn;
    {
        std::lock_guard lock(sink_slot().lock);
        fn = sink_slot().fn;
    }
    if (fn) {
        fn(window, picture);
        return;
    }
    if (window <= 0 || window > std::intptr_t(UINT32_MAX)) return;
    kavro::ui::present_frame(kavro::ui::Hwnd{std::uint32_t(window)}, picture.width, picture.height,
                             picture.pixels, std::ptrdiff_t(picture.stride / 4));
}

// The layout of an uncompressed RGB video type; false for anything else.
bool layout_of(const CMediaType* mt, PixelFormat& format, int& width, int& height, bool& bottom_up) {
    if (!mt || !(mt->majortype == MEDIATYPE_Video) || !(mt->formattype == FORMAT_VideoInfo) || !mt->pbFormat ||
        mt->cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    BITMAPINFOHEADER h;
    std::memcpy(&h, mt->pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof h);
    if (h.biWidth <= 0 || h.biWidth > Compositor::max_dimension || h.biHeight == 0 ||
        h.biHeight < -Compositor::max_dimension || h.biHeight > Compositor::max_dimension)
        return false;
    if (mt->subtype == MEDIASUBTYPE_RGB565 && h.biBitCount == 16 &&
        (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS))
        format = PixelFormat::rgb565;
    else if (mt->subtype == MEDIASUBTYPE_RGB24 && h.biBitCount == 24 && h.biCompression == BI_RGB)
        format = PixelFormat::rgb24;
    else if (mt->subtype == MEDIASUBTYPE_RGB32 && h.biBitCount == 32 && h.biCompression == BI_RGB)
        format = PixelFormat::rgb32;
    else
        return false;
    width = h.biWidth;
    height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    bottom_up = h.biHeight > 0;
    return true;
}

constexpr DWORD default_mixing_prefs = MixerPref9_NoDecimation | MixerPref9_BiLinearFiltering |
                                       MixerPref9_RenderTargetRGB;

// An input's allocator: the buffers the source asked for plus two, because the compositor may keep two samples
// (the frame on screen and the newest one) while the source writes its next frame.
class CFrameAllocator final : public CMemAllocator {
public:
    static constexpr LONG kept_by_compositor = 2;

    CFrameAllocator() : CMemAllocator("mixing renderer input allocator", nullptr, nullptr) {}

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        if (!request || !actual) return E_POINTER;
        ALLOCATOR_PROPERTIES r = *request;
        if (r.cBuffers > 0 && r.cBuffers <= 64) r.cBuffers += kept_by_compositor;
        return CMemAllocator::SetProperties(&r, actual);
    }
};

class CVmr9;

class CVmrInputPin final : public CBaseRendererInputPin {
public:
    CVmrInputPin(CBaseFilter* filter, Presenter& presenter, int stream, CCritSec* lock, HRESULT* phr,
                 const char* name)
        : CBaseRendererInputPin("mixing renderer input", filter, lock, phr, name), presenter_(presenter),
          stream_(stream) {}

    HRESULT CheckMediaType(const CMediaType* mt) override {
        PixelFormat f;
        int w, h;
        bool up;
        return layout_of(mt, f, w, h, up) ? S_OK : E_INVALIDARG;
    }

    HRESULT SetMediaType(const CMediaType* mt) override {
        Layout l;
        if (!layout_of(mt, l.format, l.width, l.height, l.bottom_up)) return E_INVALIDARG;
        const HRESULT hr = CBaseRendererInputPin::SetMediaType(mt);
        if (FAILED(hr)) return hr;
        {
            std::lock_guard lock(layout_mutex_);
            layout_ = l;
        }
        if (stream_ == 0) presenter_.set_reference_size(l.width, l.height);
        return S_OK;
    }

    HRESULT BreakConnect() override {
        const HRESULT hr = CBaseRendererInputPin::BreakConnect();
        {
            std::lock_guard lock(layout_mutex_);
            own_allocator_ = nullptr;
        }
        presenter_.mixer().clear(stream_);
        if (stream_ == 0) presenter_.set_reference_size(0, 0);
        return hr;
    }

    // The input's own allocator, made on first request (a source may still choose another one).
    HRESULT GetAllocator(IMemAllocator** allocator) override {
        if (!allocator) return E_POINTER;
        *allocator = nullptr;
        CAutoLock lock(m_pLock);
        if (!m_pAllocator) {
            auto* a = new (std::nothrow) CFrameAllocator();
            if (!a) return E_OUTOFMEMORY;
            a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&m_pAllocator));
        }
        *allocator = m_pAllocator;
        m_pAllocator->AddRef();
        return S_OK;
    }

    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override {
        const HRESULT hr = CBaseRendererInputPin::NotifyAllocator(allocator, readOnly);
        if (FAILED(hr)) return hr;
        // Samples may be kept only when they come from our own allocator, which has buffers to spare.
        auto* own = dynamic_cast<CFrameAllocator*>(allocator);
        std::lock_guard lock(layout_mutex_);
        own_allocator_ = own;
        return hr;
    }

    HRESULT DoRenderSample(IMediaSample* sample) override {
        Layout l;
        ComPtr<CFrameAllocator> own;
        {
            std::lock_guard lock(layout_mutex_);
            l = layout_;
            if (l.format == PixelFormat::rgb32 && !l.bottom_up) own = own_allocator_;
        }
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
        const LONG size = sample->GetSize();
        LONG length = sample->GetActualDataLength();
        if (length <= 0 || length > size) length = size;
        const FrameView frame{data, std::size_t(length > 0 ? length : 0), l.width, l.height, l.format, l.bottom_up, 0};
        Status status;
        if (own && own->Owns(sample)) {
            // Read where the source wrote it; the sample goes back to the allocator once it is off screen.
            sample->AddRef();
            status = presenter_.mixer().submit_in_place(
                stream_, frame, std::shared_ptr<const void>(sample, [](IMediaSample* s) { s->Release(); }));
        } else {
            status = presenter_.mixer().submit(stream_, frame);
        }
        if (status != Status::ok &&
            !warned_.exchange(true, std::memory_order_relaxed)) { // once per connection
            std::fprintf(stderr, "VMR9: stream %d: sample of %ld bytes is too short for a %dx%d frame; not shown\n",
                         stream_, long(length), l.width, l.height);
        }
        return S_OK;
    }

    HRESULT CompleteConnect(IPin* receive) override {
        warned_.store(false, std::memory_order_relaxed);
        return CBaseRendererInputPin::CompleteConnect(receive);
    }

private:
    struct Layout {
        PixelFormat format = PixelFormat::rgb32;
        int width = 0, height = 0;
        bool bottom_up = true;
    };
    Presenter& presenter_;
    const int stream_;
    std::mutex layout_mutex_; // layout_ and own_allocator_
    Layout layout_;
    ComPtr<CFrameAllocator> own_allocator_; // the connection's allocator when it is ours
    std::atomic<bool> warned_{false};
};

class CVmr9 final : public CBaseFilter,
                    public IVMRFilterConfig9,
                    public IVMRWindowlessControl9,
                    public IVMRMixerControl9,
                    public IVMRMixerBitmap9,
                    public IMixerCounts,
                    public IMixerOutput {
public:
    CVmr9(IUnknown* outer, HRESULT* phr)
        : CBaseFilter("video mixing renderer 9", outer, &m_lock, CLSID_VideoMixingRenderer9, phr),
          presenter_(int(MAX_MIXER_STREAMS)) {
        presenter_.set_sink(deliver);
        const HRESULT hr = add_pins(1);
        if (phr && FAILED(hr)) *phr = hr;
    }

    ~CVmr9() override { stop_display(); }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IVMRFilterConfig9) return GetInterface(static_cast<IVMRFilterConfig9*>(this), object);
        if (riid == IID_IVMRWindowlessControl9)
            return GetInterface(static_cast<IVMRWindowlessControl9*>(this), object);
        if (riid == IID_IVMRMixerControl9) return GetInterface(static_cast<IVMRMixerControl9*>(this), object);
        if (riid == IID_IVMRMixerBitmap9) return GetInterface(static_cast<IVMRMixerBitmap9*>(this), object);
        if (riid == IID_IMixerCounts) return GetInterface(static_cast<IMixerCounts*>(this), object);
        if (riid == IID_IMixerOutput) return GetInterface(static_cast<IMixerOutput*>(this), object);
        return CBaseFilter::NonDelegatingQueryInterface(riid, object);
    }

    int GetPinCount() override { return pin_count_.load(std::memory_order_relaxed); }
    CBasePin* GetPin(int n) override {
        CAutoLock lock(&m_lock);
        return n >= 0 && n < GetPinCount() ? pins_[std::size_t(n)].get() : nullptr;
    }

    HRESULT Pause() override {
        const HRESULT hr = CBaseFilter::Pause();
        if (SUCCEEDED(hr)) start_display();
        return hr;
    }
    HRESULT Run(REFERENCE_TIME start) override {
        const HRESULT hr = CBaseFilter::Run(start);
        if (SUCCEEDED(hr)) start_display();
        return hr;
    }
    HRESULT Stop() override {
        const HRESULT hr = CBaseFilter::Stop();
        stop_display();
        return hr;
    }

    // Paused is complete when every connected input holds its first sample.
    HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) override {
        if (!state) return E_POINTER;
        *state = State();
        if (*state != State_Paused) return S_OK;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
        for (int i = 0; i < GetPinCount(); ++i) {
            auto* pin = static_cast<CVmrInputPin*>(GetPin(i));
            if (!pin || !pin->IsConnected()) continue;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (!pin->WaitReady(DWORD(left.count() > 0 ? left.count() : 0))) return VFW_S_STATE_INTERMEDIATE;
        }
        return S_OK;
    }

    // IVMRFilterConfig9
    HRESULT SetNumberOfStreams(DWORD max) override {
        if (max < 1 || max > MAX_MIXER_STREAMS) return E_INVALIDARG;
        CAutoLock lock(&m_lock);
        if (!IsStopped()) return VFW_E_NOT_STOPPED;
        if (any_connected()) return VFW_E_WRONG_STATE;
        return add_pins(int(max));
    }
    HRESULT SetRenderingMode(DWORD mode) override {
        if (mode != VMR9Mode_Windowed && mode != VMR9Mode_Windowless) return E_INVALIDARG;
        CAutoLock lock(&m_lock);
        if (any_connected()) return VFW_E_WRONG_STATE;
        mode_ = mode;
        return S_OK;
    }

    // IVMRWindowlessControl9
    HRESULT SetVideoPosition(const RECT* source, const RECT* destination) override {
        if (!source && !destination) return E_POINTER;
        PixelRect s, d;
        if (source) s = {source->left, source->top, source->right, source->bottom};
        if (destination) d = {destination->left, destination->top, destination->right, destination->bottom};
        return presenter_.set_video_position(source ? &s : nullptr, destination ? &d : nullptr) ? S_OK
                                                                                                : E_INVALIDARG;
    }
    HRESULT SetVideoClippingWindow(OAHWND window) override {
        presenter_.set_window(window);
        return S_OK;
    }
    HRESULT GetCurrentImage(BYTE** dib) override {
        if (!dib) return E_POINTER;
        *dib = nullptr;
        std::vector<std::uint8_t> image;
        if (!presenter_.current_image(image)) return E_FAIL;
        auto* block = static_cast<BYTE*>(CoTaskMemAlloc(image.size()));
        if (!block) return E_OUTOFMEMORY;
        std::memcpy(block, image.data(), image.size());
        *dib = block;
        return S_OK;
    }

    // IVMRMixerControl9
    HRESULT SetAlpha(DWORD stream, float alpha) override {
        if (!valid_stream(stream)) return E_INVALIDARG;
        if (presenter_.mixer().set_alpha(int(stream), alpha) != Status::ok) return E_INVALIDARG;
        placement_changed();
        return S_OK;
    }
    HRESULT SetZOrder(DWORD stream, DWORD z) override {
        if (!valid_stream(stream)) return E_INVALIDARG;
        if (presenter_.mixer().set_z_order(int(stream), z) != Status::ok) return E_INVALIDARG;
        placement_changed();
        return S_OK;
    }
    HRESULT SetOutputRect(DWORD stream, const VMR9NormalizedRect* rect) override {
        if (!rect) return E_POINTER;
        if (!valid_stream(stream)) return E_INVALIDARG;
        const NormalizedRect r{rect->left, rect->top, rect->right, rect->bottom};
        if (presenter_.mixer().set_output_rect(int(stream), r) != Status::ok) return E_INVALIDARG;
        placement_changed();
        return S_OK;
    }
    HRESULT SetMixingPrefs(DWORD prefs) override {
        prefs_.store(prefs, std::memory_order_relaxed);
        return S_OK;
    }
    HRESULT GetMixingPrefs(DWORD* prefs) override {
        if (!prefs) return E_POINTER;
        *prefs = prefs_.load(std::memory_order_relaxed);
        return S_OK;
    }
    HRESULT GetAlpha(DWORD stream, float* alpha) override {
        if (!alpha) return E_POINTER;
        if (!valid_stream(stream)) return E_INVALIDARG;
        return presenter_.mixer().get_alpha(int(stream), *alpha) == Status::ok ? S_OK : E_INVALIDARG;
    }
    HRESULT GetZOrder(DWORD stream, DWORD* z) override {
        if (!z) return E_POINTER;
        if (!valid_stream(stream)) return E_INVALIDARG;
        std::uint32_t value = 0;
        if (presenter_.mixer().get_z_order(int(stream), value) != Status::ok) return E_INVALIDARG;
        *z = value;
        return S_OK;
    }
    HRESULT GetOutputRect(DWORD stream, VMR9NormalizedRect* rect) override {
        if (!rect) return E_POINTER;
        if (!valid_stream(stream)) return E_INVALIDARG;
        NormalizedRect r{};
        if (presenter_.mixer().get_output_rect(int(stream), r) != Status::ok) return E_INVALIDARG;
        *rect = VMR9NormalizedRect{r.left, r.top, r.right, r.bottom};
        return S_OK;
    }

    // IVMRMixerBitmap9
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) override {
        if (!bitmap) return E_POINTER;
        if (bitmap->dwFlags & VMR9AlphaBitmap_Disable) {
            presenter_.mixer().clear_alpha_bitmap();
            return S_OK;
        }
        // Only a device context of the window system can carry the picture here.
        if (!(bitmap->dwFlags & VMR9AlphaBitmap_hDC) || (bitmap->dwFlags & VMR9AlphaBitmap_EntireDDS) ||
            !bitmap->hdc || !bitmap->hdc->canvas())
            return E_INVALIDARG;
        const kavro::ui::Canvas& canvas = *bitmap->hdc->canvas();
        const std::vector<std::uint32_t>& px = canvas.pixels();
        const FrameView view{reinterpret_cast<const std::uint8_t*>(px.data()), px.size() * 4, canvas.width(),
                             canvas.height(), PixelFormat::rgb32, false, 0};
        AlphaBitmapParams p;
        p.source = {bitmap->rSrc.left, bitmap->rSrc.top, bitmap->rSrc.right, bitmap->rSrc.bottom};
        if (p.source.width() <= 0 || p.source.height() <= 0) return E_INVALIDARG;
        p.destination = {bitmap->rDest.left, bitmap->rDest.top, bitmap->rDest.right, bitmap->rDest.bottom};
        p.alpha = bitmap->fAlpha;
        p.use_colour_key = (bitmap->dwFlags & VMR9AlphaBitmap_SrcColorKey) != 0;
        p.colour_key = bitmap->clrSrcKey;
        return presenter_.mixer().set_alpha_bitmap(view, p) == Status::ok ? S_OK : E_INVALIDARG;
    }

    // IMixerCounts
    HRESULT GetCounts(std::uint64_t* in_place, std::uint64_t* converted, std::uint64_t* compositions) override {
        if (!in_place || !converted || !compositions) return E_POINTER;
        const Compositor::Counts c = presenter_.mixer().counts();
        *in_place = c.in_place;
        *converted = c.converted;
        *compositions = c.compositions;
        return S_OK;
    }

    // IMixerOutput
    HRESULT CopyShownPicture(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                             std::int32_t stride) override {
        if (!pixels) return E_POINTER;
        if (width <= 0 || height <= 0 || stride < width || width > Compositor::max_dimension ||
            height > Compositor::max_dimension)
            return E_INVALIDARG;
        return presenter_.shown_picture(pixels, width, height, std::size_t(stride)) ? S_OK : S_FALSE;
    }

private:
    bool valid_stream(DWORD stream) { return stream < DWORD(GetPinCount()); }

    bool any_connected() {
        for (int i = 0; i < GetPinCount(); ++i)
            if (pins_[std::size_t(i)]->IsConnected()) return true;
        return false;
    }

    // Pins are made once and kept (an application may still hold one); the count says how many are offered.
    HRESULT add_pins(int count) {
        while (int(pins_.size()) < count) {
            const int k = int(pins_.size());
            char name[32];
            std::snprintf(name, sizeof name, "VMR Input%d", k);
            HRESULT hr = S_OK;
            auto pin = std::unique_ptr<CVmrInputPin>(new (std::nothrow)
                                                         CVmrInputPin(this, presenter_, k, &m_lock, &hr, name));
            if (!pin) return E_OUTOFMEMORY;
            if (FAILED(hr)) return hr;
            pins_.push_back(std::move(pin));
        }
        pin_count_.store(count, std::memory_order_relaxed);
        return S_OK;
    }

    void start_display() {
        std::lock_guard lock(display_mutex_);
        if (display_.joinable()) return;
        stop_ = false;
        display_ = std::thread([this] { display_loop(); });
    }

    void stop_display() {
        std::thread t;
        {
            std::lock_guard lock(display_mutex_);
            stop_ = true;
            display_cv_.notify_all();
            t = std::move(display_);
        }
        if (t.joinable()) t.join();
    }

    // A placement changed (output rectangle, alpha, layer): the display shows it without waiting for the
    // next tick, once the burst of changes that makes up one layout has settled.
    void placement_changed() {
        std::lock_guard lock(display_mutex_);
        placement_at_ = display_clock();
        ++placement_changes_;
        display_cv_.notify_all();
    }

    static REFERENCE_TIME display_clock() {
        using namespace std::chrono;
        return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
    }

    // Composes shortly after each picture tick (every second display tick of the inputs, when those holding
    // untimed samples have handed theirs over), and only when something changed. A picture that was late
    // (a busy machine) is followed by the next one at once; more than a whole period behind, the missed ticks
    // are dropped rather than composed in a burst. A placement change is composed 2 ms after the last change
    // of its burst when that comes before the tick (an extra picture; the tick keeps its rhythm).
    void display_loop() {
        using namespace std::chrono;
        constexpr REFERENCE_TIME period = picture_period, settle = UNITS / 500; // tick + 2 ms
        REFERENCE_TIME tick = display_clock() / period * period + period;
        std::uint64_t shown_changes = 0;
        std::unique_lock lock(display_mutex_);
        shown_changes = placement_changes_;
        while (!stop_) {
            const bool early = placement_changes_ != shown_changes && placement_at_ < tick;
            const REFERENCE_TIME due = early ? placement_at_ + settle : tick + settle;
            const REFERENCE_TIME wait = due - display_clock();
            const std::uint64_t seen = placement_changes_;
            // A stop ends the loop; a further change moves the due time: look again.
            if (wait > 0 && display_cv_.wait_for(lock, nanoseconds(wait * 100),
                                                 [&] { return stop_ || placement_changes_ != seen; }))
                continue;
            if (stop_) break;
            shown_changes = placement_changes_;
            lock.unlock();
            presenter_.present();
            lock.lock();
            if (early) continue;
            tick += period;
            const REFERENCE_TIME t = display_clock();
            if (t - tick > period) tick = t / period * period;
        }
    }

    CCritSec m_lock;
    Presenter presenter_;
    std::vector<std::unique_ptr<CVmrInputPin>> pins_; // under m_lock; only ever grows
    std::atomic<int> pin_count_{0};
    DWORD mode_ = VMR9Mode_Windowed;
    std::atomic<DWORD> prefs_{default_mixing_prefs};

    std::mutex display_mutex_;
    std::condition_variable display_cv_;
    std::thread display_;
    bool stop_ = false;
    REFERENCE_TIME placement_at_ = 0;     // when the last placement change came (under display_mutex_)
    std::uint64_t placement_changes_ = 0; // placement changes so far (under display_mutex_)
};

} // namespace

PictureSink set_picture_sink(PictureSink sink) {
    std::lock_guard lock(sink_slot().lock);
    std::swap(sink_slot().fn, sink);
    return sink;
}

HRESULT create_mixing_renderer(IUnknown* outer, REFIID iid, void** object) {
    return kavro::dshow::create_object<CVmr9>(iid, object, outer);
}

} // namespace kavro::vmr9

KAVRO_BUILTIN_CLASS(vmr9, CLSID_VideoMixingRenderer9, kavro::vmr9::create_mixing_renderer)
