// Controls: made from a template, and the state of each kind. A function for one kind refuses a window of
// another class.
#include "platform/ui/state.h"

#include <algorithm>

namespace kavro::ui {

namespace detail {

std::unique_ptr<WindowData> control_data(const ControlTemplate& t, Rect r, Hwnd parent) {
    auto w = std::make_unique<WindowData>();
    w->cls = t.cls;
    w->class_name = class_name(t.cls);
    w->style = t.style | WS_CHILD;
    w->id = t.id;
    w->text = t.text;
    w->rect = w->normal_rect = clamp_size(r);
    w->parent = parent;
    if (t.cls == WindowClass::WebView) w->url = t.text;
    return w;
}

} // namespace detail

using namespace detail;

namespace {

// Runs f(window, tx) inside a Tx when h is a window of class c, else answers fail.
template <class F, class R>
R with_class(Hwnd h, WindowClass c, F&& f, R fail) {
    Tx tx;
    WindowData* w = find(h);
    if (!w || w->cls != c) return fail;
    return f(*w, tx);
}

// Reads a window of class c under the lock: f(window), else answers fail.
template <class F, class R>
R read_class(Hwnd h, WindowClass c, F&& f, R fail) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    if (!w || w->cls != c) return fail;
    return f(*w);
}

int clamp_to_range(int pos, const ProgressState& p) {
    return std::clamp(pos, std::min(p.low, p.high), std::max(p.low, p.high));
}

} // namespace

Hwnd create_control(Hwnd parent, const ControlTemplate& t) {
    Tx tx;
    if (!find(parent)) return Hwnd{};
    const Hwnd h = new_window_locked(control_data(t, t.rect, parent));
    tx.add(Event::Created, h);
    return h;
}

bool set_check(Hwnd h, unsigned state) {
    return with_class(h, WindowClass::Button, [&](WindowData& w, Tx& tx) {
        if (w.check != state) {
            w.check = state;
            tx.add(Event::State, w.h);
        }
        return true;
    }, false);
}

unsigned get_check(Hwnd h) {
    return read_class(h, WindowClass::Button, [](const WindowData& w) { return w.check; }, BST_UNCHECKED);
}

bool progress_set_range(Hwnd h, int low, int high) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx& tx) {
        w.progress.low = low;
        w.progress.high = high;
        w.progress.pos = clamp_to_range(w.progress.pos, w.progress);
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

int progress_set_pos(Hwnd h, int pos) {
    return with_class(h, WindowClass::Progress, [&](WindowData& w, Tx& tx) {
        const int prev = w.progress.pos;
        const int now = clamp_to_range(pos, w.progress);
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
        p.pos = clamp_to_range(p.pos, p);
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
    return read_class(h, WindowClass::Progress, [](const WindowData& w) { return w.progress; }, ProgressState{});
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
    return read_class(h, WindowClass::ComboBox, [](const WindowData& w) { return w.sel; }, CB_ERR);
}

int combo_get_count(Hwnd h) {
    return read_class(h, WindowClass::ComboBox, [](const WindowData& w) { return int(w.items.size()); }, CB_ERR);
}

std::string combo_get_item(Hwnd h, int index) {
    return read_class(h, WindowClass::ComboBox, [&](const WindowData& w) {
        return index < 0 || index >= int(w.items.size()) ? std::string{} : w.items[std::size_t(index)];
    }, std::string{});
}

std::vector<std::string> combo_items(Hwnd h) {
    return read_class(h, WindowClass::ComboBox, [](const WindowData& w) { return w.items; },
                      std::vector<std::string>{});
}

int combo_find_string_exact(Hwnd h, const std::string& text) {
    return read_class(h, WindowClass::ComboBox, [&](const WindowData& w) {
        for (std::size_t i = 0; i < w.items.size(); ++i)
            if (w.items[i] == text) return int(i);
        return CB_ERR;
    }, CB_ERR);
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
    return read_class(h, WindowClass::IpAddress, [&](const WindowData& w) {
        int n = 0;
        for (const int f : w.ip) {
            if (f >= 0) ++n;
            address = (address << 8) | std::uint32_t(f >= 0 ? f : 0);
        }
        return n;
    }, -1);
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
    return read_class(h, WindowClass::IpAddress, [](const WindowData& w) { return w.ip; },
                      std::array<int, 4>{-1, -1, -1, -1});
}

bool web_navigate(Hwnd h, const std::string& url) {
    return with_class(h, WindowClass::WebView, [&](WindowData& w, Tx& tx) {
        w.url = url;
        tx.add(Event::State, w.h);
        return true;
    }, false);
}

std::string web_location(Hwnd h) {
    return read_class(h, WindowClass::WebView, [](const WindowData& w) { return w.url; }, std::string{});
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
    std::lock_guard g(state().m);
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

} // namespace kavro::ui
