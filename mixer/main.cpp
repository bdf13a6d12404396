// Talvor: the KAVRO video mixer, steered over UDP and by dropped-in configuration files.
//
// Two settings from the environment, for unattended stations, demonstrations and tests:
//   KAVRO_MESSAGE_BOXES=stderr   messages are written to standard error (answered OK) instead of waiting for
//                                someone to click them away
//   KAVRO_SHUTDOWN_RECORD=FILE   a remote shutdown request appends a line to FILE instead of halting the machine
#include "mixer/startup.h"
#include "mixer/sys_mixer_system.h"
#include "platform/dshow/builder.h"
#include "platform/sys/system.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/front_end.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace {

class RecordedShutdown final : public kavro::sys::Shutdown {
public:
    explicit RecordedShutdown(std::string file) : file_(std::move(file)) {}
    bool enable_privilege() override { return true; }
    bool force_shutdown() override {
        std::ofstream(file_, std::ios::app) << "shutdown\n";
        return true;
    }

private:
    std::string file_;
};

} // namespace

int main(int argc, char** argv) {
    using namespace kavro::mixer;
    // The command line is not used; Qt only reads its own options from it.
    kavro::ui::qt::FrontEnd front_end(argc, argv);
    if (const char* boxes = std::getenv("KAVRO_MESSAGE_BOXES"); boxes && std::string(boxes) == "stderr")
        kavro::ui::set_message_box_presenter([](const std::string& text, const std::string& caption, unsigned) {
            std::cerr << caption << ": " << text << "\n";
            return kavro::ui::IDOK;
        });
    // The sensor filter in this process takes the robots' status copies sent to this station
    // (docs/mixer-robot-status.md).
    ::setenv("KAVRO_STATION_STATUS", "1", 1);
    // The platform's sample grabber and null renderer are found by name like the installed filters.
    if (!kavro::dshow::register_builtin_filters())
        std::cerr << "Talvor: the sample grabber and null renderer could not be listed in the registry\n";

    auto state = std::make_unique<MixerState>();
    std::unique_ptr<kavro::sys::Shutdown> shutdown;
    if (const char* record = std::getenv("KAVRO_SHUTDOWN_RECORD"); record && *record)
        shutdown = std::make_unique<RecordedShutdown>(record);
    else
        shutdown = std::make_unique<kavro::sys::SystemShutdown>();
    state->shutdown = shutdown.get();
    SysMixerSystem system;
    return run_mixer(*state, system);
}
