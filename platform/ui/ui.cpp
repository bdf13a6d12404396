#include "platform/ui/ui.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace kavro::ui {

namespace {

using Clock = std::chrono::steady_clock;

struct WindowData {
    Hwnd h;
    WindowClass cls = WindowClass::Window;
    std::string class_name;
    unsigned style = 0, ex_style = 0;
    int id = 0;
    std::string text;
    Rect rect; // child: in parent client coordinates; top level: client area on screen
    Rect normal_rect;
    Hwnd parent, owner;
    std::vector<Hwnd> children;
    std::thread::id thread;
    WindowProc proc;
    bool dialog = false, modal = false, modal_ended = false;
    LRESULT modal_result = 0;
    int template_id = 0;
    unsigned check = BST_UNCHECKED;
    ProgressState progress;
    std::vector<std::string> items;
    int sel = CB_ERR;
    std::array<int, 4> ip{-1, -1, -1, -1};
    std::string url;
    std::shared_ptr<Canvas> canvas;
    std::shared_ptr<const VideoFrame> frame;
    bool has_menu = false;
    std::vector<MenuItem> menu;
    bool invalid = false, iconic = false, zoomed = false;
};

struct SendState {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    LRESULT result = 0;
    void finish(LRESULT r) {
        std::lock_guard g(m);
        result = r;
        done = true;
        cv.notify_all();
    }
};

struct SentItem {
    Msg msg;
    std::shared_ptr<SendState> state;
};

class PlainPump final : public EventPump {
public:
    void wait(std::optional<Clock::time_point> deadline) override {
        std::unique_lock g(m_);
        if (deadline)
            cv_.wait_until(g, *deadline, [&] { return woken_; });
        else
            cv_.wait(g, [&] { return woken_; });
        woken_ = false;
    }
    void wake() override {
        std::lock_guard g(m_);
        woken_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool woken_ = false;
};

struct Queue {
    std::thread::id thread;
    std::deque<Msg> posted;
    std::deque<SentItem> sent;
    bool quit = false;
    int quit_code = 0;
    bool dead = false;
    EventPump* custom = nullptr;
    PlainPump plain;
    EventPump& pump() { return custom ? *custom : plain; }
};

struct Timer {
    Hwnd h;
    unsigned id = 0;
    std::thread::id thread;
    Clock::duration period;
    Clock::time_point due;
};

struct System {
    std::mutex m;
    std::uint32_t next_handle = 0x10;
    std::unordered_map<std::uint32_t, std::unique_ptr<WindowData>> windows;
    std::vector<Hwnd> order; // every window in creation order
    std::map<std::thread::id, std::shared_ptr<Queue>> queues;
    std::vector<Timer> timers;
    std::vector<Monitor> monitors{Monitor{Rect{0, 0, 1280, 1024}, true}};
    Hwnd foreground;
    std::map<int, Observer> observers;
    int next_token = 1;
};

System& S() {
    static System s; // the window system is one per process
    return s;
}

void notify(const std::vector<Event>& events) {
    if (events.empty()) return;
    std::vector<Observer> obs;
    {
        std::lock_guard g(S().m);
        for (auto& [k, fn] : S().observers) obs.push_back(fn);
    }
    for (const auto& e : events)
        for (auto& fn : obs) fn(e);
}

// A locked section that tells the observers about its changes once the lock is released.
struct Tx {
    std::unique_lock<std::mutex> lk{S().m};
    std::vector<Event> events;
    void add(Event::Kind k, Hwnd h) { events.push_back(Event{k, h}); }
    void done() {
        if (lk.owns_lock()) lk.unlock();
        auto ev = std::move(events);
        events.clear();
        notify(ev);
    }
    ~Tx() { done(); }
};

WindowData* find(Hwnd h) {
    auto it = S().windows.find(h.value);
    return it == S().windows.end() ? nullptr : it->second.get();
}

WindowData* find_child(Hwnd parent, int id) {
    WindowData* p = find(parent);
    if (!p) return nullptr;
    for (Hwnd c : p->children)
        if (WindowData* w = find(c); w && w->id == id) return w;
    return nullptr;
}

bool top_level(const WindowData& w) { return !(w.style & WS_CHILD); }

FrameInsets insets_of(const WindowData& w) {
    if (!top_level(w)) return {};
    const bool framed = (w.style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME)) || (w.style & DS_MODALFRAME && w.dialog);
    const int border = framed ? 3 : 0;
    const int caption = (w.style & WS_CAPTION) == WS_CAPTION ? 26 : 0;
    const int menu = w.has_menu ? 20 : 0;
    return FrameInsets{border, border + caption + menu, border, border};
}

std::shared_ptr<Queue> queue_for(std::thread::id t) {
    auto it = S().queues.find(t);
    return it == S().queues.end() ? nullptr : it->second;
}

// The calling thread's queue: made on first use, answered and removed when the thread ends.
struct QueueHolder {
    std::shared_ptr<Queue> q;
    ~QueueHolder() {
        if (!q) return;
        std::deque<SentItem> pending;
        {
            std::lock_guard g(S().m);
            q->dead = true;
            pending.swap(q->sent);
            S().queues.erase(q->thread);
            std::erase_if(S().timers, [&](const Timer& t) { return t.thread == q->thread; });
        }
        for (auto& s : pending) s.state->finish(0);
    }
};
thread_local QueueHolder tl_queue;

// Requires the lock.
Queue& my_queue_locked() {
    if (!tl_queue.q) {
        tl_queue.q = std::make_shared<Queue>();
        tl_queue.q->thread = std::this_thread::get_id();
        S().queues[tl_queue.q->thread] = tl_queue.q;
    }
    return *tl_queue.q;
}

void wake_thread(std::thread::id t) {
    if (auto q = queue_for(t)) q->pump().wake();
}

Hwnd new_window_locked(std::unique_ptr<WindowData> w) {
    w->h = Hwnd{S().next_handle++};
    w->thread = std::this_thread::get_id();
    my_queue_locked();
    const Hwnd h = w->h;
    if (w->parent)
        if (WindowData* p = find(w->parent)) p->children.push_back(h);
    S().order.push_back(h);
    S().windows.emplace(h.value, std::move(w));
    return h;
}

LRESULT call_proc(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp);

bool find_menu_item(std::vector<MenuItem>& items, int id, MenuItem*& out) {
    for (auto& it : items) {
        if (it.popup.empty() && it.id == id) {
            out = &it;
            return true;
        }
        if (find_menu_item(it.popup, id, out)) return true;
    }
    return false;
}

bool visible_chain(const WindowData* w) {
    while (w) {
        if (!(w->style & WS_VISIBLE)) return false;
        w = w->parent ? find(w->parent) : nullptr;
    }
    return true;
}

bool enabled_chain(const WindowData* w) {
    while (w) {
        if (w->style & WS_DISABLED) return false;
        w = w->parent ? find(w->parent) : nullptr;
    }
    return true;
}

Rect clamp_size(Rect r) {
    r.w = std::max(r.w, 0);
    r.h = std::max(r.h, 0);
    return r;
}

// The maximised client area on the primary monitor; the side and bottom borders lie off the screen.
Rect maximised_client(const WindowData& w) {
    Rect area{0, 0, 1280, 1024};
    for (auto& m : S().monitors)
        if (m.primary) area = m.area;
    const FrameInsets in = insets_of(w);
    return Rect{area.x, area.y - in.left + in.top, area.w, std::max(area.h - in.top + in.left, 0)};
}

Hwnd create_dialog_impl(const DialogTemplate& t, WindowProc proc, Hwnd owner, LPARAM init, bool modal) {
    Hwnd h;
    {
        Tx tx;
        auto w = std::make_unique<WindowData>();
        w->cls = WindowClass::Dialog;
        w->class_name = "#32770";
        w->dialog = true;
        w->modal = modal;
        w->template_id = t.id;
        w->style = t.style & ~WS_VISIBLE;
        w->text = t.caption;
        // A child dialog (a property page inside its frame) lives in the parent's client area.
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
            Rect area = S().monitors.empty() ? Rect{0, 0, 1280, 1024} : S().monitors.front().area;
            for (auto& m : S().monitors)
                if (m.primary) area = m.area;
            client.x = area.x + (area.w - px.w) / 2;
            client.y = area.y + (area.h - px.h) / 2;
        }
        w->rect = w->normal_rect = client;
        h = new_window_locked(std::move(w));
        tx.add(Event::Created, h);
        for (const auto& c : t.controls) {
            auto cw = std::make_unique<WindowData>();
            cw->cls = c.cls;
            cw->class_name = class_name(c.cls);
            cw->style = c.style | WS_CHILD;
            cw->id = c.id;
            cw->text = c.text;
            cw->rect = cw->normal_rect = clamp_size(map_dialog_rect(c.rect));
            cw->parent = h;
            if (c.cls == WindowClass::WebView) cw->url = c.text;
            tx.add(Event::Created, new_window_locked(std::move(cw)));
        }
    }
    call_proc(h, WM_INITDIALOG, 0, init);
    if ((t.style & WS_VISIBLE) || modal) show_window(h, SW_SHOW);
    return h;
}

