#include "console/window/operator_window.h"

#include "console/window/drive_pad.h"
#include "console/window/ids.h"
#include "platform/ui/message_box.h"

#include <chrono>
#include <thread>

namespace kavro::console {

using namespace ids;

namespace {

bool is_camera_view(int view) { return view >= kViewCameraFirst && view <= kViewCameraLast; }
int camera_of_view(int view) { return view - 3; }

CameraKind checked_kind(const Controls& c, int m, bool& any) {
    any = true;
    if (c.checked(camera_zoom_kind(m))) return CameraKind::zoom;
    if (c.checked(camera_mjpeg_kind(m))) return CameraKind::mjpeg;
    if (c.checked(camera_mpeg4_kind(m))) return CameraKind::mpeg4;
    any = false;
    return CameraKind::zoom;
}

void uncheck_camera_radios(Controls& c) {
    for (int m = 1; m <= 4; ++m) c.set_checked(camera_radio(m), false);
}

void centre_pad(ConsoleApp& app) {
    app.drive.pad_x.store(kPadCentre, std::memory_order_relaxed);
    app.drive.pad_y.store(kPadCentre, std::memory_order_relaxed);
}

int view(const ConsoleApp& app) { return app.window.view.load(std::memory_order_relaxed); }
void set_view(ConsoleApp& app, int v) { app.window.view.store(v, std::memory_order_relaxed); }

constexpr int kInputItems[4] = {kMenuMouse, kMenuJoystick, kMenuWiimote, kMenuAutojump};
void check_input_item(Controls& c, int item) {
    for (int i : kInputItems) c.menu_check(i, i == item);
}

// Mouse or Autojump: the pad is driven by the mouse again.
void choose_mouse_input(ConsoleApp& app, Controls& c, bool autojump, int item) {
    app.drive.autojump_mode.store(autojump, std::memory_order_relaxed);
    check_input_item(c, item);
    app.window.input_mode = kInputMouse;
    c.kill_timer(kTimerDevicePoll);
    app.window.mouse_drive = false;
    centre_pad(app);
    c.redraw_pad();
}

void choose_device_input(ConsoleApp& app, Controls& c, int mode, int item, bool present, const char* text) {
    if (!present) {
        ui::message_box(text, "Info", ui::MB_OK);
        return;
    }
    app.drive.autojump_mode.store(false, std::memory_order_relaxed);
    check_input_item(c, item);
    app.window.input_mode = mode;
    c.set_timer(kTimerDevicePoll, kDevicePollPeriodMs);
}

void place_panes(ConsoleApp& app, Controls& c) {
    const Rect r = app.window.full_screen ? Rect{0, 0, app.window.width, app.window.height} : app.window.normal_pane;
    for (int pane : kPanes) c.set_rect(pane, r);
}

void show_other_controls(ConsoleApp& app, Controls& c, bool show) {
    for (const Placement& p : control_layout(app.window.width, app.window.height)) c.set_visible(p.id, show);
}

void set_full_screen(ConsoleApp& app, Controls& c, bool on) {
    c.menu_check(kMenuNormal, !on);
    c.menu_check(kMenuFullScreen, on);
    app.window.full_screen = on;
    if (on) show_other_controls(app, c, false);
    place_panes(app, c);
    app.subsystems.video->fit_to_panes();
    if (!on) show_other_controls(app, c, true);
}

void select_robot(ConsoleApp& app, Controls& c, int k) {
    const int bit = kRobotBits[k - 1];
    const int mask = app.drive.selection_mask.load(std::memory_order_relaxed) ^ bit;
    set_selection(app.drive, mask);
    for (int r = 1; r <= 4; ++r) c.set_checked(robot_select(r), (mask & kRobotBits[r - 1]) != 0);
}

void kavro_view(ConsoleApp& app, Controls& c) {
    VideoPanes& video = *app.subsystems.video;
    c.set_checked(kKavroRadio, true);
    const int v = view(app);
    if (v == kViewRemoteMixer || v == kViewLocalMixer) {
        video.start_view(v);
        return;
    }
    video.stop_view(v);
    if (c.checked(kWebCheck)) {
        set_view(app, kViewRemoteMixer);
    } else {
        set_view(app, kViewLocalMixer);
        c.set_timer(kTimerConfigList, kConfigListPeriodMs);
    }
    uncheck_camera_radios(c);
    c.set_checked(kMeshRadio, false);
    c.set_checked(kMapRadio, false);
    video.start_view(view(app));
}

void web_toggled(ConsoleApp& app, Controls& c) {
    VideoPanes& video = *app.subsystems.video;
    const bool web = c.checked(kWebCheck);
    c.set_enabled(kMixerAddress, web);
    c.set_enabled(kMixerPortEdit, web);
    const int v = view(app);
    if (v == kViewRemoteMixer) {
        video.stop_view(v);
        set_view(app, kViewLocalMixer);
        c.set_timer(kTimerConfigList, kConfigListPeriodMs);
    } else if (v == kViewLocalMixer) {
        video.stop_view(v);
        set_view(app, kViewRemoteMixer);
        app.subsystems.pages->clear_config_list();
    }
    video.start_view(view(app));
    c.set_checked(kVirtualCheck, false);
    c.set_enabled(kVirtualCheck, !web);
    apply_virtual_enables(c);
}

void camera_view(ConsoleApp& app, Controls& c, int m) {
    VideoPanes& video = *app.subsystems.video;
    const int v = view(app);
    if (v == m + 3) {
        c.set_checked(camera_radio(m), true);
        video.start_view(v);
        return;
    }
    video.stop_view(v);
    set_view(app, m + 3);
    c.set_checked(kKavroRadio, false);
    for (int n = 1; n <= 4; ++n) c.set_checked(camera_radio(n), n == m);
    c.set_checked(kMeshRadio, false);
    c.set_checked(kMapRadio, false);
    video.start_view(m + 3);
}

void camera_center(ConsoleApp& app, Controls& c, int m) {
    app.window.camera_pad_x = kPadCentre;
    app.window.camera_pad_y = kPadCentre;
    bool any = false;
    const CameraKind kind = checked_kind(c, m, any);
    if (any) {
        if (kind == CameraKind::mjpeg) {
            app.window.pan = 157;
            app.window.tilt = 46;
            app.subsystems.video->camera_pan_tilt(app.window.pan, app.window.tilt);
        } else {
            app.subsystems.video->camera_command(kind, "home", 100);
        }
    }
    c.redraw_pad();
}

void camera_zoom(ConsoleApp& app, Controls& c, int m, bool in) {
    bool any = false;
    const CameraKind kind = checked_kind(c, m, any);
    if (!any) return;
    if (kind == CameraKind::mjpeg) {
        int& level = app.window.zoom_level;
        level = in ? (level < 8 ? level + 1 : 8) : (level > 1 ? level - 1 : 1);
        app.subsystems.video->camera_zoom(level);
    } else {
        app.subsystems.video->camera_command(kind, in ? "tele" : "wide", 100);
    }
}

void camera_kind_chosen(ConsoleApp& app, Controls& c, int m, int radio) {
    VideoPanes& video = *app.subsystems.video;
    for (int kind : {camera_zoom_kind(m), camera_mjpeg_kind(m), camera_mpeg4_kind(m)}) c.set_checked(kind, kind == radio);
    const bool outputs = radio != camera_mjpeg_kind(m);
    for (int n = 1; n <= 4; ++n) c.set_enabled(camera_output(m, n), outputs);
    if (view(app) == m + 3) {
        // The player that showed this camera is stopped; the new kind's player starts below.
        const struct {
            int pane;
            CameraKind kind;
        } players[3] = {{kPaneZoom, CameraKind::zoom}, {kPaneMjpeg, CameraKind::mjpeg}, {kPaneMpeg4, CameraKind::mpeg4}};
        for (const auto& p : players) {
            if (c.visible(p.pane)) {
                c.set_visible(p.pane, false);
                video.stop_player(p.kind);
                break;
            }
            c.set_visible(p.pane, false);
        }
    }
    video.start_view(view(app));
}

void camera_output_clicked(ConsoleApp& app, Controls& c, int m, int id) {
    const int state = c.checked(id) ? 1 : 0;
    bool any = false;
    const CameraKind kind = checked_kind(c, m, any);
    if (any && kind != CameraKind::mjpeg) app.subsystems.video->camera_digital_output(kind, 1, state);
}

void camera_block_command(ConsoleApp& app, Controls& c, int m, int id) {
    const int q = id - camera_prefix(m);
    switch (q) {
    case 1: camera_view(app, c, m); break;
    case 4: camera_center(app, c, m); break;
    case 5:
    case 6:
    case 7: camera_kind_chosen(app, c, m, id); break;
    case 9:
    case 10:
    case 11:
    case 12: camera_output_clicked(app, c, m, id); break;
    case 13: camera_zoom(app, c, m, true); break;
    case 14: camera_zoom(app, c, m, false); break;
    default: break;
    }
}

void mesh_view(ConsoleApp& app, Controls& c) {
    if (view(app) == kViewMesh) {
        app.subsystems.pages->apply_reference_node();
        return;
    }
    app.subsystems.video->stop_view(view(app));
    set_view(app, kViewMesh);
    app.subsystems.pages->name_mesh_nodes();
    if (FAILED(app.subsystems.video->run_mesh_graph())) return;
    c.set_visible(kPaneMesh, true);
    uncheck_camera_radios(c);
    c.set_checked(kKavroRadio, false);
    c.set_checked(kMapRadio, false);
    c.set_checked(kMeshRadio, true);
}

void gps_port_chosen(ConsoleApp& app, Controls& c) {
    GpsPortRequest& g = *app.window.gps_port;
    {
        std::lock_guard<std::mutex> hold(g.lock);
        g.name = c.text(kGpsPortList).substr(0, 9);
    }
    g.changed.store(true, std::memory_order_relaxed);
}

bool is_menu_command(int id) {
    switch (id) {
    case kMenuAbout: case kMenuExit: case kMenuMouse: case kMenuJoystick: case kMenuWiimote:
    case kMenuAutojump: case kMenuNormal: case kMenuFullScreen: case kMenuSnapshot:
        return true;
    default:
        return false;
    }
}

// Pad coordinates of a client point: relative to the pad control's top-left corner.
void pad_coordinates(const ConsoleApp& app, int x, int y, int& px, int& py) {
    const Rect pad = drive_pad_rect(app.window.width, app.window.height);
    px = x - pad.x;
    py = y - pad.y;
}

bool camera_drag_allowed(const ConsoleApp& app, const Controls& c) {
    const int v = view(app);
    return is_camera_view(v) && c.checked(camera_mjpeg_kind(camera_of_view(v)));
}

} // namespace

int pane_of_view(int v) {
    switch (v) {
    case kViewRemoteMixer: return kPaneMixer;
    case kViewLocalMixer: return kPaneComposite;
    case kViewMesh: return kPaneMesh;
    case kViewPages: return kPaneWeb;
    default: return 0;
    }
}

void apply_virtual_enables(Controls& c) {
    const bool v = c.checked(kVirtualCheck);
    for (int id : {kBaseAddress, kBaseInLabel, kBaseInEdit, kBaseOutLabel, kBaseOutEdit, kBaseConfigLabel,
                   kBaseConfigEdit, kBaseOlsrLabel, kBaseOlsrEdit})
        c.set_enabled(id, !v);
    for (int n = 0; n < 4; ++n) {
        c.set_enabled(kBaseBarLabels[n], !v);
        c.set_enabled(kBaseBars[n], !v);
        c.set_enabled(kLaunchButtons[n], !v);
    }
    for (int id : {kGpsPortLabel, kGpsPortList, kGpsPortOk}) c.set_enabled(id, v);
}

void show_page_view(ConsoleApp& app, Controls& c, bool keep_map_checked) {
    const int v = view(app);
    if (v != kViewPages) {
        app.subsystems.video->stop_view(v);
        set_view(app, kViewPages);
    }
    c.set_visible(kPaneWeb, true);
    uncheck_camera_radios(c);
    c.set_checked(kKavroRadio, false);
    c.set_checked(kMeshRadio, false);
    c.set_checked(kMapRadio, keep_map_checked);
}

void window_init(ConsoleApp& app, Controls& c) {
    app.window.reference_address = Ipv4Address{127, 0, 0, 1};
    app.subsystems.pages->archive_old_snapshots();
    app.window.channel_flags.fill(0);
    load_interface_config(app.config, c, *app.subsystems.pages);
    for (int k = 1; k <= 4; ++k) {
        for (int bar : {robot_battery_bar(k), robot_signal_bar(k)}) {
            c.set_progress_range(bar, 0, 100);
            c.set_progress_step(bar, 1);
        }
        c.set_progress_range(robot_speed_bar(k), 0, 63);
        c.set_progress_step(robot_speed_bar(k), 1);
        c.set_progress_colour(robot_battery_bar(k), 0, 0, 255);
        c.set_progress_colour(robot_signal_bar(k), 255, 0, 255);
    }
    if (!app.network_connected()) {
        c.set_enabled(kWebCheck, false);
        c.set_enabled(kMapRadio, false);
    }
}

void window_size(ConsoleApp& app, Controls& c, int w, int h) {
    WindowState& s = app.window;
    s.width = w;
    s.height = h;
    const std::vector<Placement> layout = control_layout(w, h);
    for (const Placement& p : layout) c.set_rect(p.id, p.rect);
    s.normal_pane = normal_pane_rect(w, h);
    place_panes(app, c);
    for (const Placement& p : layout) c.set_visible(p.id, !s.full_screen);
    app.subsystems.video->fit_to_panes();
    c.redraw_window();
    c.redraw_pad();
}

void exit_sequence(ConsoleApp& app, Controls& c, int command) {
    if (app.window.exiting) return;
    app.window.exiting = true;
    c.kill_timer(kTimerConfigList);
    save_interface_config(app.config, c);
    app.subsystems.video->save_layout("kavro.xml");
    app.subsystems.video->stop_graphs();
    app.drive.quit.store(true, std::memory_order_relaxed);
    app.subsystems.video->release_all();
    c.end_and_quit(command);
}

void window_remote_close(ConsoleApp& app, Controls& c) { exit_sequence(app, c, kCancel); }

void window_command(ConsoleApp& app, Controls& c, int id, int code) {
    if (id >= 1000 && !is_menu_command(id) && code != 0) return;
    Pages& pages = *app.subsystems.pages;
    switch (id) {
    case kCancel:
    case kMenuExit: exit_sequence(app, c, id); return;
    case kMenuAbout: c.about_box(); return;
    case kMenuMouse: choose_mouse_input(app, c, false, kMenuMouse); return;
    case kMenuAutojump: choose_mouse_input(app, c, true, kMenuAutojump); return;
    case kMenuJoystick:
        choose_device_input(app, c, kInputJoystick, kMenuJoystick, app.joystick_present,
                            "Joystick not found.\nTo use a joystick, connect one and restart the program.");
        return;
    case kMenuWiimote:
        choose_device_input(app, c, kInputWiimote, kMenuWiimote, app.wiimote_present,
                            "Wiimote not found.\nTo use a wiimote, connect one and restart the program.");
        return;
    case kMenuNormal: set_full_screen(app, c, false); return;
    case kMenuFullScreen: set_full_screen(app, c, true); return;
    case kMenuSnapshot: pages.take_snapshot(); return;
    case kKavroRadio: kavro_view(app, c); return;
    case kWebCheck: web_toggled(app, c); return;
    case kMeshRadio: mesh_view(app, c); return;
    case kMapRadio:
        pages.navigate_map();
        show_page_view(app, c, true);
        return;
    case kRobotConfigButton: pages.show_robot_page(); return;
    case kVideoConfigButton: pages.show_video_source_page(); return;
    case kMixerConfigOk: pages.apply_configuration(); return;
    case kReferenceOk: pages.apply_reference_node(); return;
    case kGpsPortOk: gps_port_chosen(app, c); return;
    case kVirtualCheck: apply_virtual_enables(c); return;
    default: break;
    }
    for (int n = 0; n < 4; ++n)
        if (id == kLaunchButtons[n]) {
            pages.launch(n + 1);
            return;
        }
    if (const int k = robot_of_select(id)) {
        select_robot(app, c, k);
        return;
    }
    if (const int m = camera_of_control(id)) camera_block_command(app, c, m, id);
}

void window_timer(ConsoleApp& app, Controls& c, int id) {
    switch (id) {
    case kTimerDevicePoll:
        if (app.window.input_mode == kInputJoystick)
            app.subsystems.joystick->poll_step();
        else if (app.window.input_mode == kInputWiimote)
            app.subsystems.wiimote->poll_step();
        return;
    case kTimerConfigList: {
        const int v = view(app);
        if (v == kViewRemoteMixer) {
            app.subsystems.pages->refresh_config_list();
        } else if (v == kViewLocalMixer) {
            app.subsystems.pages->apply_pending_local_layout();
            app.subsystems.pages->refresh_config_list();
        } else {
            c.kill_timer(kTimerConfigList);
        }
        return;
    }
    case kTimerStatusPoll: app.subsystems.robot_link->status_poll(); return;
    default: window_command(app, c, id, 0); return;
    }
}

void window_left_down(ConsoleApp& app, Controls& c, int x, int y) {
    if (app.window.input_mode != kInputMouse) return;
    if (!in_pad_press_area(x, y, app.window.width, app.window.height)) return;
    app.window.mouse_drive = true;
    window_mouse_move(app, c, x, y);
}

void window_left_up(ConsoleApp& app, Controls& c) {
    DriveState& d = app.drive;
    // Release: the sender that sees the flag also sees the pad position it jumps to.
    if (d.autojump_mode.load(std::memory_order_relaxed)) d.autojump_pending.store(true, std::memory_order_release);
    if (!app.window.mouse_drive) return;
    // The command sender takes the jump with the pad where it is, then clears the flag.
    unsigned waited = 0;
    while (d.autojump_pending.load(std::memory_order_relaxed) && waited < app.window.autojump_wait_limit_ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(app.window.autojump_wait_step_ms));
        waited += app.window.autojump_wait_step_ms;
    }
    app.window.mouse_drive = false;
    centre_pad(app);
    c.redraw_pad();
}

