// The operator window's behaviour: initialisation, layout, mouse driving, camera pointing, the command
// dispatch and the timers. Each handler works on the console state and the window's controls, so the
// window procedure is a thin switch over these and tests can call them directly too.
#pragma once

#include "console/window/console_app.h"

namespace kavro::console {

// Control lookup: the pane that shows a view (0 when the view has none).
int pane_of_view(int view);

// WM_INITDIALOG.
void window_init(ConsoleApp& app, Controls& c);
// WM_SIZE: lays out every control for the client size.
void window_size(ConsoleApp& app, Controls& c, int w, int h);
// WM_COMMAND with a control or menu identifier and the notification code.
void window_command(ConsoleApp& app, Controls& c, int id, int code);
// WM_TIMER.
void window_timer(ConsoleApp& app, Controls& c, int id);
// Mouse messages in client coordinates.
void window_left_down(ConsoleApp& app, Controls& c, int x, int y);
void window_left_up(ConsoleApp& app, Controls& c);
void window_right_down(ConsoleApp& app, Controls& c, int x, int y);
void window_right_up(ConsoleApp& app, Controls& c);
void window_mouse_move(ConsoleApp& app, Controls& c, int x, int y);
// A close request from another station: the same orderly exit as the Exit command.
void window_remote_close(ConsoleApp& app, Controls& c);

// The exit sequence: saves the settings and the composite layout, stops the video, sets quit, ends the loop.
void exit_sequence(ConsoleApp& app, Controls& c, int command);

// Switches to the pages view (12): stops the current view, shows the web pane and unchecks the view radios
// ("Map" too unless keep_map_checked). Used by the map, the web pages and a successful snapshot.
void show_page_view(ConsoleApp& app, Controls& c, bool keep_map_checked);

// Sets the enables of the base-station group for the state of "Virtual".
void apply_virtual_enables(Controls& c);

} // namespace kavro::console
