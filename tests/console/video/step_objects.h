// Stand-ins that log every call the console's video makes on a graph object and can fail any one of them: the
// filter graphs with their media controls, the capture graph builders, the pins they find, and the renderers,
// sensor filter and sample grabber. Each forwards to the platform's real object. The real graph and builders
// only ever see real filters and pins: the stand-ins unwrap what they are given.
#pragma once

#include "outside/capteur_control.h"
#include "platform/com/com_ptr.h"
#include "platform/com/object.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/vmr9/vmr9.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace kavro::test {

// The steps as they happen. The step numbered `fail_at` (from 0) fails instead of running.
struct BuildSteps {
    std::vector<std::string> log;
    int fail_at = -1;
    std::atomic<int> live{0};  // stand-ins not yet destroyed

    // Logs the step; true when it is the one to fail.
    bool fails(std::string what) {
        log.push_back(std::move(what));
        return int(log.size()) - 1 == fail_at;
    }
};

// What a stand-in for a filter or pin answers: the real object it stands for.
inline constexpr IID IID_IStandIn = make_guid("3C0F5E1B-7A2D-4B8E-9F61-0D4C2A7B9E13");
struct IStandIn : IUnknown {
    virtual IUnknown* real() = 0;

protected:
    ~IStandIn() = default;
};

// The real object behind `p` when it is a stand-in, else `p` (no reference added; the stand-in holds one). A
// stand-in's real() is the real object's pointer of the one interface it stands for, so it converts to T.
template <class T>
T* unwrap(T* p) {
    if (!p) return p;
    ComPtr<IStandIn> s;
    if (FAILED(p->QueryInterface(IID_IStandIn, s.put_void()))) return p;
    return static_cast<T*>(static_cast<void*>(s->real()));
}

// Counts itself in the steps' `live` and names its steps "<name> <call>".
class StepObject {
protected:
    StepObject(BuildSteps& steps, std::string name) : steps_(steps), name_(std::move(name) + " ") { ++steps_.live; }
    ~StepObject() { --steps_.live; }
    bool fails(const std::string& what) { return steps_.fails(name_ + what); }
    BuildSteps& steps_;
    std::string name_;
};

// A pin, named "<filter>/<pin>"; the pins it connects to come wrapped too.
class StepPin final : public com::ComObject<com::Implements<IPin, IID_IPin>, com::Implements<IStandIn, IID_IStandIn>>,
                      StepObject {
public:
    StepPin(BuildSteps& steps, ComPtr<IPin> real) : StepObject(steps, name_of(real.get())), real_(std::move(real)) {}

    // The real pin wrapped, or null for null.
    static IPin* wrap(BuildSteps& steps, IPin* real) {
        if (!real) return nullptr;
        IPin* p = new StepPin(steps, ComPtr<IPin>(real));
        p->AddRef();
        real->Release();
        return p;
    }

    IUnknown* real() override { return real_.get(); }
    HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override { return real_->Connect(unwrap(receive), mt); }
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
        return real_->ReceiveConnection(unwrap(connector), mt);
    }
    HRESULT Disconnect() override { return fails("Disconnect") ? E_FAIL : real_->Disconnect(); }
    HRESULT ConnectedTo(IPin** pin) override {
        if (fails("ConnectedTo")) return E_FAIL;
        const HRESULT hr = real_->ConnectedTo(pin);
        if (SUCCEEDED(hr)) *pin = wrap(steps_, *pin);
        return hr;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override { return real_->ConnectionMediaType(mt); }
    HRESULT QueryPinInfo(PIN_INFO* info) override { return fails("QueryPinInfo") ? E_FAIL : real_->QueryPinInfo(info); }
    HRESULT QueryDirection(PIN_DIRECTION* dir) override { return real_->QueryDirection(dir); }
    HRESULT QueryId(char** id) override { return real_->QueryId(id); }
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override { return real_->QueryAccept(mt); }
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override { return real_->EnumMediaTypes(types); }
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override {
        return real_->QueryInternalConnections(pins, count);
    }
    HRESULT EndOfStream() override { return real_->EndOfStream(); }
    HRESULT BeginFlush() override { return real_->BeginFlush(); }
    HRESULT EndFlush() override { return real_->EndFlush(); }
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        return real_->NewSegment(start, stop, rate);
    }

private:
    static std::string name_of(IPin* pin) {
        PIN_INFO p{};
        if (FAILED(pin->QueryPinInfo(&p))) return "?";
        FILTER_INFO f{};
        if (p.pFilter && SUCCEEDED(p.pFilter->QueryFilterInfo(&f)) && f.pGraph) f.pGraph->Release();
        if (p.pFilter) p.pFilter->Release();
        return std::string(f.achName) + "/" + p.achName;
    }
    ComPtr<IPin> real_;
};

