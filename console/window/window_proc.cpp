#include "console/window/window_proc.h"

#include "console/window/ids.h"
#include "console/window/operator_window.h"
#include "console/window/pad_painter.h"

namespace kavro::console {

void OperatorWindowProc::paint() {
    const ui::Hwnd pad = controls_->item(ids::kDrivePad);
    ui::Dc dc = ui::get_dc(pad);
    if (dc) paint_drive_pad(app_, *controls_, dc);
    ui::validate_rect(pad);
}

ui::LRESULT OperatorWindowProc::operator()(ui::Hwnd h, unsigned msg, ui::WPARAM wp, ui::LPARAM lp) {
    if (msg == ui::WM_INITDIALOG) {
        // Runs inside the window's creation, before the handle is published: work on the handle given.
        controls_ = std::make_unique<ModelControls>(h);
        app_.controls = controls_.get();
        window_init(app_, *controls_);
        return 1;
    }
    if (!controls_ || h != controls_->dialog()) return 0;
    Controls& c = *controls_;
    switch (msg) {
    case ui::WM_SIZE:
        if (wp == ui::SIZE_MINIMIZED) return 1;  // nothing to lay out in an icon
        window_size(app_, c, int(ui::loword(ui::WPARAM(lp))), int(ui::hiword(ui::WPARAM(lp))));
        return 1;
    case ui::WM_PAINT: paint(); return 1;
    case ui::WM_COMMAND: window_command(app_, c, int(ui::loword(wp)), int(ui::hiword(wp))); return 1;
    case ui::WM_TIMER: window_timer(app_, c, int(wp)); return 1;
    case ui::WM_LBUTTONDOWN: window_left_down(app_, c, ui::get_x_lparam(lp), ui::get_y_lparam(lp)); return 1;
    case ui::WM_LBUTTONUP: window_left_up(app_, c); return 1;
    case ui::WM_RBUTTONDOWN: window_right_down(app_, c, ui::get_x_lparam(lp), ui::get_y_lparam(lp)); return 1;
    case ui::WM_RBUTTONUP: window_right_up(app_, c); return 1;
    case ui::WM_MOUSEMOVE: window_mouse_move(app_, c, ui::get_x_lparam(lp), ui::get_y_lparam(lp)); return 1;
    case ui::WM_DESTROY:
        // A close request from the remote-control port, or the window going away: leave in order, once.
        window_remote_close(app_, c);
        return 1;
    default: return 0;
    }
}

} // namespace kavro::console
