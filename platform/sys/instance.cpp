#include "platform/sys/instance.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kavro::sys {

namespace {

constexpr char kRaise = 'R';
constexpr char kReadOnly = 'r';
constexpr int kClientWaitMs = 1000;

// Requests handled per second at most, and how many may come at once after a quiet spell. Connections beyond
// that are closed at once, without an answer and without a log line.
constexpr double kRequestsPerSecond = 4.0;
constexpr double kRequestBurst = 4.0;

// The abstract socket address: a leading NUL, then "kavro-instance/<name>". One name per machine (per network
// namespace), whichever user runs the program.
socklen_t make_address(const std::string& name, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string path = "kavro-instance/" + name;
    const std::size_t n = std::min(path.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path + 1, path.data(), n);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + n);
}

bool wait_fd(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r > 0;
    }
}

void put_value(unsigned char out[4], std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint32_t get_value(const unsigned char in[4]) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | in[i];
    return v;
}

// Connects to the block, reads its value and sends the request byte. Empty when nobody holds the name.
std::optional<std::uint32_t> probe(const std::string& name, char request, bool& held) {
    held = false;
    sockaddr_un addr;
    const socklen_t len = make_address(name, addr);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        // ECONNREFUSED: the name does not exist. EAGAIN: the owner's backlog is full, so it exists.
        held = errno == EAGAIN;
        close(fd);
        return std::nullopt;
    }
    held = true;
    unsigned char buf[4];
    std::size_t got = 0;
    while (got < sizeof buf && wait_fd(fd, POLLIN, kClientWaitMs)) {
        const ssize_t r = recv(fd, buf + got, sizeof buf - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += std::size_t(r);
    }
    std::optional<std::uint32_t> value;
    if (got == sizeof buf) value = get_value(buf);
    (void)send(fd, &request, 1, MSG_NOSIGNAL);
    close(fd);
    return value;
}

// Only the owner's own user and root may have the window brought to the front; anyone may see the block.
bool may_raise(int connection) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) return false;
    return peer.uid == 0 || peer.uid == geteuid();
}

} // namespace

std::unique_ptr<InstanceBlock> InstanceBlock::create(const std::string& name, RaiseRequest on_raise) {
    sockaddr_un addr;
    const socklen_t len = make_address(name, addr);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return nullptr;
    }
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<InstanceBlock>(new InstanceBlock(name, fd, wake, std::move(on_raise)));
}

InstanceBlock::InstanceBlock(std::string name, int listen_fd, int wake_fd, RaiseRequest on_raise)
    : name_(std::move(name)), listen_fd_(listen_fd), wake_fd_(wake_fd), on_raise_(std::move(on_raise)) {
    thread_ = std::thread([this] { serve(); });
}

InstanceBlock::~InstanceBlock() {
    stop_.store(true, std::memory_order_relaxed);
    const std::uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
    thread_.join();
    close(listen_fd_);
    close(wake_fd_);
}

void InstanceBlock::store(std::uint32_t value) { value_.store(value, std::memory_order_relaxed); }

void InstanceBlock::set_raise_request(RaiseRequest fn) {
    std::lock_guard g(raise_lock_);
    on_raise_ = std::move(fn);
}

void InstanceBlock::serve() {
    double tokens = kRequestBurst;
    auto last = std::chrono::steady_clock::now();
    while (!stop_.load(std::memory_order_relaxed)) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("instance block: poll");
            return;
        }
        if (p[1].revents) return;
        if (!(p[0].revents & POLLIN)) continue;
        const int c = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        // A token bucket: a flood of probes costs one accept and one close each, nothing more.
        const auto now = std::chrono::steady_clock::now();
        tokens = std::min(kRequestBurst, tokens + kRequestsPerSecond * std::chrono::duration<double>(now - last).count());
        last = now;
        if (tokens < 1.0) {
            close(c);
            continue;
        }
        tokens -= 1.0;
        unsigned char buf[4];
        put_value(buf, value());
        (void)send(c, buf, sizeof buf, MSG_NOSIGNAL);
        // One request byte; a probe that says nothing within the wait is simply dropped.
        char req = 0;
        if (wait_fd(c, POLLIN, kClientWaitMs) && recv(c, &req, 1, 0) == 1 && req == kRaise && may_raise(c)) {
            RaiseRequest fn;
            {
                std::lock_guard g(raise_lock_);
                fn = on_raise_;
            }
            if (fn) fn(value());
        }
        close(c);
    }
}

std::optional<std::uint32_t> read_instance_block(const std::string& name) {
    bool held = false;
    auto v = probe(name, kReadOnly, held);
    if (held && !v) return std::uint32_t{0};
    return v;
}

bool instance_running(const std::string& name) {
    bool held = false;
    probe(name, kRaise, held);
    return held;
}

} // namespace kavro::sys
