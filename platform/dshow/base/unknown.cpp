#include "platform/dshow/base/unknown.h"

namespace {
// Per module: each plug-in links its own copy of the base classes.
std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};
} // namespace

CBaseObject::CBaseObject(const char* name) : m_pName(name) { g_objects.fetch_add(1); }
CBaseObject::~CBaseObject() { g_objects.fetch_sub(1); }
LONG CBaseObject::ObjectsActive() { return g_objects.load(); }

void ModuleLockServer(bool lock) {
    if (lock)
        g_locks.fetch_add(1);
    else
        g_locks.fetch_sub(1);
}
LONG ModuleServerLocks() { return g_locks.load(); }

CUnknown::CUnknown(const char* name, IUnknown* outer)
    : CBaseObject(name),
      m_pUnknown(outer ? outer : &m_inner) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown) {
        *object = &m_inner;
        NonDelegatingAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ULONG(m_cRef.fetch_add(1) + 1); }

ULONG CUnknown::NonDelegatingRelease() {
    const LONG r = m_cRef.fetch_sub(1) - 1;
    if (r == 0) {
        // Guard against re-entry while the destructor releases what it holds.
        m_cRef.store(1);
        delete this;
        return 0;
    }
    return ULONG(r < 1 ? 1 : r);
}

HRESULT GetInterface(IUnknown* unknown, void** object) {
    if (!object) return E_POINTER;
    *object = unknown;
    unknown->AddRef();
    return S_OK;
}
