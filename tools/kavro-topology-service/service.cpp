#include "tools/kavro-topology-service/service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kavro::topology {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLoopPeriod{20};       // how often the source is looked at
constexpr milliseconds kCloseModeTimeout{10000};

} // namespace

TopologyService::TopologyService(SnapshotSource& source, ServiceSettings settings)
    : source_(source), settings_(std::move(settings)), random_(std::random_device{}()) {
    if (settings_.lockout_max < settings_.lockout_min) settings_.lockout_max = settings_.lockout_min;
    if (settings_.write_tick.count() <= 0) settings_.write_tick = milliseconds(1);
    if (settings_.max_clients == 0) settings_.max_clients = 1;
}

TopologyService::~TopologyService() {
    for (Client& c : clients_) ::close(c.fd);
    if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool TopologyService::open(std::string& error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(settings_.port);
    if (::inet_pton(AF_INET, settings_.address.c_str(), &addr.sin_addr) != 1) {
        error = "\"" + settings_.address + "\" is not an IPv4 address";
        return false;
    }
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof addr;
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 16) != 0 || ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = "cannot listen on " + settings_.address + ":" + std::to_string(settings_.port) + ": " +
                std::strerror(errno);
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

void TopologyService::queue(Client& c, const std::string& snapshot, Clock::time_point now) {
    c.last_queued = now;
    if (c.pending.size() - c.sent + snapshot.size() > settings_.max_pending) {
        counters_.snapshots_skipped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (c.sent > 0 && c.sent >= c.pending.size() / 2) {
        c.pending.erase(0, c.sent);
        c.sent = 0;
    }
    c.pending += snapshot;
    counters_.snapshots_queued.fetch_add(1, std::memory_order_relaxed);
    std::size_t queued = c.pending.size() - c.sent;
    if (queued > counters_.peak_pending.load(std::memory_order_relaxed))
        counters_.peak_pending.store(queued, std::memory_order_relaxed);
}

bool TopologyService::flush(Client& c, Clock::time_point now) {
    if (now < c.next_flush) return true;
    c.next_flush = std::max(c.next_flush + settings_.write_tick, now);
    while (c.sent < c.pending.size()) {
        ssize_t n = ::send(c.fd, c.pending.data() + c.sent, c.pending.size() - c.sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        c.sent += static_cast<std::size_t>(n);
    }
    c.pending.clear();
    c.sent = 0;
    return true;
}

bool TopologyService::drain(Client& c) {
    char scratch[4096];
    for (;;) {
        ssize_t n = ::recv(c.fd, scratch, sizeof scratch, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void TopologyService::drop(std::size_t index, Clock::time_point now, const char* why) {
    if (settings_.verbose) std::fprintf(stderr, "kavro-topology-service: client %s\n", why);
    ::close(clients_[index].fd);
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    if (settings_.mode == Mode::stream) {
        std::uniform_int_distribution<long> span(settings_.lockout_min.count(), settings_.lockout_max.count());
        lockout_until_ = now + milliseconds(span(random_));
    }
}

void TopologyService::accept_all(Clock::time_point now) {
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return; // EAGAIN, or out of descriptors: the connection waits in the backlog
        }
        const bool room = settings_.mode == Mode::stream ? clients_.empty() && now >= lockout_until_
                                                         : clients_.size() < settings_.max_clients;
        if (!room) {
            ::close(fd);
            counters_.turned_away.fetch_add(1, std::memory_order_relaxed);
            if (settings_.verbose) std::fprintf(stderr, "kavro-topology-service: connection turned away\n");
            continue;
        }
        if (settings_.send_buffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &settings_.send_buffer, sizeof settings_.send_buffer);
        Client c;
        c.fd = fd;
        c.next_flush = now + settings_.write_tick;
        c.deadline = now + kCloseModeTimeout;
        queue(c, source_.current(), now);
        clients_.push_back(std::move(c));
        counters_.served.fetch_add(1, std::memory_order_relaxed);
        if (settings_.verbose) std::fprintf(stderr, "kavro-topology-service: client connected\n");
    }
}

int TopologyService::poll_timeout(Clock::time_point now) const {
    auto wait = kLoopPeriod;
    for (const Client& c : clients_)
        if (c.sent < c.pending.size())
            wait = std::min(wait, std::chrono::duration_cast<milliseconds>(c.next_flush - now) + milliseconds(1));
    return static_cast<int>(std::max<milliseconds::rep>(wait.count(), 0));
}

void TopologyService::run(const std::atomic<bool>& stop) {
    std::vector<pollfd> fds;
    while (!stop.load(std::memory_order_relaxed)) {
        Clock::time_point now = Clock::now();
        const std::vector<std::string> fresh = source_.update(now);
        for (std::size_t i = clients_.size(); i-- > 0;) {
            Client& c = clients_[i];
            if (settings_.mode == Mode::stream) {
                for (const std::string& s : fresh) queue(c, s, now);
                if (fresh.empty() && settings_.repeat.count() > 0 && now - c.last_queued >= settings_.repeat)
                    queue(c, source_.current(), now);
            }
            if (!flush(c, now)) {
                drop(i, now, "went away");
            } else if (settings_.mode == Mode::close && c.sent == c.pending.size()) {
                ::shutdown(c.fd, SHUT_WR);
                drop(i, now, "served");
            } else if (settings_.mode == Mode::close && now >= c.deadline) {
                drop(i, now, "did not read its snapshot in time");
            }
        }

        fds.assign(1, pollfd{listen_fd_, POLLIN, 0});
        for (const Client& c : clients_) fds.push_back(pollfd{c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), poll_timeout(Clock::now())) <= 0) continue;
        now = Clock::now();
        for (std::size_t i = clients_.size(); i-- > 0;)
            if (fds[i + 1].revents != 0 && !drain(clients_[i])) drop(i, now, "closed the connection");
        if (fds[0].revents & POLLIN) accept_all(now);
    }
}

} // namespace kavro::topology
