// Windows: creation and destruction, lookup, text, enabled and visible state, position and size, minimised and
// maximised state, the foreground window and the monitors.
#include "platform/ui/state.h"

#include <algorithm>

namespace kavro::ui {

namespace detail {

Hwnd new_window_locked(std::unique_ptr<WindowData> w) {
    w->h = Hwnd{state().next_handle++};
    w->thread = std::this_thread::get_id();
    my_queue_locked();
    const Hwnd h = w->h;
    if (w->parent)
        if (WindowData* p = find(w->parent)) p->children.push_back(h);
    state().order.push_back(h);
    state().windows.emplace(h.value, std::move(w));
    return h;
}

} // namespace detail

using namespace detail;

namespace {

// The client rectangle of a new plain window: the requested outer rectangle (defaults filled in) less its frame.
Rect initial_client_rect(const WindowSpec& spec, const WindowData& w) {
    Rect r = spec.rect;
    if (r.x == CW_USEDEFAULT) r.x = r.y = 0;
    if (r.w == CW_USEDEFAULT) r.w = 640, r.h = 480;
    if (r.y == CW_USEDEFAULT) r.y = 0;
    const FrameInsets in = insets_of(w);
    return clamp_size(Rect{r.x + in.left, r.y + in.top, r.w - in.left - in.right, r.h - in.top - in.bottom});
}

// Lock held. The window, its children and the windows it owns, parents first.
std::vector<Hwnd> doomed_by_locked(Hwnd h) {
    std::vector<Hwnd> doomed;
    std::vector<Hwnd> stack{h};
    while (!stack.empty()) {
        Hwnd x = stack.back();
        stack.pop_back();
        if (std::find(doomed.begin(), doomed.end(), x) != doomed.end()) continue;
        WindowData* w = find(x);
        if (!w) continue;
        doomed.push_back(x);
        for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) stack.push_back(*it);
        for (Hwnd o : state().order)
            if (WindowData* ow = find(o); ow && ow->owner == x) stack.push_back(o);
    }
    return doomed;
}

// Lock held. Takes a window out of the model with its timers and posted messages.
void remove_locked(Hwnd x, Tx& tx) {
    WindowData* w = find(x);
    if (!w) return;
    if (WindowData* p = w->parent ? find(w->parent) : nullptr) std::erase(p->children, x);
    std::erase_if(state().timers, [&](const Timer& t) { return t.h == x; });
    if (auto q = queue_for(w->thread)) {
        std::erase_if(q->posted, [&](const Msg& m) { return m.hwnd == x; });
        q->pump().wake();
    }
    if (state().foreground == x) state().foreground = Hwnd{};
    state().windows.erase(x.value);
    std::erase(state().order, x);
    tx.add(Event::Destroyed, x);
}

// Reads one field of a window under the lock: f(window), else answers fail.
template <class F, class R>
R read_window(Hwnd h, F&& f, R fail) {
    std::lock_guard g(state().m);
    const WindowData* w = find(h);
    return w ? f(*w) : fail;
}

// What a show command changed, for the WM_SIZE sent once the lock is released.
struct Shown {
    bool size_changed = false;
    WPARAM size_type = SIZE_RESTORED;
};

// Lock held. SW_SHOWMAXIMIZED: a top-level window keeps its normal rectangle and takes the screen.
void show_maximised(WindowData& w, bool top, Shown& s) {
    w.style |= WS_VISIBLE;
    if (!top) return;
    if (!w.zoomed && !w.iconic) w.normal_rect = w.rect;
    w.zoomed = true;
    w.iconic = false;
    w.rect = maximised_client(w);
    s.size_type = SIZE_MAXIMIZED;
    s.size_changed = true; // the system tells a maximised window its size every time
}

// Lock held. SW_SHOWNORMAL, SW_RESTORE, SW_SHOWDEFAULT: a minimised or maximised top-level window comes back; one
// minimised while maximised comes back maximised.
void show_restored(WindowData& w, bool top, Shown& s) {
    w.style |= WS_VISIBLE;
    if (!top || !(w.iconic || w.zoomed)) return;
    if (w.zoomed && !w.iconic) w.rect = w.normal_rect;
    else if (w.zoomed) w.rect = maximised_client(w);
    w.zoomed = w.zoomed && w.iconic;
    w.iconic = false;
    s.size_type = w.zoomed ? SIZE_MAXIMIZED : SIZE_RESTORED;
    s.size_changed = true;
}

// Lock held. Applies a show command to the window's visible, minimised and maximised state.
void apply_show(WindowData& w, int cmd, Shown& s) {
    const bool top = top_level(w);
    switch (cmd) {
    case SW_HIDE: w.style &= ~WS_VISIBLE; break;
    case SW_SHOWMAXIMIZED: show_maximised(w, top, s); break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
        if (cmd == SW_SHOWMINIMIZED) w.style |= WS_VISIBLE;
        if (top) w.iconic = true;
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT: show_restored(w, top, s); break;
    default: w.style |= WS_VISIBLE; break;
    }
}

// Lock held. The screen position of a window's client area.
Point client_origin_locked(const WindowData* w) {
    Point p{0, 0};
    while (w) {
        p.x += w->rect.x;
        p.y += w->rect.y;
        w = w->parent ? find(w->parent) : nullptr;
    }
    return p;
}

} // namespace