// A renderer, sensor filter or sample grabber. Asking for one of its private interfaces is a step (the answer is
// this object, or the real renderer's for the mixer bitmap), and so is each call of them that the console makes
// to set the filter up; the rest forwards.
class StepFilter final
    : public com::ComObject<com::Implements<IBaseFilter, IID_IBaseFilter>, com::Implements<IStandIn, IID_IStandIn>,
                            com::Implements<IVMRFilterConfig9, IID_IVMRFilterConfig9>,
                            com::Implements<IVMRWindowlessControl9, IID_IVMRWindowlessControl9>,
                            com::Implements<IVMRMixerControl9, IID_IVMRMixerControl9>,
                            com::Implements<ICapteurControl, IID_ICapteurControl>,
                            com::Implements<ISampleGrabber, IID_ISampleGrabber>>,
      StepObject {
public:
    StepFilter(BuildSteps& steps, std::string name, ComPtr<IBaseFilter> real)
        : StepObject(steps, std::move(name)), real_(std::move(real)) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        const std::pair<const IID*, const char*> own[] = {
            {&IID_IVMRFilterConfig9, "config"}, {&IID_IVMRWindowlessControl9, "windowless"},
            {&IID_IVMRMixerControl9, "mixer control"}, {&IID_ICapteurControl, "control"},
            {&IID_ISampleGrabber, "control"}};
        for (const auto& [own_iid, what] : own) {
            if (iid != *own_iid) continue;
            if (fails(what) || FAILED(take(iid))) {
                *object = nullptr;
                return E_NOINTERFACE;
            }
            return ComObject::QueryInterface(iid, object);
        }
        if (iid == IID_IVMRMixerBitmap9)  // a step, answered by the real renderer
            return fails("bitmap") ? (*object = nullptr, E_NOINTERFACE) : real_->QueryInterface(iid, object);
        if (iid == IID_IMediaFilter || iid == IID_IPersist) return ComObject::QueryInterface(IID_IBaseFilter, object);
        if (iid == IID_IUnknown || iid == IID_IBaseFilter || iid == IID_IStandIn)
            return ComObject::QueryInterface(iid, object);
        return real_->QueryInterface(iid, object);
    }
    IUnknown* real() override { return real_.get(); }

    // IBaseFilter: forwarded.
    HRESULT GetClassID(CLSID* c) override { return real_->GetClassID(c); }
    HRESULT Stop() override { return real_->Stop(); }
    HRESULT Pause() override { return real_->Pause(); }
    HRESULT Run(REFERENCE_TIME t) override { return real_->Run(t); }
    HRESULT GetState(DWORD ms, FILTER_STATE* s) override { return real_->GetState(ms, s); }
    HRESULT SetSyncSource(IReferenceClock* c) override { return real_->SetSyncSource(c); }
    HRESULT GetSyncSource(IReferenceClock** c) override { return real_->GetSyncSource(c); }
    HRESULT EnumPins(IEnumPins** p) override { return real_->EnumPins(p); }
    HRESULT FindPin(const char* id, IPin** p) override { return real_->FindPin(id, p); }
    HRESULT QueryFilterInfo(FILTER_INFO* i) override { return real_->QueryFilterInfo(i); }
    HRESULT JoinFilterGraph(IFilterGraph* g, const char* n) override { return real_->JoinFilterGraph(g, n); }
    HRESULT QueryVendorInfo(char** i) override { return real_->QueryVendorInfo(i); }

    // The renderer's set-up: steps.
    HRESULT SetNumberOfStreams(DWORD n) override {
        return fails("SetNumberOfStreams") ? E_FAIL : config_->SetNumberOfStreams(n);
    }
    HRESULT SetRenderingMode(DWORD m) override {
        return fails("SetRenderingMode") ? E_FAIL : config_->SetRenderingMode(m);
    }
    HRESULT SetVideoPosition(const RECT* s, const RECT* d) override {
        return fails("SetVideoPosition") ? E_FAIL : windowless_->SetVideoPosition(s, d);
    }
    HRESULT SetVideoClippingWindow(OAHWND w) override {
        return fails("SetVideoClippingWindow") ? E_FAIL : windowless_->SetVideoClippingWindow(w);
    }
    HRESULT GetCurrentImage(BYTE** dib) override { return windowless_->GetCurrentImage(dib); }
    HRESULT SetAlpha(DWORD s, float a) override {
        return fails("SetAlpha " + std::to_string(s)) ? E_FAIL : mixer_->SetAlpha(s, a);
    }
    HRESULT SetZOrder(DWORD s, DWORD z) override {
        return fails("SetZOrder " + std::to_string(s)) ? E_FAIL : mixer_->SetZOrder(s, z);
    }
    HRESULT SetOutputRect(DWORD s, const VMR9NormalizedRect* r) override {
        return fails("SetOutputRect " + std::to_string(s)) ? E_FAIL : mixer_->SetOutputRect(s, r);
    }
    HRESULT SetMixingPrefs(DWORD p) override {
        return fails("SetMixingPrefs") ? E_FAIL : mixer_->SetMixingPrefs(p);
    }
    HRESULT GetMixingPrefs(DWORD* p) override {
        return fails("GetMixingPrefs") ? E_FAIL : mixer_->GetMixingPrefs(p);
    }
    HRESULT GetAlpha(DWORD s, float* a) override { return mixer_->GetAlpha(s, a); }
    HRESULT GetZOrder(DWORD s, DWORD* z) override { return mixer_->GetZOrder(s, z); }
    HRESULT GetOutputRect(DWORD s, VMR9NormalizedRect* r) override {
        return mixer_->GetOutputRect(s, r);
    }

    // The sensor filter's settings: steps; the rest forwarded.
    HRESULT Reserved3() override { return sensor_->Reserved3(); }
    HRESULT Reserved4() override { return sensor_->Reserved4(); }
    HRESULT SetConfig(int i, const SensorChannelRecord* r) override {
        return fails("SetConfig " + std::to_string(i)) ? E_FAIL : sensor_->SetConfig(i, r);
    }
    HRESULT GetConfig(int i, ConsoleSensorChannelRecord* r) override {
        return fails("GetConfig " + std::to_string(i)) ? E_FAIL : sensor_->GetConfig(i, r);
    }
    HRESULT LoopbackBytes(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) override {
        return sensor_->LoopbackBytes(a, b, c, d);
    }
    HRESULT AddressBytes(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) override {
        return sensor_->AddressBytes(a, b, c, d);
    }
    HRESULT GetStatus(int* i, std::int32_t* b, std::int32_t* w1, std::int32_t* w2, std::int32_t* s) override {
        return sensor_->GetStatus(i, b, w1, w2, s);
    }
    HRESULT GetPosition(int* i, float* la, float* lo) override { return sensor_->GetPosition(i, la, lo); }
    HRESULT SetWaypoint(int* r, int w, float* x, float* y) override {
        return sensor_->SetWaypoint(r, w, x, y);
    }
    HRESULT SetRobotValue(int* r, int* v) override { return sensor_->SetRobotValue(r, v); }

    // The sample grabber's set-up: steps.
    HRESULT SetOneShot(BOOL b) override { return fails("SetOneShot") ? E_FAIL : grabber_->SetOneShot(b); }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* t) override {
        return fails("SetMediaType") ? E_FAIL : grabber_->SetMediaType(t);
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* t) override { return grabber_->GetConnectedMediaType(t); }
    HRESULT SetBufferSamples(BOOL b) override {
        return fails("SetBufferSamples") ? E_FAIL : grabber_->SetBufferSamples(b);
    }
    HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override {
        return grabber_->GetCurrentBuffer(size, buffer);
    }
    HRESULT GetCurrentSample(IMediaSample** s) override { return grabber_->GetCurrentSample(s); }
    HRESULT SetCallback(ISampleGrabberCB* cb, LONG which) override {
        return fails("SetCallback") ? E_FAIL : grabber_->SetCallback(cb, which);
    }

