#include "console/install_video.h"

#include "console/remote/remote_listener.h"
#include "console/window/ids.h"
#include "platform/ui/ui.h"

#include <memory>

namespace kavro::console {

void ConsoleRemoteTarget::save(const std::string& name) { video_.save_configuration(name); }

void ConsoleRemoteTarget::layout(const CompositePane (&panes)[kConsolePanes], float overlay_alpha,
                                 const RemoteSensorRows* sensor) {
    video_.apply_remote_layout(panes, overlay_alpha, sensor ? *sensor : nullptr);
}

void ConsoleRemoteTarget::adjust(int input, const std::int32_t (&values)[4]) { video_.adjust_picture(input, values); }

void ConsoleRemoteTarget::shut_down() { sys::shut_down_machine(shutdown_); }

void ConsoleRemoteTarget::close() {
    app_.drive.quit.store(true, std::memory_order_relaxed);
    const ui::Hwnd window{window_.load(std::memory_order_relaxed)};
    if (window) ui::post_message(window, ui::WM_DESTROY);
}

namespace {

// The listener with its target; the window is known once the operator window exists.
class RemoteSubsystem : public RemoteControl {
public:
    RemoteSubsystem(ConsoleApp& app, ConsoleVideo& video, sys::Shutdown& shutdown, std::uint16_t port)
        : app_(app), target_(app, video, shutdown), listener_(target_, app.drive.quit, port) {}
    void start_listener() override {
        if (app_.controls) target_.set_window(ui::get_parent(ui::Hwnd{app_.controls->window_of(ids::kPaneWeb)}));
        listener_.start_listener();
    }

private:
    ConsoleApp& app_;
    ConsoleRemoteTarget target_;
    RemoteControlListener listener_;
};

} // namespace

ConsoleVideo& install_video(ConsoleApp& app, sys::Shutdown& shutdown, VideoEnvironment env,
                            std::uint16_t remote_port) {
    auto video = std::make_unique<ConsoleVideo>(app, std::move(env));
    ConsoleVideo& v = *video;
    app.subsystems.video = std::move(video);
    app.subsystems.remote = std::make_unique<RemoteSubsystem>(app, v, shutdown, remote_port);
    return v;
}

} // namespace kavro::console
