#include "platform/ui/control_host.h"

#include <map>
#include <mutex>

namespace kavro::ui {

namespace {

// The hosted controls by window; released when their window is destroyed. Part of the window system, which
// is one per process like the windows themselves.
struct Hosts {
    std::mutex lock; // guards controls and observing
    std::map<std::uint32_t, IUnknown*> controls; // each holds a reference
    bool observing = false;
};

Hosts& hosts() {
    static Hosts h;
    return h;
}

// Detaches and releases outside the lock: a control's DetachPane or destructor may use the window system.
void drop(IUnknown* control) {
    if (!control) return;
    IPaneControl* pane = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IPaneControl, reinterpret_cast<void**>(&pane))) && pane) {
        pane->DetachPane();
        pane->Release();
    }
    control->Release();
}

IUnknown* take(Hwnd pane) {
    Hosts& h = hosts();
    std::lock_guard g(h.lock);
    auto it = h.controls.find(pane.value);
    if (it == h.controls.end()) return nullptr;
    IUnknown* control = it->second;
    h.controls.erase(it);
    return control;
}

void observe_destruction() {
    Hosts& h = hosts();
    {
        std::lock_guard g(h.lock);
        if (h.observing) return;
        h.observing = true;
    }
    add_observer([](const Event& e) {
        if (e.kind == Event::Destroyed) drop(take(e.hwnd));
    });
}

} // namespace

HRESULT attach_control(IUnknown* control, Hwnd pane, IUnknown** host) {
    if (host) *host = nullptr;
    if (!control) return E_POINTER;
    if (!is_window(pane)) return E_INVALIDARG;
    IPaneControl* hosted = nullptr;
    if (FAILED(control->QueryInterface(IID_IPaneControl, reinterpret_cast<void**>(&hosted))) || !hosted)
        return E_NOINTERFACE;
    observe_destruction();
    drop(take(pane));
    const HRESULT hr = hosted->AttachPane(pane.value);
    hosted->Release();
    if (FAILED(hr)) return hr;
    control->AddRef();
    IUnknown* previous = nullptr;
    {
        Hosts& h = hosts();
        std::lock_guard g(h.lock);
        IUnknown*& slot = h.controls[pane.value];
        previous = slot; // attached meanwhile from another thread
        slot = control;
    }
    drop(previous);
    if (host) {
        control->AddRef();
        *host = control;
    }
    return S_OK;
}

bool detach_control(Hwnd pane) {
    IUnknown* control = take(pane);
    drop(control);
    return control != nullptr;
}

IUnknown* attached_control(Hwnd pane) {
    Hosts& h = hosts();
    std::lock_guard g(h.lock);
    auto it = h.controls.find(pane.value);
    if (it == h.controls.end()) return nullptr;
    it->second->AddRef();
    return it->second;
}

} // namespace kavro::ui
