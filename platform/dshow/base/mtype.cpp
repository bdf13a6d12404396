#include "platform/dshow/base/mtype.h"

#include "platform/com/runtime.h"

#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    FreeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (!target || !source) return E_POINTER;
    *target = *source;
    if (source->cbFormat != 0 && source->pbFormat) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->cbFormat = 0;
        target->pbFormat = nullptr;
    }
    if (target->pUnk) target->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(CopyMediaType(mt, source))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

DWORD GetBitmapSize(const BITMAPINFOHEADER* h) {
    if (!h) return 0;
    const std::int64_t row = ((std::int64_t(h->biWidth) * h->biBitCount + 31) / 32) * 4;
    const std::int64_t height = h->biHeight < 0 ? -std::int64_t(h->biHeight) : h->biHeight;
    return static_cast<DWORD>(row * height);
}

GUID GetBitmapSubtype(const BITMAPINFOHEADER* h) {
    if (!h) return GUID_NULL;
    if (h->biCompression != BI_RGB && h->biCompression != BI_BITFIELDS) return GUID_NULL;
    switch (h->biBitCount) {
    case 16: {
        if (h->biCompression == BI_BITFIELDS) {
            const auto* masks = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(h) + h->biSize);
            if (masks[1] == 0x07E0) return MEDIASUBTYPE_RGB565;
        }
        return MEDIASUBTYPE_RGB555;
    }
    case 24: return MEDIASUBTYPE_RGB24;
    case 32: return MEDIASUBTYPE_RGB32;
    default: return GUID_NULL;
    }
}

CMediaType::CMediaType() { InitMediaType(); }

CMediaType::CMediaType(const GUID* type) {
    InitMediaType();
    majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) {
    InitMediaType();
    Set(other);
}

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE() {
    InitMediaType();
    Set(other);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
    Set(other);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
    Set(other);
    return *this;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

bool CMediaType::operator==(const CMediaType& o) const {
    return majortype == o.majortype && subtype == o.subtype && formattype == o.formattype &&
           cbFormat == o.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, o.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
    if (&other == this) return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &other);
    if (FAILED(hr)) InitMediaType();
    return hr;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

void CMediaType::SetVariableSize() { bFixedSizeSamples = FALSE; }

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (cbFormat == length && pbFormat) return pbFormat;
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!p) return nullptr;
    CoTaskMemFree(pbFormat);
    pbFormat = p;
    cbFormat = length;
    return p;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!p) return nullptr;
    if (pbFormat) std::memcpy(p, pbFormat, cbFormat < length ? cbFormat : length);
    CoTaskMemFree(pbFormat);
    pbFormat = p;
    cbFormat = length;
    return p;
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (!AllocFormatBuffer(length)) return false;
    if (length) std::memcpy(pbFormat, format, length);
    return true;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

bool CMediaType::MatchesPartial(const CMediaType* p) const {
    if (!(p->majortype == GUID_NULL) && !(majortype == p->majortype)) return false;
    if (!(p->subtype == GUID_NULL) && !(subtype == p->subtype)) return false;
    if (!(p->formattype == GUID_NULL)) {
        if (!(formattype == p->formattype)) return false;
        if (cbFormat != p->cbFormat) return false;
        if (cbFormat && std::memcmp(pbFormat, p->pbFormat, cbFormat) != 0) return false;
    }
    return true;
}

bool CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}
