// The operator window procedure: turns the window system's messages into the operator window's handlers.
#pragma once

#include "console/window/console_app.h"
#include "console/window/model_controls.h"
#include "platform/ui/ui.h"

#include <memory>

namespace kavro::console {

class OperatorWindowProc {
public:
    explicit OperatorWindowProc(ConsoleApp& app) : app_(app) {}
    ui::LRESULT operator()(ui::Hwnd h, unsigned msg, ui::WPARAM wp, ui::LPARAM lp);
    // A procedure for create_dialog that forwards to this object (which must outlive the window).
    ui::WindowProc proc() {
        return [this](ui::Hwnd h, unsigned msg, ui::WPARAM wp, ui::LPARAM lp) { return (*this)(h, msg, wp, lp); };
    }
    ModelControls* controls() { return controls_.get(); }

private:
    void paint();

    ConsoleApp& app_;
    std::unique_ptr<ModelControls> controls_;
};

} // namespace kavro::console
