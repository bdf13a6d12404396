#include "platform/dshow/base/unknown.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/internal.h"

#include <chrono>

namespace kavro::dshow {

namespace {

// The graph's reference clock: the monotonic system clock in 100-ns units.
class CSystemClock final : public CUnknown, public IReferenceClock {
public:
    CSystemClock(IUnknown* outer, HRESULT* phr) : CUnknown("system clock", outer) { *phr = S_OK; }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }
    HRESULT GetTime(REFERENCE_TIME* time) override {
        if (!time) return E_POINTER;
        *time = std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count() /
                100;
        return S_OK;
    }
};

} // namespace

HRESULT create_system_clock(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CSystemClock>(iid, object, outer);
}

} // namespace kavro::dshow
