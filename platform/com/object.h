// ComObject: IUnknown written once for a plain COM object (not aggregatable) that implements a list of
// interfaces. A class names each interface with its IID and writes only its own methods:
//
//     using kavro::com::ComObject, kavro::com::Implements;
//     class CPropertyBag final : public ComObject<Implements<IPropertyBag, IID_IPropertyBag>> {
//         HRESULT Read(...) override; // IPropertyBag's own methods only
//     };
//     ComPtr<IPropertyBag> bag(new CPropertyBag(...)); // the reference count starts at 0
//
// QueryInterface: E_POINTER for a null out pointer; IID_IUnknown or a listed IID gives the interface with a new
// reference (IID_IUnknown always the same pointer: the first listed interface's); any other IID gives
// E_NOINTERFACE and a null pointer. AddRef and Release are thread-safe; the Release that reaches 0 deletes the
// object (see FinalRelease). Objects of the DirectShow base classes, which may be aggregated, use CUnknown.
#pragma once

#include "platform/com/com.h"

#include <atomic>

namespace kavro::com {

// One entry of ComObject's interface list.
template <class Interface, const IID& Iid>
struct Implements {
    using type = Interface;
    static constexpr const IID& iid = Iid;
};

// The listed interface whose IID is riid, as that interface's IUnknown (no reference added); null when none is.
template <class Entry, class... More, class Self>
IUnknown* find_interface(Self* self, REFIID riid) {
    if (riid == Entry::iid) return static_cast<typename Entry::type*>(self);
    if constexpr (sizeof...(More) > 0)
        return find_interface<More...>(self, riid);
    else
        return nullptr;
}

template <class First, class... Rest>
class ComObject : public First::type, public Rest::type... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        IUnknown* found = riid == IID_IUnknown ? static_cast<typename First::type*>(this)
                                               : find_interface<First, Rest...>(this, riid);
        if (!found) return E_NOINTERFACE;
        *object = found;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) FinalRelease();
        return left;
    }

protected:
    // Only Release deletes the object; the destructor is virtual so that it deletes the whole object.
    virtual ~ComObject() = default;
    // What the Release that reaches 0 does: deletes the object. A pooled object goes back to its pool instead
    // (a media sample to its allocator), and may be handed out again with a count from 0.
    virtual void FinalRelease() { delete this; }

private:
    std::atomic<ULONG> refs_{0};
};

} // namespace kavro::com
