// The console's video panes and remote-control port installed into the operator window's subsystems.
#pragma once

#include "console/remote/remote_commands.h"
#include "console/video/video_panes.h"
#include "console/window/console_app.h"
#include "platform/sys/system.h"

#include <cstdint>

namespace kavro::console {

// What the remote commands do in the running console: the video panes' layout, picture adjustments and
// saves, the machine's shutdown, and the close request (the quit flag, then WM_DESTROY to the window, which
// runs the Exit sequence).
class ConsoleRemoteTarget : public RemoteCommandTarget {
public:
    ConsoleRemoteTarget(ConsoleApp& app, ConsoleVideo& video, sys::Shutdown& shutdown)
        : app_(app), video_(video), shutdown_(shutdown) {}
    // The window that receives the close request; set on the window thread before the listener starts.
    void set_window(ui::Hwnd window) { window_.store(window.value, std::memory_order_relaxed); }

    void save(const std::string& name) override;
    void layout(const CompositePane (&panes)[kConsolePanes], float overlay_alpha,
                const RemoteSensorRows* sensor) override;
    void adjust(int input, const std::int32_t (&values)[4]) override;
    void shut_down() override;
    void close() override;

private:
    ConsoleApp& app_;
    ConsoleVideo& video_;
    sys::Shutdown& shutdown_;
    std::atomic<std::uint32_t> window_{0};
};

// Replaces the do-nothing video panes and remote control of `app` (before run_console). `shutdown` must
// outlive the program's state. Answers the video panes, owned by `app`.
ConsoleVideo& install_video(ConsoleApp& app, sys::Shutdown& shutdown, VideoEnvironment env = {},
                            std::uint16_t remote_port = kRemoteControlPort);

} // namespace kavro::console
