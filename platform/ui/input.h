// The operator's input: what a person does with the windows, as the front end (or a test) reports it. Part of
// platform/ui/ui.h, which callers include.
#pragma once

#include <array>
#include <string>

#include "platform/ui/types.h"

namespace kavro::ui {

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
