#include "install/start/first_start.h"

#include "platform/registry/registry.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace kavro::start {

namespace {

constexpr Program kPrograms[] = {
    {"InterfaceKAVRO", "C:/Program Files/KAVRO/", "", true},
    {"Talvor", "C:/Program Files/Talvor/", "mixer/", false},
};

// Copies every file of `from` missing in `to`, folders included; files already there are left alone.
bool copy_missing(const fs::path& from, const fs::path& to, const Environment& env) {
    std::error_code ec;
    if (!fs::is_directory(from, ec)) return true;
    fs::create_directories(to, ec);
    if (ec) return env.log("cannot make " + to.string() + ": " + ec.message()), false;
    for (const auto& entry : fs::directory_iterator(from, ec)) {
        const fs::path target = to / entry.path().filename();
        if (entry.is_directory(ec)) {
            if (!copy_missing(entry.path(), target, env)) return false;
        } else if (!fs::exists(target, ec)) {
            fs::copy_file(entry.path(), target, ec);
            if (ec) return env.log("cannot copy " + entry.path().string() + ": " + ec.message()), false;
        }
    }
    return true;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

const Program* find_program(const std::string& name) {
    for (const Program& p : kPrograms)
        if (name == p.name) return &p;
    return nullptr;
}

std::optional<fs::path> prepare(const Program& program, const Environment& env, bool force_setup) {
    const std::string folder = env.installation.string() + "/";
    if (registry::get_string("SOFTWARE\\KAVRO", "Installation") != folder &&
        !registry::set_string("SOFTWARE\\KAVRO", "Installation", folder)) {
        env.log("cannot write the installation folder into " + registry::registry_file());
        return std::nullopt;
    }

    const fs::path working = env.system_path(program.working_folder);
    // The shipped settings of this program only (the mixer's are in a folder of their own).
    const fs::path shipped = env.installation / "configs" / program.shipped_configs;
    std::error_code ec;
    fs::create_directories(working / "configs", ec);
    for (const auto& entry : fs::directory_iterator(shipped, ec)) {
        const fs::path target = working / "configs" / entry.path().filename();
        if (entry.is_regular_file(ec) && !fs::exists(target, ec)) fs::copy_file(entry.path(), target, ec);
    }
    if (!fs::is_directory(working / "configs", ec)) {
        env.log("cannot make " + (working / "configs").string());
        return std::nullopt;
    }
    if (program.map_page && !copy_missing(env.installation / "Map", working / "Map", env)) return std::nullopt;

    // setup registers into this user's registry: once per installation folder.
    const fs::path mark = fs::path(registry::registry_file()).parent_path() / "kavro-setup.done";
    if (force_setup || read_file(mark) != folder + "\n") {
        const int code = env.run_setup(env.installation / "bin" / "setup");
        if (code != 0) env.log("setup ended with " + std::to_string(code) + " (its message says why)");
        fs::create_directories(mark.parent_path(), ec);
        std::ofstream(mark) << folder << "\n";
    }
    return working;
}

} // namespace kavro::start