// What a dialog does with a message its procedure left alone.
LRESULT default_dialog(Hwnd h, unsigned msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) post_message(h, WM_COMMAND, make_wparam(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

LRESULT call_proc(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    WindowProc proc;
    bool dialog = false;
    {
        std::lock_guard g(S().m);
        WindowData* w = find(h);
        if (!w) return 0;
        proc = w->proc;
        dialog = w->dialog;
    }
    LRESULT r = 0;
    if (proc)
        r = proc(h, msg, wp, lp);
    else if (!dialog)
        return def_window_proc(h, msg, wp, lp);
    if (dialog && r == 0) default_dialog(h, msg, wp, lp);
    return r;
}

// Handles the messages sent to this thread's windows by other threads.
void process_sent(Queue& q) {
    for (;;) {
        SentItem item;
        {
            std::lock_guard g(S().m);
            if (q.sent.empty()) return;
            item = std::move(q.sent.front());
            q.sent.pop_front();
        }
        item.state->finish(call_proc(item.msg.hwnd, item.msg.message, item.msg.wparam, item.msg.lparam));
    }
}

enum class Ready { None, Message, Quit };

// Requires the lock. Picks the next message: posted, quit, paint, timer.
Ready next_ready_locked(Queue& q, Msg& out, bool remove, std::optional<Clock::time_point>& deadline) {
    deadline.reset();
    if (!q.posted.empty()) {
        out = q.posted.front();
        if (remove) q.posted.pop_front();
        return Ready::Message;
    }
    if (q.quit) {
        out = Msg{Hwnd{}, WM_QUIT, WPARAM(q.quit_code), 0};
        if (remove) q.quit = false;
        return Ready::Quit;
    }
    for (Hwnd h : S().order) {
        WindowData* w = find(h);
        if (w && w->invalid && w->thread == q.thread && (w->proc || !w->parent) && visible_chain(w)) {
            out = Msg{h, WM_PAINT, 0, 0};
            return Ready::Message;
        }
    }
    const auto now = Clock::now();
    Timer* due = nullptr;
    for (auto& t : S().timers) {
        if (t.thread != q.thread) continue;
        if (t.due <= now && (!due || t.due < due->due)) due = &t;
        if (!deadline || t.due < *deadline) deadline = t.due;
    }
    if (due) {
        out = Msg{due->h, WM_TIMER, WPARAM(due->id), 0};
        if (remove) due->due = now + due->period;
        return Ready::Message;
    }
    return Ready::None;
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
    LRESULT result = -1;
    for (;;) {
        {
            std::lock_guard g(S().m);
            WindowData* w = find(h);
            if (!w) break;
            if (w->modal_ended) {
                result = w->modal_result;
                break;
            }
        }
        Msg m;
        if (!get_message(m)) {
            post_quit_message(int(m.wparam));
            break;
        }
        translate_message(m);
        dispatch_message(m);
    }
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
        Rect r = spec.rect;
        if (r.x == CW_USEDEFAULT) r.x = r.y = 0;
        if (r.w == CW_USEDEFAULT) r.w = 640, r.h = 480;
        if (r.y == CW_USEDEFAULT) r.y = 0;
        const FrameInsets in = insets_of(*w);
        w->rect = w->normal_rect =
            clamp_size(Rect{r.x + in.left, r.y + in.top, r.w - in.left - in.right, r.h - in.top - in.bottom});
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

Hwnd create_control(Hwnd parent, const ControlTemplate& t) {
    Tx tx;
    if (!find(parent)) return Hwnd{};
    auto cw = std::make_unique<WindowData>();
    cw->cls = t.cls;
    cw->class_name = class_name(t.cls);
    cw->style = t.style | WS_CHILD;
    cw->id = t.id;
    cw->text = t.text;
    cw->rect = cw->normal_rect = clamp_size(t.rect);
    cw->parent = parent;
    if (t.cls == WindowClass::WebView) cw->url = t.text;
    const Hwnd h = new_window_locked(std::move(cw));
    tx.add(Event::Created, h);
    return h;
}

bool destroy_window(Hwnd h) {
    // The window, its children and the windows it owns, parents first.
    std::vector<Hwnd> doomed;
    {
        std::lock_guard g(S().m);
        if (!find(h)) return false;
        std::vector<Hwnd> stack{h};
        while (!stack.empty()) {
            Hwnd x = stack.back();
            stack.pop_back();
            if (std::find(doomed.begin(), doomed.end(), x) != doomed.end()) continue;
            WindowData* w = find(x);
            if (!w) continue;
            doomed.push_back(x);
            for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) stack.push_back(*it);
            for (Hwnd o : S().order)
                if (WindowData* ow = find(o); ow && ow->owner == x) stack.push_back(o);
        }
    }
    for (Hwnd x : doomed) send_message(x, WM_DESTROY);
    Tx tx;
    for (Hwnd x : doomed) {
        WindowData* w = find(x);
        if (!w) continue;
        if (WindowData* p = w->parent ? find(w->parent) : nullptr) std::erase(p->children, x);
        std::erase_if(S().timers, [&](const Timer& t) { return t.h == x; });
        if (auto q = queue_for(w->thread)) {
            std::erase_if(q->posted, [&](const Msg& m) { return m.hwnd == x; });
            q->pump().wake();
        }
        if (S().foreground == x) S().foreground = Hwnd{};
        S().windows.erase(x.value);
        std::erase(S().order, x);
        tx.add(Event::Destroyed, x);
    }
    return true;
}

LRESULT def_window_proc(Hwnd h, unsigned msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) destroy_window(h);
    return 0;
}

bool is_window(Hwnd h) {
    std::lock_guard g(S().m);
    return find(h) != nullptr;
}

Hwnd get_dlg_item(Hwnd dialog, int id) {
    std::lock_guard g(S().m);
    WindowData* w = find_child(dialog, id);
    return w ? w->h : Hwnd{};
}

int get_dlg_ctrl_id(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->id : 0;
}

Hwnd get_parent(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->parent : Hwnd{};
}

std::vector<Hwnd> get_children(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->children : std::vector<Hwnd>{};
}

std::vector<Hwnd> top_level_windows() {
    std::lock_guard g(S().m);
    std::vector<Hwnd> out;
    for (Hwnd h : S().order)
        if (WindowData* w = find(h); w && top_level(*w)) out.push_back(h);
    return out;
}

WindowClass get_class(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->cls : WindowClass::Window;
}

std::string get_class_name(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->class_name : std::string{};
}

unsigned get_style(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->style : 0;
}

bool is_dialog(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->dialog;
}

bool is_modal(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->modal;
}

int template_id(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->template_id : 0;
}

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
    std::lock_guard g(S().m);
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
    const std::string s = get_window_text(h);
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (is_signed && i < s.size() && s[i] == '-') {
        negative = true;
        ++i;
    }
    if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return 0;
    unsigned long long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + unsigned(s[i] - '0');
        if (v > 0xFFFFFFFFull) return 0;
    }
    if (is_signed) {
        if (v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return 0;
        if (ok) *ok = true;
        return negative ? unsigned(-static_cast<long long>(v)) : unsigned(v);
    }
    if (ok) *ok = true;
    return unsigned(v);
}

