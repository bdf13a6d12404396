// Runs a command line through the shell and keeps what it printed: the tools driven by the tests (regsvr32,
// kavro-graph, helpers in namespaces).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kavro::test {

struct CommandResult {
    int status = -1;    // the exit code; -1 when it could not run or was ended by a signal
    std::string output; // standard output, with standard error when the command line sends it there
};

// Runs `command` with /bin/sh, from the folder `cwd` when one is given.
inline CommandResult run_command(const std::string& command, const std::string& cwd = {}) {
    const std::string line = cwd.empty() ? command : "cd '" + cwd + "' && " + command;
    CommandResult r;
    FILE* p = ::popen(line.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, p)) r.output.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace kavro::test
