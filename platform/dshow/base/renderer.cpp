#include "platform/dshow/base/renderer.h"

#include "platform/com/com_ptr.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

REFERENCE_TIME steady_now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() / 100;
}

// Samples this late or later are reported upstream.
constexpr REFERENCE_TIME LATE_THRESHOLD = UNITS / 100; // 10 ms

} // namespace

CBaseRendererInputPin::CBaseRendererInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock,
                                             HRESULT* phr, const char* name)
    : CBaseInputPin(objectName, filter, lock, phr, name) {}

void CBaseRendererInputPin::SetDisplayPeriod(REFERENCE_TIME period) {
    m_period.store(period > 0 ? period : DEFAULT_DISPLAY_PERIOD, std::memory_order_relaxed);
}

HRESULT CBaseRendererInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;

    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    ComPtr<IReferenceClock> clock = ComPtr<IReferenceClock>::adopt(m_pFilter->GetClockAddRef());

    std::unique_lock lk(m_pace);
    m_holding = true;
    m_cv.notify_all();
    for (;;) {
        if (m_state == State_Stopped || m_flushing) {
            m_holding = false;
            m_cv.notify_all();
            return m_flushing ? S_FALSE : VFW_E_WRONG_STATE;
        }
        if (m_state == State_Paused) {
            // Held until Run, Stop or a flush.
            const unsigned epoch = m_epoch;
            m_cv.wait(lk, [&] { return m_epoch != epoch; });
            continue;
        }
        // Running: wait for the sample's time, or the next display tick for a sample without time.
        const unsigned epoch = m_epoch;
        REFERENCE_TIME wait = 0;
        REFERENCE_TIME late = 0;
        if (timed && clock) {
            REFERENCE_TIME now = 0;
            clock->GetTime(&now);
            const REFERENCE_TIME due = m_runStart + start;
            wait = due - now;
            late = -wait;
        } else {
            const REFERENCE_TIME period = DisplayPeriod();
            const REFERENCE_TIME now = steady_now();
            wait = period - now % period;
        }
        if (wait > 0) {
            const bool changed = m_cv.wait_for(lk, std::chrono::nanoseconds(wait * 100),
                                               [&] { return m_epoch != epoch; });
            if (changed) continue; // state changed while waiting: look again
            if (timed && clock) continue; // re-check against the clock (it need not follow the steady clock)
        }
        m_holding = false;
        lk.unlock();
        if (timed && clock && late > LATE_THRESHOLD) SendQuality(sample, late, start);
        hr = DoRenderSample(sample);
        m_rendered.fetch_add(1, std::memory_order_relaxed);
        return hr;
    }
}

void CBaseRendererInputPin::SendQuality(IMediaSample* sample, REFERENCE_TIME late, REFERENCE_TIME start) {
    (void)sample;
    IPin* connected = GetConnected();
    if (!connected) return;
    ComPtr<IQualityControl> qc;
    if (FAILED(connected->QueryInterface(IID_IQualityControl, qc.put_void())) || !qc) return;
    const REFERENCE_TIME frame = DisplayPeriod();
    Quality q;
    q.Type = Famine;
    // Ask for the rate that would have kept up: frame / (frame + lateness), in thousandths.
    q.Proportion = static_cast<LONG>(1000 * frame / (frame + late));
    if (q.Proportion < 1) q.Proportion = 1;
    q.Late = late;
    q.TimeStamp = start;
    m_qualitySent.fetch_add(1, std::memory_order_relaxed);
    qc->Notify(static_cast<IBaseFilter*>(m_pFilter), q);
}

HRESULT CBaseRendererInputPin::Active() {
    std::lock_guard lk(m_pace);
    m_state = State_Paused;
    ++m_epoch;
    m_cv.notify_all();
    return S_OK;
}

HRESULT CBaseRendererInputPin::Inactive() {
    {
        std::lock_guard lk(m_pace);
        m_state = State_Stopped;
        ++m_epoch;
        m_cv.notify_all();
    }
    return CBaseInputPin::Inactive();
}

HRESULT CBaseRendererInputPin::Run(REFERENCE_TIME tStart) {
    std::lock_guard lk(m_pace);
    m_state = State_Running;
    m_runStart = tStart;
    ++m_epoch;
    m_cv.notify_all();
    return S_OK;
}

HRESULT CBaseRendererInputPin::PauseFromRun() {
    std::lock_guard lk(m_pace);
    m_state = State_Paused;
    ++m_epoch;
    m_cv.notify_all();
    return S_OK;
}

HRESULT CBaseRendererInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    std::lock_guard lk(m_pace);
    m_flushing = true;
    ++m_epoch;
    m_cv.notify_all();
    return S_OK;
}

HRESULT CBaseRendererInputPin::EndFlush() {
    {
        std::lock_guard lk(m_pace);
        m_flushing = false;
        ++m_epoch;
        m_cv.notify_all();
    }
    return CBaseInputPin::EndFlush();
}

bool CBaseRendererInputPin::IsReady() {
    std::lock_guard lk(m_pace);
    return m_state == State_Running || (m_state == State_Paused && m_holding);
}

bool CBaseRendererInputPin::WaitReady(DWORD ms) {
    std::unique_lock lk(m_pace);
    return m_cv.wait_for(lk, std::chrono::milliseconds(ms), [&] {
        return m_state == State_Running || (m_state == State_Paused && m_holding) || m_state == State_Stopped;
    }) && m_state != State_Stopped;
}

// ---------------------------------------------------------------------------------------------------------
// CBaseRenderer

namespace {

class CRendererInputPin final : public CBaseRendererInputPin {
public:
    CRendererInputPin(CBaseRenderer* renderer, CCritSec* lock, HRESULT* phr)
        : CBaseRendererInputPin("renderer input", renderer, lock, phr, "In"), renderer_(renderer) {}
    HRESULT CheckMediaType(const CMediaType* mt) override { return renderer_->CheckMediaType(mt); }
    HRESULT SetMediaType(const CMediaType* mt) override {
        const HRESULT hr = renderer_->SetMediaType(mt);
        return FAILED(hr) ? hr : CBaseRendererInputPin::SetMediaType(mt);
    }
    HRESULT DoRenderSample(IMediaSample* sample) override { return renderer_->DoRenderSample(sample); }

private:
    CBaseRenderer* renderer_;
};

} // namespace

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const char* objectName, IUnknown* outer, HRESULT* phr)
    : CBaseFilter(objectName, outer, &m_InterfaceLock, clsid, phr) {
    HRESULT hr = S_OK;
    m_pInputPin = std::make_unique<CRendererInputPin>(this, &m_InterfaceLock, &hr);
    if (phr && FAILED(hr)) *phr = hr;
}

CBaseRenderer::~CBaseRenderer() = default;

CBasePin* CBaseRenderer::GetPin(int n) { return n == 0 ? m_pInputPin.get() : nullptr; }

HRESULT CBaseRenderer::GetState(DWORD msTimeout, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = State();
    if (*state != State_Paused || !m_pInputPin->IsConnected()) return S_OK;
    if (m_pInputPin->WaitReady(msTimeout)) return S_OK;
    return VFW_S_STATE_INTERMEDIATE;
}
