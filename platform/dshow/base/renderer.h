// Renderer pacing, shared by every renderer input (null renderer, video renderer, mixing renderer).
//
// A renderer behaves like a display: while running, a time-stamped sample is held in Receive until the
// clock reaches stream start + its start time; a sample that arrives late is rendered at once and a
// quality message goes upstream (IQualityControl::Notify on the connected output pin); a sample without
// time stamps waits for the next display tick (every DisplayPeriod of the steady clock, 50 Hz by
// default). While paused a sample is held until Run (or Stop/flush). Holding the sample is what paces a
// source with a single buffer. Stop and BeginFlush release a held sample at once.
//
// Threads and locks (order: filter.h): Receive and DoRenderSample run on the upstream streaming thread; the
// state changes come on the application thread under the filter's state lock. The pacing lock guards the
// mirrored state, the run start, the flushing and holding flags; Receive waits on it but never holds it while
// it renders or sends a quality message.
#pragma once

#include "platform/dshow/base/filter.h"

#include <condition_variable>
#include <memory>

inline constexpr REFERENCE_TIME DEFAULT_DISPLAY_PERIOD = UNITS / 50;

class CBaseRendererInputPin : public CBaseInputPin {
public:
    CBaseRendererInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                          const char* name);

    // Renders one sample, on the streaming thread, at its time, with no lock of the base classes held. Its
    // result is Receive's (anything but S_OK makes the source stop producing). No default.
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;

    HRESULT Receive(IMediaSample* sample) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT PauseFromRun() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    void SetDisplayPeriod(REFERENCE_TIME period);
    REFERENCE_TIME DisplayPeriod() const { return m_period.load(std::memory_order_relaxed); }
    // Paused with a sample held, or running: what GetState waits for.
    bool IsReady();
    bool WaitReady(DWORD ms);
    // Counters (for statistics and tests).
    LONG FramesRendered() const { return m_rendered.load(std::memory_order_relaxed); }
    LONG QualityMessages() const { return m_qualitySent.load(std::memory_order_relaxed); }

private:
    void SendQuality(IMediaSample* sample, REFERENCE_TIME late, REFERENCE_TIME start);

    std::mutex m_pace; // the pacing lock: guards the five fields below and the wait on m_cv
    std::condition_variable m_cv;
    FILTER_STATE m_state = State_Stopped; // mirrored under m_pace
    REFERENCE_TIME m_runStart = 0;
    bool m_flushing = false;
    bool m_holding = false;
    unsigned m_epoch = 0; // bumped on every state change, wakes waiters
    std::atomic<REFERENCE_TIME> m_period{DEFAULT_DISPLAY_PERIOD};
    std::atomic<LONG> m_rendered{0};
    std::atomic<LONG> m_qualitySent{0};
};

// A renderer with one input pin "In" whose type check and rendering are the filter's.
class CBaseRenderer : public CBaseFilter {
public:
    CBaseRenderer(REFCLSID clsid, const char* objectName, IUnknown* outer, HRESULT* phr);
    ~CBaseRenderer() override;

    // The input pin's hooks, passed to the filter. CheckMediaType: whether "In" takes the type, as the pin's
    // (pins.h): when connecting, for QueryAccept, and for a type change on the streaming thread. No default.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    // As CBaseRendererInputPin::DoRenderSample. No default.
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
    // A type was accepted (connection, under the state lock; or a change, on the streaming thread): prepare
    // for it. A failure refuses it. The default accepts.
    virtual HRESULT SetMediaType(const CMediaType*) { return S_OK; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    // Paused without a sample: waits up to msTimeout, then VFW_S_STATE_INTERMEDIATE.
    HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) override;

    CBaseRendererInputPin* InputPin() { return m_pInputPin.get(); }

protected:
    CCritSec m_InterfaceLock;
    std::unique_ptr<CBaseRendererInputPin> m_pInputPin;
};
