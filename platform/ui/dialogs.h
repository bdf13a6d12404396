// Dialogs: made from a template (modeless or modal), ended, and the helpers that reach their controls by
// identifier. Part of platform/ui/ui.h, which callers include.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/menus.h"
#include "platform/ui/types.h"

namespace kavro::ui {

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

// Creation and destruction.
// A template with WS_CHILD (a property page) makes a child of `owner` at its rectangle in the owner's client area.
Hwnd create_dialog(const DialogTemplate& t, WindowProc proc, Hwnd owner = {}, LPARAM init = 0);
// Runs a modal dialog (owner disabled meanwhile) until end_dialog; returns its result, or -1 when the dialog
// could not be created. A WM_QUIT met meanwhile ends the dialog and is posted again for the outer loop.
LRESULT dialog_box(const DialogTemplate& t, WindowProc proc, Hwnd owner = {}, LPARAM init = 0);
// Ends a dialog: a modal one returns `result` from dialog_box; a modeless one is hidden.
bool end_dialog(Hwnd dialog, LRESULT result);

// Text and numbers of a dialog's controls.
bool set_dlg_item_text(Hwnd dialog, int id, const std::string& text);
std::string get_dlg_item_text(Hwnd dialog, int id);
bool set_dlg_item_int(Hwnd dialog, int id, unsigned value, bool is_signed = false);
// Reads the text as a decimal number after optional leading blanks (a sign only when is_signed). When there is
// no number, or it does not fit in 32 bits, answers 0 and clears *ok.
unsigned get_dlg_item_int(Hwnd dialog, int id, bool* ok = nullptr, bool is_signed = false);

// Buttons of a dialog.
bool check_dlg_button(Hwnd dialog, int id, unsigned state);
unsigned is_dlg_button_checked(Hwnd dialog, int id);
// Checks `check` and unchecks the other buttons first..last.
bool check_radio_button(Hwnd dialog, int first, int last, int check);

} // namespace kavro::ui
