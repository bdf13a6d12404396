// A sample grabber callback owned by the test: derive and override BufferCB or SampleCB.
#pragma once

#include "platform/dshow/grabber.h"

namespace kavro::test {

// Reference counting does nothing (the test keeps the object alive until the graph has stopped and the grabber
// has let go); QueryInterface answers IUnknown and ISampleGrabberCB. Both callbacks do nothing by default.
struct GrabberCallback : ISampleGrabberCB {
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *object = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double, BYTE*, LONG) override { return S_OK; }
};

} // namespace kavro::test
