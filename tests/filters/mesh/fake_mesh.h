// A filter with the mesh filter's interfaces for the property page's tests, and the page's class made
// creatable by CLSID from the objects linked into the test.
#pragma once

#include "filters/mesh/mesh_prop.h"

#include "platform/com/com_ptr.h"
#include "platform/com/property_pages.h"
#include "platform/com/runtime.h"

#include <atomic>

namespace mesh_test {

inline HRESULT create_page(IUnknown* outer, REFIID iid, void** object) {
    HRESULT hr = S_OK;
    CUnknown* page = CMeshProp::CreateInstance(outer, &hr);
    if (!page) return hr;
    page->NonDelegatingAddRef();
    hr = page->NonDelegatingQueryInterface(iid, object);
    page->NonDelegatingRelease();
    return hr;
}

// A filter with the mesh filter's interfaces, recording what reaches it.
struct FakeMesh final : IMesh, ISpecifyPropertyPages {
    std::atomic<ULONG> refs{1};
    BYTE address[4] = {10, 1, 2, 3};
    std::int32_t port = 2010;
    int set_calls = 0;

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IMesh) *object = static_cast<IMesh*>(this);
        else if (iid == IID_ISpecifyPropertyPages) *object = static_cast<ISpecifyPropertyPages*>(this);
        else return *object = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; } // lives on the test's stack
    HRESULT SetServer(BYTE a, BYTE b, BYTE c, BYTE d, std::int32_t p) override {
        address[0] = a, address[1] = b, address[2] = c, address[3] = d;
        port = p;
        ++set_calls;
        return S_OK;
    }
    HRESULT GetServer(BYTE* a, BYTE* b, BYTE* c, BYTE* d, std::int32_t* p) override {
        if (!a || !b || !c || !d || !p) return E_POINTER;
        *a = address[0], *b = address[1], *c = address[2], *d = address[3];
        *p = port;
        return S_OK;
    }
    HRESULT SetNodeName(const char*, const char*) override { return S_OK; }
    HRESULT GetPages(CAUUID* pages) override {
        pages->cElems = 1;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        pages->pElems[0] = CLSID_MeshProp;
        return S_OK;
    }
};

// An object without IMesh.
struct Plain final : IUnknown {
    std::atomic<ULONG> refs{1};
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown) return *object = nullptr, E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
};

inline void register_page_class() { kavro::com::register_builtin_class(CLSID_MeshProp, create_page); }

} // namespace mesh_test
