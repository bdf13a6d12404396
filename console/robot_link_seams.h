// The link's rooms plugged into the console: the command sender and status poll, the joystick, the Wii Remote,
// the GPS reader and the map feed, on the real devices and the operator window's controls.
#pragma once

#include "console/console_app.h"

namespace kavro::console {

// Replaces the do-nothing robot link, joystick, Wii Remote and GPS seams of `app`. Call before run_console.
void install_link_seams(ConsoleApp& app);

} // namespace kavro::console
