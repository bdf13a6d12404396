// The platform's JPEG decoder filter: Motion JPEG samples in (one JPEG picture per sample), 32-bit RGB out,
// top-down, at the size the input type announces. It is registered in the filter category with a normal
// merit, so that connecting a camera's MJPEG pin to a video renderer inserts it. A picture of another size
// than announced is scaled to it; a sample that does not decode is dropped and counted, never delivered.
#pragma once

#include "platform/com/com.h"
#include "platform/dshow/types.h"

// Motion JPEG: the FOURCC "MJPG" subtype.
inline constexpr GUID MEDIASUBTYPE_MJPG = make_guid("47504A4D-0000-0010-8000-00AA00389B71");
inline constexpr DWORD FOURCC_MJPG = 0x47504A4D;

inline constexpr CLSID CLSID_JpegDecoder = make_guid("17CEA3FA-7528-411B-852A-C70B78A88699");
inline constexpr IID IID_IJpegDecoderStats = make_guid("D0412558-3C37-45BE-A773-5B0A17786567");
inline constexpr const char* kJpegDecoderName = "JPEG Decoder";

// Counters of the decoder since it was created.
struct IJpegDecoderStats : IUnknown {
    // decoded: samples delivered; dropped: samples that did not decode (damaged, not a JPEG, too large).
    virtual HRESULT GetCounts(LONG* decoded, LONG* dropped) = 0;

protected:
    ~IJpegDecoderStats() = default;
};
