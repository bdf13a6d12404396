// Draws the drive pad: the bevelled square, the centre mark, the camera marker and the pad marker.
#pragma once

#include "console/window/console_app.h"
#include "platform/ui/gdi.h"

namespace kavro::console {

// Pad-relative coordinates (0..199). The blue camera marker shows while the view is a camera whose kind is
// MJPEG; the red pad marker always.
void paint_drive_pad(const ConsoleApp& app, const Controls& c, ui::Dc& dc);

} // namespace kavro::console
