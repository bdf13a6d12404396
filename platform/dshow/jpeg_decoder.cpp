// The JPEG decoder filter: a thin filter around JpegFrameDecoder, which decodes each Motion JPEG sample into the
// output buffer.
#include "platform/dshow/jpeg_decoder.h"

#include "platform/dshow/base/transform.h"
#include "platform/dshow/internal.h"
#include "platform/dshow/jpeg_frame.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kavro::dshow {

namespace {

// Default picture size when the input type has no format block.
constexpr int kDefaultWidth = 768, kDefaultHeight = 576;

bool input_size(const CMediaType* mt, int& width, int& height) {
    if (!mt || !(mt->majortype == MEDIATYPE_Video) || !(mt->subtype == MEDIASUBTYPE_MJPG)) return false;
    width = kDefaultWidth;
    height = kDefaultHeight;
    if (mt->formattype == FORMAT_VideoInfo && mt->pbFormat && mt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        BITMAPINFOHEADER h;
        std::memcpy(&h, mt->pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof h);
        width = h.biWidth;
        height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    }
    return width > 0 && height > 0 && width <= kMaxJpegDimension && height <= kMaxJpegDimension;
}

class CJpegDecoder final : public CTransformFilter, public IJpegDecoderStats {
public:
    CJpegDecoder(IUnknown* outer, HRESULT* phr) : CTransformFilter("JPEG decoder", outer, CLSID_JpegDecoder) {
        if (phr && (!m_pInput || !m_pOutput)) *phr = E_OUTOFMEMORY;
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IJpegDecoderStats) return GetInterface(static_cast<IJpegDecoderStats*>(this), object);
        return CTransformFilter::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT GetCounts(LONG* decoded, LONG* dropped) override {
        if (!decoded || !dropped) return E_POINTER;
        *decoded = decoded_.load(std::memory_order_relaxed);
        *dropped = dropped_.load(std::memory_order_relaxed);
        return S_OK;
    }

    HRESULT CheckInputType(const CMediaType* in) override {
        int w, h;
        return input_size(in, w, h) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        int w, h;
        if (!input_size(in, w, h)) return VFW_E_TYPE_NOT_ACCEPTED;
        if (!(out->majortype == MEDIATYPE_Video) || !(out->subtype == MEDIASUBTYPE_RGB32) ||
            !(out->formattype == FORMAT_VideoInfo) || !out->pbFormat || out->cbFormat < sizeof(VIDEOINFOHEADER))
            return VFW_E_TYPE_NOT_ACCEPTED;
        BITMAPINFOHEADER h2;
        std::memcpy(&h2, out->pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof h2);
        return h2.biWidth == w && h2.biHeight == -h && h2.biBitCount == 32 && h2.biCompression == BI_RGB
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT GetMediaType(int position, CMediaType* out) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        int w, h;
        if (!input_size(&m_pInput->CurrentMediaType(), w, h)) return VFW_E_NOT_CONNECTED;
        auto* vi = reinterpret_cast<VIDEOINFOHEADER*>(out->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!vi) return E_OUTOFMEMORY;
        std::memset(vi, 0, sizeof *vi);
        vi->AvgTimePerFrame = UNITS / 25;
        vi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vi->bmiHeader.biWidth = w;
        vi->bmiHeader.biHeight = -h; // top-down
        vi->bmiHeader.biPlanes = 1;
        vi->bmiHeader.biBitCount = 32;
        vi->bmiHeader.biCompression = BI_RGB;
        vi->bmiHeader.biSizeImage = DWORD(w) * DWORD(h) * 4;
        out->SetType(&MEDIATYPE_Video);
        out->SetSubtype(&MEDIASUBTYPE_RGB32);
        out->SetFormatType(&FORMAT_VideoInfo);
        out->SetTemporalCompression(FALSE);
        out->SetSampleSize(vi->bmiHeader.biSizeImage);
        return S_OK;
    }

    HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override {
        if (dir == PINDIR_INPUT) input_size(mt, width_, height_);
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        if (!allocator || !request) return E_POINTER;
        request->cBuffers = std::max<LONG>(request->cBuffers, 1);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, LONG(width_) * height_ * 4);
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < LONG(width_) * height_ * 4 ? E_FAIL : S_OK;
    }

    HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst)) || !src || !dst) return E_POINTER;
        const LONG length = in->GetActualDataLength();
        const std::size_t bytes = std::size_t(width_) * height_ * 4;
        if (length <= 0 || out->GetSize() < LONG(bytes)) return Drop(jpeg::Status::bad_argument);
        const jpeg::Status st = core_.decode(std::span<const std::uint8_t>(src, std::size_t(length)), dst,
                                             std::size_t(out->GetSize()), width_, height_);
        if (st != jpeg::Status::ok) return Drop(st);
        out->SetActualDataLength(LONG(bytes));
        out->SetSyncPoint(TRUE);
        decoded_.fetch_add(1, std::memory_order_relaxed);
        return S_OK;
    }

private:
    // Counts the dropped sample and says so on stderr, at most once every 5 s.
    HRESULT Drop(jpeg::Status why) {
        const LONG n = dropped_.fetch_add(1, std::memory_order_relaxed) + 1;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_report_ >= std::chrono::seconds(5)) {
            last_report_ = now;
            std::fprintf(stderr, "JPEG decoder: frame dropped (%s), %ld so far\n", jpeg::status_text(why), long(n));
        }
        return S_FALSE;
    }

    int width_ = kDefaultWidth, height_ = kDefaultHeight; // set on connection, under the filter lock
    JpegFrameDecoder core_;                               // streaming thread only
    std::chrono::steady_clock::time_point last_report_{}; // streaming thread only
    std::atomic<LONG> decoded_{0}, dropped_{0};
};

} // namespace

HRESULT create_jpeg_decoder(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CJpegDecoder>(iid, object, outer);
}

} // namespace kavro::dshow
