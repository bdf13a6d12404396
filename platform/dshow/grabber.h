// The sample grabber (an in-place filter that hands every buffer to a callback and passes the sample on)
// and the null renderer (paced like a display, shows nothing). Built-in classes of kavro_dshow.
#pragma once

#include "platform/dshow/interfaces.h"

inline constexpr CLSID CLSID_SampleGrabber = make_guid("C1F400A0-3F08-11D3-9F0B-006008039E37");
inline constexpr CLSID CLSID_NullRenderer = make_guid("C1F400A4-3F08-11D3-9F0B-006008039E37");
inline constexpr IID IID_ISampleGrabber = make_guid("6B652FFF-11FE-4FCE-92AD-0266B5D7C78F");
inline constexpr IID IID_ISampleGrabberCB = make_guid("0579154A-2B53-4994-B0D0-E773148EFF85");

// Called on the streaming thread of the grabbed stream.
struct ISampleGrabberCB : IUnknown {
    virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;            // 3
    virtual HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG bufferLength) = 0; // 4

protected:
    ~ISampleGrabberCB() = default;
};

struct ISampleGrabber : IUnknown {
    virtual HRESULT SetOneShot(BOOL oneShot) = 0; // 3: after one sample the grabber refuses further ones
    // The accepted type: major type, and subtype unless GUID_NULL (and format type unless GUID_NULL).
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;      // 4
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;   // 5: VFW_E_NOT_CONNECTED
    virtual HRESULT SetBufferSamples(BOOL bufferThem) = 0;            // 6: keep a copy of the last buffer
    // size null: E_POINTER; buffer null: the size needed; E_OUTOFMEMORY when the buffer is too small;
    // VFW_E_WRONG_STATE when nothing was kept.
    virtual HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) = 0;   // 7
    virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;      // 8: E_NOTIMPL
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG whichMethod) = 0; // 9: 0 SampleCB, 1 BufferCB

protected:
    ~ISampleGrabber() = default;
};
