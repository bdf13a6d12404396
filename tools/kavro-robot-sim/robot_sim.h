// Simulated robots for development and tests: each listens for the console's commands on its own address and
// port, answers "init", drives a simple two-wheel model, drains a battery, moves a GPS position, stops on its
// own when commands stop coming, and reports its status to the station that drives it.
#pragma once

#include "util/status_datagram.h"

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kavro::robot {

using Clock = std::chrono::steady_clock;

struct RobotSpec {
    std::string address;     // dotted IPv4, e.g. "127.0.0.11"
    std::uint16_t port = 0;  // command port; 0 picks a free one
    std::uint16_t status_port = 15010;
    kavro::Ipv4Address node{}; // mesh node address; the robot's own address when all zero
};

struct SimSettings {
    double origin_latitude = 48.117302;  // the first robot's start; the others start 10 m apart
    double origin_longitude = 11.516666;
    double top_speed = 1.0;              // m/s at wheel magnitude 63
    double track = 0.5;                  // m between the wheels
    std::chrono::milliseconds dead_man{500};
    std::chrono::milliseconds status_period{100};
    std::chrono::milliseconds autojump_time{1000};
    double idle_drain = 0.01;            // % per second
    double drive_drain = 0.1;            // % per second at top speed
    bool verbose = false;
    // Stations that show the robots without driving them: each gets a copy of robot n's status at
    // kavro::robot::station_status_port(n) while the robot is driven.
    std::vector<kavro::Ipv4Address> stations;
};

struct RobotModel {
    RobotSpec spec;
    int fd = -1;
    std::uint16_t bound_port = 0;
    int wheel1 = 64, wheel2 = 64;        // wheel bytes being driven
    double battery = 100.0;
    double latitude = 0.0, longitude = 0.0, heading = 0.0; // heading in degrees, 0 north, clockwise
    double start_latitude = 0.0, start_longitude = 0.0;
    Clock::time_point last_command{};
    Clock::time_point autojump_until{};
    bool loopback = false;               // bound to a 127.x.y.z address, which cannot leave this machine
    bool driven = false;                 // someone sent a command: status goes to them
    sockaddr_in controller{};
    std::uint64_t commands = 0;
    double top_speed = 1.0;              // m/s, from the settings; the robot's page may change it
};

// What a robot's web page shows.
struct RobotInfo {
    double battery = 0;                  // %
    int wheel1 = 64, wheel2 = 64;
    double speed = 0, heading = 0;       // m/s, degrees
    int signal = 0;
    double latitude = 0, longitude = 0;
    double top_speed = 0;
    std::uint64_t commands = 0;
    std::string controller;              // "address:port" of the station driving it, empty before
};

class RobotSimulator {
public:
    explicit RobotSimulator(std::vector<RobotSpec> robots, SimSettings settings = {});
    ~RobotSimulator();
    RobotSimulator(const RobotSimulator&) = delete;
    RobotSimulator& operator=(const RobotSimulator&) = delete;

    // False with a message on stderr when a robot's address cannot be bound.
    bool open();
    // Runs until stop is set.
    void run(const std::atomic<bool>& stop);
    std::uint16_t port(std::size_t robot) const { return robots_.at(robot).bound_port; }
    RobotStatus status(std::size_t robot) const;
    // For the robot's web page (any thread).
    RobotInfo info(std::size_t robot) const;
    void set_robot_settings(std::size_t robot, double top_speed, double battery);

private:
    void handle(RobotModel& r, const char* data, std::size_t size, const sockaddr_in& from, Clock::time_point now);
    void step(RobotModel& r, double seconds, Clock::time_point now);
    void send_status(RobotModel& r);
    RobotStatus status_of(const RobotModel& r) const;

    // Guards the robots' state: run() changes it, the web pages read it and change settings on their threads.
    mutable std::mutex lock_;
    std::vector<RobotModel> robots_;
    SimSettings settings_;
    // Sends the station copies of robots on loopback addresses (their own socket cannot reach another
    // machine or network namespace); bound to no address, so the system picks the way out.
    int copy_fd_ = -1;
};

} // namespace kavro::robot
