// The robot link installed into the operator window's subsystems: the command sender and status poll, the
// joystick, the Wii Remote, the GPS reader and the map feed, on the real devices and the window's controls.
#pragma once

#include "console/window/console_app.h"
#include "outside/capteur_control.h"
#include "platform/com/com_ptr.h"

#include <atomic>
#include <memory>

namespace kavro::console {

// The sensor filter "Capteur" created straight to its control interface, as the console uses it while no video
// graph holds one: its status listener runs without a graph. Null (with a message on stderr) when the filter is
// not registered.
ComPtr<ICapteurControl> create_sensor_filter();

// Replaces the do-nothing robot link, joystick, Wii Remote and GPS subsystems of `app`. Call before run_console.
// Answers the map feed's count of new snapshots, which the snapshot command sets (it lives as long as the feed).
std::shared_ptr<std::atomic<int>> install_robot_link(ConsoleApp& app);

} // namespace kavro::console
