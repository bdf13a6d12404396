// Creation functions of kavro_dshow's built-in classes.
#pragma once

#include "platform/com/com.h"

#include <new>
#include <span>
#include <utility>

namespace kavro::dshow {
HRESULT create_system_clock(IUnknown* outer, REFIID iid, void** object);
HRESULT create_filter_graph(IUnknown* outer, REFIID iid, void** object);
HRESULT create_capture_graph_builder(IUnknown* outer, REFIID iid, void** object);
HRESULT create_device_enum(IUnknown* outer, REFIID iid, void** object);
HRESULT create_null_renderer(IUnknown* outer, REFIID iid, void** object);
HRESULT create_video_renderer(IUnknown* outer, REFIID iid, void** object);
HRESULT create_sample_grabber(IUnknown* outer, REFIID iid, void** object);
HRESULT create_jpeg_decoder(IUnknown* outer, REFIID iid, void** object);

// The platform's own filters that graph building may insert between two pins, as if registered in the filter
// category with their merit (a registry entry with the same CLSID takes their place).
struct BuiltinFilterRegistration {
    const char* name;
    CLSID clsid;
    DWORD merit;
};
std::span<const BuiltinFilterRegistration> builtin_filter_registrations();

// Creates a CUnknown-derived object and asks it for iid (the object goes away when that fails).
template <class T, class... Args>
HRESULT create_object(REFIID iid, void** object, Args&&... args) {
    if (!object) return E_POINTER;
    *object = nullptr;
    HRESULT hr = S_OK;
    T* obj = new (std::nothrow) T(std::forward<Args>(args)..., &hr);
    if (!obj) return E_OUTOFMEMORY;
    obj->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = obj->NonDelegatingQueryInterface(iid, object);
    obj->NonDelegatingRelease();
    return hr;
}
} // namespace kavro::dshow
