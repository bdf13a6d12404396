// The filter graph manager: filters by name, connections (direct, or through one registered intermediate
// filter), rendering, and the graph's state with its reference clock.
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/com/enum_snapshot.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/internal.h"
#include "platform/dshow/video_window.h"

#include <charconv>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace kavro::dshow {

namespace {

// Stream time 0 lies this far after the clock time at Run, so every filter is running before it.
constexpr REFERENCE_TIME kRunMargin = UNITS / 100; // 10 ms
// How long StopWhenReady waits for the renderers to hold a frame.
constexpr LONG kStopWhenReadyWaitMs = 1000;

std::vector<ComPtr<IPin>> pins_of(IBaseFilter* f) {
    std::vector<ComPtr<IPin>> out;
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.put())) || !e) return out;
    for (;;) {
        IPin* p = nullptr;
        ULONG got = 0;
        if (e->Next(1, &p, &got) != S_OK || got != 1) break;
        out.push_back(ComPtr<IPin>::adopt(p));
    }
    return out;
}

PIN_DIRECTION direction_of(IPin* p) {
    PIN_DIRECTION d = PINDIR_INPUT;
    p->QueryDirection(&d);
    return d;
}

ComPtr<IBaseFilter> owner_of(IPin* p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return nullptr;
    return ComPtr<IBaseFilter>::adopt(info.pFilter);
}

using CEnumFilters =
    kavro::com::EnumSnapshot<IEnumFilters, IID_IEnumFilters, kavro::com::CopyInterface<IBaseFilter>>;

class CFilterGraph final : public CUnknown, public IGraphBuilder, public IMediaControl {
public:
    CFilterGraph(IUnknown* outer, HRESULT* phr) : CUnknown("filter graph", outer) {
        *phr = create_system_clock(nullptr, IID_IReferenceClock, clock_.put_void());
    }

