// The window system: a model of the Win32 user interface pieces the programs use.
//
// Overview
// - Every window and every control is a window with a handle (`Hwnd`, 32 bits, never reused while the process
//   lives, so a stale handle is simply "not a window"). A window has a class, a style, an identifier, a text, a
//   rectangle, a parent, and the state of its class: check state, progress range/position/colour, list items and
//   selection, IPv4 address fields, a pixel canvas, the latest video frame, a web address.
// - Dialogs are created from a `DialogTemplate` (ids, classes, texts, styles, rectangles in dialog units, a menu);
//   `create_dialog` makes a modeless one and sends WM_INITDIALOG; `dialog_box` runs a modal one in a nested loop
//   until `end_dialog`. A dialog procedure returns nonzero when it handled the message; otherwise the default
//   dialog handling applies (WM_CLOSE becomes WM_COMMAND IDCANCEL). Plain windows come from `create_window`.
// - Each thread that owns windows has a message queue: `post_message` queues, `send_message` calls the window
//   procedure directly on the owner thread and blocks a caller on another thread until the owner has handled it.
//   `get_message` also produces WM_PAINT for invalidated windows and WM_TIMER for due timers (`set_timer`).
// - Painting: `invalidate_rect` marks a window; the next WM_PAINT is handled by its procedure, which draws with a
//   `Dc` (platform/ui/gdi.h) from `get_dc` into the canvas of any window (e.g. a drive pad control).
// - The user's side: functions in `kavro::ui::user` act as the operator would (click a button, type into an
//   edit, pick a list item, resize a window, press a mouse button); they apply the control's own behaviour and
//   send the same messages Win32 would. Tests call them directly; the Qt front end calls them from its widgets.
// - A front end watches the model through `add_observer` and can replace how a thread waits for messages
//   (`set_thread_event_pump`) so that its own events keep flowing inside the program's message loop.
// All functions are thread-safe; observers and window procedures are always called without internal locks held.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
inline constexpr unsigned BS_GROUPBOX = 0x7;
inline constexpr unsigned BS_AUTORADIOBUTTON = 0x9;
inline constexpr unsigned BS_TYPEMASK = 0xF;
inline constexpr unsigned BS_PUSHLIKE = 0x1000;
// Static styles (the low five bits are the static type).
inline constexpr unsigned SS_LEFT = 0x0;
inline constexpr unsigned SS_CENTER = 0x1;
inline constexpr unsigned SS_RIGHT = 0x2;
inline constexpr unsigned SS_BLACKFRAME = 0x7;
inline constexpr unsigned SS_ETCHEDFRAME = 0x12;
inline constexpr unsigned SS_TYPEMASK = 0x1F;
inline constexpr unsigned SS_NOTIFY = 0x0100;
inline constexpr unsigned SS_SUNKEN = 0x1000;
// Edit styles.
inline constexpr unsigned ES_LEFT = 0x0;
inline constexpr unsigned ES_CENTER = 0x1;
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

// Menus: a bar of popups with items. An item with id 0 and empty text is a separator.
struct MenuItem {
    int id = 0;
    std::string text;
    bool checked = false;
    bool grayed = false;
    std::vector<MenuItem> popup; // non-empty: this item opens a popup
};
inline MenuItem menu_item(int id, std::string text, bool checked = false, bool grayed = false) {
    MenuItem m;
    m.id = id;
    m.text = std::move(text);
    m.checked = checked;
    m.grayed = grayed;
    return m;
}
inline MenuItem menu_popup(std::string text, std::vector<MenuItem> items) {
    MenuItem m;
    m.text = std::move(text);
    m.popup = std::move(items);
    return m;
}
struct MenuTemplate {
    int id = 0;
    std::vector<MenuItem> items;
};

// One control of a dialog template. Rectangles are in dialog units; the style includes WS_VISIBLE and
// WS_DISABLED as in a resource file (WS_CHILD is implied).
struct ControlTemplate {
    int id = -1;
    WindowClass cls = WindowClass::Static;
    std::string text;
    Rect rect;
    unsigned style = WS_VISIBLE;
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    std::string font = "MS Shell Dlg";
    int font_size = 8;
    Rect rect; // dialog units
    unsigned style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    MenuTemplate menu; // no items: no menu
    std::vector<ControlTemplate> controls;
};

// Dialog units to pixels for the dialog font (base units 6 × 13 pixels).
Rect map_dialog_rect(Rect dialog_units);

