#include "tools/kavro-robot-sim/robot_sim.h"

#include "console/link/robot_link.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kavro::robot {

namespace {

constexpr double kMetresPerDegree = 111320.0;
constexpr double kPi = 3.14159265358979323846;

int signed_speed(int wheel) { return console::wheel_speed(wheel); }

std::string endpoint_text(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

} // namespace

RobotSimulator::RobotSimulator(std::vector<RobotSpec> robots, SimSettings settings) : settings_(settings) {
    for (std::size_t i = 0; i < robots.size(); ++i) {
        RobotModel m;
        m.spec = robots[i];
        // Robots start 10 m apart, in a row going east.
        const double lat = settings.origin_latitude;
        m.latitude = m.start_latitude = lat;
        m.longitude = m.start_longitude =
            settings.origin_longitude + 10.0 * static_cast<double>(i) / (kMetresPerDegree * std::cos(lat * kPi / 180));
        m.top_speed = settings.top_speed;
        robots_.push_back(m);
    }
}

RobotSimulator::~RobotSimulator() {
    for (auto& r : robots_)
        if (r.fd >= 0) ::close(r.fd);
    if (copy_fd_ >= 0) ::close(copy_fd_);
}

bool RobotSimulator::open() {
    for (auto& r : robots_) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(r.spec.port);
        if (inet_pton(AF_INET, r.spec.address.c_str(), &a.sin_addr) != 1) {
            std::fprintf(stderr, "kavro-robot-sim: \"%s\" is not an IPv4 address\n", r.spec.address.c_str());
            return false;
        }
        r.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (r.fd < 0 || ::bind(r.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::fprintf(stderr, "kavro-robot-sim: cannot listen on %s:%u: %s\n", r.spec.address.c_str(),
                         static_cast<unsigned>(r.spec.port), std::strerror(errno));
            return false;
        }
        socklen_t n = sizeof a;
        getsockname(r.fd, reinterpret_cast<sockaddr*>(&a), &n);
        r.bound_port = ntohs(a.sin_port);
        if (is_unset(r.spec.node))
            std::memcpy(r.spec.node.data(), &a.sin_addr.s_addr, 4);
        r.loopback = (ntohl(a.sin_addr.s_addr) >> 24) == 127;
        if (r.loopback && !settings_.stations.empty() && copy_fd_ < 0)
            copy_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (settings_.verbose)
            std::fprintf(stderr, "kavro-robot-sim: robot on %s, status to port %u\n", endpoint_text(a).c_str(),
                         static_cast<unsigned>(r.spec.status_port));
    }
    return true;
}

RobotStatus RobotSimulator::status(std::size_t i) const {
    std::lock_guard<std::mutex> hold(lock_);
    return status_of(robots_.at(i));
}

RobotInfo RobotSimulator::info(std::size_t i) const {
    std::lock_guard<std::mutex> hold(lock_);
    const RobotModel& r = robots_.at(i);
    const RobotStatus s = status_of(r);
    RobotInfo out;
    out.battery = r.battery;
    out.wheel1 = r.wheel1;
    out.wheel2 = r.wheel2;
    out.speed = (signed_speed(r.wheel1) + signed_speed(r.wheel2)) / 126.0 * r.top_speed;
    out.heading = r.heading;
    out.signal = s.signal;
    out.latitude = r.latitude;
    out.longitude = r.longitude;
    out.top_speed = r.top_speed;
    out.commands = r.commands;
    if (r.driven) out.controller = endpoint_text(r.controller);
    return out;
}

void RobotSimulator::set_robot_settings(std::size_t i, double top_speed, double battery) {
    std::lock_guard<std::mutex> hold(lock_);
    RobotModel& r = robots_.at(i);
    r.top_speed = top_speed;
    r.battery = std::clamp(battery, 0.0, 100.0);
}

RobotStatus RobotSimulator::status_of(const RobotModel& r) const {
    RobotStatus s;
    s.battery = static_cast<int>(std::ceil(r.battery));
    s.wheel1 = r.wheel1;
    s.wheel2 = r.wheel2;
    const double north = (r.latitude - r.start_latitude) * kMetresPerDegree;
    const double east = (r.longitude - r.start_longitude) * kMetresPerDegree * std::cos(r.latitude * kPi / 180);
    const double distance = std::sqrt(north * north + east * east);
    // The link fades with the distance from where the robot started.
    s.signal = std::clamp(static_cast<int>(100.0 - distance / 5.0), 5, 100);
    s.latitude = r.latitude;
    s.longitude = r.longitude;
    s.node = r.spec.node;
    return s;
}

void RobotSimulator::handle(RobotModel& r, const char* data, std::size_t size, const sockaddr_in& from,
                            Clock::time_point now) {
    auto take_controller = [&] {
        if (!r.driven || r.controller.sin_addr.s_addr != from.sin_addr.s_addr) {
            if (settings_.verbose)
                std::fprintf(stderr, "kavro-robot-sim: %s:%u driven by %s\n", r.spec.address.c_str(),
                             static_cast<unsigned>(r.bound_port), endpoint_text(from).c_str());
        }
        r.controller = from;
        r.driven = true;
        r.last_command = now;
        ++r.commands;
    };
    if (size == 4 && std::memcmp(data, "init", 4) == 0) {
        take_controller();
        ::sendto(r.fd, "ok", 2, 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        return;
    }
    if (size == 9 && std::memcmp(data, "speed ", 6) == 0 && data[7] == ' ') {
        take_controller();
        if (now < r.autojump_until) return; // the jump runs to its end
        r.wheel1 = static_cast<unsigned char>(data[6]) & 0x7F;
        r.wheel2 = static_cast<unsigned char>(data[8]) & 0x7F;
        return;
    }
    if (size == 12 && std::memcmp(data, "autojump ", 9) == 0 && data[10] == ' ') {
        take_controller();
        // A jump: the pad position as a drive command for a fixed time, then a stop.
        auto w = console::wheel_from_pad(static_cast<std::uint8_t>(data[9]), static_cast<std::uint8_t>(data[11]));
        r.wheel1 = w.wheel1 == 0 ? 64 : w.wheel1;
        r.wheel2 = w.wheel2 == 0 ? 64 : w.wheel2;
        r.autojump_until = now + settings_.autojump_time;
        return;
    }
    if (settings_.verbose)
        std::fprintf(stderr, "kavro-robot-sim: %s:%u ignores a %zu-byte datagram\n", r.spec.address.c_str(),
                     static_cast<unsigned>(r.bound_port), size);
}

void RobotSimulator::step(RobotModel& r, double dt, Clock::time_point now) {
    const bool jumping = now < r.autojump_until;
    if (!jumping && r.autojump_until != Clock::time_point{}) {
        r.autojump_until = {};
        r.wheel1 = r.wheel2 = 64;
    }
    // Dead-man rule: no command for a while stops the wheels.
    if (!jumping && now - r.last_command > settings_.dead_man) r.wheel1 = r.wheel2 = 64;
    if (r.battery <= 0.0) r.wheel1 = r.wheel2 = 64;

    // Wheel 2 is the left wheel, wheel 1 the right one: more speed on wheel 2 turns right.
    const double left = signed_speed(r.wheel2) / 63.0 * r.top_speed;
    const double right = signed_speed(r.wheel1) / 63.0 * r.top_speed;
    const double v = (left + right) / 2.0;
    const double turn = (left - right) / settings_.track; // rad/s, clockwise
    r.heading = std::fmod(r.heading + turn * dt * 180.0 / kPi + 360.0, 360.0);
    const double h = r.heading * kPi / 180.0;
    r.latitude += v * std::cos(h) * dt / kMetresPerDegree;
    r.longitude += v * std::sin(h) * dt / (kMetresPerDegree * std::cos(r.latitude * kPi / 180.0));
    const double load = (std::abs(left) + std::abs(right)) / (2.0 * r.top_speed);
    r.battery = std::max(0.0, r.battery - (settings_.idle_drain + settings_.drive_drain * load) * dt);
}

void RobotSimulator::send_status(RobotModel& r) {
    if (!r.driven) return;
    sockaddr_in to = r.controller;
    to.sin_port = htons(r.spec.status_port);
    // Sent from the command socket, so the status comes from the robot's own address.
    const std::size_t index = static_cast<std::size_t>(&r - robots_.data());
    const std::string text = format_status_datagram(status_of(robots_[index]));
    ::sendto(r.fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    for (const kavro::Ipv4Address& station : settings_.stations) {
        sockaddr_in copy{};
        copy.sin_family = AF_INET;
        copy.sin_port = htons(station_status_port(int(index) + 1));
        std::memcpy(&copy.sin_addr.s_addr, station.data(), 4);
        const int from = r.loopback && copy_fd_ >= 0 ? copy_fd_ : r.fd;
        ::sendto(from, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&copy), sizeof copy);
    }
}

void RobotSimulator::run(const std::atomic<bool>& stop) {
    std::vector<pollfd> fds;
    for (auto& r : robots_) fds.push_back({r.fd, POLLIN, 0});
    auto last_step = Clock::now();
    auto next_status = last_step + settings_.status_period;
    while (!stop.load(std::memory_order_relaxed)) {
        int ready = ::poll(fds.data(), fds.size(), 5);
        const auto now = Clock::now();
        std::lock_guard<std::mutex> hold(lock_);
        if (ready > 0) {
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if ((fds[i].revents & POLLIN) == 0) continue;
                char buffer[1500];
                sockaddr_in from{};
                socklen_t n = sizeof from;
                ssize_t len = ::recvfrom(fds[i].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &n);
                if (len >= 0) handle(robots_[i], buffer, static_cast<std::size_t>(len), from, now);
            }
        }
        const double dt = std::chrono::duration<double>(now - last_step).count();
        if (dt >= 0.01) {
            for (auto& r : robots_) step(r, dt, now);
            last_step = now;
        }
        if (now >= next_status) {
            for (auto& r : robots_) send_status(r);
            next_status += settings_.status_period;
            if (next_status < now) next_status = now + settings_.status_period;
        }
    }
}

} // namespace kavro::robot