const char* class_name(WindowClass c) {
    switch (c) {
    case WindowClass::Dialog: return "#32770";
    case WindowClass::Window: return "Window";
    case WindowClass::Button: return "Button";
    case WindowClass::Static: return "Static";
    case WindowClass::Edit: return "Edit";
    case WindowClass::ComboBox: return "ComboBox";
    case WindowClass::Progress: return "msctls_progress32";
    case WindowClass::IpAddress: return "SysIPAddress32";
    case WindowClass::VideoPane: return "KavroVideoPane";
    case WindowClass::WebView: return "KavroWebView";
    }
    return "";
}

Hwnd create_window(const WindowSpec& spec, WindowProc proc) {
    Hwnd h;
    {
        Tx tx;
        auto w = std::make_unique<WindowData>();
        w->cls = WindowClass::Window;
        w->class_name = spec.class_name;
        w->style = spec.style & ~WS_VISIBLE;
        w->ex_style = spec.ex_style;
        w->text = spec.title;
        w->proc = std::move(proc);
        if (spec.parent) {
            if (!find(spec.parent)) return Hwnd{};
            w->parent = spec.parent;
            w->style |= WS_CHILD;
            w->id = spec.id;
        }
        w->rect = w->normal_rect = initial_client_rect(spec, *w);
        h = new_window_locked(std::move(w));
        tx.add(Event::Created, h);
    }
    if (call_proc(h, WM_CREATE, 0, 0) == -1) {
        destroy_window(h);
        return Hwnd{};
    }
    const Rect c = get_client_rect(h);
    call_proc(h, WM_SIZE, SIZE_RESTORED, make_lparam(c.w, c.h));
    if (spec.style & WS_VISIBLE) show_window(h, SW_SHOW);
    return h;
}

bool destroy_window(Hwnd h) {
    std::vector<Hwnd> doomed;
    {
        std::lock_guard g(state().m);
        if (!find(h)) return false;
        doomed = doomed_by_locked(h);
    }
    for (Hwnd x : doomed) send_message(x, WM_DESTROY);
    Tx tx;
    for (Hwnd x : doomed) remove_locked(x, tx);
    return true;
}

LRESULT def_window_proc(Hwnd h, unsigned msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) destroy_window(h);
    return 0;
}

bool is_window(Hwnd h) {
    std::lock_guard g(state().m);
    return find(h) != nullptr;
}

Hwnd get_dlg_item(Hwnd dialog, int id) {
    std::lock_guard g(state().m);
    WindowData* w = find_child(dialog, id);
    return w ? w->h : Hwnd{};
}

int get_dlg_ctrl_id(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.id; }, 0); }

Hwnd get_parent(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.parent; }, Hwnd{}); }

std::vector<Hwnd> get_children(Hwnd h) {
    return read_window(h, [](const WindowData& w) { return w.children; }, std::vector<Hwnd>{});
}

std::vector<Hwnd> top_level_windows() {
    std::lock_guard g(state().m);
    std::vector<Hwnd> out;
    for (Hwnd h : state().order)
        if (WindowData* w = find(h); w && top_level(*w)) out.push_back(h);
    return out;
}

WindowClass get_class(Hwnd h) {
    return read_window(h, [](const WindowData& w) { return w.cls; }, WindowClass::Window);
}

std::string get_class_name(Hwnd h) {
    return read_window(h, [](const WindowData& w) { return w.class_name; }, std::string{});
}

unsigned get_style(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.style; }, 0u); }

bool is_dialog(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.dialog; }, false); }

bool is_modal(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.modal; }, false); }

int template_id(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.template_id; }, 0); }

bool set_window_text(Hwnd h, const std::string& text) {
    Tx tx;
    WindowData* w = find(h);
    if (!w) return false;
    if (w->cls == WindowClass::ComboBox) return false; // a drop-down list shows its selection
    if (w->text != text) {
        w->text = text;
        tx.add(Event::Text, h);
    }
    return true;
}

std::string get_window_text(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    if (!w) return {};
    if (w->cls == WindowClass::ComboBox)
        return w->sel >= 0 && w->sel < int(w->items.size()) ? w->items[std::size_t(w->sel)] : std::string{};
    if (w->cls == WindowClass::IpAddress) {
        std::string s;
        for (int i = 0; i < 4; ++i) {
            if (i) s += '.';
            if (w->ip[std::size_t(i)] >= 0) s += std::to_string(w->ip[std::size_t(i)]);
        }
        return s;
    }
    return w->text;
}

bool enable_window(Hwnd h, bool enable) {
    Tx tx;
    WindowData* w = find(h);
    if (!w) return false;
    const bool was_disabled = w->style & WS_DISABLED;
    if (was_disabled == enable) {
        w->style = enable ? (w->style & ~WS_DISABLED) : (w->style | WS_DISABLED);
        tx.add(Event::State, h);
    }
    return was_disabled;
}

