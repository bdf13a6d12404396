// Painting: windows marked invalid get WM_PAINT from their thread's message loop; a Dc draws into a window's
// canvas. Part of platform/ui/ui.h, which callers include.
#pragma once

#include <memory>

#include "platform/ui/gdi.h"
#include "platform/ui/types.h"

namespace kavro::ui {

// Painting. The canvas of a window has its client size; a Dc draws into it (see gdi.h).
bool invalidate_rect(Hwnd w, const Rect* r = nullptr, bool erase = false);
bool validate_rect(Hwnd w);
bool needs_paint(Hwnd w);
bool update_window(Hwnd w); // sends WM_PAINT now when the window is invalid
Dc get_dc(Hwnd w);          // tells observers the canvas changed when the Dc goes away
std::shared_ptr<const Canvas> window_canvas(Hwnd w); // null before anything was drawn

} // namespace kavro::ui
