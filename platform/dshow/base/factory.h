// Class factories, factory templates and registration for plug-in libraries.
//
// A plug-in defines g_Templates / g_cTemplates and exports the four entry points with
// KAVRO_DSHOW_PLUGIN_EXPORTS(); it is built with hidden visibility, so only they are seen.
#pragma once

#include "platform/com/object.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/types.h"

using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL loading, const CLSID* clsid);

struct AMOVIESETUP_MEDIATYPE {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};
struct AMOVIESETUP_PIN {
    const char* strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    const char* strConnectsToPin;
    unsigned nMediaTypes;
    const AMOVIESETUP_MEDIATYPE* lpMediaType;
};
struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const char* strName;
    DWORD dwMerit;
    unsigned nPins;
    const AMOVIESETUP_PIN* lpPin;
};

class CFactoryTemplate {
public:
    const char* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    bool IsClassID(REFCLSID clsid) const { return *m_ClsID == clsid; }
    CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) const { return m_lpfnNew(outer, phr); }
};

// Defined by each plug-in.
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

// The class factory of one template; it counts as a live object of the module (DllCanUnloadNow).
class CClassFactory : public kavro::com::ComObject<kavro::com::Implements<IClassFactory, IID_IClassFactory>>,
                      public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* templ);
    // With an outer object only IID_IUnknown may be asked (else E_NOINTERFACE); a failed creation is
    // released and its result returned; a null object gives E_OUTOFMEMORY.
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    HRESULT LockServer(BOOL lock) override;

private:
    const CFactoryTemplate* m_pTemplate;
};
    const CFactoryTemplate* m_pTemplate;
};

// Registers (TRUE) or removes (FALSE) every template's COM server keys and, for templates with setup
// data, the filter registration in CLSID_LegacyAmFilterCategory: friendly name, CLSID, merit and pins.
// Removal takes the filter entries first, then the COM server keys.
HRESULT AMovieDllRegisterServer2(BOOL bRegister);

// The base implementations behind the exports.
HRESULT BaseDllGetClassObject(REFCLSID clsid, REFIID iid, void** object); // CLASS_E_CLASSNOTAVAILABLE
HRESULT BaseDllCanUnloadNow(); // S_OK with no live objects and no server locks, else S_FALSE

#define KAVRO_DSHOW_PLUGIN_EXPORTS()                                                                          \
    extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,  \
                                                                                void** object) {             \
        return BaseDllGetClassObject(clsid, iid, object);                                                    \
    }                                                                                                         \
    extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return BaseDllCanUnloadNow(); } \
    extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {                          \
        return AMovieDllRegisterServer2(TRUE);                                                               \
    }                                                                                                         \
    extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {                        \
        return AMovieDllRegisterServer2(FALSE);                                                              \
    }