// Plain (non-dialog) windows.
struct WindowSpec {
    std::string class_name = "std";
    std::string title;
    unsigned style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    unsigned ex_style = 0;
    Rect rect{CW_USEDEFAULT, CW_USEDEFAULT, 640, 480}; // top level: outer rectangle on screen; child: in parent
    Hwnd parent;
    int id = 0; // child windows only
};

// A window procedure. For dialogs it returns nonzero when it handled the message.
using WindowProc = std::function<LRESULT(Hwnd, unsigned msg, WPARAM, LPARAM)>;

// Creation and destruction.
// A template with WS_CHILD (a property page) makes a child of `owner` at its rectangle in the owner's client area.
Hwnd create_dialog(const DialogTemplate& t, WindowProc proc, Hwnd owner = {}, LPARAM init = 0);
// Runs a modal dialog (owner disabled meanwhile) until end_dialog; returns its result, or -1 when the dialog
// could not be created. A WM_QUIT met meanwhile ends the dialog and is posted again for the outer loop.
LRESULT dialog_box(const DialogTemplate& t, WindowProc proc, Hwnd owner = {}, LPARAM init = 0);
// Ends a dialog: a modal one returns `result` from dialog_box; a modeless one is hidden.
bool end_dialog(Hwnd dialog, LRESULT result);
Hwnd create_window(const WindowSpec& spec, WindowProc proc);
// Adds a control to a window at run time (rectangle in pixels, parent client coordinates).
Hwnd create_control(Hwnd parent, const ControlTemplate& t);
// Sends WM_DESTROY to the window and then to its children, and removes them all.
bool destroy_window(Hwnd w);
// The default handling of a plain window (WM_CLOSE destroys the window).
LRESULT def_window_proc(Hwnd w, unsigned msg, WPARAM wp, LPARAM lp);

// Lookup.
bool is_window(Hwnd w);
Hwnd get_dlg_item(Hwnd dialog, int id);
int get_dlg_ctrl_id(Hwnd w);
Hwnd get_parent(Hwnd w);
std::vector<Hwnd> get_children(Hwnd w); // in creation order
std::vector<Hwnd> top_level_windows();  // in creation order
WindowClass get_class(Hwnd w);
std::string get_class_name(Hwnd w);
unsigned get_style(Hwnd w);
bool is_dialog(Hwnd w);
bool is_modal(Hwnd w); // a dialog run by dialog_box
int template_id(Hwnd w); // dialog template id, 0 for other windows

// Text.
bool set_window_text(Hwnd w, const std::string& text);
std::string get_window_text(Hwnd w); // a drop-down list answers its selected item
bool set_dlg_item_text(Hwnd dialog, int id, const std::string& text);
std::string get_dlg_item_text(Hwnd dialog, int id);
bool set_dlg_item_int(Hwnd dialog, int id, unsigned value, bool is_signed = false);
// Reads the text as a decimal number after optional leading blanks (a sign only when is_signed). When there is
// no number, or it does not fit in 32 bits, answers 0 and clears *ok.
unsigned get_dlg_item_int(Hwnd dialog, int id, bool* ok = nullptr, bool is_signed = false);

// Buttons.
bool check_dlg_button(Hwnd dialog, int id, unsigned state);
unsigned is_dlg_button_checked(Hwnd dialog, int id);
// Checks `check` and unchecks the other buttons first..last.
bool check_radio_button(Hwnd dialog, int first, int last, int check);
bool set_check(Hwnd button, unsigned state);
unsigned get_check(Hwnd button);

// Enabled, visible, position.
bool enable_window(Hwnd w, bool enable); // answers whether it was disabled before
bool is_window_enabled(Hwnd w);
bool show_window(Hwnd w, int cmd);       // answers whether it was visible before (its own style)
bool is_window_visible(Hwnd w);          // it and all its parents are visible
bool is_iconic(Hwnd w);
bool is_zoomed(Hwnd w);
// Child: rectangle in parent client coordinates. Top level: the outer rectangle on screen.
bool move_window(Hwnd w, int x, int y, int width, int height, bool repaint = true);
Rect get_client_rect(Hwnd w);      // (0, 0, width, height)
Rect get_window_rect(Hwnd w);      // outer rectangle in screen coordinates
Rect get_child_rect(Hwnd w);       // a child's rectangle in its parent's client coordinates
Point client_to_screen(Hwnd w, Point p);
// The non-client frame of a top-level window: left border and top (border, caption, menu bar).
struct FrameInsets { int left = 0, top = 0, right = 0, bottom = 0; };
FrameInsets frame_insets(Hwnd w);

