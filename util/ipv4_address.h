// An IPv4 address as the programs keep and exchange it: four bytes in dotted order (192.168.1.10 is
// {192, 168, 1, 10}), the order of the address controls, the configuration files and the sensor records.
#pragma once

#include <array>
#include <cstdint>

namespace kavro {

using Ipv4Address = std::array<std::uint8_t, 4>;

// 0.0.0.0, which the programs use for "no address set".
inline bool is_unset(const Ipv4Address& a) { return a == Ipv4Address{}; }

} // namespace kavro
