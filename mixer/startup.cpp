#include "mixer/startup.h"

#include "mixer/graph.h"
#include "mixer/listeners.h"
#include "platform/ui/message_box.h"

namespace kavro::mixer {

namespace {

bool refused(MixerSystem& system) {
    if (system.instance_running(kMixerInstanceName)) {
        ui::message_box("Cette application est déjà lancée.\nFermer la première pour la relancer de nouveau.", "Erreur",
                        ui::MB_OK);
        return true;
    }
    if (system.instance_running(kConsoleInstanceName)) {
        ui::message_box("L'interface KAVRO est déjà lancée sur cette machine.\nVous ne pouvez pas utiliser KAVRO en "
                        "même temps.",
                        "Erreur", ui::MB_OK);
        return true;
    }
    return false;
}

ui::Hwnd create_display_window(MixerState& s) {
    ui::WindowSpec spec;
    spec.class_name = "std";
    spec.title = "KAVRO";
    spec.style = ui::WS_POPUP;
    spec.rect = {ui::CW_USEDEFAULT, ui::CW_USEDEFAULT, kWindowWidth, kWindowHeight};
    // Keys and the mouse change nothing: every message but the destroy notification takes the default way.
    return ui::create_window(spec, [&s](ui::Hwnd w, unsigned msg, ui::WPARAM wp, ui::LPARAM lp) -> ui::LRESULT {
        if (msg == ui::WM_DESTROY) {
            destroy_steps(s);
            return 0;
        }
        return ui::def_window_proc(w, msg, wp, lp);
    });
}

} // namespace

void place_on_second_monitor(ui::Hwnd window) {
    for (const ui::Monitor& m : ui::monitors()) {
        if (m.primary) continue;
        const ui::Rect r = ui::get_window_rect(window);
        ui::move_window(window, m.area.x, m.area.y, r.w, r.h, false);
        return;
    }
}

void destroy_steps(MixerState& s) {
    std::lock_guard lock(s.graph_lock);
    if (s.destroyed) return;
    s.destroyed = true;
    s.stop.store(true);
    {
        std::lock_guard overlay(s.overlay.lock);
        s.layout.overlay_alpha = s.overlay.alpha;
    }
    write_mixer_config(s.document, s.layout, s.objects.sensor.get(), s.configs_dir);
    if (s.objects.control) s.objects.control->StopWhenReady();
    release_graph(s);
    ui::post_quit_message(0);
}

int run_mixer(MixerState& s, MixerSystem& system, const StartupHooks& hooks) {
    if (refused(system)) return 0;
    s.window = create_display_window(s);
    if (!s.window) return 0;
    system.create_instance_block(kMixerInstanceName, s.window);
    place_on_second_monitor(s.window);
    HRESULT hr;
    {
        std::lock_guard lock(s.graph_lock);
        hr = build_graph(s);
    }
    if (FAILED(hr)) {
        s.destroyed = true; // nothing to save: the window goes without its destroy steps
        ui::destroy_window(s.window);
        return int(hr);
    }
    ui::show_window(s.window, hooks.show_command);
    ui::update_window(s.window);
    Workers workers(s);
    workers.start();
    const ui::Hwnd window = s.window;
    system.on_end_request([window] { ui::post_message(window, ui::WM_CLOSE); });
    const int code = hooks.message_loop();
    system.on_end_request({});
    workers.stop();
    if (ui::is_window(s.window)) ui::destroy_window(s.window);
    return code;
}

} // namespace kavro::mixer
