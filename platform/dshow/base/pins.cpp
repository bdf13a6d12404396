#include "platform/dshow/base/pins.h"

#include "platform/com/com_ptr.h"
#include "platform/com/enum_snapshot.h"
#include "platform/com/runtime.h"
#include "platform/dshow/base/filter.h"

#include <cstring>
#include <vector>

namespace {

void copy_name(char (&out)[128], const std::string& name) {
    std::strncpy(out, name.c_str(), sizeof out - 1);
    out[sizeof out - 1] = 0;
}

// The media types of a pin, as GetMediaType gives them when the enumerator is made; Next hands out copies
// made with CoTaskMemAlloc.
struct MediaTypeCopies {
    using Stored = CMediaType;
    using Item = AM_MEDIA_TYPE*;
    static AM_MEDIA_TYPE* copy(const CMediaType& type) { return CreateMediaType(&type); }
};
using CEnumMediaTypes = kavro::com::EnumSnapshot<IEnumMediaTypes, IID_IEnumMediaTypes, MediaTypeCopies>;

} // namespace

// ---------------------------------------------------------------------------------------------------------
// CBasePin

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, const char* name,
                   PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr), m_name(name ? name : ""), m_dir(direction), m_pLock(lock), m_pFilter(filter) {}

CBasePin::~CBasePin() {
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), object);
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), object);
    if (riid == IID_IUnknown) return GetInterface(static_cast<IPin*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

bool CBasePin::IsStopped() const { return m_pFilter->IsStopped(); }

HRESULT CBasePin::Connect(IPin* receive, const AM_MEDIA_TYPE* pmt) {
    if (!receive) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    CMediaType partial;
    if (pmt) partial = *pmt;
    const HRESULT hr = AgreeMediaType(receive, pmt ? &partial : nullptr);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* receive, const CMediaType* partial) {
    // A fully specified type is tried alone.
    if (partial && !partial->IsPartiallySpecified()) return AttemptConnection(receive, partial);
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    // The receiving pin's types first, then ours.
    for (int side = 0; side < 2; ++side) {
        ComPtr<IEnumMediaTypes> types;
        const HRESULT hr = side == 0 ? receive->EnumMediaTypes(types.put()) : EnumMediaTypes(types.put());
        if (FAILED(hr) || !types) continue;
        const HRESULT r = TryMediaTypes(receive, partial, types.get());
        if (SUCCEEDED(r)) return r;
        if (r != VFW_E_NO_ACCEPTABLE_TYPES) last = r;
    }
    return last;
}

HRESULT CBasePin::TryMediaTypes(IPin* receive, const CMediaType* partial, IEnumMediaTypes* types) {
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    types->Reset();
    for (;;) {
        AM_MEDIA_TYPE* mt = nullptr;
        ULONG got = 0;
        if (types->Next(1, &mt, &got) != S_OK || got != 1) break;
        CMediaType candidate(*mt);
        DeleteMediaType(mt);
        if (partial && !candidate.MatchesPartial(partial)) continue;
        const HRESULT hr = AttemptConnection(receive, &candidate);
        if (SUCCEEDED(hr)) return hr;
        last = hr;
    }
    return last;
}

HRESULT CBasePin::AttemptConnection(IPin* receive, const CMediaType* mt) {
    HRESULT hr = CheckConnect(receive);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(mt);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_Connected = receive;
    m_Connected->AddRef();
    hr = SetMediaType(mt);
    if (SUCCEEDED(hr)) {
        hr = receive->ReceiveConnection(static_cast<IPin*>(this), mt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receive);
            if (SUCCEEDED(hr)) return S_OK;
            receive->Disconnect();
        }
    }
    BreakConnect();
    m_Connected->Release();
    m_Connected = nullptr;
    FreeMediaType(m_mt);
    m_mt.InitMediaType();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
    if (!connector || !pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    CMediaType mt(*pmt);
    hr = CheckMediaType(&mt);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_Connected = connector;
    m_Connected->AddRef();
    hr = SetMediaType(&mt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(connector);
        if (SUCCEEDED(hr)) return S_OK;
    }
    BreakConnect();
    m_Connected->Release();
    m_Connected = nullptr;
    FreeMediaType(m_mt);
    m_mt.InitMediaType();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!m_Connected) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    FreeMediaType(m_mt);
    m_mt.InitMediaType();
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pin = m_Connected;
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        std::memset(mt, 0, sizeof *mt);
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(mt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = m_pFilter;
    if (m_pFilter) m_pFilter->AddRef();
    info->dir = m_dir;
    copy_name(info->achName, m_name);
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(char** id) {
    if (!id) return E_POINTER;
    *id = static_cast<char*>(CoTaskMemAlloc(m_name.size() + 1));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, m_name.c_str(), m_name.size() + 1);
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    CMediaType t(*mt);
    const HRESULT hr = CheckMediaType(&t);
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    std::vector<CMediaType> types;
    for (int i = 0;; ++i) {
        CMediaType mt;
        if (GetMediaType(i, &mt) != S_OK) break;
        types.push_back(mt);
    }
    *out = new CEnumMediaTypes(std::move(types));
    (*out)->AddRef();
    return S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    m_tStart = start;
    m_tStop = stop;
    m_dRate = rate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter* self, Quality q) {
    if (m_pQSink) return m_pQSink->Notify(self, q);
    return E_NOTIMPL;
}

HRESULT CBasePin::SetSink(IQualityControl* sink) {
    m_pQSink = sink;
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT CBasePin::SetMediaType(const CMediaType* mt) {
    m_mt = *mt;
    return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION d;
    const HRESULT hr = pin->QueryDirection(&d);
    if (FAILED(hr)) return hr;
    return d == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }
HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }
HRESULT CBasePin::PauseFromRun() { return S_OK; }

// ---------------------------------------------------------------------------------------------------------
// CBaseOutputPin

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                               const char* name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_OUTPUT) {}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    return FAILED(hr) ? E_NOINTERFACE : S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) { return DecideAllocator(m_pInputPin, &m_pAllocator); }

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
    auto* a = new CMemAllocator("allocator", nullptr, nullptr);
    return a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
    if (!pin || !allocator) return E_POINTER;
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request{};
    pin->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) request.cbAlign = 1;

    HRESULT hr = pin->GetAllocator(allocator);
    if (SUCCEEDED(hr) && *allocator) {
        hr = DecideBufferSize(*allocator, &request);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(*allocator, FALSE);
            if (SUCCEEDED(hr)) return S_OK;
        }
    }
    if (*allocator) {
        (*allocator)->Release();
        *allocator = nullptr;
    }
    hr = InitAllocator(allocator);
    if (FAILED(hr)) return hr;
    hr = DecideBufferSize(*allocator, &request);
    if (SUCCEEDED(hr)) {
        hr = pin->NotifyAllocator(*allocator, FALSE);
        if (SUCCEEDED(hr)) return S_OK;
    }
    (*allocator)->Release();
    *allocator = nullptr;
    return hr;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                          DWORD flags) {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(sample, start, end, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}
HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}
HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}
HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(start, stop, rate);
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

