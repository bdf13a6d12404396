#include "platform/sys/signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kavro::sys {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the pipe of the installed watcher; -1 when none is installed. Read by the handler.
std::atomic<int> g_signal_pipe{-1};
struct sigaction g_previous[3];

extern "C" void on_termination_signal(int signal) {
    const int saved = errno;
    const int fd = g_signal_pipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        (void)!::write(fd, &byte, 1); // a full pipe already holds enough end requests
    }
    errno = saved;
}

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::install(Handler on_signal) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("termination signals: pipe");
        return nullptr;
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int expected = -1;
    if (wake < 0 || !g_signal_pipe.compare_exchange_strong(expected, fds[1])) {
        std::fprintf(stderr, "termination signals: %s\n", wake < 0 ? "no eventfd" : "a watcher is already installed");
        ::close(fds[0]);
        ::close(fds[1]);
        if (wake >= 0) ::close(wake);
        return nullptr;
    }
    std::unique_ptr<TerminationSignals> watcher(new TerminationSignals(std::move(on_signal), fds[0], fds[1], wake));
    struct sigaction action {};
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
    return watcher;
}

TerminationSignals::TerminationSignals(Handler on_signal, int read_fd, int write_fd, int wake_fd)
    : on_signal_(std::move(on_signal)), read_fd_(read_fd), write_fd_(write_fd), wake_fd_(wake_fd) {
    thread_ = std::thread([this] { watch(); });
}

TerminationSignals::~TerminationSignals() {
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_signal_pipe.store(-1);
    const std::uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
    thread_.join();
    ::close(read_fd_);
    ::close(write_fd_);
    ::close(wake_fd_);
}

void TerminationSignals::watch() {
    for (;;) {
        pollfd p[2] = {{read_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("termination signals: poll");
            return;
        }
        if (p[1].revents) return;
        unsigned char signals[16];
        const ssize_t n = ::read(read_fd_, signals, sizeof signals);
        for (ssize_t i = 0; i < n; ++i) on_signal_(signals[i]);
    }
}

} // namespace kavro::sys
