#include "platform/dshow/base/unknown.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/internal.h"

#include <chrono>

namespace kavro::dshow {

namespace {

// The graph's reference clock: the monotonic system clock in 100-ns units.
class CSystemClock final : public CUnknownObject<kavro::com::Implements<IReferenceClock, IID_IReferenceClock>> {
public:
    CSystemClock(IUnknown* outer, HRESULT* phr) : CUnknownObject("system clock", outer) { *phr = S_OK; }
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
