// The Video Mixing Renderer 9: a built-in renderer of the video platform that mixes up to 16 input streams
// (normalized output rectangle, opacity and layer per stream, bilinear scaling) with a colour-keyed overlay
// bitmap, in windowless mode: the picture goes to the clipping window given by the application.
//
// Inputs: "VMR Input0" ... one pin per stream, uncompressed RGB 5-6-5, RGB24 or RGB32 video (rows bottom-up or
// top-down as the format says), paced like a display. Stream 0 is the reference: its native size is the size
// of the composition (and of the current image). Each input offers its own allocator: a 32-bit top-down source
// that takes it writes its frames where the compositor reads them (no copy on hand-over).
#pragma once

#include "platform/com/com.h"
#include "platform/com/rect.h"
#include "platform/dshow/types.h"
#include "platform/dshow/vmr9/presenter.h"

namespace kavro::ui {
class Dc;
}

#ifndef KAVRO_HDC_DEFINED
#define KAVRO_HDC_DEFINED
// A device context of the window system (platform/ui/gdi.h), e.g. one over an off-screen canvas.
using HDC = kavro::ui::Dc*;
#endif

using COLORREF = DWORD; // 0x00BBGGRR

inline constexpr CLSID CLSID_VideoMixingRenderer9 = make_guid("51B4ABF3-748F-4E3B-A276-C828330E926A");
inline constexpr IID IID_IVMRFilterConfig9 = make_guid("5A804648-4F66-4867-9C43-4F5C822CF1B8");
inline constexpr IID IID_IVMRWindowlessControl9 = make_guid("8F537D09-F85E-4414-B23B-502E54C79927");
inline constexpr IID IID_IVMRMixerControl9 = make_guid("1A777EAA-47C8-4930-B2C9-8FEE1C1B0F3B");
inline constexpr IID IID_IVMRMixerBitmap9 = make_guid("CED175E5-1935-4820-81BD-FF6AD00C9108");

// Rendering modes.
inline constexpr DWORD VMR9Mode_Windowed = 0x1;
inline constexpr DWORD VMR9Mode_Windowless = 0x2;
inline constexpr DWORD VMR9Mode_Renderless = 0x4;

inline constexpr DWORD MAX_MIXER_STREAMS = 16;

// Mixing preferences (the bits the system touches; the others are kept as given).
inline constexpr DWORD MixerPref9_NoDecimation = 0x00000001;
inline constexpr DWORD MixerPref9_DecimateMask = 0x0000000F;
inline constexpr DWORD MixerPref9_BiLinearFiltering = 0x00000010;
inline constexpr DWORD MixerPref9_PointFiltering = 0x00000020;
inline constexpr DWORD MixerPref9_FilteringMask = 0x00000FF0;
inline constexpr DWORD MixerPref9_RenderTargetRGB = 0x00001000;
inline constexpr DWORD MixerPref9_RenderTargetMask = 0x000FF000;

struct VMR9NormalizedRect {
    float left, top, right, bottom;
};

// Alpha bitmap flags.
inline constexpr DWORD VMR9AlphaBitmap_Disable = 0x00000001;
inline constexpr DWORD VMR9AlphaBitmap_hDC = 0x00000002;
inline constexpr DWORD VMR9AlphaBitmap_EntireDDS = 0x00000004;
inline constexpr DWORD VMR9AlphaBitmap_SrcColorKey = 0x00000008;
inline constexpr DWORD VMR9AlphaBitmap_SrcRect = 0x00000010;
inline constexpr DWORD VMR9AlphaBitmap_FilterMode = 0x00000020;

struct VMR9AlphaBitmap {
    DWORD dwFlags;
    HDC hdc;                    // with VMR9AlphaBitmap_hDC: the picture is the canvas of this device context
    void* pDDS;                 // a display surface: none on this platform (refused)
    RECT rSrc;                  // with hDC: the part of the canvas to show
    VMR9NormalizedRect rDest;   // where it goes in the composition
    float fAlpha;               // overall opacity 0..1
    COLORREF clrSrcKey;         // with VMR9AlphaBitmap_SrcColorKey: this colour is transparent
    DWORD dwFilterMode;         // scaling is bilinear whatever is asked
};

