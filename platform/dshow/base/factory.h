// Class factories, factory templates and registration for plug-in libraries.
//
// A plug-in writes only its own tables: the filter-register tables of its filters (built with the helpers of
// kavro::dshow::setup) and its factory templates, given to KAVRO_DSHOW_PLUGIN, which defines g_Templates and
// g_cTemplates and exports the four entry points. Everything else is here, written once. The plug-in is built
// with kavro_plugin (cmake/KavroTargets.cmake): hidden visibility, so only the entry points are seen.
//
//     const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};
//     const AMOVIESETUP_PIN kPins[] = {output_pin("Output 1", kPinTypes)};
//     const AMOVIESETUP_FILTER kFilter = filter(CLSID_Noir, "Noir", kPins);
//     KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CNoir::CreateInstance))
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
    const char* m_Name;                              // the COM server key's default value
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;                      // called by the class factory's CreateInstance
    LPFNInitRoutine m_lpfnInit;                      // kept for the table's shape; never called here
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter; // null: a COM class that is not a filter

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

// Registers (TRUE) or removes (FALSE) every template's COM server keys and, for templates with setup
// data, the filter registration in CLSID_LegacyAmFilterCategory: friendly name, CLSID, merit and pins.
// Removal takes the filter entries first, then the COM server keys.
HRESULT AMovieDllRegisterServer2(BOOL bRegister);

// The base implementations behind the exports.
HRESULT BaseDllGetClassObject(REFCLSID clsid, REFIID iid, void** object); // CLASS_E_CLASSNOTAVAILABLE
HRESULT BaseDllCanUnloadNow(); // S_OK with no live objects and no server locks, else S_FALSE

// Helpers for a plug-in's own tables (the registration's values, unchanged, come from them).
namespace kavro::dshow::setup {

// An output pin as registered: not rendered, exactly one instance, connects to any filter and pin.
template <unsigned N>
constexpr AMOVIESETUP_PIN output_pin(const char* name, const AMOVIESETUP_MEDIATYPE (&types)[N]) {
    return {name, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, N, types};
}
// An input pin that renders what it takes (a sink): exactly one instance, connects to any filter and pin.
template <unsigned N>
constexpr AMOVIESETUP_PIN rendered_input_pin(const char* name, const AMOVIESETUP_MEDIATYPE (&types)[N]) {
    return {name, TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, N, types};
}
// A filter as registered; the system's filters are never picked by intelligent connection (MERIT_DO_NOT_USE).
template <unsigned N>
constexpr AMOVIESETUP_FILTER filter(const CLSID& clsid, const char* name, const AMOVIESETUP_PIN (&pins)[N]) {
    return {&clsid, name, MERIT_DO_NOT_USE, N, pins};
}
// The factory template of a filter, its COM server named as the filter.
constexpr CFactoryTemplate filter_template(const AMOVIESETUP_FILTER& f, LPFNNewCOMObject create) {
    return {f.strName, f.clsID, create, nullptr, &f};
}

} // namespace kavro::dshow::setup

// Defines the plug-in's factory templates (the arguments, in order) and its four exports.
#define KAVRO_DSHOW_PLUGIN(...)                                                                               \
    CFactoryTemplate g_Templates[] = {__VA_ARGS__};                                                           \
    int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);                                          \
    KAVRO_DSHOW_PLUGIN_EXPORTS()

// The four exports over the base implementations (KAVRO_DSHOW_PLUGIN writes them).
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
