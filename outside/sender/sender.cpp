#include "outside/sender/sender.h"

#include "platform/jpeg/jpeg.h"

#include <cstdio>
#include <cstdlib>
#include <new>

using namespace kavro::dshow::setup;

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
                                          {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN kPins[] = {rendered_input_pin("In", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(CLSID_JpegSender, "Jpeg Sender", kPins);

constexpr int kMaxSide = 4096;
constexpr int kQuality = 75;

} // namespace

KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CSenderJPEG::CreateInstance))

CUnknown* CSenderJPEG::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateInstance(outer, phr, sender::options_from_environment());
}

CUnknown* CSenderJPEG::CreateInstance(IUnknown* outer, HRESULT* phr, const sender::ServerOptions& options) {
    CUnknown* filter = new (std::nothrow) CSenderJPEG(outer, phr, options);
    if (!filter && phr) *phr = E_OUTOFMEMORY;
    return filter;
}

CSenderJPEG::CSenderJPEG(IUnknown* outer, HRESULT* phr, const sender::ServerOptions& options)
    : CBaseRenderer(CLSID_JpegSender, "Jpeg Sender", outer, phr), m_server(options) {
    try {
        m_server.start();
    } catch (const std::exception&) {
        if (phr) *phr = E_OUTOFMEMORY;
    }
}

CSenderJPEG::~CSenderJPEG() { m_server.stop(); }

HRESULT CSenderJPEG::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    if (*mt->Type() != MEDIATYPE_Video) return E_INVALIDARG;
    const bool rgb32 = *mt->Subtype() == MEDIASUBTYPE_RGB32, rgb24 = *mt->Subtype() == MEDIASUBTYPE_RGB24;
    if ((!rgb32 && !rgb24) || *mt->FormatType() != FORMAT_VideoInfo || mt->FormatLength() < sizeof(VIDEOINFOHEADER) ||
        !mt->Format())
        return E_INVALIDARG;
    const BITMAPINFOHEADER& h = reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format())->bmiHeader;
    if (h.biCompression != BI_RGB || h.biBitCount != (rgb32 ? 32 : 24) || h.biWidth <= 0 || h.biWidth > kMaxSide ||
        h.biHeight == 0 || std::abs(h.biHeight) > kMaxSide)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CSenderJPEG::SetMediaType(const CMediaType* mt) {
    const HRESULT hr = CheckMediaType(mt);
    if (FAILED(hr)) return hr;
    const BITMAPINFOHEADER& h = reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format())->bmiHeader;
    Format f;
    f.width = int(h.biWidth);
    f.height = std::abs(int(h.biHeight));
    f.bits = h.biBitCount;
    f.bottom_up = h.biHeight > 0;
    // Rows of a device-independent bitmap are padded to four bytes.
    f.stride = (std::size_t(f.width) * std::size_t(f.bits / 8) + 3) & ~std::size_t(3);
    std::lock_guard g(m_formatLock);
    m_format = f;
    return S_OK;
}

HRESULT CSenderJPEG::DoRenderSample(IMediaSample* sample) {
    Format f;
    {
        std::lock_guard g(m_formatLock);
        f = m_format;
    }
    BYTE* data = nullptr;
    if (f.width == 0 || FAILED(sample->GetPointer(&data)) || !data ||
        std::size_t(sample->GetActualDataLength()) < f.stride * std::size_t(f.height)) {
        ++m_refused; // a short sample is not sent rather than read past its end
        return S_OK;
    }
    kavro::jpeg::ImageView view;
    view.pixels = data;
    view.width = f.width;
    view.height = f.height;
    view.stride = f.stride;
    view.format = f.bits == 32 ? kavro::jpeg::PixelFormat::bgrx32 : kavro::jpeg::PixelFormat::bgr24;
    view.bottom_up = f.bottom_up;
    kavro::jpeg::EncodeOptions options;
    options.quality = kQuality;
    auto jpeg = std::make_shared<std::vector<std::uint8_t>>();
    jpeg->reserve(64 * 1024);
    if (kavro::jpeg::encode(view, options, *jpeg) != kavro::jpeg::Status::ok) {
        ++m_refused;
        return S_OK;
    }
    ++m_encoded;
    m_server.publish(std::move(jpeg));
    return S_OK;
}