bool set_check(Hwnd h, unsigned state) {
    Tx tx;
    WindowData* w = find(h);
    if (!w || w->cls != WindowClass::Button) return false;
    if (w->check != state) {
        w->check = state;
        tx.add(Event::State, h);
    }
    return true;
}

unsigned get_check(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::Button ? w->check : BST_UNCHECKED;
}

bool check_dlg_button(Hwnd dialog, int id, unsigned state) { return set_check(get_dlg_item(dialog, id), state); }

unsigned is_dlg_button_checked(Hwnd dialog, int id) { return get_check(get_dlg_item(dialog, id)); }

bool check_radio_button(Hwnd dialog, int first, int last, int check) {
    bool any = false;
    for (int id = first; id <= last; ++id)
        if (check_dlg_button(dialog, id, id == check ? BST_CHECKED : BST_UNCHECKED)) any = true;
    return any;
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
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && !(w->style & WS_DISABLED);
}

bool show_window(Hwnd h, int cmd) {
    bool was_visible = false, size_changed = false;
    WPARAM size_type = SIZE_RESTORED;
    Rect client;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w) return false;
        was_visible = w->style & WS_VISIBLE;
        const unsigned before = w->style;
        const Rect before_rect = w->rect;
        const bool top = top_level(*w);
        switch (cmd) {
        case SW_HIDE: w->style &= ~WS_VISIBLE; break;
        case SW_SHOWMAXIMIZED:
            w->style |= WS_VISIBLE;
            if (top) {
                if (!w->zoomed && !w->iconic) w->normal_rect = w->rect;
                w->zoomed = true;
                w->iconic = false;
                w->rect = maximised_client(*w);
                size_type = SIZE_MAXIMIZED;
                size_changed = true; // the system tells a maximised window its size every time
            }
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
            if (cmd == SW_SHOWMINIMIZED) w->style |= WS_VISIBLE;
            if (top) w->iconic = true;
            break;
        case SW_SHOWNORMAL:
        case SW_RESTORE:
        case SW_SHOWDEFAULT:
            w->style |= WS_VISIBLE;
            if (top && (w->iconic || w->zoomed)) {
                if (w->zoomed && !w->iconic) w->rect = w->normal_rect;
                else if (w->zoomed) w->rect = maximised_client(*w);
                w->zoomed = w->zoomed && w->iconic;
                w->iconic = false;
                size_type = w->zoomed ? SIZE_MAXIMIZED : SIZE_RESTORED;
                size_changed = true;
            }
            break;
        default: w->style |= WS_VISIBLE; break;
        }
        client = w->rect;
        if (w->style != before) tx.add(Event::State, h);
        if (!(w->rect == before_rect)) tx.add(Event::Moved, h);
        if (top && cmd != SW_HIDE && (w->style & WS_VISIBLE) && !was_visible) w->invalid = true;
        if (top && (cmd == SW_SHOWMINIMIZED || cmd == SW_MINIMIZE || cmd == SW_RESTORE || cmd == SW_SHOWMAXIMIZED))
            tx.add(Event::Foreground, h);
    }
    if (size_changed) send_message(h, WM_SIZE, size_type, make_lparam(client.w, client.h));
    return was_visible;
}

