// Painting: an invalidated window waits for WM_PAINT from its thread's message loop; a Dc draws into the window's
// canvas and tells the observers when it goes away.
#include "platform/ui/state.h"

namespace kavro::ui {

namespace detail {

const WindowData* window_to_paint_locked(std::thread::id t) {
    for (Hwnd h : state().order) {
        const WindowData* w = find(h);
        if (w && w->invalid && w->thread == t && (w->proc || !w->parent) && visible_chain(w)) return w;
    }
    return nullptr;
}

} // namespace detail

using namespace detail;

bool invalidate_rect(Hwnd h, const Rect*, bool) {
    Tx tx;
    WindowData* w = find(h);
    if (!w) return false;
    w->invalid = true;
    tx.add(Event::Invalidated, h);
    wake_thread(w->thread);
    return true;
}

bool validate_rect(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    if (!w) return false;
    w->invalid = false;
    return true;
}

bool needs_paint(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    return w && w->invalid;
}

bool update_window(Hwnd h) {
    {
        std::lock_guard g(state().m);
        WindowData* w = find(h);
        if (!w || !w->invalid || !visible_chain(w)) return w != nullptr;
    }
    send_message(h, WM_PAINT);
    validate_rect(h);
    return true;
}

Dc get_dc(Hwnd h) {
    std::shared_ptr<Canvas> c;
    {
        std::lock_guard g(state().m);
        WindowData* w = find(h);
        if (!w) return Dc{};
        if (!w->canvas) w->canvas = std::make_shared<Canvas>(w->rect.w, w->rect.h);
        else w->canvas->resize(w->rect.w, w->rect.h);
        c = w->canvas;
    }
    return Dc(std::move(c), [h] { notify({Event{Event::Canvas, h}}); });
}

std::shared_ptr<const Canvas> window_canvas(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    return w ? w->canvas : nullptr;
}

} // namespace kavro::ui
