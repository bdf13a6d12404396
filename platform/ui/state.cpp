// The window system's shared state: the one System of the process, lookup and frame geometry.
#include "platform/ui/state.h"

#include <algorithm>

namespace kavro::ui::detail {

System& state() {
    static System s;
    return s;
}

WindowData* find(Hwnd h) {
    auto it = state().windows.find(h.value);
    return it == state().windows.end() ? nullptr : it->second.get();
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

Rect clamp_size(Rect r) {
    r.w = std::max(r.w, 0);
    r.h = std::max(r.h, 0);
    return r;
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

Rect maximised_client(const WindowData& w) {
    Rect area{0, 0, 1280, 1024};
    for (auto& m : state().monitors)
        if (m.primary) area = m.area;
    const FrameInsets in = insets_of(w);
    return Rect{area.x, area.y - in.left + in.top, area.w, std::max(area.h - in.top + in.left, 0)};
}

} // namespace kavro::ui::detail