bool is_window_visible(Hwnd h) {
    std::lock_guard g(S().m);
    return visible_chain(find(h));
}

bool is_iconic(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->iconic;
}

bool is_zoomed(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->zoomed;
}

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
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? Rect{0, 0, w->rect.w, w->rect.h} : Rect{};
}

Rect get_child_rect(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->rect : Rect{};
}

namespace {
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

Point client_to_screen(Hwnd h, Point p) {
    std::lock_guard g(S().m);
    const Point o = client_origin_locked(find(h));
    return Point{p.x + o.x, p.y + o.y};
}

Rect get_window_rect(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w) return {};
    const Point o = client_origin_locked(w);
    const FrameInsets in = insets_of(*w);
    return Rect{o.x - in.left, o.y - in.top, w->rect.w + in.left + in.right, w->rect.h + in.top + in.bottom};
}

FrameInsets frame_insets(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? insets_of(*w) : FrameInsets{};
}

bool set_foreground_window(Hwnd h) {
    Tx tx;
    WindowData* w = find(h);
    while (w && w->parent) w = find(w->parent);
    if (!w) return false;
    S().foreground = w->h;
    tx.add(Event::Foreground, w->h);
    return true;
}

Hwnd get_foreground_window() {
    std::lock_guard g(S().m);
    return find(S().foreground) ? S().foreground : Hwnd{};
}

