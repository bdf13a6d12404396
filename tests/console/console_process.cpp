// The console as its program runs it (Qt front end, the robot link, the system's end requests), with what an
// operator does first: robots 1 and 2 ticked and the pad held forward. Prints "ready" once the loop runs.
// Its instance blocks carry the process id so that it runs beside anything else on the machine.
#include "console/window/console_app.h"
#include "console/window/ids.h"
#include "console/window/panes_without_video.h"
#include "console/install_robot_link.h"
#include "console/startup.h"
#include "console/sys_console_system.h"
#include "platform/ui/qt/front_end.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

class OwnNames : public kavro::console::SysConsoleSystem {
public:
    bool instance_running(const std::string& name) override {
        return SysConsoleSystem::instance_running(own(name));
    }
    void create_instance_block(const std::string& name) override { SysConsoleSystem::create_instance_block(own(name)); }
    void publish_window(kavro::ui::Hwnd w) override {
        window = w;
        SysConsoleSystem::publish_window(w);
    }
    static std::string own(const std::string& name) { return name + "-test-" + std::to_string(::getpid()); }
    kavro::ui::Hwnd window;
};

} // namespace

int main(int argc, char** argv) {
    using namespace kavro::console;
    kavro::ui::qt::FrontEnd front_end(argc, argv);
    auto app = std::make_unique<ConsoleApp>();
    app->subsystems.video = std::make_unique<PanesWithoutVideo>(*app);
    install_robot_link(*app);
    OwnNames system;
    StartupHooks hooks;
    hooks.message_loop = [&] {
        app->drive.pad_y = 6; // full speed ahead
        for (int k = 1; k <= 2; ++k) kavro::ui::user::click(kavro::ui::get_dlg_item(system.window, ids::robot_select(k)));
        std::printf("ready\n");
        std::fflush(stdout);
        return kavro::ui::run_message_loop();
    };
    return run_console(*app, system, hooks);
}
