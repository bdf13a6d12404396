// A helper process for the instance tests.
//   instance_probe hold NAME      holds the named instance block, prints "ready", and "raised" whenever another
//                                 program asks for its window; ends when its standard input closes.
//   instance_probe console DIR    runs the console start-up with the settings folder DIR (message boxes on
//                                 standard error); prints "running" once the loop runs and "front" when its
//                                 window is brought to the front; standard input closing chooses File > Exit.
#include "console/window/ids.h"
#include "console/startup.h"
#include "console/sys_console_system.h"
#include "platform/sys/instance.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

void wait_for_stdin_end() {
    char c;
    while (::read(0, &c, 1) > 0) {
    }
}

int hold(const std::string& name) {
    auto block = kavro::sys::InstanceBlock::create(name, [](std::uint32_t) {
        std::printf("raised\n");
        std::fflush(stdout);
    });
    if (!block) return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    wait_for_stdin_end();
    return 0;
}

int console(const std::string& dir) {
    using namespace kavro;
    console::ConsoleApp app;
    app.config.configs_dir = dir + "/";
    console::SysConsoleSystem system;
    console::StartupHooks hooks;
    hooks.message_loop = [] {
        ui::Hwnd main_window;
        for (ui::Hwnd w : ui::top_level_windows())
            if (ui::template_id(w) == console::ids::kOperatorDialog) main_window = w;
        ui::add_observer([main_window](const ui::Event& e) {
            if (e.kind == ui::Event::Foreground && e.hwnd == main_window) {
                std::printf("front\n");
                std::fflush(stdout);
            }
        });
        std::thread([main_window] {
            wait_for_stdin_end();
            ui::post_message(main_window, ui::WM_COMMAND, ui::make_wparam(console::ids::kMenuExit, 0));
        }).detach();
        std::printf("running\n");
        std::fflush(stdout);
        return ui::run_message_loop();
    };
    const int code = console::run_console(app, system, hooks);
    std::printf("exit %d\n", code);
    std::fflush(stdout);
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "hold") return hold(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "console") return console(argv[2]);
    std::cerr << "usage: instance_probe hold NAME | console DIR\n";
    return 2;
}
