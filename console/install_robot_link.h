// The robot link installed into the operator window's subsystems: the command sender and status poll, the
// joystick, the Wii Remote, the GPS reader and the map feed, on the real devices and the window's controls.
#pragma once

#include "console/window/console_app.h"
#include "outside/capteur_control.h"
#include "platform/com/com_ptr.h"

#include <atomic>
#include <functional>
#include <memory>

namespace kavro::console {

// The sensor filter "Capteur" created straight to its control interface, as the console uses it while no video
// graph holds one: its status listener runs without a graph. Null (with a message on stderr) when the filter is
// not registered.
ComPtr<ICapteurControl> create_sensor_filter();

// The sensor filter the video graph holds, with a reference; null while there is none (before the build,
// after the graphs were released).
using GraphSensor = std::function<ComPtr<ICapteurControl>()>;

// Replaces the do-nothing robot link, joystick, Wii Remote and GPS subsystems of `app`. Call before run_console.
// With `graph_sensor`, the status poll and the map feed use the video graph's sensor filter, and do without
// one once the graph is gone; without it (or when the graph holds none at start) the filter is created alone.
// Answers the map feed's count of new snapshots, which the snapshot command sets (it lives as long as the feed).
std::shared_ptr<std::atomic<int>> install_robot_link(ConsoleApp& app, GraphSensor graph_sensor = {});

} // namespace kavro::console
