#include "platform/dshow/base/transform.h"

#include <new>

// ---- input pin ----

CTransformInputPin::CTransformInputPin(CTransformFilter* filter, HRESULT* phr)
    : CBaseInputPin("transform input", filter, filter->pStateLock(), phr, "In"), m_pTransform(filter) {}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    return m_pTransform->CheckInputType(mt);
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
    const HRESULT hr = CBaseInputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransform->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::BreakConnect() {
    m_pTransform->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return m_pTransform->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream() {
    CTransformOutputPin* out = m_pTransform->OutputPin();
    return out->IsConnected() ? out->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    CTransformOutputPin* out = m_pTransform->OutputPin();
    return out->IsConnected() ? out->DeliverBeginFlush() : S_OK;
}

HRESULT CTransformInputPin::EndFlush() {
    CBaseInputPin::EndFlush();
    CTransformOutputPin* out = m_pTransform->OutputPin();
    return out->IsConnected() ? out->DeliverEndFlush() : S_OK;
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    CTransformOutputPin* out = m_pTransform->OutputPin();
    return out->IsConnected() ? out->DeliverNewSegment(start, stop, rate) : S_OK;
}

// ---- output pin ----

CTransformOutputPin::CTransformOutputPin(CTransformFilter* filter, HRESULT* phr)
    : CBaseOutputPin("transform output", filter, filter->pStateLock(), phr, "Out"), m_pTransform(filter) {}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
    if (!m_pTransform->InputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    CTransformInputPin* in = m_pTransform->InputPin();
    if (!in->IsConnected()) return VFW_E_NOT_CONNECTED;
    return m_pTransform->CheckTransform(&in->CurrentMediaType(), mt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mt) {
    const HRESULT hr = CBaseOutputPin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransform->SetMediaType(PINDIR_OUTPUT, mt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* mt) {
    if (!mt) return E_POINTER;
    if (!m_pTransform->InputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
    return m_pTransform->GetMediaType(position, mt);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    return m_pTransform->DecideBufferSize(allocator, request);
}

HRESULT CTransformOutputPin::BreakConnect() {
    m_pTransform->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
    // Lateness downstream is the upstream source's concern: pass it on.
    IPin* upstream = m_pTransform->InputPin()->GetConnected();
    if (!upstream) return E_NOTIMPL;
    IQualityControl* qc = nullptr;
    if (FAILED(upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&qc))) || !qc)
        return E_NOTIMPL;
    const HRESULT hr = qc->Notify(m_pTransform, q);
    qc->Release();
    return hr;
}

// ---- filter ----

CTransformFilter::CTransformFilter(const char* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &m_csFilter, clsid) {
    HRESULT hr = S_OK;
    m_pInput.reset(new (std::nothrow) CTransformInputPin(this, &hr));
    m_pOutput.reset(new (std::nothrow) CTransformOutputPin(this, &hr));
}

CTransformFilter::~CTransformFilter() = default;

CBasePin* CTransformFilter::GetPin(int n) {
    if (n == 0) return m_pInput.get();
    if (n == 1) return m_pOutput.get();
    return nullptr;
}

HRESULT CTransformFilter::Pause() {
    CAutoLock lock(&m_csFilter);
    if (IsStopped() && m_pInput->IsConnected() && m_pOutput->IsConnected()) {
        const HRESULT hr = StartStreaming();
        if (FAILED(hr)) return hr;
    }
    return CBaseFilter::Pause();
}

HRESULT CTransformFilter::Stop() {
    CAutoLock lock(&m_csFilter);
    if (IsStopped()) return S_OK;
    // Deactivating the pins decommits the output allocator, so a Receive waiting for a buffer returns; then
    // the receive lock waits for the sample in progress.
    const HRESULT hr = CBaseFilter::Stop();
    CAutoLock receiving(&m_csReceive);
    StopStreaming();
    return hr;
}

HRESULT CTransformFilter::Receive(IMediaSample* in) {
    CAutoLock lock(&m_csReceive);
    if (!m_pOutput->IsConnected()) return S_OK; // nothing to feed: the sample is consumed
    IMediaSample* out = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr) || !out) return IsStopped() ? VFW_E_WRONG_STATE : hr;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = in->GetTime(&start, &stop);
    if (timed == S_OK)
        out->SetTime(&start, &stop);
    else if (timed == VFW_S_NO_STOP_TIME)
        out->SetTime(&start, nullptr);
    else
        out->SetTime(nullptr, nullptr);
    out->SetSyncPoint(in->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
    out->SetPreroll(in->IsPreroll() == S_OK);
    hr = Transform(in, out);
    if (hr == S_OK) hr = m_pOutput->Deliver(out);
    else if (hr == S_FALSE) hr = S_OK;
    out->Release();
    return hr;
}
