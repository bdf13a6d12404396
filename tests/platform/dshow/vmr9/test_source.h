// A live test source for the mixing renderer: one output pin delivering uncompressed RGB frames of a chosen
// layout as fast as downstream takes them, without time stamps. Each frame is drawn by a function of
// (x, y, frame number) giving 0x00RRGGBB for the picture's top-to-bottom rows.
#pragma once

#include "platform/dshow/base/source.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace kavro::test {

inline constexpr CLSID CLSID_TestVideoSource = make_guid("6C1A4E52-0B7E-4D55-9D3B-6A1F2E0C9A11");

struct TestVideoLayout {
    GUID subtype = MEDIASUBTYPE_RGB32;
    int bits = 32;
    int width = 64;
    int height = 48;
    bool bottom_up = true;
    LONG short_by = 0; // the actual data length falls this many bytes short of a frame
    REFERENCE_TIME frame_time = 0; // > 0: samples carry start times n * frame_time (a camera's own rate)
    bool same_picture = false;     // draw the first frame once and copy it after (a cheap source)
};

using PictureFn = std::function<std::uint32_t(int x, int y, int frame)>;

class CTestVideoStream : public CSourceStream {
public:
    CTestVideoStream(HRESULT* phr, CSource* filter, TestVideoLayout layout, PictureFn picture)
        : CSourceStream("test video", phr, filter, "Output"), layout_(layout), picture_(std::move(picture)) {}

    void set_picture(PictureFn picture) {
        std::lock_guard lock(picture_mutex_);
        picture_ = std::move(picture);
    }
    int frames() const { return frames_.load(std::memory_order_relaxed); }

    LONG stride() const { return ((layout_.width * layout_.bits + 31) / 32) * 4; }
    LONG image_bytes() const { return stride() * layout_.height; }

    HRESULT GetMediaType(int position, CMediaType* mt) override {
        if (!mt) return E_POINTER;
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!vih) return E_OUTOFMEMORY;
        std::memset(vih, 0, sizeof *vih);
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = layout_.width;
        vih->bmiHeader.biHeight = layout_.bottom_up ? layout_.height : -layout_.height;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = std::uint16_t(layout_.bits);
        vih->bmiHeader.biCompression = BI_RGB;
        vih->bmiHeader.biSizeImage = DWORD(image_bytes());
        mt->SetType(&MEDIATYPE_Video);
        mt->SetFormatType(&FORMAT_VideoInfo);
        mt->SetTemporalCompression(FALSE);
        mt->SetSubtype(&layout_.subtype);
        mt->SetSampleSize(ULONG(image_bytes()));
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* mt) override {
        if (!mt) return E_POINTER;
        return mt->majortype == MEDIATYPE_Video && mt->subtype == layout_.subtype ? S_OK : E_INVALIDARG;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 1;
        request->cbBuffer = image_bytes();
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (!data || sample->GetSize() < image_bytes()) return E_FAIL;
        const int n = frames_.load(std::memory_order_relaxed);
        PictureFn picture;
        {
            std::lock_guard lock(picture_mutex_);
            picture = picture_;
        }
        if (layout_.frame_time > 0) {
            REFERENCE_TIME start = n * layout_.frame_time, stop = start + layout_.frame_time;
            sample->SetTime(&start, &stop);
        }
        if (layout_.same_picture && !first_.empty()) {
            std::memcpy(data, first_.data(), first_.size());
            sample->SetActualDataLength(image_bytes() - layout_.short_by);
            frames_.fetch_add(1, std::memory_order_relaxed);
            return S_OK;
        }
        const LONG stride_bytes = stride();
        for (int y = 0; y < layout_.height; ++y) {
            BYTE* row = data + std::size_t(stride_bytes) * std::size_t(layout_.bottom_up ? layout_.height - 1 - y : y);
            for (int x = 0; x < layout_.width; ++x) {
                const std::uint32_t c = picture(x, y, n);
                const BYTE r = BYTE(c >> 16), g = BYTE(c >> 8), b = BYTE(c);
                if (layout_.bits == 32) row[4 * x] = b, row[4 * x + 1] = g, row[4 * x + 2] = r, row[4 * x + 3] = 0;
                else if (layout_.bits == 24) row[3 * x] = b, row[3 * x + 1] = g, row[3 * x + 2] = r;
                else {
                    const std::uint16_t v = std::uint16_t((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
                    std::memcpy(row + 2 * x, &v, 2);
                }
            }
        }
        if (layout_.same_picture) first_.assign(data, data + image_bytes());
        sample->SetActualDataLength(image_bytes() - layout_.short_by);
        frames_.fetch_add(1, std::memory_order_relaxed);
        return S_OK;
    }
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

private:
    TestVideoLayout layout_;
    std::mutex picture_mutex_;
    PictureFn picture_;
    std::atomic<int> frames_{0};
    std::vector<BYTE> first_; // streaming thread only
};

class CTestVideoSource : public CSource {
public:
    // A new source with one reference, as an IBaseFilter.
    static IBaseFilter* create(TestVideoLayout layout, PictureFn picture, CTestVideoStream** stream = nullptr) {
        HRESULT hr = S_OK;
        auto* f = new CTestVideoSource(&hr);
        auto* s = new CTestVideoStream(&hr, f, layout, std::move(picture));
        if (stream) *stream = s;
        IBaseFilter* out = nullptr;
        f->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&out));
        return out;
    }

private:
    explicit CTestVideoSource(HRESULT* phr) : CSource("test video source", nullptr, CLSID_TestVideoSource, phr) {}
};

} // namespace kavro::test
