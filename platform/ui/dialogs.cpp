// Dialogs: made from templates (modeless, modal in a nested message loop, or a child page inside a frame),
// ended, their default handling, and the helpers that reach their controls by identifier.
#include "platform/ui/state.h"

#include <cctype>

namespace kavro::ui {

namespace detail {

LRESULT default_dialog(Hwnd h, unsigned msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) post_message(h, WM_COMMAND, make_wparam(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

} // namespace detail

using namespace detail;

namespace {

// Lock held. The primary monitor's area (the first one's when none is primary).
Rect primary_area_locked() {
    Rect area = state().monitors.empty() ? Rect{0, 0, 1280, 1024} : state().monitors.front().area;
    for (auto& m : state().monitors)
        if (m.primary) area = m.area;
    return area;
}

// Lock held. The dialog window of a template, not yet filed. A child dialog (a property page inside its frame)
// lives in its owner's client area; DS_CENTER centres a top-level one on the primary monitor.
std::unique_ptr<WindowData> dialog_data(const DialogTemplate& t, WindowProc proc, Hwnd owner, bool modal) {
    auto w = std::make_unique<WindowData>();
    w->cls = WindowClass::Dialog;
    w->class_name = "#32770";
    w->dialog = true;
    w->modal = modal;
    w->template_id = t.id;
    w->style = t.style & ~WS_VISIBLE;
    w->text = t.caption;
    const bool child = (t.style & WS_CHILD) && owner && find(owner);
    if (child) w->parent = owner;
    else w->owner = owner;
    w->proc = std::move(proc);
    w->has_menu = !child && !t.menu.items.empty();
    w->menu = t.menu.items;
    const Rect px = map_dialog_rect(t.rect);
    const FrameInsets in = insets_of(*w);
    Rect client{px.x + in.left, px.y + in.top, px.w, px.h};
    if (child) {
        client = px;
    } else if (t.style & DS_CENTER) {
        const Rect area = primary_area_locked();
        client.x = area.x + (area.w - px.w) / 2;
        client.y = area.y + (area.h - px.h) / 2;
    }
    w->rect = w->normal_rect = client;
    return w;
}

Hwnd create_dialog_impl(const DialogTemplate& t, WindowProc proc, Hwnd owner, LPARAM init, bool modal) {
    Hwnd h;
    {
        Tx tx;
        h = new_window_locked(dialog_data(t, std::move(proc), owner, modal));
        tx.add(Event::Created, h);
        for (const auto& c : t.controls)
            tx.add(Event::Created, new_window_locked(control_data(c, map_dialog_rect(c.rect), h)));
    }
    call_proc(h, WM_INITDIALOG, 0, init);
    if ((t.style & WS_VISIBLE) || modal) show_window(h, SW_SHOW);
    return h;
}

// The nested loop of a modal dialog: until end_dialog (answers its result), the dialog is gone (-1) or WM_QUIT,
// which is posted again for the outer loop (-1).
LRESULT run_modal_loop(Hwnd h) {
    for (;;) {
        {
            std::lock_guard g(state().m);
            WindowData* w = find(h);
            if (!w) return -1;
            if (w->modal_ended) return w->modal_result;
        }
        Msg m;
        if (!get_message(m)) {
            post_quit_message(int(m.wparam));
            return -1;
        }
        translate_message(m);
        dispatch_message(m);
    }
}

// Reads a decimal number after optional blanks (a minus sign only when is_signed); nothing when there is none
// or it does not fit in 32 bits.
std::optional<unsigned> parse_dlg_int(const std::string& s, bool is_signed) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (is_signed && i < s.size() && s[i] == '-') {
        negative = true;
        ++i;
    }
    if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return std::nullopt;
    unsigned long long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + unsigned(s[i] - '0');
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (!is_signed) return unsigned(v);
    if (v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    return negative ? unsigned(-static_cast<long long>(v)) : unsigned(v);
}

} // namespace

Rect map_dialog_rect(Rect du) {
    // MulDiv rounding with base units 6 (horizontal) and 13 (vertical).
    auto mx = [](int v) { return v >= 0 ? (v * 6 + 2) / 4 : -((-v * 6 + 2) / 4); };
    auto my = [](int v) { return v >= 0 ? (v * 13 + 4) / 8 : -((-v * 13 + 4) / 8); };
    return Rect{mx(du.x), my(du.y), mx(du.w), my(du.h)};
}

Hwnd create_dialog(const DialogTemplate& t, WindowProc proc, Hwnd owner, LPARAM init) {
    return create_dialog_impl(t, std::move(proc), owner, init, false);
}

LRESULT dialog_box(const DialogTemplate& t, WindowProc proc, Hwnd owner, LPARAM init) {
    bool owner_was_enabled = false;
    if (owner) owner_was_enabled = is_window_enabled(owner);
    if (owner) enable_window(owner, false);
    const Hwnd h = create_dialog_impl(t, std::move(proc), owner, init, true);
    {
        Tx tx;
        tx.add(Event::State, h);
    }
    set_foreground_window(h);
    const LRESULT result = run_modal_loop(h);
    if (owner && owner_was_enabled) enable_window(owner, true);
    destroy_window(h);
    if (owner) set_foreground_window(owner);
    return result;
}

bool end_dialog(Hwnd h, LRESULT result) {
    bool modal = false;
    std::thread::id t;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || !w->dialog) return false;
        modal = w->modal;
        t = w->thread;
        if (modal) {
            w->modal_ended = true;
            w->modal_result = result;
        } else if (w->style & WS_VISIBLE) {
            w->style &= ~WS_VISIBLE;
            tx.add(Event::State, h);
        }
        wake_thread(t);
    }
    // Another thread ending a modal dialog wakes its loop.
    if (modal && t != std::this_thread::get_id()) post_message(h, WM_NULL);
    return true;
}

bool set_dlg_item_text(Hwnd dialog, int id, const std::string& text) {
    return set_window_text(get_dlg_item(dialog, id), text);
}

std::string get_dlg_item_text(Hwnd dialog, int id) { return get_window_text(get_dlg_item(dialog, id)); }

bool set_dlg_item_int(Hwnd dialog, int id, unsigned value, bool is_signed) {
    return set_dlg_item_text(dialog, id, is_signed ? std::to_string(int(value)) : std::to_string(value));
}

unsigned get_dlg_item_int(Hwnd dialog, int id, bool* ok, bool is_signed) {
    if (ok) *ok = false;
    const Hwnd h = get_dlg_item(dialog, id);
    if (!h) return 0;
    const std::optional<unsigned> v = parse_dlg_int(get_window_text(h), is_signed);
    if (!v) return 0;
    if (ok) *ok = true;
    return *v;
}

bool check_dlg_button(Hwnd dialog, int id, unsigned state) { return set_check(get_dlg_item(dialog, id), state); }

unsigned is_dlg_button_checked(Hwnd dialog, int id) { return get_check(get_dlg_item(dialog, id)); }

bool check_radio_button(Hwnd dialog, int first, int last, int check) {
    bool any = false;
    for (int id = first; id <= last; ++id)
        if (check_dlg_button(dialog, id, id == check ? BST_CHECKED : BST_UNCHECKED)) any = true;
    return any;
}

} // namespace kavro::ui
