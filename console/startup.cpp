#include "console/startup.h"

#include "console/window/ids.h"
#include "console/window/resources.h"
#include "console/link/station_address.h"
#include "console/window/window_proc.h"
#include "platform/com/runtime.h"
#include "platform/ui/message_box.h"

#include <cstdio>

namespace kavro::console {

int run_console(ConsoleApp& app, ConsoleSystem& system, const StartupHooks& hooks) {
    // 1-2: one console per machine, and never beside the mixer.
    if (system.instance_running(kConsoleInstanceName)) {
        ui::message_box("Cette application est déjà lancée.\nFermer la première pour la relancer de nouveau.", "Erreur",
                        ui::MB_OK);
        return 0;
    }
    if (system.instance_running(kMixerInstanceName)) {
        ui::message_box("KAVRO est déjà lancée sur cette machine.\nVous ne pouvez pas utiliser l'interface en même temps.",
                        "Erreur", ui::MB_OK);
        return 0;
    }
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

    if (FAILED(app.seams.video->build())) {
        ui::message_box("Initialisation failed !.\nSoftware will exit.", "Error", ui::MB_OK | ui::MB_ICONERROR);
        app.seams.video->release_all();
        app.window.exiting = true;  // the window goes without the exit sequence
        ui::destroy_window(window);
        app.controls = nullptr;
        return 0;
    }
    system.publish_window(window);
    // The system asking the console to end (a service stop, Ctrl+C, logout) is the Exit command: every linked
    // robot gets its stop and the settings are saved.
    system.on_end_request([window] { ui::post_message(window, ui::WM_COMMAND, ids::kMenuExit, 0); });

    // Workers: remote control, robot commands, GPS receiver, map feed.
    app.seams.remote->start_listener();
    app.seams.robot_link->start_command_sender();
    app.seams.gps->start_gps_reader();
    app.seams.gps->start_map_feed();

    // Input devices, probed once.
    app.wiimote_present = app.seams.wiimote->find_and_open();
    app.joystick_present = app.seams.joystick->probe() >= 0;
    controls.menu_enable(ids::kMenuJoystick, app.joystick_present);
    controls.menu_enable(ids::kMenuWiimote, app.wiimote_present);

    controls.set_timer(kTimerConfigList, kConfigListPeriodMs);
    controls.set_timer(kTimerStatusPoll, kStatusPollPeriodMs);

    if (const auto own = own_station_address()) {
        app.own_address = *own;
        app.own_address_known = true;
        std::printf("Addresse WIFI : %d.%d.%d.%d\n", (*own)[0], (*own)[1], (*own)[2], (*own)[3]);
        std::fflush(stdout);
    }

    const int code = hooks.message_loop();

    if (app.joystick_present) app.seams.joystick->release();
    if (app.wiimote_present) app.seams.wiimote->close();
    // The window goes with the process; destroying it here keeps the model free of a procedure whose state
    // is gone (a quit that did not come from the exit sequence still leaves in order on the way).
    ui::destroy_window(window);
    app.controls = nullptr;
    return code;
}

} // namespace kavro::console