Hwnd get_last_active_popup(Hwnd h) {
    std::lock_guard g(S().m);
    if (!find(h)) return Hwnd{};
    Hwnd cur = h;
    // Follow the chain of owned modal dialogs to the one on top.
    for (bool moved = true; moved;) {
        moved = false;
        for (auto it = S().order.rbegin(); it != S().order.rend(); ++it)
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
    std::lock_guard g(S().m);
    return S().monitors;
}

void set_monitors(std::vector<Monitor> list) {
    std::lock_guard g(S().m);
    S().monitors = std::move(list);
}

bool has_menu(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->has_menu;
}

std::vector<MenuItem> get_menu(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->menu : std::vector<MenuItem>{};
}

int check_menu_item(Hwnd h, int id, unsigned flags) {
    Tx tx;
    WindowData* w = find(h);
    MenuItem* it = nullptr;
    if (!w || !find_menu_item(w->menu, id, it)) return -1;
    const int prev = it->checked ? int(MF_CHECKED) : int(MF_UNCHECKED);
    const bool now = flags & MF_CHECKED;
    if (it->checked != now) {
        it->checked = now;
        tx.add(Event::Menu, h);
    }
    return prev;
}

int enable_menu_item(Hwnd h, int id, unsigned flags) {
    Tx tx;
    WindowData* w = find(h);
    MenuItem* it = nullptr;
    if (!w || !find_menu_item(w->menu, id, it)) return -1;
    const int prev = it->grayed ? int(MF_GRAYED) : int(MF_ENABLED);
    const bool now = flags & (MF_GRAYED | MF_DISABLED);
    if (it->grayed != now) {
        it->grayed = now;
        tx.add(Event::Menu, h);
    }
    return prev;
}

bool menu_item_checked(Hwnd h, int id) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    MenuItem* it = nullptr;
    return w && find_menu_item(w->menu, id, it) && it->checked;
}

bool menu_item_enabled(Hwnd h, int id) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    MenuItem* it = nullptr;
    return w && find_menu_item(w->menu, id, it) && !it->grayed;
}

namespace {
template <class F, class R>
R with_class(Hwnd h, WindowClass c, F&& f, R fail) {
    Tx tx;
    WindowData* w = find(h);
    if (!w || w->cls != c) return fail;
    return f(*w, tx);
}
} // namespace

bool progress_set_range(Hwnd h, int low, int high) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx& tx) {
        w.progress.low = low;
        w.progress.high = high;
        w.progress.pos = std::clamp(w.progress.pos, std::min(low, high), std::max(low, high));
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

int progress_set_pos(Hwnd h, int pos) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx& tx) {
        const int prev = w.progress.pos;
        const auto& p = w.progress;
        const int now = std::clamp(pos, std::min(p.low, p.high), std::max(p.low, p.high));
        if (now != prev) {
            w.progress.pos = now;
            tx.add(Event::State, w.h);
        }
        return prev;
    }, 0);
}

