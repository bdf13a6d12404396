// The operator's input: each action applies the control's own behaviour (a check box toggles, a radio button
// checks itself and clears its group, a number edit refuses letters) and then sends the messages Win32 sends.
// A disabled or hidden control takes nothing.
#include "platform/ui/state.h"

#include <algorithm>

namespace kavro::ui::user {

using namespace detail;

namespace {

// Who hears about a change of a control: its parent, with the control's id.
struct Notify {
    Hwnd parent;
    int id = 0;
};

void send_command(Hwnd control, const Notify& to, unsigned code) {
    send_message(to.parent, WM_COMMAND, make_wparam(unsigned(to.id), code), LPARAM(control.value));
}

// Lock held. Whether a click reaches this control: a visible and enabled button other than a group box, or a
// static that notifies.
bool takes_click(const WindowData& w) {
    if (!visible_chain(&w) || !enabled_chain(&w)) return false;
    if (w.cls == WindowClass::Static) return w.style & SS_NOTIFY;
    return w.cls == WindowClass::Button && (w.style & BS_TYPEMASK) != BS_GROUPBOX;
}

bool is_auto_radio(const WindowData& w) {
    return w.cls == WindowClass::Button && (w.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

// Lock held. Checks an auto radio button and clears the other auto radio buttons of its group, which runs from
// the last sibling with WS_GROUP at or before it to the next WS_GROUP.
void check_in_group(WindowData& w, Tx& tx) {
    WindowData* p = find(w.parent);
    if (!p) return;
    const auto& sib = p->children;
    const std::ptrdiff_t me = std::find(sib.begin(), sib.end(), w.h) - sib.begin();
    std::ptrdiff_t first = me;
    while (first > 0) {
        WindowData* s = find(sib[std::size_t(first)]);
        if (s && (s->style & WS_GROUP)) break;
        --first;
    }
    for (std::ptrdiff_t i = first; i < std::ptrdiff_t(sib.size()); ++i) {
        WindowData* s = find(sib[std::size_t(i)]);
        if (!s) continue;
        if (i > first && (s->style & WS_GROUP)) break;
        if (!is_auto_radio(*s)) continue;
        const unsigned want = s == &w ? BST_CHECKED : BST_UNCHECKED;
        if (s->check != want) {
            s->check = want;
            tx.add(Event::State, s->h);
        }
    }
}

} // namespace

bool click(Hwnd h) {
    Notify to;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || !takes_click(*w)) return false;
        if (w->cls == WindowClass::Button && (w->style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
            w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            tx.add(Event::State, h);
        } else if (is_auto_radio(*w)) {
            check_in_group(*w, tx);
        }
        to = Notify{w->parent, w->id};
    }
    send_command(h, to, BN_CLICKED);
    return true;
}

bool type_text(Hwnd h, const std::string& text) {
    Notify to;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || w->cls != WindowClass::Edit || !enabled_chain(w)) return false;
        if ((w->style & ES_NUMBER) &&
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        if (w->text == text) return true;
        w->text = text;
        tx.add(Event::Text, h);
        to = Notify{w->parent, w->id};
    }
    send_command(h, to, EN_CHANGE);
    return true;
}

bool select_item(Hwnd h, int index) {
    Notify to;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || w->cls != WindowClass::ComboBox || !enabled_chain(w)) return false;
        if (index < 0 || index >= int(w->items.size())) return false;
        w->sel = index;
        tx.add(Event::State, h);
        to = Notify{w->parent, w->id};
    }
    send_command(h, to, CBN_SELCHANGE);
    return true;
}

bool enter_ip_fields(Hwnd h, std::array<int, 4> fields) {
    Notify to;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || w->cls != WindowClass::IpAddress || !enabled_chain(w)) return false;
        for (auto& f : fields) f = f < 0 ? -1 : std::min(f, 255);
        if (w->ip == fields) return true;
        w->ip = fields;
        tx.add(Event::State, h);
        to = Notify{w->parent, w->id};
    }
    send_command(h, to, EN_CHANGE);
    return true;
}

bool choose_menu(Hwnd h, int id) {
    {
        std::lock_guard g(state().m);
        WindowData* w = find(h);
        const MenuItem* it = w && enabled_chain(w) ? find_menu_item(w->menu, id) : nullptr;
        if (!it || it->grayed) return false;
    }
    send_message(h, WM_COMMAND, make_wparam(unsigned(id), 0), 0);
    return true;
}

LRESULT mouse(Hwnd h, unsigned msg, int x, int y, unsigned keys) {
    if (!is_window_enabled(h)) return 0;
    return send_message(h, msg, keys, make_lparam(x, y));
}

bool press_escape(Hwnd h) {
    if (!is_window(h) || !is_window_enabled(h)) return false;
    if (is_dialog(h))
        send_message(h, WM_COMMAND, make_wparam(IDCANCEL, BN_CLICKED), 0);
    else
        send_message(h, WM_KEYDOWN, VK_ESCAPE, 0);
    return true;
}

bool close(Hwnd h) {
    if (!is_window(h) || !is_window_enabled(h)) return false;
    send_message(h, WM_CLOSE);
    return true;
}

bool resized(Hwnd h, int cw, int ch, WPARAM size_type) {
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w) return false;
        w->iconic = size_type == SIZE_MINIMIZED;
        if (size_type != SIZE_MINIMIZED) {
            w->zoomed = size_type == SIZE_MAXIMIZED;
            w->rect.w = std::max(cw, 0);
            w->rect.h = std::max(ch, 0);
            if (!w->zoomed) w->normal_rect = w->rect;
        }
        tx.add(Event::Moved, h);
    }
    if (size_type != SIZE_MINIMIZED) send_message(h, WM_SIZE, size_type, make_lparam(cw, ch));
    return true;
}

} // namespace kavro::ui::user
