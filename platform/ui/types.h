// The window system's basic types and Win32 values: handles, message parameters, messages, styles, window
// classes, rectangles and the window procedure. Part of platform/ui/ui.h, which callers include.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"

namespace kavro::ui {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// A window handle. Null (0) is "no window".
struct Hwnd {
    std::uint32_t value = 0;
    explicit operator bool() const { return value != 0; }
    friend bool operator==(Hwnd, Hwnd) = default;
};

constexpr WPARAM make_wparam(unsigned lo, unsigned hi) { return WPARAM((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)); }
constexpr LPARAM make_lparam(int lo, int hi) {
    return LPARAM(std::uint32_t((std::uint32_t(lo) & 0xFFFF) | ((std::uint32_t(hi) & 0xFFFF) << 16)));
}
constexpr unsigned loword(std::uintptr_t v) { return unsigned(v & 0xFFFF); }
constexpr unsigned hiword(std::uintptr_t v) { return unsigned((v >> 16) & 0xFFFF); }
// Mouse coordinates are signed 16-bit values (a drag can leave the window).
constexpr int get_x_lparam(LPARAM l) { return int(std::int16_t(std::uint16_t(l & 0xFFFF))); }
constexpr int get_y_lparam(LPARAM l) { return int(std::int16_t(std::uint16_t((l >> 16) & 0xFFFF))); }

// Messages (Win32 values).
inline constexpr unsigned WM_NULL = 0x0000;
inline constexpr unsigned WM_CREATE = 0x0001;
inline constexpr unsigned WM_DESTROY = 0x0002;
inline constexpr unsigned WM_SIZE = 0x0005;
inline constexpr unsigned WM_PAINT = 0x000F;
inline constexpr unsigned WM_CLOSE = 0x0010;
inline constexpr unsigned WM_QUIT = 0x0012;
inline constexpr unsigned WM_KEYDOWN = 0x0100;
inline constexpr unsigned WM_INITDIALOG = 0x0110;
inline constexpr unsigned WM_COMMAND = 0x0111;
inline constexpr unsigned WM_TIMER = 0x0113;
inline constexpr unsigned WM_MOUSEMOVE = 0x0200;
inline constexpr unsigned WM_LBUTTONDOWN = 0x0201;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_RBUTTONDOWN = 0x0204;
inline constexpr unsigned WM_RBUTTONUP = 0x0205;
inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_APP = 0x8000;

// Notification codes carried in the high word of WM_COMMAND's wParam.
inline constexpr unsigned BN_CLICKED = 0;
inline constexpr unsigned CBN_SELCHANGE = 1;
inline constexpr unsigned EN_CHANGE = 0x0300;

inline constexpr unsigned VK_ESCAPE = 0x1B;
inline constexpr unsigned MK_LBUTTON = 0x0001;
inline constexpr unsigned MK_RBUTTON = 0x0002;

inline constexpr WPARAM SIZE_RESTORED = 0;
inline constexpr WPARAM SIZE_MINIMIZED = 1;
inline constexpr WPARAM SIZE_MAXIMIZED = 2;

// Show commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_RESTORE = 9;
inline constexpr int SW_SHOWDEFAULT = 10;

// Window styles.
inline constexpr unsigned WS_OVERLAPPED = 0x00000000;
inline constexpr unsigned WS_POPUP = 0x80000000;
inline constexpr unsigned WS_CHILD = 0x40000000;
inline constexpr unsigned WS_MINIMIZE = 0x20000000;
inline constexpr unsigned WS_VISIBLE = 0x10000000;
inline constexpr unsigned WS_DISABLED = 0x08000000;
inline constexpr unsigned WS_CLIPSIBLINGS = 0x04000000;
inline constexpr unsigned WS_MAXIMIZE = 0x01000000;
inline constexpr unsigned WS_CAPTION = 0x00C00000;
inline constexpr unsigned WS_BORDER = 0x00800000;
inline constexpr unsigned WS_VSCROLL = 0x00200000;
inline constexpr unsigned WS_SYSMENU = 0x00080000;
inline constexpr unsigned WS_THICKFRAME = 0x00040000;
inline constexpr unsigned WS_GROUP = 0x00020000;
inline constexpr unsigned WS_TABSTOP = 0x00010000;
inline constexpr unsigned WS_MINIMIZEBOX = 0x00020000;
inline constexpr unsigned WS_MAXIMIZEBOX = 0x00010000;
inline constexpr unsigned DS_SETFONT = 0x0040;
inline constexpr unsigned DS_MODALFRAME = 0x0080;
inline constexpr unsigned DS_CONTROL = 0x0400;
inline constexpr unsigned DS_CENTER = 0x0800;
inline constexpr unsigned WS_EX_APPWINDOW = 0x00040000;

// Button styles (the low four bits are the button type).
inline constexpr unsigned BS_PUSHBUTTON = 0x0;
inline constexpr unsigned BS_DEFPUSHBUTTON = 0x1;
inline constexpr unsigned BS_CHECKBOX = 0x2;
inline constexpr unsigned BS_AUTOCHECKBOX = 0x3;
inline constexpr unsigned BS_RADIOBUTTON = 0x4;
inline constexpr unsigned BS_3STATE = 0x5;
inline constexpr unsigned BS_AUTO3STATE = 0x6;
inline constexpr unsigned BS_GROUPBOX = 0x7;
inline constexpr unsigned BS_AUTORADIOBUTTON = 0x9;
inline constexpr unsigned BS_TYPEMASK = 0xF;
inline constexpr unsigned BS_PUSHLIKE = 0x1000;
// Static styles (the low five bits are the static type).
inline constexpr unsigned SS_LEFT = 0x0;
inline constexpr unsigned SS_CENTER = 0x1;
inline constexpr unsigned SS_RIGHT = 0x2;
inline constexpr unsigned SS_BLACKRECT = 0x4; // the filled rectangles and frames: 0x4 to 0x9
inline constexpr unsigned SS_GRAYRECT = 0x5;
inline constexpr unsigned SS_WHITERECT = 0x6;
inline constexpr unsigned SS_BLACKFRAME = 0x7;
inline constexpr unsigned SS_GRAYFRAME = 0x8;
inline constexpr unsigned SS_WHITEFRAME = 0x9;
inline constexpr unsigned SS_ETCHEDFRAME = 0x12;
inline constexpr unsigned SS_TYPEMASK = 0x1F;
inline constexpr unsigned SS_NOTIFY = 0x0100;
inline constexpr unsigned SS_SUNKEN = 0x1000;
// Edit styles (the low two bits are the alignment).
inline constexpr unsigned ES_LEFT = 0x0;
inline constexpr unsigned ES_CENTER = 0x1;
inline constexpr unsigned ES_RIGHT = 0x2;
inline constexpr unsigned ES_ALIGNMASK = 0x3;
inline constexpr unsigned ES_AUTOHSCROLL = 0x80;
inline constexpr unsigned ES_NUMBER = 0x2000;
// Combo box styles.
inline constexpr unsigned CBS_DROPDOWNLIST = 0x3;
// Progress bar styles.
inline constexpr unsigned PBS_SMOOTH = 0x1;

inline constexpr unsigned BST_UNCHECKED = 0;
inline constexpr unsigned BST_CHECKED = 1;

// Menu item states (as EnableMenuItem/CheckMenuItem take and return them).
inline constexpr unsigned MF_BYCOMMAND = 0x0;
inline constexpr unsigned MF_ENABLED = 0x0;
inline constexpr unsigned MF_GRAYED = 0x1;
inline constexpr unsigned MF_DISABLED = 0x2;
inline constexpr unsigned MF_UNCHECKED = 0x0;
inline constexpr unsigned MF_CHECKED = 0x8;

inline constexpr int CB_ERR = -1;
inline constexpr int CW_USEDEFAULT = int(0x80000000u);


// Classes of windows the model knows.
enum class WindowClass {
    Dialog,     // "#32770"
    Window,     // a registered application class (the class name is kept)
    Button,     // "Button": push, default push, check box, radio button, group box (by style)
    Static,     // "Static": text or frame
    Edit,       // "Edit"
    ComboBox,   // "ComboBox" (drop-down list)
    Progress,   // "msctls_progress32"
    IpAddress,  // "SysIPAddress32"
    VideoPane,  // a pane showing video frames handed to it
    WebView,    // a pane showing a web page
};
const char* class_name(WindowClass c);

// Rectangles are position and size; right() and bottom() are exclusive.
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool contains(Point p) const { return p.x >= x && p.y >= y && p.x < right() && p.y < bottom(); }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A window procedure. For dialogs it returns nonzero when it handled the message.
using WindowProc = std::function<LRESULT(Hwnd, unsigned msg, WPARAM, LPARAM)>;

} // namespace kavro::ui
