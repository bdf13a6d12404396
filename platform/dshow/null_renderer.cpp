// The null renderer: takes every media type, paced like a display, shows nothing.
#include "platform/dshow/base/renderer.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/internal.h"

namespace kavro::dshow {

namespace {

class CNullRenderer final : public CBaseRenderer {
public:
    CNullRenderer(IUnknown* outer, HRESULT* phr) : CBaseRenderer(CLSID_NullRenderer, "null renderer", outer, phr) {}
    HRESULT CheckMediaType(const CMediaType* mt) override { return mt ? S_OK : E_POINTER; }
    HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};

} // namespace

HRESULT create_null_renderer(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CNullRenderer>(iid, object, outer);
}

} // namespace kavro::dshow
