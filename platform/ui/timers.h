// Timers: WM_TIMER on the window's thread, produced by its message loop. Part of platform/ui/ui.h, which callers
// include.
#pragma once

#include "platform/ui/types.h"

namespace kavro::ui {

// Timers: WM_TIMER with the timer's id in wParam, on the window's thread, at most one pending per timer.
// Setting an existing id restarts it. Answers the id, 0 on failure.
unsigned set_timer(Hwnd w, unsigned id, unsigned period_ms);
bool kill_timer(Hwnd w, unsigned id);
bool timer_exists(Hwnd w, unsigned id);

} // namespace kavro::ui
