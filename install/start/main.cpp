// kavro-start PROGRAM [--setup]: starts InterfaceKAVRO or Talvor from an installed package, preparing the
// user's side first (see first_start.h). The desktop entries run it.
#include "install/start/first_start.h"

#include "platform/sys/paths.h"
#include "platform/sys/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const kavro::start::Program* program = argc >= 2 ? kavro::start::find_program(argv[1]) : nullptr;
    const bool force_setup = argc == 3 && std::strcmp(argv[2], "--setup") == 0;
    if (!program || argc > 3 || (argc == 3 && !force_setup)) {
        std::fprintf(stderr, "usage: kavro-start InterfaceKAVRO|Talvor [--setup]\n");
        return 1;
    }
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::fprintf(stderr, "kavro-start: cannot find its own folder: %s\n", ec.message().c_str());
        return 1;
    }
    kavro::start::Environment env;
    env.installation = self.parent_path().parent_path();
    env.system_path = [](const std::string& p) { return kavro::sys::local_path(p); };
    env.run_setup = [](const fs::path& setup) { return kavro::sys::run_and_wait(setup); };
    env.log = [](const std::string& line) { std::fprintf(stderr, "kavro-start: %s\n", line.c_str()); };

    const auto working = kavro::start::prepare(*program, env, force_setup);
    if (!working) return 1;
    fs::current_path(*working, ec);
    if (ec) {
        std::fprintf(stderr, "kavro-start: cannot enter %s: %s\n", working->c_str(), ec.message().c_str());
        return 1;
    }
    const std::string path = (env.installation / "bin" / program->name).string();
    char* const args[] = {const_cast<char*>(program->name), nullptr};
    ::execv(path.c_str(), args);
    std::fprintf(stderr, "kavro-start: cannot start %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
}