int progress_get_pos(Hwnd h) { return progress_state(h).pos; }

bool progress_set_step(Hwnd h, int step) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx&) {
        w.progress.step = step;
        return true;
    }, false);
}

int progress_step_it(Hwnd h) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx& tx) {
        auto& p = w.progress;
        const int prev = p.pos;
        p.pos += p.step;
        if (p.pos > p.high) p.pos = p.low + (p.pos - p.high);
        if (p.pos < p.low) p.pos = p.high - (p.low - p.pos);
        p.pos = std::clamp(p.pos, std::min(p.low, p.high), std::max(p.low, p.high));
        tx.add(Event::State, w.h);
        return prev;
    }, 0);
}

bool progress_set_bar_colour(Hwnd h, Colour c) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx& tx) {
        w.progress.bar_colour = c;
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

ProgressState progress_state(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::Progress ? w->progress : ProgressState{};
}

int combo_add_string(Hwnd h, const std::string& text) {
    return with_class(h, WindowClass::ComboBox, [&](WindowData& w, Tx& tx) {
        w.items.push_back(text);
        tx.add(Event::State, w.h);
        return int(w.items.size()) - 1;
    }, CB_ERR);
}

bool combo_reset_content(Hwnd h) {
    return with_class(h, WindowClass::ComboBox, [&](WindowData& w, Tx& tx) {
        w.items.clear();
        w.sel = CB_ERR;
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

int combo_set_cur_sel(Hwnd h, int index) {
    return with_class(h, WindowClass::ComboBox, [&](WindowData& w, Tx& tx) {
        const bool valid = index >= 0 && index < int(w.items.size());
        const int now = valid ? index : CB_ERR;
        if (now != w.sel) {
            w.sel = now;
            tx.add(Event::State, w.h);
        }
        return valid ? index : CB_ERR;
    }, CB_ERR);
}

int combo_get_cur_sel(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::ComboBox ? w->sel : CB_ERR;
}

int combo_get_count(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::ComboBox ? int(w->items.size()) : CB_ERR;
}

std::string combo_get_item(Hwnd h, int index) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w || w->cls != WindowClass::ComboBox || index < 0 || index >= int(w->items.size())) return {};
    return w->items[std::size_t(index)];
}

std::vector<std::string> combo_items(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::ComboBox ? w->items : std::vector<std::string>{};
}

int combo_find_string_exact(Hwnd h, const std::string& text) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w || w->cls != WindowClass::ComboBox) return CB_ERR;
    for (std::size_t i = 0; i < w->items.size(); ++i)
        if (w->items[i] == text) return int(i);
    return CB_ERR;
}

