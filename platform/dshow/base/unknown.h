// CUnknown: reference counting and QueryInterface for the filter base classes, with aggregation: an
// object created with an outer object delegates its IUnknown to it (through DECLARE_IUNKNOWN) and answers
// its own interfaces through the non-delegating methods.
#pragma once

#include "platform/com/com.h"
#include "platform/com/object.h"

#include <atomic>
#include <mutex>

// Recursive, like the platform's critical sections.
using CCritSec = std::recursive_mutex;
class CAutoLock {
public:
    explicit CAutoLock(CCritSec* cs) : cs_(cs) { cs_->lock(); }
    ~CAutoLock() { cs_->unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* cs_;
};

struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

// Counts the live objects of this module (DllCanUnloadNow).
class CBaseObject {
public:
    explicit CBaseObject(const char* name);
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    static LONG ObjectsActive();
    // The name given at construction, for diagnostics.
    const char* Name() const { return m_pName; }

private:
    const char* m_pName;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const char* name, IUnknown* outer);
    ~CUnknown() override = default;

    // The object's own interfaces, on any thread, no lock. An override answers its IIDs with GetInterface
    // (which adds the reference) and passes every other IID to its base class's; this one answers IID_IUnknown
    // with the inner IUnknown, E_POINTER for a null out pointer, else E_NOINTERFACE and a null pointer.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;
    // Thread-safe count; the release that reaches zero deletes the object (pins override both to count on
    // their filter instead).
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // The outer object when aggregated, else this object's own IUnknown.
    IUnknown* GetOwner() const { return m_pUnknown; }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    // This object's own IUnknown: what an outer object holds, and the owner when there is none.
    struct Inner final : IUnknown {
        CUnknown* self;
        explicit Inner(CUnknown* s) : self(s) {}
        HRESULT QueryInterface(REFIID riid, void** object) override {
            return self->NonDelegatingQueryInterface(riid, object);
        }
        ULONG AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG Release() override { return self->NonDelegatingRelease(); }
    };
    Inner m_inner{this};
    IUnknown* m_pUnknown;
};

// Hands out an interface pointer with a reference.
HRESULT GetInterface(IUnknown* unknown, void** object);

// Module-wide server locks (IClassFactory::LockServer).
void ModuleLockServer(bool lock);
LONG ModuleServerLocks();

// Declares the three IUnknown methods of a class as delegating to its owner.
#define DECLARE_IUNKNOWN                                                                                 \
    HRESULT QueryInterface(REFIID riid, void** object) override {                                        \
        return GetOwner()->QueryInterface(riid, object);                                                 \
    }                                                                                                    \
    ULONG AddRef() override { return GetOwner()->AddRef(); }                                             \
    ULONG Release() override { return GetOwner()->Release(); }

// A CUnknown that answers a list of interfaces (kavro::com::Implements entries) besides IUnknown, with the
// IUnknown methods delegating to the owner: the aggregatable counterpart of kavro::com::ComObject.
//     class CSystemClock final : public CUnknownObject<Implements<IReferenceClock, IID_IReferenceClock>> { ... };
template <class... Entries>
class CUnknownObject : public CUnknown, public Entries::type... {
public:
    CUnknownObject(const char* name, IUnknown* outer) : CUnknown(name, outer) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (IUnknown* found = kavro::com::find_interface<Entries...>(this, riid))
            return GetInterface(found, object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }
};
