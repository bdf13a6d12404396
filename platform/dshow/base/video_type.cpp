#include "platform/dshow/base/video_type.h"

#include <cstring>

HRESULT SetUncompressedVideoType(CMediaType* mt, const UncompressedVideo& video) {
    if (!mt) return E_POINTER;
    auto* vi = reinterpret_cast<VIDEOINFO*>(mt->AllocFormatBuffer(sizeof(VIDEOINFO)));
    if (!vi) return E_OUTOFMEMORY;
    std::memset(vi, 0, sizeof(VIDEOINFO));
    vi->AvgTimePerFrame = video.frame_period;
    vi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vi->bmiHeader.biWidth = video.width;
    vi->bmiHeader.biHeight = video.height;
    vi->bmiHeader.biPlanes = 1;
    vi->bmiHeader.biBitCount = static_cast<decltype(vi->bmiHeader.biBitCount)>(video.bits);
    vi->bmiHeader.biCompression = BI_RGB;
    vi->bmiHeader.biSizeImage = GetBitmapSize(&vi->bmiHeader);
    mt->SetType(&MEDIATYPE_Video);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetTemporalCompression(FALSE);
    mt->SetSubtype(video.subtype);
    mt->SetSampleSize(vi->bmiHeader.biSizeImage);
    return S_OK;
}

HRESULT CheckUncompressedVideoType(const CMediaType* mt, const UncompressedVideo& video) {
    if (!mt) return E_POINTER;
    if (*mt->Type() != MEDIATYPE_Video || *mt->Subtype() != *video.subtype || *mt->FormatType() != FORMAT_VideoInfo ||
        mt->FormatLength() < sizeof(VIDEOINFOHEADER) || !mt->Format())
        return E_INVALIDARG;
    const auto* vi = reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format());
    if (vi->bmiHeader.biWidth != video.width || vi->bmiHeader.biHeight != video.height ||
        vi->bmiHeader.biBitCount != video.bits || vi->bmiHeader.biCompression != BI_RGB)
        return E_INVALIDARG;
    return S_OK;
}
