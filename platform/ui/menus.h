// Menus of top-level windows: the template a dialog carries and the check and grey states of its items.
// Part of platform/ui/ui.h, which callers include.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/types.h"

namespace kavro::ui {

// Menus: a bar of popups with items. An item with id 0 and empty text is a separator.
struct MenuItem {
    int id = 0;
    std::string text;
    bool checked = false;
    bool grayed = false;
    std::vector<MenuItem> popup; // non-empty: this item opens a popup
};
inline MenuItem menu_item(int id, std::string text, bool checked = false, bool grayed = false) {
    MenuItem m;
    m.id = id;
    m.text = std::move(text);
    m.checked = checked;
    m.grayed = grayed;
    return m;
}
inline MenuItem menu_popup(std::string text, std::vector<MenuItem> items) {
    MenuItem m;
    m.text = std::move(text);
    m.popup = std::move(items);
    return m;
}
struct MenuTemplate {
    int id = 0;
    std::vector<MenuItem> items;
};

// Menus of top-level windows.
bool has_menu(Hwnd w);
std::vector<MenuItem> get_menu(Hwnd w);
// Answer the previous state (MF_CHECKED/MF_UNCHECKED, MF_ENABLED/MF_GRAYED) or -1 when there is no such item.
int check_menu_item(Hwnd w, int id, unsigned flags);
int enable_menu_item(Hwnd w, int id, unsigned flags);
bool menu_item_checked(Hwnd w, int id);
bool menu_item_enabled(Hwnd w, int id);

} // namespace kavro::ui
