// The station's own IPv4 address on the mesh: the address of the interface that carries the default route,
// else the first interface that is up and not loopback, loopback only when there is nothing else.
#pragma once

#include "util/ipv4_address.h"

#include <optional>
#include <string>
#include <vector>

namespace kavro::console {

// One IPv4 address of a network interface.
struct InterfaceAddress {
    std::string name;
    Ipv4Address address{};
    bool up = false;
    bool loopback = false;
};

// Chooses among `interfaces` (in the system's order) with the routing table in the text form of
// /proc/net/route. Empty when no interface that is up has an IPv4 address.
std::optional<Ipv4Address> choose_station_address(const std::string& route_table,
                                              const std::vector<InterfaceAddress>& interfaces);

// The choice on this machine (/proc/net/route and getifaddrs).
std::optional<Ipv4Address> own_station_address();

} // namespace kavro::console
