#include "console/link/station_address.h"

#include <charconv>
#include <climits>
#include <fstream>
#include <sstream>

#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

namespace kavro::console {

namespace {

bool hex_field(const std::string& text, unsigned long& out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out, 16);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// The interface of the default route with the lowest metric; empty when there is none.
std::string default_route_interface(const std::string& route_table) {
    std::istringstream lines(route_table);
    std::string line, best;
    unsigned long best_metric = ULONG_MAX;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
        unsigned long d = 0, f = 0, m = 0, k = 0;
        if (!hex_field(destination, d) || !hex_field(flags, f) || !hex_field(mask, k)) continue;
        const auto r = std::from_chars(metric.data(), metric.data() + metric.size(), m);
        if (r.ec != std::errc() || d != 0 || k != 0 || (f & RTF_UP) == 0) continue;
        if (best.empty() || m < best_metric) {
            best = iface;
            best_metric = m;
        }
    }
    return best;
}

} // namespace

std::optional<Ipv4Address> choose_station_address(const std::string& route_table,
                                              const std::vector<InterfaceAddress>& interfaces) {
    const std::string via = default_route_interface(route_table);
    if (!via.empty())
        for (const InterfaceAddress& i : interfaces)
            if (i.name == via && i.up) return i.address;
    for (const InterfaceAddress& i : interfaces)
        if (i.up && !i.loopback) return i.address;
    for (const InterfaceAddress& i : interfaces)
        if (i.up) return i.address;
    return std::nullopt;
}

std::optional<Ipv4Address> own_station_address() {
    std::ifstream in("/proc/net/route");
    std::stringstream routes;
    routes << in.rdbuf();
    std::vector<InterfaceAddress> interfaces;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        InterfaceAddress a;
        a.name = i->ifa_name;
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&in4->sin_addr.s_addr);
        a.address = {bytes[0], bytes[1], bytes[2], bytes[3]};
        a.up = (i->ifa_flags & IFF_UP) != 0;
        a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        interfaces.push_back(a);
    }
    ::freeifaddrs(list);
    return choose_station_address(routes.str(), interfaces);
}

} // namespace kavro::console
