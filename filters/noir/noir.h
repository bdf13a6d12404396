// Noir: a live source of black 768 x 576 RGB 5-6-5 frames, the background stream of the mixing renderers.
#pragma once

#include "platform/dshow/base/factory.h"
#include "platform/dshow/base/source.h"

inline constexpr CLSID CLSID_Noir = make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB");

namespace noir {
inline constexpr LONG kWidth = 768;
inline constexpr LONG kHeight = 576;
// Bytes of one frame, fixed when the library is loaded.
extern const LONG kFrameBytes;
} // namespace noir

class CNoirStream : public CSourceStream {
public:
    CNoirStream(HRESULT* phr, CSource* filter, const char* pinName);
    ~CNoirStream() override;

    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Notify(IBaseFilter* self, Quality q) override;
};

class CNoir : public CSource {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

private:
    CNoir(IUnknown* outer, HRESULT* phr);
};
