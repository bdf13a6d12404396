// InterfaceKAVRO's start-up, message loop and the release of the devices after it.
#pragma once

#include "console/window/console_app.h"
#include "platform/ui/ui.h"

#include <functional>
#include <optional>
#include <string>

namespace kavro::console {

inline constexpr const char* kConsoleInstanceName = "InterfaceKAVRO";
inline constexpr const char* kMixerInstanceName = "KAVRO";

// The pieces of the system that start-up uses besides the window system.
class ConsoleSystem {
public:
    virtual ~ConsoleSystem() = default;
    // Whether a program holds the named instance block; if so its window is brought to the front.
    virtual bool instance_running(const std::string& name) = 0;
    // Creates this process's instance block; a failure is not fatal.
    virtual void create_instance_block(const std::string& name) = 0;
    // Writes the main window's handle into the block.
    virtual void publish_window(ui::Hwnd window) = 0;
    // Calls `end` (on another thread) whenever the system asks the program to end (SIGTERM, SIGINT, SIGHUP).
    virtual void on_end_request(std::function<void()> end) { (void)end; }
};

struct StartupHooks {
    // Runs the message loop until the quit message and answers its code.
    std::function<int()> message_loop = [] { return ui::run_message_loop(); };
};

// Runs the console from the instance guard to the end of the message loop. Answers the quit code after a
// normal run and 0 after a refusal or a failed start.
int run_console(ConsoleApp& app, ConsoleSystem& system, const StartupHooks& hooks = {});

} // namespace kavro::console
