// CBaseFilter: IBaseFilter over a set of pins, with the stopped / paused / running states, the reference
// clock and the stream start time. State changes call the connected pins: Active (stopped -> paused),
// Run (-> running), PauseFromRun (running -> paused), Inactive (-> stopped).
#pragma once

#include "platform/dshow/base/pins.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/interfaces.h"

#include <atomic>
#include <string>

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    CBaseFilter(const char* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override; // IBaseFilter, IMediaFilter, IPersist

    // IPersist
    HRESULT GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(const char* id, IPin** pin) override; // by pin name
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) override; // the graph is not AddRef'd
    HRESULT QueryVendorInfo(char** info) override;                          // E_NOTIMPL

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;

    FILTER_STATE State() const { return m_State.load(std::memory_order_relaxed); }
    bool IsStopped() const { return State() == State_Stopped; }
    bool IsActive() const { return State() != State_Stopped; }
    // The stream start given to Run (clock time of stream time 0).
    REFERENCE_TIME StreamStart() const { return m_tStart.load(std::memory_order_relaxed); }
    // The clock with a reference (null when none).
    IReferenceClock* GetClockAddRef();
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    CCritSec* pStateLock() const { return m_pLock; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr; // holds a reference; under m_pLock
    std::atomic<REFERENCE_TIME> m_tStart{0};
    CLSID m_clsid;
    CCritSec* m_pLock;
    std::string m_filterName;
    IFilterGraph* m_pGraph = nullptr;
};