bool is_window_enabled(Hwnd h) {
    return read_window(h, [](const WindowData& w) { return !(w.style & WS_DISABLED); }, false);
}

bool show_window(Hwnd h, int cmd) {
    bool was_visible = false;
    Shown shown;
    Rect client;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w) return false;
        was_visible = w->style & WS_VISIBLE;
        const unsigned before = w->style;
        const Rect before_rect = w->rect;
        const bool top = top_level(*w);
        apply_show(*w, cmd, shown);
        client = w->rect;
        if (w->style != before) tx.add(Event::State, h);
        if (!(w->rect == before_rect)) tx.add(Event::Moved, h);
        if (top && cmd != SW_HIDE && (w->style & WS_VISIBLE) && !was_visible) w->invalid = true;
        if (top && (cmd == SW_SHOWMINIMIZED || cmd == SW_MINIMIZE || cmd == SW_RESTORE || cmd == SW_SHOWMAXIMIZED))
            tx.add(Event::Foreground, h);
    }
    if (shown.size_changed) send_message(h, WM_SIZE, shown.size_type, make_lparam(client.w, client.h));
    return was_visible;
}

bool is_window_visible(Hwnd h) {
    std::lock_guard g(state().m);
    return visible_chain(find(h));
}

bool is_iconic(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.iconic; }, false); }

bool is_zoomed(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.zoomed; }, false); }

bool move_window(Hwnd h, int x, int y, int width, int height, bool repaint) {
    bool size_changed = false, has_proc = false;
    Rect client;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w) return false;
        Rect r{x, y, width, height};
        if (top_level(*w)) {
            const FrameInsets in = insets_of(*w);
            r = Rect{x + in.left, y + in.top, width - in.left - in.right, height - in.top - in.bottom};
            w->zoomed = false;
        }
        r = clamp_size(r);
        if (!(r == w->rect)) {
            size_changed = r.w != w->rect.w || r.h != w->rect.h;
            w->rect = r;
            if (top_level(*w)) w->normal_rect = r;
            tx.add(Event::Moved, h);
            if (repaint) tx.add(Event::Invalidated, h);
        }
        client = w->rect;
        has_proc = w->cls == WindowClass::Window || w->cls == WindowClass::Dialog;
    }
    if (size_changed && has_proc) send_message(h, WM_SIZE, SIZE_RESTORED, make_lparam(client.w, client.h));
    return true;
}

Rect get_client_rect(Hwnd h) {
    return read_window(h, [](const WindowData& w) { return Rect{0, 0, w.rect.w, w.rect.h}; }, Rect{});
}

Rect get_child_rect(Hwnd h) { return read_window(h, [](const WindowData& w) { return w.rect; }, Rect{}); }

Point client_to_screen(Hwnd h, Point p) {
    std::lock_guard g(state().m);
    const Point o = client_origin_locked(find(h));
    return Point{p.x + o.x, p.y + o.y};
}

Rect get_window_rect(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    if (!w) return {};
    const Point o = client_origin_locked(w);
    const FrameInsets in = insets_of(*w);
    return Rect{o.x - in.left, o.y - in.top, w->rect.w + in.left + in.right, w->rect.h + in.top + in.bottom};
}

FrameInsets frame_insets(Hwnd h) {
    return read_window(h, [](const WindowData& w) { return insets_of(w); }, FrameInsets{});
}

bool set_foreground_window(Hwnd h) {
    Tx tx;
    WindowData* w = find(h);
    while (w && w->parent) w = find(w->parent);
    if (!w) return false;
    state().foreground = w->h;
    tx.add(Event::Foreground, w->h);
    return true;
}

Hwnd get_foreground_window() {
    std::lock_guard g(state().m);
    return find(state().foreground) ? state().foreground : Hwnd{};
}

Hwnd get_last_active_popup(Hwnd h) {
    std::lock_guard g(state().m);
    if (!find(h)) return Hwnd{};
    Hwnd cur = h;
    // Follow the chain of owned modal dialogs to the one on top.
    for (bool moved = true; moved;) {
        moved = false;
        for (auto it = state().order.rbegin(); it != state().order.rend(); ++it)
            if (WindowData* w = find(*it); w && w->owner == cur && w->modal && (w->style & WS_VISIBLE)) {
                cur = *it;
                moved = true;
                break;
            }
    }
    return cur;
}

bool bring_to_front(Hwnd h) {
    const Hwnd p = get_last_active_popup(h);
    if (!p) return false;
    if (is_iconic(p)) show_window(p, SW_RESTORE);
    return set_foreground_window(p);
}

std::vector<Monitor> monitors() {
    std::lock_guard g(state().m);
    return state().monitors;
}

void set_monitors(std::vector<Monitor> list) {
    std::lock_guard g(state().m);
    state().monitors = std::move(list);
}

} // namespace kavro::ui
