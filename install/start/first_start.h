// kavro-start: how a user starts the console or the mixer from an installed package. The package writes
// nothing into users' homes; each user's first start makes what the programs need:
// - the registry value "Installation" of "SOFTWARE\KAVRO" (the user's registry, under the user's drive C),
//   naming the installation folder;
// - the program's working folder under drive C with the shipped configs/ (and the map page for the console),
//   copied when missing so the user's own settings are never replaced;
// - one run of setup per installation folder (registrations into the user's registry), remembered in a mark
//   file beside the registry; `--setup` runs it again.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kavro::start {

struct Program {
    const char* name;           // as installed in bin/
    const char* working_folder; // a path of drive C
    const char* shipped_configs; // under the installation's configs/, copied into the working folder's configs/
    bool map_page;              // the console's map page lives under its working folder
};
// The programs that may be started; nothing else is.
const Program* find_program(const std::string& name);

struct Environment {
    std::filesystem::path installation; // the installation folder (bin/, Filtres/, configs/, ...)
    // Where a path of drive C lies on this machine.
    std::function<std::filesystem::path(const std::string&)> system_path;
    // Runs setup and answers its exit code.
    std::function<int(const std::filesystem::path& setup)> run_setup;
    std::function<void(const std::string&)> log;
};

// Prepares the user's side for `program` and answers its working folder, or nothing (with a log line) when the
// registry cannot be written or the working folder cannot be made. force_setup runs setup even when it ran.
std::optional<std::filesystem::path> prepare(const Program& program, const Environment& env, bool force_setup);

} // namespace kavro::start
