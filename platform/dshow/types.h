// Media types, video formats and the plain records that cross filter interfaces, with their GUIDs.
#pragma once

#include "platform/com/com.h"
#include "platform/com/rect.h"

#include <cstdint>

// Functions of the shared library kavro_dshow (built with hidden visibility).
#define KAVRO_DSHOW_API __attribute__((visibility("default")))

using REFERENCE_TIME = std::int64_t; // 100-ns units
using OAHWND = std::intptr_t;        // a window of the ui layer
using OAFilterState = LONG;

inline constexpr REFERENCE_TIME UNITS = 10'000'000; // one second

// Media types and format types.
inline constexpr GUID MEDIATYPE_Video = make_guid("73646976-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_NULL = GUID_NULL;
inline constexpr GUID MEDIASUBTYPE_RGB565 = make_guid("E436EB7B-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB555 = make_guid("E436EB7C-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB24 = make_guid("E436EB7D-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB32 = make_guid("E436EB7E-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID FORMAT_VideoInfo = make_guid("05589F80-C356-11CE-BF01-00AA0055595A");

// The DirectShow filter category of the device enumerator (registered filters).
inline constexpr CLSID CLSID_LegacyAmFilterCategory = make_guid("083863F1-70DE-11D0-BD40-00A0C911CE86");

// Merits of registered filters.
inline constexpr DWORD MERIT_PREFERRED = 0x00800000;
inline constexpr DWORD MERIT_NORMAL = 0x00600000;
inline constexpr DWORD MERIT_UNLIKELY = 0x00400000;
inline constexpr DWORD MERIT_DO_NOT_USE = 0x00200000;

// Result codes of the video platform.
inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;
inline constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = static_cast<HRESULT>(0x80040200u);
inline constexpr HRESULT VFW_E_NEED_OWNER = static_cast<HRESULT>(0x80040202u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = static_cast<HRESULT>(0x80040207u);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = static_cast<HRESULT>(0x80040208u);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = static_cast<HRESULT>(0x8004020Au);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = static_cast<HRESULT>(0x80040210u);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = static_cast<HRESULT>(0x80040211u);
inline constexpr HRESULT VFW_E_SIZENOTSET = static_cast<HRESULT>(0x80040212u);
inline constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217u);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218u);
inline constexpr HRESULT VFW_E_NOT_STOPPED = static_cast<HRESULT>(0x80040224u);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227u);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022Au);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = static_cast<HRESULT>(0x80040249u);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025Fu);

// A media type. pbFormat is allocated with CoTaskMemAlloc and owned by the record (FreeMediaType).
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; // positive: bottom-up rows; negative: top-down
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_BITFIELDS = 3;

struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
struct TRUECOLORINFO {
    DWORD dwBitMasks[3];
    RGBQUAD bmiColors[256];
};
// VIDEOINFOHEADER followed by room for a palette or the three colour masks.
struct VIDEOINFO {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
    union {
        RGBQUAD bmiColors[256];
        DWORD dwBitMasks[3];
        TRUECOLORINFO TrueColorInfo;
    };
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(VIDEOINFO) == 1128);

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

enum QualityMessageType { Famine = 0, Flood = 1 };
// Proportion: the rate wanted, in thousandths of the current one (1000 = keep). Late: how late the
// sample was (100-ns units). TimeStamp: its start time.
struct Quality {
    QualityMessageType Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

struct IBaseFilter;
struct IFilterGraph;

// Names are UTF-8, at most 127 bytes.
struct PIN_INFO {
    IBaseFilter* pFilter; // holds a reference
    PIN_DIRECTION dir;
    char achName[128];
};
struct FILTER_INFO {
    char achName[128];
    IFilterGraph* pGraph; // holds a reference
};

// Media type helpers (the platform's own functions).
void FreeMediaType(AM_MEDIA_TYPE& mt);             // frees the format block and pUnk
void DeleteMediaType(AM_MEDIA_TYPE* mt);           // FreeMediaType, then the record (CoTaskMemFree)
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source); // CoTaskMemAlloc'ed copy, or null
// Bytes of a bitmap: row width rounded up to 4 bytes, times the absolute height.
DWORD GetBitmapSize(const BITMAPINFOHEADER* header);
// The RGB subtype of an uncompressed bitmap header (RGB565 for 16 bits with BI_BITFIELDS 5-6-5 masks),
// GUID_NULL when none fits.
GUID GetBitmapSubtype(const BITMAPINFOHEADER* header);
