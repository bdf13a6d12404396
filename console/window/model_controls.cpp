#include "console/window/model_controls.h"

#include "console/window/ids.h"
#include "console/window/resources.h"

namespace kavro::console {

bool ModelControls::checked(int id) const { return ui::is_dlg_button_checked(dialog_, id) == ui::BST_CHECKED; }
void ModelControls::set_checked(int id, bool on) {
    ui::check_dlg_button(dialog_, id, on ? ui::BST_CHECKED : ui::BST_UNCHECKED);
}
bool ModelControls::enabled(int id) const { return ui::is_window_enabled(item(id)); }
void ModelControls::set_enabled(int id, bool on) { ui::enable_window(item(id), on); }
bool ModelControls::visible(int id) const { return (ui::get_style(item(id)) & ui::WS_VISIBLE) != 0; }
void ModelControls::set_visible(int id, bool on) { ui::show_window(item(id), on ? ui::SW_SHOW : ui::SW_HIDE); }
void ModelControls::set_rect(int id, const Rect& r) { ui::move_window(item(id), r.x, r.y, r.w, r.h, true); }

std::string ModelControls::text(int id) const { return ui::get_dlg_item_text(dialog_, id); }
void ModelControls::set_text(int id, const std::string& text) { ui::set_dlg_item_text(dialog_, id, text); }
unsigned ModelControls::number(int id) const { return ui::get_dlg_item_int(dialog_, id); }
void ModelControls::set_number(int id, unsigned value) { ui::set_dlg_item_int(dialog_, id, value); }

Ipv4Address ModelControls::address(int id) const {
    std::uint32_t a = 0;
    ui::ip_get_address(item(id), a);
    return Ipv4Address{std::uint8_t(ui::first_ip_address(a)), std::uint8_t(ui::second_ip_address(a)),
                   std::uint8_t(ui::third_ip_address(a)), std::uint8_t(ui::fourth_ip_address(a))};
}
void ModelControls::set_address(int id, const Ipv4Address& a) {
    ui::ip_set_address(item(id), ui::make_ip_address(a[0], a[1], a[2], a[3]));
}

void ModelControls::list_clear(int id) { ui::combo_reset_content(item(id)); }
void ModelControls::list_add(int id, const std::string& text) { ui::combo_add_string(item(id), text); }
void ModelControls::list_select(int id, int index) { ui::combo_set_cur_sel(item(id), index); }

void ModelControls::set_progress_range(int id, int low, int high) { ui::progress_set_range(item(id), low, high); }
void ModelControls::set_progress_step(int id, int step) { ui::progress_set_step(item(id), step); }
void ModelControls::set_progress_position(int id, int position) { ui::progress_set_pos(item(id), position); }
std::string ModelControls::web_location(int id) const { return ui::web_location(item(id)); }
void ModelControls::web_navigate(int id, const std::string& url) { ui::web_navigate(item(id), url); }
void ModelControls::set_progress_colour(int id, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    ui::progress_set_bar_colour(item(id), ui::rgb(r, g, b));
}

bool ModelControls::menu_checked(int id) const { return ui::menu_item_checked(dialog_, id); }
void ModelControls::menu_check(int id, bool on) {
    ui::check_menu_item(dialog_, id, ui::MF_BYCOMMAND | (on ? ui::MF_CHECKED : ui::MF_UNCHECKED));
}
bool ModelControls::menu_enabled(int id) const { return ui::menu_item_enabled(dialog_, id); }
void ModelControls::menu_enable(int id, bool on) {
    ui::enable_menu_item(dialog_, id, ui::MF_BYCOMMAND | (on ? ui::MF_ENABLED : ui::MF_GRAYED));
}

void ModelControls::set_timer(int id, unsigned period_ms) { ui::set_timer(dialog_, unsigned(id), period_ms); }
void ModelControls::kill_timer(int id) { ui::kill_timer(dialog_, unsigned(id)); }

void ModelControls::redraw_pad() {
    const ui::Hwnd pad = item(ids::kDrivePad);
    ui::invalidate_rect(pad, nullptr, false);
    const ui::Rect r = ui::get_child_rect(pad);
    ui::invalidate_rect(dialog_, &r, false);
}

void ModelControls::redraw_window() { ui::invalidate_rect(dialog_, nullptr, true); }

void ModelControls::about_box() {
    ui::dialog_box(about_dialog_template(),
                   [](ui::Hwnd h, unsigned msg, ui::WPARAM wp, ui::LPARAM) -> ui::LRESULT {
                       if (msg == ui::WM_INITDIALOG) return 1;
                       if (msg == ui::WM_COMMAND && (ui::loword(wp) == ids::kOk || ui::loword(wp) == ids::kCancel)) {
                           ui::end_dialog(h, ui::LRESULT(ui::loword(wp)));
                           ui::post_message(h, ui::WM_NULL);  // lets the modal loop see the end at once
                           return 1;
                       }
                       return 0;
                   },
                   dialog_);
}

void ModelControls::end_and_quit(int result) {
    ui::end_dialog(dialog_, result);
    ui::post_quit_message(0);
}

} // namespace kavro::console
