#include "filters/noir/noir.h"

#include "platform/dshow/base/video_type.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace noir {
const LONG kFrameBytes = kWidth * kHeight * 2;
} // namespace noir

using namespace kavro::dshow::setup;

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN kPins[] = {output_pin("Output 1", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(CLSID_Noir, "Noir", kPins);

} // namespace

KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CNoir::CreateInstance))

CUnknown* CNoir::CreateInstance(IUnknown* outer, HRESULT* phr) {
    CUnknown* filter = new (std::nothrow) CNoir(outer, phr);
    if (!filter && phr) *phr = E_OUTOFMEMORY;
    return filter;
}

CNoir::CNoir(IUnknown* outer, HRESULT* phr) : CSource(nullptr, outer, CLSID_Noir) {
    CAutoLock lock(&m_cStateLock);
    try {
        m_paStreams.reserve(1);
    } catch (const std::bad_alloc&) {
        if (phr) *phr = E_OUTOFMEMORY;
        return;
    }
    // The pin adds itself to the filter.
    if (!new (std::nothrow) CNoirStream(phr, this, "Output 1") && phr) *phr = E_OUTOFMEMORY;
}

CNoirStream::CNoirStream(HRESULT* phr, CSource* filter, const char* pinName)
    : CSourceStream(nullptr, phr, filter, pinName) {}

CNoirStream::~CNoirStream() = default;

HRESULT CNoirStream::FillBuffer(IMediaSample* sample) {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    // One black frame of the agreed image size, never past the end of this sample's buffer. The sample
    // carries only what was written: an allocator may hand out a larger buffer than the frame.
    std::int64_t frame = noir::kFrameBytes;
    if (const auto* vi = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
        vi && m_mt.FormatLength() >= sizeof(VIDEOINFOHEADER) && vi->bmiHeader.biSizeImage > 0)
        frame = vi->bmiHeader.biSizeImage;
    const std::int64_t room = std::max<LONG>(sample->GetSize(), 0);
    const LONG bytes = data ? static_cast<LONG>(std::clamp<std::int64_t>(frame, 0, room)) : 0;
    if (bytes > 0) std::memset(data, 0, std::size_t(bytes));
    return sample->SetActualDataLength(bytes);
}

HRESULT CNoirStream::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    if (*mt->Type() == MEDIATYPE_Video && mt->IsFixedSize() && *mt->Subtype() == MEDIASUBTYPE_RGB565 &&
        mt->Format() != nullptr)
        return S_OK;
    return E_INVALIDARG;
}

HRESULT CNoirStream::SetMediaType(const CMediaType* mt) {
    CAutoLock lock(m_pFilter->pStateLock());
    const HRESULT hr = CSourceStream::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_mt.Format() ? S_OK : E_UNEXPECTED;
}

HRESULT CNoirStream::GetMediaType(int position, CMediaType* mt) {
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    // 16-bit RGB 5:6:5, rows bottom first.
    return SetUncompressedVideoType(mt, {&MEDIASUBTYPE_RGB565, noir::kWidth, noir::kHeight, 16});
}

HRESULT CNoirStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    const auto* vi = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    if (!vi || m_mt.FormatLength() < sizeof(VIDEOINFOHEADER)) return E_UNEXPECTED;
    request->cBuffers = 1;
    request->cbBuffer = static_cast<LONG>(vi->bmiHeader.biSizeImage);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < request->cbBuffer) return E_FAIL;
    return S_OK;
}

HRESULT CNoirStream::Notify(IBaseFilter*, Quality) { return S_OK; }
