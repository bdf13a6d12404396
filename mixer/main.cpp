// Talvor: the KAVRO video mixer, steered over UDP and by dropped-in configuration files.
#include "mixer/startup.h"
#include "mixer/sys_mixer_system.h"
#include "platform/dshow/builder.h"
#include "platform/sys/system.h"
#include "platform/ui/qt/front_end.h"

#include <iostream>
#include <memory>

int main(int argc, char** argv) {
    using namespace kavro::mixer;
    // The command line is not used; Qt only reads its own options from it.
    kavro::ui::qt::FrontEnd front_end(argc, argv);
    // The platform's sample grabber and null renderer are found by name like the installed filters.
    if (!kavro::dshow::register_builtin_filters())
        std::cerr << "Talvor: the sample grabber and null renderer could not be listed in the registry\n";

    auto state = std::make_unique<MixerState>();
    kavro::sys::SystemShutdown shutdown;
    state->shutdown = &shutdown;
    SysMixerSystem system;
    return run_mixer(*state, system);
}