void window_right_down(ConsoleApp& app, Controls& c, int x, int y) {
    if (!in_pad_press_area(x, y, app.window.width, app.window.height)) return;
    if (!camera_drag_allowed(app, c)) return;
    app.window.camera_drag = true;
    window_mouse_move(app, c, x, y);
}

void window_right_up(ConsoleApp& app, Controls&) { app.window.camera_drag = false; }

void window_mouse_move(ConsoleApp& app, Controls& c, int x, int y) {
    WindowState& s = app.window;
    if (!s.mouse_drive && !s.camera_drag) return;
    int px = 0, py = 0;
    pad_coordinates(app, x, y, px, py);
    const PadPoint p = clamp_to_pad(px, py);
    if (s.mouse_drive) {
        if (p.inside) {
            app.drive.pad_x.store(static_cast<std::uint8_t>(p.x), std::memory_order_relaxed);
            app.drive.pad_y.store(static_cast<std::uint8_t>(p.y), std::memory_order_relaxed);
        } else {
            s.mouse_drive = false;
            centre_pad(app);
        }
        c.redraw_pad();
    }
    if (s.camera_drag) {
        if (p.inside) {
            s.camera_pad_x = static_cast<std::uint8_t>(p.x);
            s.camera_pad_y = static_cast<std::uint8_t>(p.y);
        } else {
            s.camera_drag = false;
            s.camera_pad_x = s.camera_pad_y = kPadCentre;
        }
        const PanTilt pt = camera_pan_tilt(s.camera_pad_x, s.camera_pad_y);
        s.pan = pt.pan;
        s.tilt = pt.tilt;
        app.subsystems.video->camera_pan_tilt(s.pan, s.tilt);
        c.redraw_pad();
    }
}

} // namespace kavro::console
