// Windows: creation and destruction of plain windows, lookup, text, enabled and visible state, position and
// size, minimised and maximised state, the foreground window and the monitors. Part of platform/ui/ui.h, which
// callers include.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/types.h"

namespace kavro::ui {

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

// Creation and destruction.
Hwnd create_window(const WindowSpec& spec, WindowProc proc);
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

} // namespace kavro::ui