bool ip_set_address(Hwnd h, std::uint32_t a) {
    return with_class(h, WindowClass::IpAddress, [&](WindowData& w, Tx& tx) {
        w.ip = {int(first_ip_address(a)), int(second_ip_address(a)), int(third_ip_address(a)),
                int(fourth_ip_address(a))};
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

int ip_get_address(Hwnd h, std::uint32_t& address) {
    address = 0;
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w || w->cls != WindowClass::IpAddress) return -1;
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        const int f = w->ip[std::size_t(i)];
        if (f >= 0) ++n;
        address = (address << 8) | std::uint32_t(f >= 0 ? f : 0);
    }
    return n;
}

bool ip_clear_address(Hwnd h) {
    return with_class(h, WindowClass::IpAddress, [&](WindowData& w, Tx& tx) {
        w.ip = {-1, -1, -1, -1};
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

bool ip_is_blank(Hwnd h) {
    const auto f = ip_fields(h);
    return std::all_of(f.begin(), f.end(), [](int v) { return v < 0; });
}

std::array<int, 4> ip_fields(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::IpAddress ? w->ip : std::array<int, 4>{-1, -1, -1, -1};
}

bool web_navigate(Hwnd h, const std::string& url) {
    return with_class(h, WindowClass::WebView, [&](WindowData& w, Tx& tx) {
        w.url = url;
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

std::string web_location(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->cls == WindowClass::WebView ? w->url : std::string{};
}

bool present_frame(Hwnd h, int width, int height, const std::uint32_t* pixels, std::ptrdiff_t stride) {
    // Refuse nonsense before copying: the frame comes from another library.
    constexpr int max_side = 8192;
    if (!pixels || width <= 0 || height <= 0 || width > max_side || height > max_side || stride < width)
        return false;
    auto f = std::make_shared<VideoFrame>();
    f->width = width;
    f->height = height;
    f->pixels.resize(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels + std::ptrdiff_t(y) * stride, width, f->pixels.begin() + std::ptrdiff_t(y) * width);
    Tx tx;
    WindowData* w = find(h);
    if (!w) return false;
    w->frame = std::move(f);
    tx.add(Event::Frame, h);
    return true;
}

std::shared_ptr<const VideoFrame> current_frame(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->frame : nullptr;
}

bool clear_frame(Hwnd h) {
    Tx tx;
    WindowData* w = find(h);
    if (!w) return false;
    w->frame.reset();
    tx.add(Event::Frame, h);
    return true;
}

std::shared_ptr<FrameSink> frame_sink(Hwnd h) {
    struct Bound final : FrameSink {
        Hwnd h;
        explicit Bound(Hwnd w) : h(w) {}
        bool present(int width, int height, const std::uint32_t* px, std::ptrdiff_t stride) override {
            return present_frame(h, width, height, px, stride);
        }
    };
    return std::make_shared<Bound>(h);
}

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
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w) return false;
    w->invalid = false;
    return true;
}

bool needs_paint(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w && w->invalid;
}

bool update_window(Hwnd h) {
    {
        std::lock_guard g(S().m);
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
        std::lock_guard g(S().m);
        WindowData* w = find(h);
        if (!w) return Dc{};
        if (!w->canvas) w->canvas = std::make_shared<Canvas>(w->rect.w, w->rect.h);
        else w->canvas->resize(w->rect.w, w->rect.h);
        c = w->canvas;
    }
    return Dc(std::move(c), [h] { notify({Event{Event::Canvas, h}}); });
}

std::shared_ptr<const Canvas> window_canvas(Hwnd h) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    return w ? w->canvas : nullptr;
}

bool post_message(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w) return false;
    auto q = queue_for(w->thread);
    if (!q || q->dead) return false;
    q->posted.push_back(Msg{h, msg, wp, lp});
    q->pump().wake();
    return true;
}

LRESULT send_message(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    std::shared_ptr<SendState> st;
    std::shared_ptr<Queue> mine;
    {
        std::lock_guard g(S().m);
        WindowData* w = find(h);
        if (!w) return 0;
        if (w->thread != std::this_thread::get_id()) {
            auto q = queue_for(w->thread);
            if (!q || q->dead) return 0;
            st = std::make_shared<SendState>();
            q->sent.push_back(SentItem{Msg{h, msg, wp, lp}, st});
            q->pump().wake();
            mine = tl_queue.q;
        }
    }
    if (!st) return call_proc(h, msg, wp, lp);
    // Wait for the owner; meanwhile answer what is sent to this thread, so two threads sending to each other
    // do not block each other.
    for (;;) {
        {
            std::unique_lock g(st->m);
            if (st->cv.wait_for(g, std::chrono::milliseconds(5), [&] { return st->done; })) return st->result;
        }
        if (mine) process_sent(*mine);
        if (!is_window(h)) {
            std::unique_lock g(st->m);
            return st->done ? st->result : 0;
        }
    }
}

void post_quit_message(int code) {
    std::lock_guard g(S().m);
    Queue& q = my_queue_locked();
    q.quit = true;
    q.quit_code = code;
}

bool get_message(Msg& msg) {
    std::shared_ptr<Queue> q;
    {
        std::lock_guard g(S().m);
        my_queue_locked();
        q = tl_queue.q;
    }
    for (;;) {
        {
            EventPump* p;
            {
                std::lock_guard g(S().m);
                p = &q->pump();
            }
            p->poll();
        }
        process_sent(*q);
        std::optional<Clock::time_point> deadline;
        Ready r;
        EventPump* pump;
        {
            std::lock_guard g(S().m);
            r = next_ready_locked(*q, msg, true, deadline);
            pump = &q->pump();
        }
        if (r == Ready::Message) return true;
        if (r == Ready::Quit) return false;
        pump->wait(deadline);
    }
}

bool peek_message(Msg& msg, bool remove) {
    std::shared_ptr<Queue> q;
    {
        std::lock_guard g(S().m);
        my_queue_locked();
        q = tl_queue.q;
    }
    process_sent(*q);
    std::optional<Clock::time_point> deadline;
    std::lock_guard g(S().m);
    return next_ready_locked(*q, msg, remove, deadline) != Ready::None;
}

void translate_message(const Msg&) {}

LRESULT dispatch_message(const Msg& msg) {
    if (!msg.hwnd) return 0;
    const LRESULT r = call_proc(msg.hwnd, msg.message, msg.wparam, msg.lparam);
    if (msg.message == WM_PAINT) validate_rect(msg.hwnd);
    return r;
}

int run_message_loop() {
    Msg m;
    while (get_message(m)) {
        translate_message(m);
        dispatch_message(m);
    }
    return int(m.wparam);
}

bool pump_messages() {
    Msg m;
    while (peek_message(m, true)) {
        if (m.message == WM_QUIT) {
            post_quit_message(int(m.wparam));
            return false;
        }
        translate_message(m);
        dispatch_message(m);
    }
    return true;
}

unsigned set_timer(Hwnd h, unsigned id, unsigned period_ms) {
    std::lock_guard g(S().m);
    WindowData* w = find(h);
    if (!w) return 0;
    const auto period = std::chrono::milliseconds(std::max(period_ms, 1u));
    const auto due = Clock::now() + period;
    for (auto& t : S().timers)
        if (t.h == h && t.id == id) {
            t.period = period;
            t.due = due;
            wake_thread(t.thread);
            return id;
        }
    S().timers.push_back(Timer{h, id, w->thread, period, due});
    wake_thread(w->thread);
    return id == 0 ? 1 : id;
}

bool kill_timer(Hwnd h, unsigned id) {
    std::lock_guard g(S().m);
    return std::erase_if(S().timers, [&](const Timer& t) { return t.h == h && t.id == id; }) > 0;
}

bool timer_exists(Hwnd h, unsigned id) {
    std::lock_guard g(S().m);
    return std::any_of(S().timers.begin(), S().timers.end(), [&](const Timer& t) { return t.h == h && t.id == id; });
}

void set_thread_event_pump(EventPump* pump) {
    std::lock_guard g(S().m);
    my_queue_locked().custom = pump;
}

int add_observer(Observer fn) {
    std::lock_guard g(S().m);
    const int token = S().next_token++;
    S().observers.emplace(token, std::move(fn));
    return token;
}

void remove_observer(int token) {
    std::lock_guard g(S().m);
    S().observers.erase(token);
}

namespace user {

bool click(Hwnd h) {
    Hwnd parent;
    int id = 0;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || !visible_chain(w) || !enabled_chain(w)) return false;
        if (w->cls == WindowClass::Static) {
            if (!(w->style & SS_NOTIFY)) return false;
        } else if (w->cls != WindowClass::Button) {
            return false;
        }
        const unsigned type = w->style & BS_TYPEMASK;
        if (w->cls == WindowClass::Button && type == BS_GROUPBOX) return false;
        if (w->cls == WindowClass::Button && type == BS_AUTOCHECKBOX) {
            w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            tx.add(Event::State, h);
        } else if (w->cls == WindowClass::Button && type == BS_AUTORADIOBUTTON) {
            // The group runs from the last sibling with WS_GROUP at or before this one to the next WS_GROUP.
            WindowData* p = find(w->parent);
            if (p) {
                auto& sib = p->children;
                std::ptrdiff_t me = std::find(sib.begin(), sib.end(), h) - sib.begin();
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
                    if (s->cls == WindowClass::Button && (s->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
                        const unsigned want = s == w ? BST_CHECKED : BST_UNCHECKED;
                        if (s->check != want) {
                            s->check = want;
                            tx.add(Event::State, s->h);
                        }
                    }
                }
            }
        }
        parent = w->parent;
        id = w->id;
    }
    send_message(parent, WM_COMMAND, make_wparam(unsigned(id), BN_CLICKED), LPARAM(h.value));
    return true;
}

bool type_text(Hwnd h, const std::string& text) {
    Hwnd parent;
    int id = 0;
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
        parent = w->parent;
        id = w->id;
    }
    send_message(parent, WM_COMMAND, make_wparam(unsigned(id), EN_CHANGE), LPARAM(h.value));
    return true;
}

bool select_item(Hwnd h, int index) {
    Hwnd parent;
    int id = 0;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || w->cls != WindowClass::ComboBox || !enabled_chain(w)) return false;
        if (index < 0 || index >= int(w->items.size())) return false;
        w->sel = index;
        tx.add(Event::State, h);
        parent = w->parent;
        id = w->id;
    }
    send_message(parent, WM_COMMAND, make_wparam(unsigned(id), CBN_SELCHANGE), LPARAM(h.value));
    return true;
}

bool enter_ip_fields(Hwnd h, std::array<int, 4> fields) {
    Hwnd parent;
    int id = 0;
    {
        Tx tx;
        WindowData* w = find(h);
        if (!w || w->cls != WindowClass::IpAddress || !enabled_chain(w)) return false;
        for (auto& f : fields) f = f < 0 ? -1 : std::min(f, 255);
        if (w->ip == fields) return true;
        w->ip = fields;
        tx.add(Event::State, h);
        parent = w->parent;
        id = w->id;
    }
    send_message(parent, WM_COMMAND, make_wparam(unsigned(id), EN_CHANGE), LPARAM(h.value));
    return true;
}

bool choose_menu(Hwnd h, int id) {
    {
        std::lock_guard g(S().m);
        WindowData* w = find(h);
        MenuItem* it = nullptr;
        if (!w || !enabled_chain(w) || !find_menu_item(w->menu, id, it) || it->grayed) return false;
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

} // namespace user

} // namespace kavro::ui
