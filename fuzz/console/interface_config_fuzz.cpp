// interface.xml of any content: the console either refuses it (defaults, no save at exit) or fills its
// controls from it, saves it at exit and loads the saved file again.
#include "console/window/interface_config.h"
#include "console/window/subsystems.h"
#include "platform/ui/message_box.h"
#include "tests/console/window/fake_controls.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace kavro::console;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dir = [] {
        auto d = fs::temp_directory_path() / ("kavro-fuzz-interface-" + std::to_string(::getpid()));
        fs::create_directories(d);
        kavro::ui::set_message_box_presenter([](const std::string&, const std::string&, unsigned) { return 1; });
        return d.string() + "/";
    }();
    for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
    std::ofstream(dir + kInterfaceFile, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));

    InterfaceConfig config;
    config.configs_dir = dir;
    test::FakeControls controls;
    Pages pages;
    load_interface_config(config, controls, pages);
    if (!config.load_save) return 0;
    if (!save_interface_config(config, controls)) std::abort(); // accepted, yet it cannot be saved
    InterfaceConfig again;
    again.configs_dir = dir;
    test::FakeControls controls2;
    load_interface_config(again, controls2, pages);
    if (!again.load_save) std::abort(); // the saved file is refused
    return 0;
}
