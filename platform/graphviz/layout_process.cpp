#include "platform/graphviz/layout_process.h"

#include "platform/graphviz/worker_protocol.h"

#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

extern char** environ;

namespace kavro::graphviz {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

enum class Io { Done, Closed, Late };

Io send_all(int fd, const void* data, std::size_t n, Clock::time_point deadline) {
    auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        pollfd pf{fd, POLLOUT, 0};
        const int ready = ::poll(&pf, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return Io::Late;
        const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (put <= 0) return Io::Closed;
        p += put;
        n -= std::size_t(put);
    }
    return Io::Done;
}

Io recv_all(int fd, void* data, std::size_t n, Clock::time_point deadline) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (n > 0) {
        pollfd pf{fd, POLLIN, 0};
        const int ready = ::poll(&pf, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return Io::Late;
        const ssize_t got = ::recv(fd, p, n, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return Io::Closed;
        p += got;
        n -= std::size_t(got);
    }
    return Io::Done;
}

} // namespace

const char* to_string(LayoutResult r) {
    switch (r) {
    case LayoutResult::Ok: return "drawn";
    case LayoutResult::NotDot: return "not a DOT graph";
    case LayoutResult::Failed: return "drawing failed";
    case LayoutResult::TimedOut: return "drawing took too long";
    case LayoutResult::Crashed: return "layout worker ended";
    case LayoutResult::TooLarge: return "too large";
    case LayoutResult::NoWorker: return "layout worker cannot start";
    }
    return "?";
}

LayoutProcess::LayoutProcess(std::string worker, LayoutLimits limits)
    : m_worker(std::move(worker)), m_limits(limits) {}

LayoutProcess::~LayoutProcess() {
    std::lock_guard g(m_lock);
    end_worker(false);
}

pid_t LayoutProcess::worker_pid() const {
    std::lock_guard g(m_lock);
    return m_pid;
}

unsigned LayoutProcess::starts() const {
    std::lock_guard g(m_lock);
    return m_starts;
}

std::string LayoutProcess::default_worker_path() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LayoutProcess::default_worker_path), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        const auto slash = path.rfind('/');
        return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/kavro-layout";
    }
    return "kavro-layout";
}

bool LayoutProcess::prestart() {
    std::lock_guard g(m_lock);
    std::string message;
    return m_pid > 0 || spawn(&message);
}

bool LayoutProcess::spawn(std::string* message) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *message = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 0); // the copy on 0 stays open across exec
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const std::string memory = std::to_string(m_limits.memory_mb);
    char* argv[] = {const_cast<char*>(m_worker.c_str()), const_cast<char*>("--memory-mb"),
                    const_cast<char*>(memory.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, m_worker.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        *message = m_worker + ": " + std::strerror(rc);
        return false;
    }
    m_pid = pid;
    m_fd = fds[0];
    m_drawings = 0;
    m_ready = false;
    ++m_starts;
    return true;
}

bool LayoutProcess::await_ready(std::string* message) {
    if (m_ready) return true;
    std::uint8_t ready = 0;
    const Io io = recv_all(m_fd, &ready, 1, Clock::now() + m_limits.startup);
    if (io != Io::Done || ready != kReady) {
        end_worker(true);
        *message = m_worker + (io == Io::Late ? ": not ready in time" : ": ended while starting");
        return false;
    }
    m_ready = true;
    return true;
}

void LayoutProcess::end_worker(bool kill_it) {
    if (m_fd >= 0) ::close(m_fd); // the worker ends when it sees its input close
    m_fd = -1;
    if (m_pid <= 0) return;
    if (kill_it) ::kill(m_pid, SIGKILL);
    int status = 0;
    // A worker in the middle of a drawing gets a moment to notice, then is killed.
    for (int i = 0; i < 200; ++i) {
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid || (r < 0 && errno == ECHILD)) {
            m_pid = -1;
            return;
        }
        if (i == 50) ::kill(m_pid, SIGKILL);
        ::usleep(1000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

LayoutResult LayoutProcess::draw(std::string_view dot, std::string* jpeg, std::string* message) {
    std::string discard;
    if (!message) message = &discard;
    message->clear();
    jpeg->clear();
    if (dot.size() > kMaxRequestBytes) {
        *message = "DOT text of " + std::to_string(dot.size()) + " bytes";
        return LayoutResult::TooLarge;
    }
    std::lock_guard g(m_lock);
    if (m_pid > 0 && m_drawings >= m_limits.max_drawings) end_worker(false);
    if (m_pid <= 0 && !spawn(message)) return LayoutResult::NoWorker;
    if (!await_ready(message)) return LayoutResult::NoWorker;
    ++m_drawings;

    const auto deadline = Clock::now() + m_limits.time;
    std::uint8_t header[5];
    put_u32(header, std::uint32_t(dot.size()));
    Io io = send_all(m_fd, header, 4, deadline);
    if (io == Io::Done) io = send_all(m_fd, dot.data(), dot.size(), deadline);
    if (io == Io::Done) io = recv_all(m_fd, header, 5, deadline);
    std::uint32_t length = 0;
    if (io == Io::Done) {
        length = get_u32(header + 1);
        if (length > kMaxReplyBytes) {
            end_worker(true);
            *message = "picture of " + std::to_string(length) + " bytes";
            return LayoutResult::TooLarge;
        }
        std::string& body = header[0] == 0 ? *jpeg : *message;
        body.resize(length);
        io = recv_all(m_fd, body.data(), length, deadline);
    }
    if (io == Io::Late) {
        end_worker(true);
        jpeg->clear();
        *message = "no drawing after " + std::to_string(m_limits.time.count()) + " ms";
        return LayoutResult::TimedOut;
    }
    if (io == Io::Closed) {
        end_worker(true);
        jpeg->clear();
        *message = "the layout worker ended during the drawing";
        return LayoutResult::Crashed;
    }
    switch (header[0]) {
    case 0: return LayoutResult::Ok;
    case 1: return LayoutResult::NotDot;
    default: return LayoutResult::Failed;
    }
}

} // namespace kavro::graphviz
