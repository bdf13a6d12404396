// InterfaceKAVRO: the operator console of the KAVRO robots.
#include "console/window/console_app.h"
#include "console/install_video.h"
#include "console/install_robot_link.h"
#include "console/pages/pages.h"
#include "console/startup.h"
#include "console/sys_console_system.h"
#include "platform/sys/system.h"
#include "platform/ui/qt/front_end.h"
#include "platform/ui/qt/web_engine.h"

#include <memory>

int main(int argc, char** argv) {
    using namespace kavro::console;
    // The command line is not used; Qt only reads its own options from it.
    // The web pane is a browser; it is set up before the Qt application exists.
    kavro::ui::qt::install_web_engine();
    kavro::ui::qt::FrontEnd front_end(argc, argv);

    // Made before the program's state, which holds it (the remote shut-down command).
    kavro::sys::SystemShutdown shutdown;
    auto app = std::make_unique<ConsoleApp>();
    app->network_connected = [] { return kavro::sys::connected_state(); };
    ConsoleVideo& video = install_video(*app, shutdown);
    app->subsystems.pages =
        std::make_unique<PagesSubsystem>(*app, install_robot_link(*app, [&video] { return video.sensor(); }));

    SysConsoleSystem system;
    return run_console(*app, system);
}
