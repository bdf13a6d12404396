// The end requests of the system: SIGTERM (a service stop, kill), SIGINT (Ctrl+C) and SIGHUP (logout, the
// terminal going away) turned into a call on a thread of its own, so that a program ends in its usual order
// instead of dying where it stands. The handler itself only writes the signal number into a pipe.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace kavro::sys {

class TerminationSignals {
public:
    // Called on the watcher thread, once per signal received.
    using Handler = std::function<void(int signal)>;

    // Installs the handlers (only one watcher per process at a time); null when that fails (the signals then keep
    // their previous action), with a line on stderr.
    static std::unique_ptr<TerminationSignals> install(Handler on_signal);
    // Puts the previous actions back and stops the watcher thread.
    ~TerminationSignals();

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    TerminationSignals(Handler on_signal, int read_fd, int write_fd, int wake_fd);
    void watch();

    Handler on_signal_;
    int read_fd_, write_fd_, wake_fd_;
    std::thread thread_;
};

} // namespace kavro::sys