// Foreground.
bool set_foreground_window(Hwnd w);
Hwnd get_foreground_window();
Hwnd get_last_active_popup(Hwnd w); // the owned modal dialog running on top, else w
// Brings a program's window to the front: its last active popup, restored when minimised, made foreground.
bool bring_to_front(Hwnd w);

// Monitors (the primary first). One primary 1280 × 1024 monitor unless a front end tells otherwise.
struct Monitor {
    Rect area;
    bool primary = false;
};
std::vector<Monitor> monitors();
void set_monitors(std::vector<Monitor> list);

// Menus of top-level windows.
bool has_menu(Hwnd w);
std::vector<MenuItem> get_menu(Hwnd w);
// Answer the previous state (MF_CHECKED/MF_UNCHECKED, MF_ENABLED/MF_GRAYED) or -1 when there is no such item.
int check_menu_item(Hwnd w, int id, unsigned flags);
int enable_menu_item(Hwnd w, int id, unsigned flags);
bool menu_item_checked(Hwnd w, int id);
bool menu_item_enabled(Hwnd w, int id);

// Progress bars (default range 0..100, step 10, no colour set: the system's).
struct ProgressState {
    int low = 0, high = 100, pos = 0, step = 10;
    std::optional<Colour> bar_colour;
};
bool progress_set_range(Hwnd w, int low, int high);
int progress_set_pos(Hwnd w, int pos); // clamps into the range; answers the previous position
int progress_get_pos(Hwnd w);
bool progress_set_step(Hwnd w, int step);
int progress_step_it(Hwnd w); // wraps to the low end past the high end, as the control does
bool progress_set_bar_colour(Hwnd w, Colour c);
ProgressState progress_state(Hwnd w);

// Drop-down lists.
int combo_add_string(Hwnd w, const std::string& text); // index of the new item, CB_ERR on failure
bool combo_reset_content(Hwnd w);
int combo_set_cur_sel(Hwnd w, int index); // -1 clears; CB_ERR for an index out of range (selection cleared)
int combo_get_cur_sel(Hwnd w);            // CB_ERR when nothing is selected
int combo_get_count(Hwnd w);
std::string combo_get_item(Hwnd w, int index);
std::vector<std::string> combo_items(Hwnd w);
int combo_find_string_exact(Hwnd w, const std::string& text); // CB_ERR when absent

// IPv4 address controls: four fields, each blank or 0..255; the address packed as a·2²⁴ + b·2¹⁶ + c·2⁸ + d.
constexpr std::uint32_t make_ip_address(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (std::uint32_t(a & 0xFF) << 24) | (std::uint32_t(b & 0xFF) << 16) | (std::uint32_t(c & 0xFF) << 8) |
           std::uint32_t(d & 0xFF);
}
constexpr unsigned first_ip_address(std::uint32_t x) { return (x >> 24) & 0xFF; }
constexpr unsigned second_ip_address(std::uint32_t x) { return (x >> 16) & 0xFF; }
constexpr unsigned third_ip_address(std::uint32_t x) { return (x >> 8) & 0xFF; }
constexpr unsigned fourth_ip_address(std::uint32_t x) { return x & 0xFF; }
bool ip_set_address(Hwnd w, std::uint32_t address);
// Blank fields read as 0; answers the number of non-blank fields (-1 when w is not an address control).
int ip_get_address(Hwnd w, std::uint32_t& address);
bool ip_clear_address(Hwnd w);
bool ip_is_blank(Hwnd w);
std::array<int, 4> ip_fields(Hwnd w); // -1 for a blank field

// Web view panes.
bool web_navigate(Hwnd w, const std::string& url);
std::string web_location(Hwnd w);

// Video frames: any window can show the latest frame handed to it (video panes, the mixer's window). Callable
// from any thread; the frame is copied.
struct VideoFrame {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // 0xFFRRGGBB, top row first, width × height
};
bool present_frame(Hwnd w, int width, int height, const std::uint32_t* pixels, std::ptrdiff_t stride_pixels);
std::shared_ptr<const VideoFrame> current_frame(Hwnd w);
bool clear_frame(Hwnd w);
// A sink bound to one window, for renderers that only know where to send pictures.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual bool present(int width, int height, const std::uint32_t* pixels, std::ptrdiff_t stride_pixels) = 0;
};
std::shared_ptr<FrameSink> frame_sink(Hwnd w);

