// Small filters for the platform tests: a source of RGB frames with chosen time stamps, a counting
// renderer, and an RGB24 -> RGB32 converter for intelligent connection.
#pragma once

#include "platform/dshow/base/renderer.h"
#include "platform/dshow/base/source.h"
#include "tests/platform/dshow/test_support.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kavro::test {

inline CMediaType video_type(const GUID& subtype, LONG width, LONG height) {
    CMediaType mt;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    std::memset(vih, 0, sizeof *vih);
    vih->bmiHeader.biSize = 40;
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = -height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = subtype == MEDIASUBTYPE_RGB24 ? 24 : subtype == MEDIASUBTYPE_RGB32 ? 32 : 16;
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

enum class Stamps { None, Interval, Stale };

// One output pin "Out" offering one video type; frames are filled with a byte value.
class TestSource : public CSource {
public:
    class Stream : public CSourceStream {
    public:
        Stream(TestSource* f, HRESULT* phr) : CSourceStream("test stream", phr, f, "Out"), owner(f) {}
        HRESULT GetMediaType(CMediaType* mt) override {
            *mt = owner->type;
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* req) override {
            req->cBuffers = 1;
            req->cbBuffer = LONG(owner->type.lSampleSize);
            ALLOCATOR_PROPERTIES actual{};
            return a->SetProperties(req, &actual);
        }
        HRESULT OnThreadCreate() override {
            next = 0;
            return owner->thread_start;
        }
        HRESULT FillBuffer(IMediaSample* s) override {
            BYTE* p = nullptr;
            s->GetPointer(&p);
            std::memset(p, owner->fill, std::size_t(s->GetSize()));
            if (owner->stamps == Stamps::Interval) {
                REFERENCE_TIME a = next, b = next + owner->interval;
                s->SetTime(&a, &b);
                next = b;
            } else if (owner->stamps == Stamps::Stale) {
                REFERENCE_TIME a = 0, b = 1;
                s->SetTime(&a, &b);
            }
            owner->filled.fetch_add(1);
            return S_OK;
        }
        HRESULT Notify(IBaseFilter*, Quality q) override {
            std::lock_guard g(owner->qlock);
            owner->quality.push_back(q);
            return S_OK;
        }
        TestSource* owner;
        REFERENCE_TIME next = 0;
    };

    TestSource(const GUID& subtype, LONG w, LONG h, HRESULT* phr)
        : CSource("test source", nullptr, CLSID_NULL, phr), type(video_type(subtype, w, h)) {
        new Stream(this, phr);
    }
    static ComPtr<IBaseFilter> make(TestSource** self, const GUID& subtype = MEDIASUBTYPE_RGB32, LONG w = 64,
                                    LONG h = 48) {
        HRESULT hr = S_OK;
        auto* s = new TestSource(subtype, w, h, &hr);
        ComPtr<IBaseFilter> f;
        s->NonDelegatingQueryInterface(IID_IBaseFilter, f.put_void());
        if (self) *self = s;
        return f;
    }
    Stream* stream() { return static_cast<Stream*>(m_paStreams[0]); }
    std::vector<Quality> qualities() {
        std::lock_guard g(qlock);
        return quality;
    }

    CMediaType type;
    BYTE fill = 0x5A;
    HRESULT thread_start = S_OK; // what OnThreadCreate answers
    Stamps stamps = Stamps::None;
    REFERENCE_TIME interval = UNITS / 25;
    std::atomic<int> filled{0};
    std::mutex qlock;
    std::vector<Quality> quality;
};

// Counts what it renders and when (clock time minus stream start, against the sample's start).
class TestRenderer : public CBaseRenderer {
public:
    TestRenderer(const GUID& subtype, HRESULT* phr) : CBaseRenderer(CLSID_NULL, "test renderer", nullptr, phr), subtype_(subtype) {}
    static ComPtr<IBaseFilter> make(TestRenderer** self, const GUID& subtype = GUID_NULL) {
        HRESULT hr = S_OK;
        auto* r = new TestRenderer(subtype, &hr);
        ComPtr<IBaseFilter> f;
        r->NonDelegatingQueryInterface(IID_IBaseFilter, f.put_void());
        if (self) *self = r;
        return f;
    }
    HRESULT CheckMediaType(const CMediaType* mt) override {
        if (!(mt->majortype == MEDIATYPE_Video)) return VFW_E_TYPE_NOT_ACCEPTED;
        return subtype_ == GUID_NULL || mt->subtype == subtype_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample* s) override {
        REFERENCE_TIME a, b;
        if (SUCCEEDED(s->GetTime(&a, &b))) {
            ComPtr<IReferenceClock> clock = ComPtr<IReferenceClock>::adopt(GetClockAddRef());
            REFERENCE_TIME now = 0;
            if (clock) clock->GetTime(&now);
            const REFERENCE_TIME early = a - (now - StreamStart());
            REFERENCE_TIME worst = max_early.load();
            while (early > worst && !max_early.compare_exchange_weak(worst, early)) {}
            timed.fetch_add(1);
        }
        BYTE* p = nullptr;
        s->GetPointer(&p);
        last_byte.store(p[0]);
        frames.fetch_add(1);
        return S_OK;
    }
    std::atomic<int> frames{0}, timed{0};
    std::atomic<int> last_byte{-1};
    std::atomic<REFERENCE_TIME> max_early{-UNITS}; // how much earlier than due a sample was rendered, at most

private:
    GUID subtype_;
};

// RGB24 in, RGB32 out, same size.
class Converter : public CBaseFilter {
public:
    class In : public CBaseInputPin {
    public:
        In(Converter* f, HRESULT* phr) : CBaseInputPin("conv in", f, &f->lock_, phr, "In"), c(f) {}
        HRESULT CheckMediaType(const CMediaType* mt) override {
            return mt->majortype == MEDIATYPE_Video && mt->subtype == MEDIASUBTYPE_RGB24 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT Receive(IMediaSample* s) override {
            HRESULT hr = CBaseInputPin::Receive(s);
            if (hr != S_OK) return hr;
            IMediaSample* out = nullptr;
            hr = c->out_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
            if (FAILED(hr)) return hr;
            BYTE *src = nullptr, *dst = nullptr;
            s->GetPointer(&src);
            out->GetPointer(&dst);
            const LONG pixels = s->GetActualDataLength() / 3;
            for (LONG i = 0; i < pixels && (i + 1) * 4 <= out->GetSize(); ++i) {
                dst[4 * i] = src[3 * i];
                dst[4 * i + 1] = src[3 * i + 1];
                dst[4 * i + 2] = src[3 * i + 2];
                dst[4 * i + 3] = 0;
            }
            REFERENCE_TIME a, b;
            if (SUCCEEDED(s->GetTime(&a, &b))) out->SetTime(&a, &b);
            hr = c->out_->Deliver(out);
            out->Release();
            return hr;
        }
        Converter* c;
    };
    class Out : public CBaseOutputPin {
    public:
        Out(Converter* f, HRESULT* phr) : CBaseOutputPin("conv out", f, &f->lock_, phr, "Out"), c(f) {}
        HRESULT GetMediaType(int pos, CMediaType* mt) override {
            if (pos != 0 || !c->in_->IsConnected()) return VFW_S_NO_MORE_ITEMS;
            const auto* v = reinterpret_cast<const VIDEOINFOHEADER*>(c->in_->CurrentMediaType().pbFormat);
            *mt = video_type(MEDIASUBTYPE_RGB32, v->bmiHeader.biWidth, -v->bmiHeader.biHeight);
            return S_OK;
        }
        HRESULT CheckMediaType(const CMediaType* mt) override {
            CMediaType mine;
            if (GetMediaType(0, &mine) != S_OK) return VFW_E_NOT_CONNECTED;
            return mine == *mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* req) override {
            req->cBuffers = 1;
            req->cbBuffer = LONG(m_mt.lSampleSize);
            ALLOCATOR_PROPERTIES actual{};
            return a->SetProperties(req, &actual);
        }
        Converter* c;
    };

    Converter(IUnknown* outer, HRESULT* phr) : CBaseFilter("converter", outer, &lock_, kClsid, phr) {
        in_ = std::make_unique<In>(this, phr);
        out_ = std::make_unique<Out>(this, phr);
    }
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(in_.get()) : n == 1 ? out_.get() : nullptr; }
    static HRESULT create(IUnknown* outer, REFIID iid, void** object) {
        HRESULT hr = S_OK;
        auto* c = new Converter(outer, &hr);
        c->NonDelegatingAddRef();
        hr = c->NonDelegatingQueryInterface(iid, object);
        c->NonDelegatingRelease();
        return hr;
    }
    static constexpr CLSID kClsid = make_guid("C0C0C0C0-1111-2222-3333-444444444444");

private:
    CCritSec lock_;
    std::unique_ptr<In> in_;
    std::unique_ptr<Out> out_;
};

inline ComPtr<IMediaControl> control_of(const ComPtr<IGraphBuilder>& g) {
    ComPtr<IMediaControl> c;
    EXPECT_EQ(g.as(IID_IMediaControl, c), S_OK);
    return c;
}

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

} // namespace kavro::test
