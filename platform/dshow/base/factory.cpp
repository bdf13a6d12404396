#include "platform/dshow/base/factory.h"

#include "platform/com/runtime.h"
#include "platform/registry/registry.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

CClassFactory::CClassFactory(const CFactoryTemplate* templ) : CBaseObject("class factory"), m_pTemplate(templ) {}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // An aggregated object must hand its outer object its own IUnknown.
    if (outer && !(riid == IID_IUnknown)) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* obj = m_pTemplate->CreateInstance(outer, &hr);
    if (!obj) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        // The partly built object is released.
        obj->NonDelegatingAddRef();
        obj->NonDelegatingRelease();
        return hr;
    }
    obj->NonDelegatingAddRef();
    hr = obj->NonDelegatingQueryInterface(riid, object);
    obj->NonDelegatingRelease();
    return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
    ModuleLockServer(lock != FALSE);
    return S_OK;
}

HRESULT BaseDllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown) && !(iid == IID_IClassFactory)) return E_NOINTERFACE;
    for (int i = 0; i < g_cTemplates; ++i) {
        if (g_Templates[i].IsClassID(clsid)) {
            auto* f = new (std::nothrow) CClassFactory(&g_Templates[i]);
            if (!f) return E_OUTOFMEMORY;
            f->AddRef();
            *object = static_cast<IClassFactory*>(f);
            return S_OK;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT BaseDllCanUnloadNow() {
    return CBaseObject::ObjectsActive() == 0 && ModuleServerLocks() == 0 ? S_OK : S_FALSE;
}

namespace {

const std::string kFilterInstances =
    "SOFTWARE\\Classes\\CLSID\\" + guid_to_string(CLSID_LegacyAmFilterCategory) + "\\Instance\\";

// The path of the library this code is linked into.
std::string module_path() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&module_path), &info) == 0 || !info.dli_fname) return {};
    char buf[PATH_MAX];
    if (realpath(info.dli_fname, buf)) return buf;
    return info.dli_fname;
}

void register_filter(kavro::registry::Editor& reg, const AMOVIESETUP_FILTER& f) {
    const std::string key = kFilterInstances + guid_to_string(*f.clsID);
    // A new registration replaces the old one whole but keeps its key, so the filter keeps its place in the
    // enumeration order (lookups by name prefix take the first match).
    reg.delete_key(key + "\\Pins");
    reg.set_string(key, "FriendlyName", f.strName ? f.strName : "");
    reg.set_string(key, "CLSID", guid_to_string(*f.clsID));
    reg.set_number(key, "Merit", f.dwMerit);
    for (unsigned p = 0; p < f.nPins; ++p) {
        const AMOVIESETUP_PIN& pin = f.lpPin[p];
        const std::string pk = key + "\\Pins\\" + (pin.strName ? pin.strName : std::to_string(p));
        reg.set_number(pk, "IsRendered", pin.bRendered ? 1 : 0);
        reg.set_number(pk, "IsOutput", pin.bOutput ? 1 : 0);
        reg.set_number(pk, "AllowedZero", pin.bZero ? 1 : 0);
        reg.set_number(pk, "AllowedMany", pin.bMany ? 1 : 0);
        reg.set_string(pk, "ConnectsToFilter",
                       guid_to_string(pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : CLSID_NULL));
        reg.set_string(pk, "ConnectsToPin", pin.strConnectsToPin ? pin.strConnectsToPin : "");
        for (unsigned t = 0; t < pin.nMediaTypes; ++t) {
            const std::string tk = pk + "\\Types\\" + std::to_string(t);
            const AMOVIESETUP_MEDIATYPE& mt = pin.lpMediaType[t];
            reg.set_string(tk, "MajorType", guid_to_string(mt.clsMajorType ? *mt.clsMajorType : GUID_NULL));
            reg.set_string(tk, "MinorType", guid_to_string(mt.clsMinorType ? *mt.clsMinorType : GUID_NULL));
        }
    }
}

} // namespace

// One registration or removal is one change of the registry file: a process killed midway leaves the
// plug-in registered whole or not at all.
HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
    using kavro::registry::Editor;
    if (bRegister) {
        const std::string path = module_path();
        if (path.empty()) return E_FAIL;
        const bool ok = kavro::registry::transaction([&](Editor& reg) {
            for (int i = 0; i < g_cTemplates; ++i) {
                const CFactoryTemplate& t = g_Templates[i];
                const std::string key = kavro::com::clsid_key(*t.m_ClsID);
                reg.set_string(key, "", t.m_Name ? t.m_Name : "");
                reg.set_string(key + "\\InprocServer32", "", path);
                reg.set_string(key + "\\InprocServer32", "ThreadingModel", "Both");
                if (t.m_pAMovieSetup_Filter) register_filter(reg, *t.m_pAMovieSetup_Filter);
            }
            return true;
        });
        return ok ? S_OK : SELFREG_E_CLASS;
    }
    // Removal: filter entries first, then the COM server keys. Missing entries are not an error.
    const bool ok = kavro::registry::transaction([&](Editor& reg) {
        for (int i = 0; i < g_cTemplates; ++i)
            if (const AMOVIESETUP_FILTER* f = g_Templates[i].m_pAMovieSetup_Filter)
                reg.delete_key(kFilterInstances + guid_to_string(*f->clsID));
        for (int i = 0; i < g_cTemplates; ++i) reg.delete_key(kavro::com::clsid_key(*g_Templates[i].m_ClsID));
        return true;
    });
    return ok ? S_OK : SELFREG_E_CLASS;
}
