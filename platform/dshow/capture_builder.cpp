// The capture graph builder: finds pins by direction, type and index, and renders a stream through an
// optional intermediate filter into a sink.
#include "platform/com/com_ptr.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/internal.h"

#include <vector>

namespace kavro::dshow {

namespace {

bool pin_has_major_type(IPin* pin, const GUID& type) {
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
        const bool match = mt.majortype == type;
        FreeMediaType(mt);
        return match;
    }
    ComPtr<IEnumMediaTypes> e;
    if (FAILED(pin->EnumMediaTypes(e.put())) || !e) return false;
    for (;;) {
        AM_MEDIA_TYPE* t = nullptr;
        ULONG got = 0;
        if (e->Next(1, &t, &got) != S_OK || got != 1) return false;
        const bool match = t->majortype == type;
        DeleteMediaType(t);
        if (match) return true;
    }
}

class CCaptureGraphBuilder final
    : public CUnknownObject<kavro::com::Implements<ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2>> {
public:
    CCaptureGraphBuilder(IUnknown* outer, HRESULT* phr) : CUnknownObject("capture graph builder", outer) {
        *phr = S_OK;
    }

    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (!graph) return E_POINTER;
        graph_ = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }

    HRESULT GetFiltergraph(IGraphBuilder** graph) override {
        if (!graph) return E_POINTER;
        *graph = graph_.get();
        if (!*graph) return E_UNEXPECTED;
        (*graph)->AddRef();
        return S_OK;
    }

    HRESULT RenderStream(const GUID*, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                         IBaseFilter* sink) override {
        if (!source) return E_POINTER;
        if (!graph_) return E_UNEXPECTED;
        ComPtr<IPin> out;
        if (FAILED(source->QueryInterface(IID_IPin, out.put_void()))) {
            HRESULT hr = FindPin(source, PINDIR_OUTPUT, nullptr, type, TRUE, 0, out.put());
            if (FAILED(hr)) return hr;
        }
        if (intermediate) {
            ComPtr<IPin> in;
            HRESULT hr = FindPin(intermediate, PINDIR_INPUT, nullptr, nullptr, TRUE, 0, in.put());
            if (FAILED(hr)) return hr;
            hr = graph_->Connect(out.get(), in.get());
            if (FAILED(hr)) return hr;
            hr = FindPin(intermediate, PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, out.put());
            if (FAILED(hr)) return hr;
        }
        if (!sink) return graph_->Render(out.get());
        ComPtr<IPin> in;
        HRESULT hr = FindPin(sink, PINDIR_INPUT, nullptr, nullptr, TRUE, 0, in.put());
        if (FAILED(hr)) return hr;
        return graph_->Connect(out.get(), in.get());
    }

    HRESULT FindPin(IUnknown* filter, PIN_DIRECTION direction, const GUID*, const GUID* type, BOOL unconnected,
                    int num, IPin** pin) override {
        if (!filter || !pin) return E_POINTER;
        *pin = nullptr;
        ComPtr<IBaseFilter> f;
        if (FAILED(filter->QueryInterface(IID_IBaseFilter, f.put_void()))) return E_FAIL;
        ComPtr<IEnumPins> e;
        if (FAILED(f->EnumPins(e.put())) || !e) return E_FAIL;
        int index = 0;
        for (;;) {
            IPin* p = nullptr;
            ULONG got = 0;
            if (e->Next(1, &p, &got) != S_OK || got != 1) break;
            ComPtr<IPin> candidate = ComPtr<IPin>::adopt(p);
            PIN_DIRECTION d;
            if (FAILED(candidate->QueryDirection(&d)) || d != direction) continue;
            if (unconnected) {
                ComPtr<IPin> c;
                if (SUCCEEDED(candidate->ConnectedTo(c.put()))) continue;
            }
            if (type && !(*type == GUID_NULL) && !pin_has_major_type(candidate.get(), *type)) continue;
            if (index++ == num) {
                *pin = candidate.detach();
                return S_OK;
            }
        }
        return E_FAIL;
    }

private:
    ComPtr<IGraphBuilder> graph_;
};

} // namespace

HRESULT create_capture_graph_builder(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CCaptureGraphBuilder>(iid, object, outer);
}

} // namespace kavro::dshow
