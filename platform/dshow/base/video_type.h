// Uncompressed video media types as source pins offer and check them: VIDEOINFO format blocks of one picture
// size, bit depth and row order.
#pragma once

#include "platform/dshow/base/mtype.h"

struct UncompressedVideo {
    const GUID* subtype = nullptr;    // MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, ...
    int width = 0;
    int height = 0;                   // negative: rows top first, as the bitmap header says it
    int bits = 32;                    // bits per pixel
    REFERENCE_TIME frame_period = 0;  // AvgTimePerFrame; 0 when the source does not say
};

// Makes mt that video type: FORMAT_VideoInfo with a zeroed VIDEOINFO, BI_RGB, fixed-size samples of one
// picture, no temporal compression. E_POINTER for a null mt, E_OUTOFMEMORY when the format block cannot be
// had (mt's format is then empty).
HRESULT SetUncompressedVideoType(CMediaType* mt, const UncompressedVideo& video);

// S_OK when mt is exactly that video (major type, subtype, format type, a format block holding at least a
// VIDEOINFOHEADER, the same width, signed height, bit depth and BI_RGB); E_POINTER for a null mt; E_INVALIDARG
// otherwise. The frame period is not compared.
HRESULT CheckUncompressedVideoType(const CMediaType* mt, const UncompressedVideo& video);
