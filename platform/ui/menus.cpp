// Menus of top-level windows: check marks and greying of their command items.
#include "platform/ui/state.h"

namespace kavro::ui {

namespace detail {

MenuItem* find_menu_item(std::vector<MenuItem>& items, int id) {
    for (auto& it : items) {
        if (it.popup.empty() && it.id == id) return &it;
        if (MenuItem* found = find_menu_item(it.popup, id)) return found;
    }
    return nullptr;
}

} // namespace detail

using namespace detail;

bool has_menu(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    return w && w->has_menu;
}

std::vector<MenuItem> get_menu(Hwnd h) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    return w ? w->menu : std::vector<MenuItem>{};
}

int check_menu_item(Hwnd h, int id, unsigned flags) {
    Tx tx;
    WindowData* w = find(h);
    MenuItem* it = w ? find_menu_item(w->menu, id) : nullptr;
    if (!it) return -1;
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
    MenuItem* it = w ? find_menu_item(w->menu, id) : nullptr;
    if (!it) return -1;
    const int prev = it->grayed ? int(MF_GRAYED) : int(MF_ENABLED);
    const bool now = flags & (MF_GRAYED | MF_DISABLED);
    if (it->grayed != now) {
        it->grayed = now;
        tx.add(Event::Menu, h);
    }
    return prev;
}

bool menu_item_checked(Hwnd h, int id) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    const MenuItem* it = w ? find_menu_item(w->menu, id) : nullptr;
    return it && it->checked;
}

bool menu_item_enabled(Hwnd h, int id) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    const MenuItem* it = w ? find_menu_item(w->menu, id) : nullptr;
    return it && !it->grayed;
}

} // namespace kavro::ui
