// setup: completes a KAVRO installation (runtime libraries, plug-in registrations, the mesh daemon's
// configuration). Takes no arguments; exit code 0 when every step succeeded, -1 otherwise.
#include "install/setup/setup.h"

#include "platform/ui/qt/front_end.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// The commands name "regsvr32": ours, installed beside this program, is found first.
void put_own_folder_first_on_path() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return;
    std::string path = self.parent_path().string();
    if (const char* old = std::getenv("PATH"); old && *old) path += std::string(":") + old;
    ::setenv("PATH", path.c_str(), 1);
}

} // namespace

int main(int argc, char** argv) {
    put_own_folder_first_on_path();
    auto env = kavro::setup::system_environment();
    // Message boxes appear on the desktop when there is one; otherwise they go to standard error.
    std::unique_ptr<kavro::ui::qt::FrontEnd> front_end;
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) {
        front_end = std::make_unique<kavro::ui::qt::FrontEnd>(argc, argv);
        env.show_error = [log = env.log](const std::string& text) {
            log(std::string(kavro::setup::kCaption) + ": " + text);
            kavro::ui::message_box(text, kavro::setup::kCaption, kavro::ui::MB_OK);
        };
    }
    return kavro::setup::run_setup(env);
}
