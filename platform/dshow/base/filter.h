// CBaseFilter: IBaseFilter over a set of pins, with the stopped / paused / running states, the reference
// clock and the stream start time. State changes call the connected pins: Active (stopped -> paused),
// Run (-> running), PauseFromRun (running -> paused), Inactive (-> stopped).
//
// Threads of a graph, for every base class:
// - the application thread (the one that builds, starts and stops the graph) calls the IBaseFilter and IPin
//   methods: connection, state changes, enumeration;
// - each source output pin (CSourceStream) runs one worker thread, which fills and delivers samples; the
//   downstream filters' Receive, EndOfStream and flushing calls run on that upstream streaming thread;
// - a property page runs on the thread of its property frame (property_page.h).
//
// Locks, in the only order in which they are ever nested (a lock on the left may be held while one on its
// right is taken, never the other way):
//   graph lock -> a filter's state lock -> a pin's own lock -> an allocator's lock
// - the graph lock: the filter graph's, held while it calls its filters' Stop, Pause, Run and connections;
// - the state lock: the filter's CCritSec (m_pLock, recursive), shared by its pins. Held by Stop, Pause, Run
//   and so while the pins' Active, Inactive, Run and PauseFromRun run; by Connect, ReceiveConnection and
//   Disconnect and so around every connection hook (CheckConnect, CheckMediaType, SetMediaType,
//   CompleteConnect, DecideAllocator, DecideBufferSize, BreakConnect).
// - a pin's own lock, one of: a source stream's command lock (CSourceStream, taken under the state lock by
//   Active and Inactive while they wait for the worker's answer), a renderer input's pacing lock
//   (CBaseRendererInputPin), a transform filter's receive lock (CTransformFilter).
// - an allocator's lock: inside CMemAllocator's own methods only.
// Between two filters: while connecting, the connecting pin's filter lock is held when the receiving pin's is
// taken (ReceiveConnection); while streaming, an upstream filter's locks may be held when a downstream filter's
// are taken (samples go downstream), never the other way (quality messages go upstream with no lock held).
// A source's worker thread never takes its own filter's state lock: its hooks (OnThreadCreate,
// OnThreadStartPlay, FillBuffer, OnThreadDestroy) must not, since Active and Inactive hold it while they wait
// for the worker's answer.
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
    // IMediaFilter. Stop, Pause and Run take the state lock and call the connected pins (see above); a filter
    // that overrides them calls these. Stop calls every pin's Inactive and returns the first failure (the
    // filter is stopped all the same). Pause from stopped returns the first failure of a pin's Active and stays
    // stopped (the graph then calls Stop). Run pauses first when stopped. GetState answers at once (a renderer
    // waits for a sample, see renderer.h).
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

    // The filter's pins, numbered from 0. Called under the state lock, on any thread that enumerates or finds
    // pins or changes the state; must answer at once. GetPin gives null past the last pin (no reference is
    // added: the pin lives as long as the filter).
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
