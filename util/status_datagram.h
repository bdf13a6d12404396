// The robot status datagram: what a robot (or the simulator) sends about ten times a second to the station
// that drives it. Plain ASCII, fields separated by single blanks, no terminator:
//   "status BATTERY WHEEL1 WHEEL2 SIGNAL LATITUDE LONGITUDE NODE"
// e.g. "status 87 127 127 92 48.117302 11.516666 10.0.0.11". See docs/robot-status-datagram.md.
#pragma once

#include "util/ipv4_address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kavro::robot {

struct RobotStatus {
    int battery = 0;               // 0..100 %
    int wheel1 = 64;               // wheel byte: bit 6 forward, low six bits the magnitude
    int wheel2 = 64;
    int signal = 0;                // 0..100
    double latitude = 1000.0;      // decimal degrees, south negative; 1000 = no fix
    double longitude = 1000.0;     // west negative; 1000 = no fix
    Ipv4Address node{}; // mesh node address
};

inline constexpr std::size_t kStatusDatagramMaximum = 128;

// Stations that show the robots without driving them (the mixer) get a copy of robot n's status at this port
// plus n (n = 1..4 the robots, 5 the base station), from any address. See docs/mixer-robot-status.md.
inline constexpr std::uint16_t kStationStatusPortBase = 15010;
inline constexpr std::uint16_t station_status_port(int index) {
    return static_cast<std::uint16_t>(kStationStatusPortBase + index);
}

std::string format_status_datagram(const RobotStatus& status);
// False (and `out` untouched) unless the bytes are exactly one well-formed status datagram with every value in
// its range.
bool parse_status_datagram(const char* data, std::size_t size, RobotStatus& out);

} // namespace kavro::robot
