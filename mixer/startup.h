// Talvor's start-up: one mixer per machine and never beside the console, the borderless 720 x 576 window on
// the first monitor that is not the primary one, the graph, the five control threads, the message loop; and
// the window's destroy steps (configuration saved, graph released, quit).
#pragma once

#include "mixer/state.h"

#include <functional>
#include <string>

namespace kavro::mixer {

inline constexpr const char* kMixerInstanceName = "KAVRO";
inline constexpr const char* kConsoleInstanceName = "InterfaceKAVRO";

// The pieces of the system that start-up uses besides the window system.
class MixerSystem {
public:
    virtual ~MixerSystem() = default;
    // Whether a program holds the named instance block; if so its window is brought to the front.
    virtual bool instance_running(const std::string& name) = 0;
    // Creates this process's instance block holding the window's handle; a failure is not fatal.
    virtual void create_instance_block(const std::string& name, ui::Hwnd window) = 0;
    // Calls `end` (on another thread) whenever the system asks the program to end.
    virtual void on_end_request(std::function<void()> end) { (void)end; }
};

struct StartupHooks {
    // Runs the message loop until the quit message and answers its code.
    std::function<int()> message_loop = [] { return ui::run_message_loop(); };
    int show_command = ui::SW_SHOW;
};

// Runs the mixer from the instance guard to the end of the message loop; the control threads are joined
// before it returns. Answers 0 after a normal end or a refusal, and the failing result of the graph build.
int run_mixer(MixerState& s, MixerSystem& system, const StartupHooks& hooks = {});

// Moves the window, without resizing it, to the top-left corner of the first monitor that is not the
// primary one; with a single monitor it stays where it is.
void place_on_second_monitor(ui::Hwnd window);

// The window's destroy steps: stop flag, configuration saved as "kavro_old.xml", graph stopped once the data
// in flight is shown, graph released, quit message. Runs once however often it is called.
void destroy_steps(MixerState& s);

} // namespace kavro::mixer
