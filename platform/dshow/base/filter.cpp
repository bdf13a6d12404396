#include "platform/dshow/base/filter.h"
#include "platform/com/enum_snapshot.h"

#include <cstring>
#include <vector>

namespace {
using CEnumPins = kavro::com::EnumSnapshot<IEnumPins, IID_IEnumPins, kavro::com::CopyInterface<IPin>>;
} // namespace

CBaseFilter::CBaseFilter(const char* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr)
    : CUnknown(objectName, outer), m_clsid(clsid), m_pLock(lock) {
    if (phr && FAILED(*phr)) return;
}

CBaseFilter::~CBaseFilter() {
    if (m_pClock) {
        m_pClock->Release();
        m_pClock = nullptr;
    }
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT result = S_OK;
    if (m_State.load() != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
    }
    m_State.store(State_Stopped);
    return result;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    const FILTER_STATE was = m_State.load();
    if (was == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State.store(State_Paused);
    if (was == State_Running) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) pin->PauseFromRun();
        }
    }
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart.store(tStart);
    if (m_State.load() == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State.load() != State_Running) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Run(tStart);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State.store(State_Running);
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = m_State.load();
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(m_pLock);
    if (clock) clock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = clock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    CAutoLock lock(m_pLock);
    *clock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

IReferenceClock* CBaseFilter::GetClockAddRef() {
    CAutoLock lock(m_pLock);
    if (m_pClock) m_pClock->AddRef();
    return m_pClock;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    std::vector<ComPtr<IPin>> list;
    {
        CAutoLock lock(m_pLock);
        for (int i = 0; i < GetPinCount(); ++i)
            if (CBasePin* p = GetPin(i)) list.emplace_back(static_cast<IPin*>(p));
    }
    *pins = new CEnumPins(std::move(list));
    (*pins)->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::FindPin(const char* id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    CAutoLock lock(m_pLock);
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* p = GetPin(i);
        if (p && std::strcmp(p->Name(), id) == 0) {
            *pin = static_cast<IPin*>(p);
            (*pin)->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    CAutoLock lock(m_pLock);
    std::strncpy(info->achName, m_filterName.c_str(), sizeof info->achName - 1);
    info->achName[sizeof info->achName - 1] = 0;
    info->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, const char* name) {
    CAutoLock lock(m_pLock);
    m_pGraph = graph;
    m_filterName = graph && name ? name : "";
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(char**) { return E_NOTIMPL; }
