#include "console/startup.h"

#include "console/window/ids.h"
#include "console/window/resources.h"
#include "console/link/station_address.h"
#include "console/window/window_proc.h"
#include "platform/com/runtime.h"
#include "platform/ui/message_box.h"

#include <cstdio>

namespace kavro::console {

namespace {

// One console per machine, and never beside the mixer: true, after telling the operator, when the other runs.
bool refused_beside_another(ConsoleSystem& system) {
    if (system.instance_running(kConsoleInstanceName)) {
        ui::message_box("Cette application est déjà lancée.\nFermer la première pour la relancer de nouveau.", "Erreur",
                        ui::MB_OK);
        return true;
    }
    if (system.instance_running(kMixerInstanceName)) {
        ui::message_box("KAVRO est déjà lancée sur cette machine.\nVous ne pouvez pas utiliser l'interface en même temps.",
                        "Erreur", ui::MB_OK);
        return true;
    }
    return false;
}

// The video failed to build: the operator is told and the window goes without the exit sequence.
void abandon_window(ConsoleApp& app, ui::Hwnd window) {
    ui::message_box("Initialisation failed !.\nSoftware will exit.", "Error", ui::MB_OK | ui::MB_ICONERROR);
    app.subsystems.video->release_all();
    app.window.exiting = true;
    ui::destroy_window(window);
    app.controls = nullptr;
}

// Remote control, robot commands, GPS receiver and map feed.
void start_workers(Subsystems& subsystems) {
    subsystems.remote->start_listener();
    subsystems.robot_link->start_command_sender();
    subsystems.gps->start_gps_reader();
    subsystems.gps->start_map_feed();
}

// The input devices, probed once; their menu entries are greyed when absent.
void probe_input_devices(ConsoleApp& app, Controls& controls) {
    app.wiimote_present = app.subsystems.wiimote->find_and_open();
    app.joystick_present = app.subsystems.joystick->probe() >= 0;
    controls.menu_enable(ids::kMenuJoystick, app.joystick_present);
    controls.menu_enable(ids::kMenuWiimote, app.wiimote_present);
}

void note_station_address(ConsoleApp& app) {
    const auto own = own_station_address();
    if (!own) return;
    app.own_address = *own;
    app.own_address_known = true;
    std::printf("Addresse WIFI : %d.%d.%d.%d\n", (*own)[0], (*own)[1], (*own)[2], (*own)[3]);
    std::fflush(stdout);
}

// After the message loop: the input devices are let go, and the window is destroyed here rather than with the
// process, so that the model keeps no procedure whose state is gone (a quit that did not come from the exit
// sequence still leaves in order on the way).
void close_after_loop(ConsoleApp& app, ui::Hwnd window) {
    if (app.joystick_present) app.subsystems.joystick->release();
    if (app.wiimote_present) app.subsystems.wiimote->close();
    ui::destroy_window(window);
    app.controls = nullptr;
}

} // namespace

int run_console(ConsoleApp& app, ConsoleSystem& system, const StartupHooks& hooks) {
    if (refused_beside_another(system)) return 0;
    system.create_instance_block(kConsoleInstanceName);
    app.last_com_status.store(CoInitialize(nullptr), std::memory_order_relaxed);  // not checked

    // The operator window: initialisation runs inside its creation.
    OperatorWindowProc proc(app);
    const ui::Hwnd window = ui::create_dialog(operator_dialog_template(), proc.proc());
    if (!window || !proc.controls()) {
        app.controls = nullptr;
        return 0;
    }
    ModelControls& controls = *proc.controls();
    ui::show_window(window, ui::SW_SHOWMAXIMIZED);
    ui::update_window(window);
    app.subsystems.pages->show_home_page();
    if (FAILED(app.subsystems.video->build())) {
        abandon_window(app, window);
        return 0;
    }
    system.publish_window(window);
    // The system asking the console to end (a service stop, Ctrl+C, logout) is the Exit command: every linked
    // robot gets its stop and the settings are saved.
    system.on_end_request([window] { ui::post_message(window, ui::WM_COMMAND, ids::kMenuExit, 0); });

    start_workers(app.subsystems);
    probe_input_devices(app, controls);
    controls.set_timer(kTimerConfigList, kConfigListPeriodMs);
    controls.set_timer(kTimerStatusPoll, kStatusPollPeriodMs);
    note_station_address(app);

    const int code = hooks.message_loop();
    close_after_loop(app, window);
    return code;
}

} // namespace kavro::console
