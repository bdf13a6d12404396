// Each simulated robot's own web page on its address and web port: its status (battery, wheels, position,
// link) refreshed every second, and a few settings the operator may change (top speed, battery level).
#pragma once

#include "tools/kavro-robot-sim/robot_sim.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace kavro::robot {

class RobotPages {
public:
    explicit RobotPages(RobotSimulator& sim);
    ~RobotPages();
    RobotPages(const RobotPages&) = delete;
    RobotPages& operator=(const RobotPages&) = delete;

    // Serves robot `index`'s page on address:port (port 0 picks one). False, with a message on stderr, when the
    // port cannot be bound (ports below 1024 need privileges).
    bool start(std::size_t index, const std::string& address, std::uint16_t port);
    std::uint16_t port(std::size_t n) const;
    void stop();

private:
    struct Served;
    RobotSimulator& sim_;
    std::vector<std::unique_ptr<Served>> servers_;
};

// The page and its status text, for the server and the tests.
std::string robot_page_html(const std::string& title);
std::string robot_status_json(const RobotInfo& info);

} // namespace kavro::robot
