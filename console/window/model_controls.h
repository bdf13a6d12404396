// The operator window's controls on the window system model.
#pragma once

#include "console/window/controls.h"
#include "platform/ui/ui.h"

namespace kavro::console {

class ModelControls : public Controls {
public:
    explicit ModelControls(ui::Hwnd dialog) : dialog_(dialog) {}
    ui::Hwnd dialog() const { return dialog_; }
    ui::Hwnd item(int id) const { return ui::get_dlg_item(dialog_, id); }

    bool checked(int id) const override;
    void set_checked(int id, bool on) override;
    bool enabled(int id) const override;
    void set_enabled(int id, bool on) override;
    bool visible(int id) const override;
    void set_visible(int id, bool on) override;
    void set_rect(int id, const Rect& r) override;
    std::uint32_t window_of(int id) const override { return item(id).value; }
    std::string text(int id) const override;
    void set_text(int id, const std::string& text) override;
    unsigned number(int id) const override;
    void set_number(int id, unsigned value) override;
    Ipv4Address address(int id) const override;
    void set_address(int id, const Ipv4Address& a) override;
    void list_clear(int id) override;
    void list_add(int id, const std::string& item) override;
    void list_select(int id, int index) override;
    void set_progress_range(int id, int low, int high) override;
    void set_progress_step(int id, int step) override;
    void set_progress_colour(int id, std::uint8_t r, std::uint8_t g, std::uint8_t b) override;
    void set_progress_position(int id, int position) override;
    std::string web_location(int id) const override;
    void web_navigate(int id, const std::string& url) override;
    bool menu_checked(int id) const override;
    void menu_check(int id, bool on) override;
    bool menu_enabled(int id) const override;
    void menu_enable(int id, bool on) override;
    void set_timer(int id, unsigned period_ms) override;
    void kill_timer(int id) override;
    void redraw_pad() override;
    void redraw_window() override;
    void about_box() override;
    void end_and_quit(int result) override;

private:
    ui::Hwnd dialog_;
};

} // namespace kavro::console