// Painting. The canvas of a window has its client size; a Dc draws into it (see gdi.h).
bool invalidate_rect(Hwnd w, const Rect* r = nullptr, bool erase = false);
bool validate_rect(Hwnd w);
bool needs_paint(Hwnd w);
bool update_window(Hwnd w); // sends WM_PAINT now when the window is invalid
Dc get_dc(Hwnd w);          // tells observers the canvas changed when the Dc goes away
std::shared_ptr<const Canvas> window_canvas(Hwnd w); // null before anything was drawn

// Messages.
struct Msg {
    Hwnd hwnd;
    unsigned message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
};
bool post_message(Hwnd w, unsigned msg, WPARAM wp = 0, LPARAM lp = 0);
LRESULT send_message(Hwnd w, unsigned msg, WPARAM wp = 0, LPARAM lp = 0);
void post_quit_message(int exit_code);
// Waits for the next message of the calling thread: sent messages are handled inside; answers false for WM_QUIT
// (its exit code in msg.wparam).
bool get_message(Msg& msg);
// The next message if one is ready now (sent messages are handled inside).
bool peek_message(Msg& msg, bool remove = true);
void translate_message(const Msg& msg);
LRESULT dispatch_message(const Msg& msg);
// get/translate/dispatch until WM_QUIT; answers its exit code.
int run_message_loop();
// Handles every message that is ready now, without waiting; answers false when WM_QUIT was met (it stays
// pending for the next get_message).
bool pump_messages();

// Timers: WM_TIMER with the timer's id in wParam, on the window's thread, at most one pending per timer.
// Setting an existing id restarts it. Answers the id, 0 on failure.
unsigned set_timer(Hwnd w, unsigned id, unsigned period_ms);
bool kill_timer(Hwnd w, unsigned id);
bool timer_exists(Hwnd w, unsigned id);

// How a thread waits for messages. A front end installs its own so its events flow while the program waits.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Waits until wake() or the deadline (none: no timeout). Spurious returns are fine.
    virtual void wait(std::optional<std::chrono::steady_clock::time_point> deadline) = 0;
    // Called from any thread when a message arrives for the pump's thread.
    virtual void wake() = 0;
    // Called by get_message on every turn, also when messages keep coming, so the front end's own events are
    // never starved by a busy queue. Must not block.
    virtual void poll() {}
};
// For the calling thread; null restores the plain wait. The pump must outlive its use.
void set_thread_event_pump(EventPump* pump);

// Observers see every change of the model, on the thread that made it.
struct Event {
    enum Kind {
        Created,    // a window or control exists
        Destroyed,  // it is gone
        Moved,      // rectangle changed
        Text,       // window text changed
        State,      // checked, enabled, visible, progress, list, address, web location, modal
        Menu,       // menu check or grey state
        Canvas,     // the canvas was drawn
        Frame,      // a video frame was presented
        Invalidated,
        Foreground, // brought to front, restored or minimised
    } kind;
    Hwnd hwnd;
};
using Observer = std::function<void(const Event&)>;
int add_observer(Observer fn);
void remove_observer(int token);

// What the operator does. Each applies the control's own behaviour and sends the messages Win32 sends.
namespace user {
// Buttons: auto check boxes toggle, auto radio buttons check themselves and uncheck the other auto radio
// buttons of their group; then WM_COMMAND (id, BN_CLICKED) goes to the parent. Disabled or hidden: nothing.
bool click(Hwnd control);
bool type_text(Hwnd edit, const std::string& text);      // sets the text, then EN_CHANGE
bool select_item(Hwnd combo, int index);                 // sets the selection, then CBN_SELCHANGE
bool enter_ip_fields(Hwnd ip, std::array<int, 4> fields); // -1 blank, above 255 becomes 255; then EN_CHANGE
bool choose_menu(Hwnd w, int id);                        // enabled items only: WM_COMMAND (id, 0)
// Mouse message in client coordinates of top-level window w (WM_LBUTTONDOWN ... WM_RBUTTONUP, WM_MOUSEMOVE).
LRESULT mouse(Hwnd w, unsigned msg, int x, int y, unsigned keys = 0);
bool press_escape(Hwnd w); // a dialog: WM_COMMAND IDCANCEL
bool close(Hwnd w);        // the close box: WM_CLOSE
// The window's client area took a new size (the window manager or the operator resized it): WM_SIZE.
bool resized(Hwnd w, int client_width, int client_height, WPARAM size_type = SIZE_RESTORED);
} // namespace user

} // namespace kavro::ui
