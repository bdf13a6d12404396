// The three camera viewer controls of the operator window (library VitaminCtrl.dll): one per camera kind,
// each hosted in its pane (platform/ui/control_host.h) and playing the MJPEG stream of whichever camera of its
// kind is shown, at the pane's size.
//
// The three interfaces have the same method table (ICameraViewer) under three identifiers; each control
// answers only its own. Every call returns at once (the network is used on the control's own threads).
//
// Typical use by the console: create by class, attach to the pane, hand the fixed settings (SetSetting; the
// MPEG4 player also SetStreamPath), then for each view SetAddress + SetPort + Start, Stop when the view
// changes, camera commands while it shows, SaveSnapshot for the snapshot command.
#pragma once

#include "platform/com/com.h"

#include <cstdint>

// Pane 1001, cameras of kind "ZOOM".
inline constexpr CLSID CLSID_ZoomViewer = make_guid("70EDCF63-CA7E-4812-8528-DA1EA2FD53B6");
inline constexpr IID IID_IZoomViewer = make_guid("000D2C68-B46B-461C-B5EC-83AC5202FE2C");
// Pane 1002, cameras of kind "MJPEG".
inline constexpr CLSID CLSID_MjpegViewer = make_guid("31150A86-0BBA-409F-BEB4-F3922D10BF34");
inline constexpr IID IID_IMjpegViewer = make_guid("28D4752F-CF84-11D1-834C-00A0249F0C28");
// Pane 1003, cameras of kind "MPEG4".
inline constexpr CLSID CLSID_Mpeg4Viewer = make_guid("98264495-6376-443C-9340-2996038BD143");
inline constexpr IID IID_IMpeg4Viewer = make_guid("37605714-5AD2-41D3-A604-C0D5042309D9");

// Methods in table order. Texts are UTF-8, copied by the control. Failures return a negative HRESULT and
// leave a sentence for GetErrorText (the control's error information); they never stop the control.
struct ICameraViewer : IUnknown {
    // Fixed settings by name (names are case-sensitive; E_INVALIDARG for an unknown name or a bad value):
    //   "UserName", "Password"  HTTP credentials for the camera (default none)
    //   "Stretch"               "1" fills the pane (default), "0" keeps the picture's proportions, black around
    //   "ControlPath"           HTTP path of the camera commands (default "/cgi-bin/camctrl")
    //   "StreamPath"            as SetStreamPath
    virtual HRESULT SetSetting(const char* name, const char* value) = 0; // 3
    // The camera: dotted IPv4 address text ("%d.%d.%d.%d") and HTTP port (1..65535). Take effect at Start.
    virtual HRESULT SetAddress(const char* address) = 0; // 4
    virtual HRESULT SetPort(std::int32_t port) = 0;      // 5
    // The camera's stream path as the console knows it (e.g. "/cgi-bin/video.vam"); kept, see the README:
    // the control plays the camera's MJPEG stream at the kind's path.
    virtual HRESULT SetStreamPath(const char* path) = 0; // 6
    // The picture size in the pane (pixels, 16..4096); 0 x 0 follows the pane's client size (the default).
    virtual HRESULT SetSize(std::int32_t width, std::int32_t height) = 0; // 7
    // Starts playing the camera set last (restarts when already playing); Stop stops and clears the pane.
    virtual HRESULT Start() = 0; // 8
    virtual HRESULT Stop() = 0;  // 9
    // Saves the current picture (the last whole JPEG the camera sent) as a JPEG file; the path is the
    // system's (e.g. "C:/Program Files/KAVRO/Map/snapshot/snapshot1.jpg", mapped to this machine's drive C).
    // E_FAIL when there is no picture yet or the file cannot be written.
    virtual HRESULT SaveSnapshot(const char* path) = 0; // 10
    // Camera commands, sent to the camera over HTTP (GET ControlPath?...) on the control's own thread:
    // "home", "tele", "wide" with a speed; pan (1..313) and tilt (0..114); zoom level (1..8); a digital
    // output (1..4) set to a state (0/1).
    virtual HRESULT CameraCommand(const char* command, std::int32_t speed) = 0; // 11
    virtual HRESULT SetPanTilt(std::int32_t pan, std::int32_t tilt) = 0;        // 12
    virtual HRESULT SetZoom(std::int32_t level) = 0;                            // 13
    virtual HRESULT SetDigitalOutput(std::int32_t output, std::int32_t state) = 0; // 14
    // The sentence of the last failure ("" when none), cut to fit `size` bytes with its terminator.
    virtual HRESULT GetErrorText(char* buffer, std::int32_t size) = 0; // 15

protected:
    ~ICameraViewer() = default;
};
