#include "outside/capteur/status_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

namespace capteur {

namespace {

// Longest wait in poll: the stop flag and failed binds are looked at least this often.
constexpr int kPollMilliseconds = 200;
// Datagrams read from one socket per wake-up, so one busy port cannot starve the others.
constexpr int kBurst = 64;

} // namespace

StatusListener::StatusListener(ChannelTable& table, ListenerOptions options) : table_(table), options_(options) {}

StatusListener::~StatusListener() {
    stop();
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool StatusListener::start() {
    if (thread_.joinable()) return true;
    if (wake_fd_ < 0) {
        wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_fd_ < 0) {
            std::fprintf(stderr, "Capteur: no wake-up descriptor for the status listener: %s\n", std::strerror(errno));
            return false;
        }
    }
    stop_.store(false, std::memory_order_relaxed);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "Capteur: the status listener could not start: %s\n", e.what());
        return false;
    }
    return true;
}

void StatusListener::stop() {
    if (!thread_.joinable()) return;
    stop_.store(true, std::memory_order_relaxed);
    wake();
    thread_.join();
}

void StatusListener::wake() {
    if (wake_fd_ < 0) return;
    const std::uint64_t one = 1;
    // A full counter already means "wake up".
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void StatusListener::run() {
    std::vector<pollfd> fds;
    std::vector<std::uint16_t> ports;
    while (!stop_.load(std::memory_order_relaxed)) {
        rebind();
        fds.clear();
        ports.clear();
        fds.push_back({wake_fd_, POLLIN, 0});
        ports.push_back(0);
        for (const auto& [port, fd] : sockets_) {
            fds.push_back({fd, POLLIN, 0});
            ports.push_back(port);
        }
        const int ready = ::poll(fds.data(), fds.size(), kPollMilliseconds);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "Capteur: poll failed: %s\n", std::strerror(errno));
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
            continue;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLERR)) drain(fds[i].fd, ports[i]);
    }
    for (const auto& [port, fd] : sockets_) ::close(fd);
    sockets_.clear();
    bound_.store(0, std::memory_order_relaxed);
}

void StatusListener::rebind() {
    const unsigned generation = table_.generation();
    const auto now = Clock::now();
    bool retry_due = false;
    for (const auto& [port, when] : failed_)
        if (now - when >= options_.retry_period) retry_due = true;
    if (generation == seen_generation_ && !retry_due) return;
    seen_generation_ = generation;

    std::set<std::uint16_t> wanted;
    for (const ListenEntry& e : table_.listen_entries()) wanted.insert(e.port);

    for (auto it = sockets_.begin(); it != sockets_.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        ::close(it->second);
        it = sockets_.erase(it);
    }
    for (auto it = failed_.begin(); it != failed_.end();)
        it = wanted.count(it->first) ? std::next(it) : failed_.erase(it);

    for (std::uint16_t port : wanted) {
        if (sockets_.count(port)) continue;
        auto f = failed_.find(port);
        if (f != failed_.end() && now - f->second < options_.retry_period) continue;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        std::memcpy(&local.sin_addr.s_addr, options_.bind_address.data(), 4);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            // Said once per port; tried again every retry period.
            if (f == failed_.end())
                std::fprintf(stderr, "Capteur: cannot listen for status on UDP port %u: %s\n", unsigned(port),
                             std::strerror(errno));
            if (fd >= 0) ::close(fd);
            failed_[port] = now;
            continue;
        }
        if (f != failed_.end()) failed_.erase(f);
        sockets_[port] = fd;
    }
    bound_.store(static_cast<int>(sockets_.size()), std::memory_order_relaxed);
}

void StatusListener::drain(int fd, std::uint16_t port) {
    // One byte more than the longest datagram, so that a longer one shows (MSG_TRUNC gives its real size).
    char buffer[kavro::robot::kStatusDatagramMaximum + 1];
    for (int n = 0; n < kBurst; ++n) {
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
        const ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                                       &from_len);
        if (got < 0) return; // nothing more (or an error the next poll shows again)
        kavro::robot::RobotStatus status;
        Address source{};
        std::memcpy(source.data(), &from.sin_addr.s_addr, 4);
        if (from.sin_family != AF_INET || got > ssize_t(sizeof buffer) - 1 ||
            !kavro::robot::parse_status_datagram(buffer, std::size_t(got), status) ||
            table_.apply(port, source, status, Clock::now()) == 0) {
            refused_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        taken_.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace capteur
