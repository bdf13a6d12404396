// Test doubles for the link: a robot that records every datagram it receives on a loopback address, and the
// operator window's address and port fields.
#pragma once

#include "console/link/robot_link.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavro::console::testing {

using Clock = std::chrono::steady_clock;

struct Datagram {
    std::string bytes;
    Clock::time_point when;
    bool on_reply_port = false; // arrived at the second socket the robot answered from
};

// Listens on address:free port; answers "init" with "ok" (unless silent), from its own socket or, with
// reply_from_other_port, from a second socket so that the console's peer moves there.
class FakeRobot {
public:
    explicit FakeRobot(const char* address, bool silent = false, bool reply_from_other_port = false)
        : silent_(silent) {
        fd_ = bind_udp(address);
        reply_fd_ = reply_from_other_port ? bind_udp(address) : fd_;
        worker_ = std::thread([this] { loop(); });
    }
    ~FakeRobot() {
        stop_ = true;
        worker_.join();
        if (reply_fd_ != fd_) ::close(reply_fd_);
        ::close(fd_);
    }

    std::uint16_t port() const { return port_of(fd_); }
    std::uint16_t reply_port() const { return port_of(reply_fd_); }
    void set_silent(bool s) { silent_ = s; }

    std::vector<Datagram> received() const {
        std::lock_guard<std::mutex> l(lock_);
        return received_;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (auto& d : received()) out.push_back(d.bytes);
        return out;
    }
    std::size_t count(const std::string& bytes) const {
        std::size_t n = 0;
        for (auto& d : received()) n += d.bytes == bytes;
        return n;
    }
    void clear() {
        std::lock_guard<std::mutex> l(lock_);
        received_.clear();
    }
    // Waits until pred(received()) holds, at most `limit`.
    bool wait_for(const std::function<bool(const std::vector<Datagram>&)>& pred,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) const {
        auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (pred(received())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return pred(received());
    }

private:
    static int bind_udp(const char* address) {
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, address, &a.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    static std::uint16_t port_of(int fd) {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }
    void loop() {
        while (!stop_) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {reply_fd_, POLLIN, 0}};
            const nfds_t count = reply_fd_ != fd_ ? 2 : 1;
            if (::poll(p, count, 10) <= 0) continue;
            for (nfds_t k = 0; k < count; ++k) {
                if ((p[k].revents & POLLIN) == 0) continue;
                char buf[2048];
                sockaddr_in from{};
                socklen_t n = sizeof from;
                ssize_t len = ::recvfrom(p[k].fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &n);
                if (len < 0) continue;
                auto now = Clock::now();
                std::string bytes(buf, static_cast<std::size_t>(len));
                {
                    std::lock_guard<std::mutex> l(lock_);
                    received_.push_back({bytes, now, k == 1});
                }
                if (bytes == "init" && !silent_)
                    ::sendto(reply_fd_, "ok", 2, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
            }
        }
    }

    int fd_ = -1;
    int reply_fd_ = -1;
    std::atomic<bool> silent_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<Datagram> received_;
    std::thread worker_;
};

class FakeFields : public RobotLinkFields {
public:
    void set(int index, Ipv4Address address, unsigned command_port, unsigned status_port = 0) {
        std::lock_guard<std::mutex> l(lock_);
        addresses_[index] = address;
        command_ports_[index] = command_port;
        status_ports_[index] = status_port;
    }
    Ipv4Address address(int index) const override {
        std::lock_guard<std::mutex> l(lock_);
        return addresses_[index];
    }
    unsigned command_port(int index) const override {
        std::lock_guard<std::mutex> l(lock_);
        return command_ports_[index];
    }
    unsigned status_port(int index) const override {
        std::lock_guard<std::mutex> l(lock_);
        return status_ports_[index];
    }

private:
    mutable std::mutex lock_;
    std::array<Ipv4Address, 6> addresses_{};
    std::array<unsigned, 6> command_ports_{};
    std::array<unsigned, 6> status_ports_{};
};

} // namespace kavro::console::testing