private:
    // The real filter's interface `iid`, kept for the calls forwarded to it.
    HRESULT take(REFIID iid) {
        if (iid == IID_IVMRFilterConfig9) return real_.as(iid, config_);
        if (iid == IID_IVMRWindowlessControl9) return real_.as(iid, windowless_);
        if (iid == IID_IVMRMixerControl9) return real_.as(iid, mixer_);
        if (iid == IID_ICapteurControl) return real_.as(iid, sensor_);
        return real_.as(iid, grabber_);
    }

    ComPtr<IBaseFilter> real_;
    ComPtr<IVMRFilterConfig9> config_;
    ComPtr<IVMRWindowlessControl9> windowless_;
    ComPtr<IVMRMixerControl9> mixer_;
    ComPtr<ICapteurControl> sensor_;
    ComPtr<ISampleGrabber> grabber_;
};

// A graph's media control: running the graph is a step; the rest forwards.
class StepControl final : public com::ComObject<com::Implements<IMediaControl, IID_IMediaControl>>, StepObject {
public:
    StepControl(BuildSteps& steps, const std::string& graph, ComPtr<IMediaControl> real)
        : StepObject(steps, graph), real_(std::move(real)) {}
    HRESULT Run() override { return fails("Run") ? E_FAIL : real_->Run(); }
    HRESULT Pause() override { return real_->Pause(); }
    HRESULT Stop() override { return real_->Stop(); }
    HRESULT GetState(LONG ms, OAFilterState* s) override { return real_->GetState(ms, s); }
    HRESULT StopWhenReady() override { return real_->StopWhenReady(); }

private:
    ComPtr<IMediaControl> real_;
};

