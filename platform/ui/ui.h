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
// The declarations are grouped by section in the headers below; include this one.
#pragma once

#include "platform/ui/types.h"
#include "platform/ui/windows.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/controls.h"
#include "platform/ui/menus.h"
#include "platform/ui/painting.h"
#include "platform/ui/messages.h"
#include "platform/ui/timers.h"
#include "platform/ui/observers.h"
#include "platform/ui/input.h"
