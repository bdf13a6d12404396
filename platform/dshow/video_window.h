// The "Video Renderer": a built-in renderer of kavro_dshow with IVideoWindow. Rendered frames are shown in
// the owner window (put_Owner: a window of the ui layer) while visible, and go to the process's video frame
// sink when one is set.
#pragma once

#include "platform/dshow/interfaces.h"

#include <cstddef>
#include <functional>

inline constexpr CLSID CLSID_VideoRenderer = make_guid("70E102B0-5556-11CE-97C0-00AA0055595A");
inline constexpr IID IID_IVideoWindow = make_guid("56A868B4-0AD4-11CE-B03A-0020AF0BA770");

inline constexpr LONG OATRUE = -1;
inline constexpr LONG OAFALSE = 0;

struct IVideoWindow : IUnknown {
    virtual HRESULT put_Owner(OAHWND owner) = 0;                                      // 3
    virtual HRESULT get_Owner(OAHWND* owner) = 0;                                     // 4
    virtual HRESULT put_WindowStyle(LONG style) = 0;                                  // 5
    virtual HRESULT get_WindowStyle(LONG* style) = 0;                                 // 6
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0; // 7
    virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0; // 8
    virtual HRESULT put_Visible(LONG visible) = 0; // 9: OATRUE / OAFALSE
    virtual HRESULT get_Visible(LONG* visible) = 0; // 10

protected:
    ~IVideoWindow() = default;
};

namespace kavro::dshow {

// One rendered frame as the window would show it.
struct VideoFrame {
    OAHWND owner;             // the window given by put_Owner (0 when none)
    RECT position;            // left, top, right, bottom in the owner
    bool visible;
    const BITMAPINFOHEADER* format;
    const BYTE* data;         // the sample's bytes, valid during the call only
    std::size_t length;       // actual data length
    bool has_time;
    REFERENCE_TIME start, stop;
};
using VideoFrameSink = std::function<void(const VideoFrame&)>;

// Replaces the process's frame sink (the ui layer installs its window painter here) and returns the
// previous one. Called on the renderer's streaming thread.
KAVRO_DSHOW_API VideoFrameSink set_video_frame_sink(VideoFrameSink sink);

} // namespace kavro::dshow
