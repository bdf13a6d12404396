// A pending configuration file of any content, read as the mixer's (first byte even) or the console's (odd)
// layout: the reader refuses it or accepts it whole, and what it accepts the writer saves and the reader
// takes again.
#include "config_files/config_files.h"
#include "platform/ui/message_box.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string& configs_dir() {
    static const std::string dir = [] {
        std::string d = (fs::temp_directory_path() / ("kavro-fuzz-config-" + std::to_string(::getpid()))).string();
        fs::create_directories(d);
        kavro::ui::set_message_box_presenter([](const std::string&, const std::string&, unsigned) { return 1; });
        return d + "/";
    }();
    return dir;
}

template <class Layout, class Read, class Write>
void round_trip(const std::string& dir, Read read, Write write) {
    MinXL::t_xml_node doc("_EMPTY_", "");
    Layout layout;
    if (FAILED(read(doc, layout, dir))) return;
    if (fs::exists(dir + "kavro.xml")) std::abort(); // accepted, yet still pending
    if (!write(doc, layout, dir)) std::abort();      // accepted, yet the writer cannot use it
    MinXL::t_xml_node again("_EMPTY_", "");
    Layout back;
    if (FAILED(read(again, back, dir))) std::abort(); // the written file is refused
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string& dir = configs_dir();
    for (const char* f : {"kavro.xml", "kavro_old.xml", "kavro.xml.bad", "layout.xml"}) fs::remove(dir + f);
    std::ofstream(dir + "kavro.xml", std::ios::binary).write(reinterpret_cast<const char*>(data + 1), long(size - 1));
    if (data[0] % 2 == 0) {
        round_trip<kavro::MixerLayout>(
            dir, [](auto& d, auto& l, const std::string& c) { return kavro::read_mixer_config(d, l, c); },
            [](auto& d, const auto& l, const std::string& c) { return kavro::write_mixer_config(d, l, nullptr, c); });
    } else {
        round_trip<kavro::ConsoleLayout>(
            dir, [](auto& d, auto& l, const std::string& c) { return kavro::read_console_config(d, l, c); },
            [](auto& d, const auto& l, const std::string& c) {
                // The console saves under a name of its choosing; the fallback name is read back.
                return kavro::write_console_config(d, l, nullptr, "kavro_old.xml", c);
            });
    }
    return 0;
}