    ~CFilterGraph() override {
        Stop();
        std::lock_guard g(lock_);
        while (!filters_.empty()) RemoveLocked(filters_.back().filter.get());
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
            return GetInterface(static_cast<IGraphBuilder*>(this), object);
        if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, const char* name) override {
        if (!filter) return E_POINTER;
        std::lock_guard g(lock_);
        if (Find(filter)) return VFW_E_DUPLICATE_NAME_FILTER;
        std::string base = name && *name ? name : "Filter";
        std::string unique = base;
        HRESULT result = S_OK;
        for (int n = 1; NameTaken(unique); ++n) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, " %04d", n);
            unique = base + suffix;
            result = VFW_S_DUPLICATE_NAME;
        }
        HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph*>(this), unique.c_str());
        if (FAILED(hr)) return hr;
        filter->SetSyncSource(clock_.get());
        filters_.push_back({ComPtr<IBaseFilter>(filter), unique});
        return result;
    }

    HRESULT RemoveFilter(IBaseFilter* filter) override {
        if (!filter) return E_POINTER;
        std::lock_guard g(lock_);
        if (!Find(filter)) return VFW_E_NOT_FOUND;
        RemoveLocked(filter);
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** out) override {
        if (!out) return E_POINTER;
        std::lock_guard g(lock_);
        std::vector<ComPtr<IBaseFilter>> list;
        for (auto& e : filters_) list.push_back(e.filter);
        *out = new CEnumFilters(std::move(list));
        (*out)->AddRef();
        return S_OK;
    }

    HRESULT FindFilterByName(const char* name, IBaseFilter** filter) override {
        if (!name || !filter) return E_POINTER;
        std::lock_guard g(lock_);
        for (auto& e : filters_)
            if (e.name == name) {
                *filter = e.filter.get();
                (*filter)->AddRef();
                return S_OK;
            }
        *filter = nullptr;
        return VFW_E_NOT_FOUND;
    }

    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
        if (!out || !in) return E_POINTER;
        std::lock_guard g(lock_);
        return ConnectDirectLocked(out, in, mt);
    }

    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }

    HRESULT Disconnect(IPin* pin) override {
        if (!pin) return E_POINTER;
        std::lock_guard g(lock_);
        return pin->Disconnect();
    }

    HRESULT SetDefaultSyncSource() override { return S_OK; }

    // IGraphBuilder
    HRESULT Connect(IPin* out, IPin* in) override {
        if (!out || !in) return E_POINTER;
        std::lock_guard g(lock_);
        return ConnectLocked(out, in);
    }

    HRESULT Render(IPin* out) override {
        if (!out) return E_POINTER;
        std::lock_guard g(lock_);
        if (direction_of(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
        ComPtr<IPin> already;
        if (SUCCEEDED(out->ConnectedTo(already.put()))) return VFW_E_ALREADY_CONNECTED;
        ComPtr<IBaseFilter> own = owner_of(out);
        // A renderer already in the graph (a filter with inputs and no outputs) with a free input.
        for (auto& e : std::vector<Entry>(filters_)) {
            if (e.filter == own) continue;
            auto pins = pins_of(e.filter.get());
            bool has_output = false;
            for (auto& p : pins) has_output = has_output || direction_of(p.get()) == PINDIR_OUTPUT;
            if (has_output) continue;
            for (auto& p : pins) {
                ComPtr<IPin> c;
                if (direction_of(p.get()) != PINDIR_INPUT || SUCCEEDED(p->ConnectedTo(c.put()))) continue;
                if (SUCCEEDED(ConnectLocked(out, p.get()))) return S_OK;
            }
        }
        ComPtr<IBaseFilter> renderer;
        HRESULT hr = CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      renderer.put_void());
        if (FAILED(hr)) return hr;
        hr = AddFilter(renderer.get(), "Video Renderer");
        if (FAILED(hr)) return hr;
        for (auto& p : pins_of(renderer.get()))
            if (direction_of(p.get()) == PINDIR_INPUT && SUCCEEDED(ConnectLocked(out, p.get()))) return S_OK;
        RemoveLocked(renderer.get());
        return VFW_E_CANNOT_RENDER;
    }

    // IMediaControl
    HRESULT Run() override {
        std::lock_guard g(lock_);
        if (state_ == State_Running) return S_OK;
        const REFERENCE_TIME resume_at = state_ == State_Paused ? paused_at_ : -1;
        if (state_ == State_Stopped) {
            const HRESULT hr = Each([](IBaseFilter* f) { return f->Pause(); });
            if (FAILED(hr)) {
                Each([](IBaseFilter* f) { return f->Stop(); });
                return hr;
            }
            state_ = State_Paused;
        }
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        // After a pause the stream time goes on from where it stopped.
        const REFERENCE_TIME start = now + kRunMargin - (resume_at >= 0 ? resume_at : 0);
        paused_at_ = -1;
        const HRESULT hr = Each([start](IBaseFilter* f) { return f->Run(start); });
        if (FAILED(hr)) {
            Each([](IBaseFilter* f) { return f->Stop(); });
            state_ = State_Stopped;
            return hr;
        }
        stream_start_ = start;
        state_ = State_Running;
        return S_OK;
    }

    HRESULT Pause() override {
        std::lock_guard g(lock_);
        if (state_ == State_Running) {
            REFERENCE_TIME now = 0;
            clock_->GetTime(&now);
            paused_at_ = now - stream_start_;
        }
        const HRESULT hr = Each([](IBaseFilter* f) { return f->Pause(); });
        if (FAILED(hr)) {
            Each([](IBaseFilter* f) { return f->Stop(); });
            state_ = State_Stopped;
            return hr;
        }
        state_ = State_Paused;
        return S_OK;
    }

    HRESULT Stop() override {
        std::lock_guard g(lock_);
        const HRESULT hr = Each([](IBaseFilter* f) { return f->Stop(); }, true);
        state_ = State_Stopped;
        paused_at_ = -1;
        return hr;
    }

    HRESULT GetState(LONG msTimeout, OAFilterState* state) override {
        if (!state) return E_POINTER;
        std::lock_guard g(lock_);
        *state = state_;
        HRESULT result = S_OK;
        for (auto& f : Ordered()) {
            FILTER_STATE fs;
            const HRESULT hr = f->GetState(msTimeout < 0 ? 0 : DWORD(msTimeout), &fs);
            if (FAILED(hr)) return hr;
            if (hr == VFW_S_STATE_INTERMEDIATE) result = hr;
        }
        return result;
    }

    HRESULT StopWhenReady() override {
        std::lock_guard g(lock_);
        if (state_ == State_Stopped) return S_OK;
        if (state_ == State_Running) {
            const HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        OAFilterState s;
        GetState(kStopWhenReadyWaitMs, &s);
        return Stop();
    }

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::string name;
    };

    static constexpr HRESULT VFW_E_DUPLICATE_NAME_FILTER = static_cast<HRESULT>(0x80040226u);

    bool Find(IBaseFilter* f) const {
        return std::any_of(filters_.begin(), filters_.end(), [f](const Entry& e) { return e.filter.get() == f; });
    }
    bool NameTaken(const std::string& n) const {
        return std::any_of(filters_.begin(), filters_.end(), [&n](const Entry& e) { return e.name == n; });
    }

    void RemoveLocked(IBaseFilter* filter) {
        ComPtr<IBaseFilter> keep(filter);
        FILTER_STATE fs;
        if (SUCCEEDED(filter->GetState(0, &fs)) && fs != State_Stopped) filter->Stop();
        for (auto& p : pins_of(filter)) {
            ComPtr<IPin> other;
            if (SUCCEEDED(p->ConnectedTo(other.put())) && other) {
                // The other side's filter may still run: stop it to change its connection.
                ComPtr<IBaseFilter> of = owner_of(other.get());
                if (of && SUCCEEDED(of->GetState(0, &fs)) && fs != State_Stopped) of->Stop();
                other->Disconnect();
                p->Disconnect();
            }
        }
        filter->JoinFilterGraph(nullptr, nullptr);
        filter->SetSyncSource(nullptr);
        filters_.erase(std::remove_if(filters_.begin(), filters_.end(),
                                      [filter](const Entry& e) { return e.filter.get() == filter; }),
                       filters_.end());
    }

    HRESULT ConnectDirectLocked(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
        if (direction_of(out) != PINDIR_OUTPUT || direction_of(in) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
        return out->Connect(in, mt);
    }

    HRESULT ConnectLocked(IPin* out, IPin* in) {
        const HRESULT direct = ConnectDirectLocked(out, in, nullptr);
        if (SUCCEEDED(direct) || direct == VFW_E_ALREADY_CONNECTED || direct == VFW_E_NOT_STOPPED ||
            direct == VFW_E_INVALID_DIRECTION)
            return direct;
        // Through one registered intermediate filter that graph building may use.
        for (const CLSID& clsid : Intermediates()) {
            ComPtr<IBaseFilter> mid;
            if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, mid.put_void())))
                continue;
            std::string name = FriendlyName(clsid);
            if (FAILED(AddFilter(mid.get(), name.c_str()))) continue;
            bool done = false;
            for (auto& mi : pins_of(mid.get())) {
                if (direction_of(mi.get()) != PINDIR_INPUT) continue;
                if (FAILED(out->Connect(mi.get(), nullptr))) continue;
                for (auto& mo : pins_of(mid.get())) {
                    if (direction_of(mo.get()) != PINDIR_OUTPUT) continue;
                    if (SUCCEEDED(mo->Connect(in, nullptr))) {
                        done = true;
                        break;
                    }
                }
                if (done) break;
                mi->Disconnect();
                out->Disconnect();
            }
            if (done) return S_OK;
            RemoveLocked(mid.get());
        }
        return direct;
    }

    // Registered filters with a merit above MERIT_DO_NOT_USE, and the platform's own (the JPEG decoder), highest
    // merit first.
    std::vector<CLSID> Intermediates() {
        ComPtr<ICreateDevEnum> devenum;
        std::vector<std::pair<DWORD, CLSID>> found;
        ComPtr<IEnumMoniker> e;
        if (SUCCEEDED(create_device_enum(nullptr, IID_ICreateDevEnum, devenum.put_void())) &&
            devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, e.put(), 0) == S_OK && e)
            RegisteredIntermediates(e.get(), found);
        for (const BuiltinFilterRegistration& b : builtin_filter_registrations())
            if (b.merit > MERIT_DO_NOT_USE &&
                std::none_of(found.begin(), found.end(), [&](const auto& f) { return f.second == b.clsid; }))
                found.push_back({b.merit, b.clsid});
        std::stable_sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first > b.first; });
        std::vector<CLSID> out;
        for (auto& f : found) out.push_back(f.second);
        return out;
    }

    static void RegisteredIntermediates(IEnumMoniker* e, std::vector<std::pair<DWORD, CLSID>>& found) {
        for (;;) {
            IMoniker* m = nullptr;
            ULONG got = 0;
            if (e->Next(1, &m, &got) != S_OK || got != 1) break;
            ComPtr<IMoniker> mon = ComPtr<IMoniker>::adopt(m);
            ComPtr<IPropertyBag> bag;
            if (FAILED(mon->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()))) continue;
            char text[64];
            if (FAILED(bag->Read("Merit", text, sizeof text))) continue;
            DWORD merit = 0;
            std::from_chars(text, text + std::strlen(text), merit); // no number: 0, never used
            if (merit <= MERIT_DO_NOT_USE) continue;
            if (FAILED(bag->Read("CLSID", text, sizeof text))) continue;
            if (auto g = guid_from_string(text)) found.push_back({merit, *g});
        }
    }

    std::string FriendlyName(REFCLSID clsid) {
        for (const BuiltinFilterRegistration& b : builtin_filter_registrations())
            if (b.clsid == clsid) return b.name;
        ComPtr<ICreateDevEnum> devenum;
        if (FAILED(create_device_enum(nullptr, IID_ICreateDevEnum, devenum.put_void()))) return "Filter";
        ComPtr<IEnumMoniker> e;
        if (devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, e.put(), 0) != S_OK || !e) return "Filter";
        for (;;) {
            IMoniker* m = nullptr;
            ULONG got = 0;
            if (e->Next(1, &m, &got) != S_OK || got != 1) break;
            ComPtr<IMoniker> mon = ComPtr<IMoniker>::adopt(m);
            ComPtr<IPropertyBag> bag;
            if (FAILED(mon->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()))) continue;
            char id[64], name[128];
            if (SUCCEEDED(bag->Read("CLSID", id, sizeof id)) && guid_from_string(id) == clsid &&
                SUCCEEDED(bag->Read("FriendlyName", name, sizeof name)))
                return name;
        }
        return "Filter";
    }

    // The filters ordered downstream first: each filter comes after every filter its outputs feed.
    std::vector<ComPtr<IBaseFilter>> Ordered() {
        std::vector<ComPtr<IBaseFilter>> out;
        std::set<IBaseFilter*> placed;
        std::vector<ComPtr<IBaseFilter>> pending;
        for (auto& e : filters_) pending.push_back(e.filter);
        while (!pending.empty()) {
            bool progress = false;
            for (auto it = pending.begin(); it != pending.end();) {
                bool ready = true;
                for (auto& p : pins_of(it->get())) {
                    if (direction_of(p.get()) != PINDIR_OUTPUT) continue;
                    ComPtr<IPin> c;
                    if (FAILED(p->ConnectedTo(c.put())) || !c) continue;
                    ComPtr<IBaseFilter> down = owner_of(c.get());
                    if (down && Find(down.get()) && !placed.count(down.get())) ready = false;
                }
                if (ready) {
                    placed.insert(it->get());
                    out.push_back(*it);
                    it = pending.erase(it);
                    progress = true;
                } else {
                    ++it;
                }
            }
            if (!progress) { // a loop: take the rest as they are
                for (auto& f : pending) out.push_back(f);
                break;
            }
        }
        return out;
    }

    template <class Fn>
    HRESULT Each(Fn fn, bool all = false) {
        HRESULT result = S_OK;
        for (auto& f : Ordered()) {
            const HRESULT hr = fn(f.get());
            if (FAILED(hr)) {
                if (!all) return hr;
                if (SUCCEEDED(result)) result = hr;
            }
        }
        return result;
    }

    std::recursive_mutex lock_;
    std::vector<Entry> filters_;
    ComPtr<IReferenceClock> clock_;
    OAFilterState state_ = State_Stopped;
    REFERENCE_TIME stream_start_ = 0; // clock time of stream time 0 while running
    REFERENCE_TIME paused_at_ = -1;   // stream time reached when paused from running
};

} // namespace

HRESULT create_filter_graph(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CFilterGraph>(iid, object, outer);
}

} // namespace kavro::dshow
