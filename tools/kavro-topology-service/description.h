// A small text description of a mesh topology, rendered as the DOT text that the routing daemon's topology
// plug-in sends. One entry per line, '#' starts a comment:
//
//   self 10.99.12.2                     the node whose daemon serves the topology (needed once)
//   link 10.99.12.2 10.99.23.3 1.000    a symmetric link: topology edges both ways with this cost
//   link 10.99.12.2 10.99.24.4 42.306 INFINITE   ... or with a cost of its own for the way back
//   asym 10.99.24.4                     a neighbour of self that is heard but not symmetric (dashed, 0.000)
//   mpr 10.99.23.3                      a neighbour chosen by self as multipoint relay (self drawn as a box)
//   hna 10.99.23.3 0.0.0.0/0            a network announced by a gateway (CIDR or netmask form, as written)
//
// Costs are numbers (written with three decimals) or INFINITE. The rendering follows the daemon: one line per
// neighbour of self in the order of the description (each MPR followed by the box line), then every topology
// edge sorted by source and destination address, then the HNA entries in the order of the description.
#pragma once

#include "util/ipv4_address.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavro::topology {

using Address = kavro::Ipv4Address;

struct Link {
    Address a{}, b{};
    std::string cost_ab, cost_ba; // labels as rendered ("1.000", "INFINITE")
};

struct Neighbour {
    Address address{};
    std::string cost;
    bool symmetric = true;
    bool mpr = false;
};

struct Hna {
    Address gateway{};
    std::string network; // "0.0.0.0/0" or "192.168.0.99/255.255.255.255"
};

struct Description {
    Address self{};
    std::vector<Neighbour> neighbours; // in description order
    std::vector<Link> links;
    std::vector<Hna> hna;
};

// Limits that keep a hostile or mistaken file from growing the service without bound.
inline constexpr std::size_t kMaxDescriptionBytes = 1 << 20;
inline constexpr std::size_t kMaxEntries = 20000;

// Parses a description. False with a message naming the line ("line 4: ...") when the text is not one;
// `out` is then unchanged.
bool parse_description(std::string_view text, Description& out, std::string& error);

// The daemon's DOT text for the description: "digraph topology\n{\n" ... "}\n\n".
std::string render_dot(const Description& description);

// Dotted IPv4 text to bytes: exactly four decimal numbers 0..255 without leading zeros.
bool parse_address(std::string_view text, Address& out);
std::string format_address(const Address& a);

} // namespace kavro::topology