// ---------------------------------------------------------------------------------------------------------
// CBaseInputPin

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                             const char* name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), object);
    return CBasePin::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pAllocator) {
        const HRESULT hr = (new CMemAllocator("input allocator", nullptr, nullptr))
                               ->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                             reinterpret_cast<void**>(&m_pAllocator));
        if (FAILED(hr)) return hr;
    }
    *allocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (!allocator) return E_POINTER;
    CAutoLock lock(m_pLock);
    allocator->AddRef();
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = allocator;
    m_bReadOnly = readOnly != FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (IsFlushing()) return S_FALSE;
    if (m_bRunTimeError.load(std::memory_order_relaxed)) return E_FAIL;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        CMediaType mt(*changed);
        DeleteMediaType(changed);
        if (CheckMediaType(&mt) != S_OK) return VFW_E_INVALIDMEDIATYPE;
        CAutoLock lock(m_pLock);
        SetMediaType(&mt);
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::BeginFlush() {
    m_bFlushing.store(true, std::memory_order_relaxed);
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    m_bFlushing.store(false, std::memory_order_relaxed);
    m_bRunTimeError.store(false, std::memory_order_relaxed);
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError.store(false, std::memory_order_relaxed);
    m_bFlushing.store(false, std::memory_order_relaxed);
    if (m_pAllocator) m_pAllocator->Decommit();
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}
