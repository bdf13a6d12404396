#include "platform/sys/process.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace kavro::sys {

namespace {

pid_t spawn(const std::filesystem::path& program, const std::vector<std::string>& args) {
    std::vector<std::string> all;
    all.push_back(program.string());
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    // A bare name is looked up on PATH; a path is used as it is.
    const bool bare = program.string().find('/') == std::string::npos;
    const int rc = bare ? posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ)
                        : posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    return rc == 0 ? pid : -1;
}

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) {
        // posix_spawn reports a program that could not be executed as exit status 127.
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

int run_and_wait(const std::filesystem::path& program, const std::vector<std::string>& args) {
    const pid_t pid = spawn(program, args);
    if (pid < 0) return -1;
    return wait_for(pid);
}

bool start_process(const std::filesystem::path& program, const std::vector<std::string>& args) {
    const pid_t pid = spawn(program, args);
    if (pid < 0) return false;
    std::thread([pid] { wait_for(pid); }).detach();
    return true;
}

bool open_document(const std::filesystem::path& document) { return start_process("xdg-open", {document.string()}); }

} // namespace kavro::sys
