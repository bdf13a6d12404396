// The sample grabber: an in-place filter. Its input accepts the media type it was given (any when none),
// every sample goes to the callback (and, when asked, into a kept copy) and then on downstream unchanged.
#include "platform/com/com_ptr.h"
#include "platform/dshow/base/filter.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/internal.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace kavro::dshow {

namespace {

class CSampleGrabber;

class CGrabberInput final : public CBaseInputPin {
public:
    CGrabberInput(CSampleGrabber* f, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT Receive(IMediaSample* sample) override;

private:
    CSampleGrabber* grabber_;
};

class CGrabberOutput final : public CBaseOutputPin {
public:
    CGrabberOutput(CSampleGrabber* f, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    CSampleGrabber* grabber_;
};

class CSampleGrabber final : public CBaseFilter, public ISampleGrabber {
public:
    CSampleGrabber(IUnknown* outer, HRESULT* phr)
        : CBaseFilter("sample grabber", outer, &lock_, CLSID_SampleGrabber, phr),
          input_(std::make_unique<CGrabberInput>(this, &lock_, phr)),
          output_(std::make_unique<CGrabberOutput>(this, &lock_, phr)) {}

    ~CSampleGrabber() override {
        if (callback_) callback_->Release();
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_ISampleGrabber) return GetInterface(static_cast<ISampleGrabber*>(this), object);
        return CBaseFilter::NonDelegatingQueryInterface(riid, object);
    }

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override {
        return n == 0 ? static_cast<CBasePin*>(input_.get()) : n == 1 ? output_.get() : nullptr;
    }

    // ISampleGrabber
    HRESULT SetOneShot(BOOL oneShot) override {
        std::lock_guard g(grab_lock_);
        one_shot_ = oneShot != FALSE;
        shot_done_ = false;
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        std::lock_guard g(grab_lock_);
        if (!type) {
            accepted_.reset();
            return S_OK;
        }
        accepted_ = std::make_unique<CMediaType>(*type);
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        return input_->ConnectionMediaType(type);
    }
    HRESULT SetBufferSamples(BOOL bufferThem) override {
        std::lock_guard g(grab_lock_);
        buffer_samples_ = bufferThem != FALSE;
        if (!buffer_samples_) kept_.clear();
        has_kept_ = false;
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override {
        if (!size) return E_POINTER;
        std::lock_guard g(grab_lock_);
        if (!has_kept_) return VFW_E_WRONG_STATE;
        const LONG needed = static_cast<LONG>(kept_.size());
        if (!buffer) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) return E_OUTOFMEMORY;
        std::memcpy(buffer, kept_.data(), kept_.size());
        *size = needed;
        return S_OK;
    }
    HRESULT GetCurrentSample(IMediaSample**) override { return E_NOTIMPL; }
    HRESULT SetCallback(ISampleGrabberCB* callback, LONG which) override {
        if (which != 0 && which != 1) return E_INVALIDARG;
        std::lock_guard g(grab_lock_);
        if (callback) callback->AddRef();
        if (callback_) callback_->Release();
        callback_ = callback;
        which_ = which;
        return S_OK;
    }

    // The input's type rule.
    HRESULT Accepts(const CMediaType* mt) {
        std::lock_guard g(grab_lock_);
        if (!accepted_) return S_OK;
        if (!(accepted_->majortype == GUID_NULL) && !(mt->majortype == accepted_->majortype)) return VFW_E_TYPE_NOT_ACCEPTED;
        if (!(accepted_->subtype == GUID_NULL) && !(mt->subtype == accepted_->subtype)) return VFW_E_TYPE_NOT_ACCEPTED;
        if (!(accepted_->formattype == GUID_NULL) && !(mt->formattype == accepted_->formattype))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT Grab(IMediaSample* sample) {
        ISampleGrabberCB* cb = nullptr;
        LONG which = 0;
        {
            std::lock_guard g(grab_lock_);
            if (one_shot_ && shot_done_) return S_FALSE;
            shot_done_ = true;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const LONG length = sample->GetActualDataLength();
            if (buffer_samples_ && data) {
                kept_.assign(data, data + length);
                has_kept_ = true;
            }
            cb = callback_;
            which = which_;
            if (cb) cb->AddRef();
        }
        if (cb) {
            REFERENCE_TIME start = 0, stop = 0;
            const double t = SUCCEEDED(sample->GetTime(&start, &stop)) ? double(start + StreamStart()) / UNITS : 0.0;
            if (which == 0) {
                cb->SampleCB(t, sample);
            } else {
                BYTE* data = nullptr;
                sample->GetPointer(&data);
                cb->BufferCB(t, data, sample->GetActualDataLength());
            }
            cb->Release();
        }
        if (output_->IsConnected()) {
            const HRESULT hr = output_->Deliver(sample);
            if (FAILED(hr)) return hr;
        }
        std::lock_guard g(grab_lock_);
        return one_shot_ ? S_FALSE : S_OK;
    }

    CGrabberInput* Input() { return input_.get(); }

private:
    CCritSec lock_;
    std::unique_ptr<CGrabberInput> input_;
    std::unique_ptr<CGrabberOutput> output_;
    std::mutex grab_lock_;
    std::unique_ptr<CMediaType> accepted_;
    ISampleGrabberCB* callback_ = nullptr;
    LONG which_ = 0;
    bool one_shot_ = false, shot_done_ = false;
    bool buffer_samples_ = false, has_kept_ = false;
    std::vector<BYTE> kept_;
};

CGrabberInput::CGrabberInput(CSampleGrabber* f, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("grabber input", f, lock, phr, "Input"), grabber_(f) {}

HRESULT CGrabberInput::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    return grabber_->Accepts(mt);
}

HRESULT CGrabberInput::Receive(IMediaSample* sample) {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return grabber_->Grab(sample);
}

CGrabberOutput::CGrabberOutput(CSampleGrabber* f, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("grabber output", f, lock, phr, "Output"), grabber_(f) {}

HRESULT CGrabberOutput::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    // Samples pass through unchanged: the output carries the input's type.
    if (!grabber_->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
    return *mt == grabber_->Input()->CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CGrabberOutput::GetMediaType(int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0 || !grabber_->Input()->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *mt = grabber_->Input()->CurrentMediaType();
    return S_OK;
}

HRESULT CGrabberOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    // The samples delivered are the upstream ones; this allocator only completes the connection.
    ALLOCATOR_PROPERTIES want = *request, actual{};
    want.cBuffers = 1;
    want.cbBuffer = 1;
    return allocator->SetProperties(&want, &actual);
}

} // namespace

HRESULT create_sample_grabber(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CSampleGrabber>(iid, object, outer);
}

} // namespace kavro::dshow