struct IVMRFilterConfig9 : IUnknown {
    // 1 to MAX_MIXER_STREAMS input pins; only while stopped and before any input is connected.
    virtual HRESULT SetNumberOfStreams(DWORD max) = 0;    // 3
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;     // 4: windowed or windowless

protected:
    ~IVMRFilterConfig9() = default;
};

struct IVMRWindowlessControl9 : IUnknown {
    // Source: part of the native video (null keeps it); destination: part of the window's client area.
    virtual HRESULT SetVideoPosition(const RECT* source, const RECT* destination) = 0; // 3
    virtual HRESULT SetVideoClippingWindow(OAHWND window) = 0;                       // 4
    // The composition at the native size: a CoTaskMemAlloc'ed block, a BITMAPINFOHEADER (32 bits, rows
    // bottom-up) followed by the pixels. The caller frees it with CoTaskMemFree.
    virtual HRESULT GetCurrentImage(BYTE** dib) = 0; // 5

protected:
    ~IVMRWindowlessControl9() = default;
};

struct IVMRMixerControl9 : IUnknown {
    virtual HRESULT SetAlpha(DWORD stream, float alpha) = 0;                               // 3
    virtual HRESULT SetZOrder(DWORD stream, DWORD z) = 0;                                  // 4: higher is further back
    virtual HRESULT SetOutputRect(DWORD stream, const VMR9NormalizedRect* rect) = 0;       // 5
    virtual HRESULT SetMixingPrefs(DWORD prefs) = 0;                                       // 6
    virtual HRESULT GetMixingPrefs(DWORD* prefs) = 0;                                      // 7
    virtual HRESULT GetAlpha(DWORD stream, float* alpha) = 0;                              // 8
    virtual HRESULT GetZOrder(DWORD stream, DWORD* z) = 0;                                 // 9
    virtual HRESULT GetOutputRect(DWORD stream, VMR9NormalizedRect* rect) = 0;             // 10

protected:
    ~IVMRMixerControl9() = default;
};

struct IVMRMixerBitmap9 : IUnknown {
    virtual HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) = 0; // 3

protected:
    ~IVMRMixerBitmap9() = default;
};

// The renderer's work so far, for benchmarks and tests (an interface of this platform only): frames read where
// their source wrote them, frames converted on hand-over, pictures composed (display and current images).
inline constexpr IID IID_IMixerCounts = make_guid("15C0D9E8-86A9-4758-B6E6-8D1E7993EC1D");

struct IMixerCounts : IUnknown {
    virtual HRESULT GetCounts(std::uint64_t* in_place, std::uint64_t* converted, std::uint64_t* compositions) = 0;

protected:
    ~IMixerCounts() = default;
};

// The renderer's output as its window shows it (an interface of this platform only), for a capture input
// cabled back from the mixer's video output: the picture last shown, scaled (nearest pixel) to width x height,
// 32-bit rows top first `stride` pixels apart, copied into the caller's buffer. Costs a copy, never a
// composition. S_FALSE (nothing written) while no picture has been shown; E_INVALIDARG for a bad target.
inline constexpr IID IID_IMixerOutput = make_guid("159EADE2-3A58-4EAD-802E-B392D9945895");

struct IMixerOutput : IUnknown {
    virtual HRESULT CopyShownPicture(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                                     std::int32_t stride) = 0; // 3

protected:
    ~IMixerOutput() = default;
};

namespace kavro::vmr9 {

// The renderer composes at most one picture per period: 25 a second, the rate of the cameras and of the
// mixer's video output. Frames that arrive between two pictures replace each other; composing more often
// would only cost time.
inline constexpr REFERENCE_TIME picture_period = UNITS / 25;

// Where every mixing renderer of the process sends its pictures. By default each picture goes to the
// window system's window given as clipping window; a sink set here replaces that (an empty one restores
// it). Answers the previous sink.
KAVRO_DSHOW_API PictureSink set_picture_sink(PictureSink sink);

// The built-in class's creation function (registered with the platform's class table).
HRESULT create_mixing_renderer(IUnknown* outer, REFIID iid, void** object);

} // namespace kavro::vmr9