// A filter graph, "graph N".
class StepGraph final : public com::ComObject<com::Implements<IGraphBuilder, IID_IGraphBuilder>>, StepObject {
public:
    StepGraph(BuildSteps& steps, int n, ComPtr<IGraphBuilder> real)
        : StepObject(steps, "graph " + std::to_string(n)), real_(std::move(real)) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IGraphBuilder || iid == IID_IFilterGraph) {
            *object = static_cast<IGraphBuilder*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_IMediaControl) {
            ComPtr<IMediaControl> real;
            if (fails("media control") || FAILED(real_->QueryInterface(iid, real.put_void()))) {
                *object = nullptr;
                return E_NOINTERFACE;
            }
            return ComPtr<IMediaControl>(new StepControl(steps_, name_.substr(0, name_.size() - 1), real))
                ->QueryInterface(iid, object);
        }
        return real_->QueryInterface(iid, object);
    }
    HRESULT AddFilter(IBaseFilter* f, const char* name) override {
        return fails(std::string("AddFilter ") + name) ? E_FAIL : real_->AddFilter(unwrap(f), name);
    }
    HRESULT RemoveFilter(IBaseFilter* f) override { return fails("RemoveFilter") ? E_FAIL : real_->RemoveFilter(unwrap(f)); }
    HRESULT EnumFilters(IEnumFilters** e) override { return fails("EnumFilters") ? E_FAIL : real_->EnumFilters(e); }
    HRESULT FindFilterByName(const char* name, IBaseFilter** f) override {
        return fails("FindFilterByName") ? E_FAIL : real_->FindFilterByName(name, f);
    }
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        return fails("ConnectDirect") ? E_FAIL : real_->ConnectDirect(unwrap(out), unwrap(in), mt);
    }
    HRESULT Reconnect(IPin* pin) override { return fails("Reconnect") ? E_FAIL : real_->Reconnect(unwrap(pin)); }
    HRESULT Disconnect(IPin* pin) override { return fails("Disconnect") ? E_FAIL : real_->Disconnect(unwrap(pin)); }
    HRESULT SetDefaultSyncSource() override {
        return fails("SetDefaultSyncSource") ? E_FAIL : real_->SetDefaultSyncSource();
    }
    HRESULT Connect(IPin* out, IPin* in) override {
        return fails("Connect") ? E_FAIL : real_->Connect(unwrap(out), unwrap(in));
    }
    HRESULT Render(IPin* out) override { return fails("Render") ? E_FAIL : real_->Render(unwrap(out)); }

private:
    ComPtr<IGraphBuilder> real_;
};

// A capture graph builder, "builder N"; the pins it finds come wrapped.
class StepBuilder final : public com::ComObject<com::Implements<ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2>>,
                          StepObject {
public:
    StepBuilder(BuildSteps& steps, int n, ComPtr<ICaptureGraphBuilder2> real)
        : StepObject(steps, "builder " + std::to_string(n)), real_(std::move(real)) {}

    HRESULT SetFiltergraph(IGraphBuilder* g) override {
        return fails("SetFiltergraph") ? E_FAIL : real_->SetFiltergraph(g);
    }
    HRESULT GetFiltergraph(IGraphBuilder** g) override {
        return fails("GetFiltergraph") ? E_FAIL : real_->GetFiltergraph(g);
    }
    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                         IBaseFilter* sink) override {
        return fails("RenderStream") ? E_FAIL
                                     : real_->RenderStream(category, type, unwrap(source), unwrap(intermediate),
                                                           unwrap(sink));
    }
    HRESULT FindPin(IUnknown* filter, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                    BOOL unconnected, int num, IPin** pin) override {
        if (fails("FindPin")) return E_FAIL;
        const HRESULT hr = real_->FindPin(unwrap(filter), direction, category, type, unconnected, num, pin);
        if (SUCCEEDED(hr)) *pin = StepPin::wrap(steps_, *pin);
        return hr;
    }

private:
    ComPtr<ICaptureGraphBuilder2> real_;
};

} // namespace kavro::test
