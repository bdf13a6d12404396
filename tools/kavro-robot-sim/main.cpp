// kavro-robot-sim --robot ADDRESS:PORT[/STATUSPORT] [--robot ...] [--status-port 15010]
//                 [--station ADDRESS ...] [--web-port PORT] [--origin LAT,LON] [--verbose]
// Simulates one or more robots until interrupted; with --web-port each robot serves its status and settings
// page at http://ADDRESS:PORT/.
#include "tools/kavro-robot-sim/robot_page.h"
#include "tools/kavro-robot-sim/robot_sim.h"
#include "util/c_numbers.h"

#include <arpa/inet.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<bool> g_stop{false}; // set by the signal handler only

void on_signal(int) { g_stop.store(true, std::memory_order_relaxed); }

int usage(const char* why) {
    std::fprintf(stderr,
                 "kavro-robot-sim: %s\n"
                 "usage: kavro-robot-sim --robot ADDRESS:PORT[/STATUSPORT] [--robot ...] [--status-port 15010]\n"
                 "                       [--station ADDRESS ...] [--web-port PORT] [--origin LAT,LON] [--verbose]\n"
                 "  --station: a copy of robot n's status goes to ADDRESS, port 15010 + n (a mixer station)\n",
                 why);
    return 2;
}

bool parse_port(const std::string& text, std::uint16_t& out) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long v = kavro::c_strtoul(text.c_str(), nullptr, 10);
    if (v == 0 || v > 65535) return false;
    out = static_cast<std::uint16_t>(v);
    return true;
}

// "LAT,LON" in decimal degrees with a decimal point (whatever the locale), on the globe.
bool parse_degrees(const char* text, double& lat, double& lon) {
    char* end = nullptr;
    lat = kavro::c_strtod(text, &end);
    if (end == text || *end != ',') return false;
    const char* second = end + 1;
    lon = kavro::c_strtod(second, &end);
    if (end == second || *end != '\0') return false;
    return std::isfinite(lat) && std::isfinite(lon) && lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kavro::robot;
    std::vector<RobotSpec> robots;
    std::vector<bool> own_status_port;
    std::uint16_t status_port = 15010;
    std::uint16_t web_port = 0;
    SimSettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)what;
            return argv[++i];
        };
        if (arg == "--robot") {
            const char* v = value("--robot");
            if (!v) return usage("--robot needs ADDRESS:PORT");
            std::string spec = v;
            RobotSpec r;
            bool own = false;
            if (auto slash = spec.find('/'); slash != std::string::npos) {
                if (!parse_port(spec.substr(slash + 1), r.status_port)) return usage("bad status port in --robot");
                own = true;
                spec.resize(slash);
            }
            auto colon = spec.rfind(':');
            if (colon == std::string::npos || !parse_port(spec.substr(colon + 1), r.port))
                return usage("--robot needs ADDRESS:PORT");
            r.address = spec.substr(0, colon);
            robots.push_back(r);
            own_status_port.push_back(own);
        } else if (arg == "--status-port") {
            const char* v = value("--status-port");
            if (!v || !parse_port(v, status_port)) return usage("--status-port needs a port number");
        } else if (arg == "--web-port") {
            const char* v = value("--web-port");
            if (!v || !parse_port(v, web_port)) return usage("--web-port needs a port number");
        } else if (arg == "--origin") {
            const char* v = value("--origin");
            double lat = 0, lon = 0;
            if (!v || !parse_degrees(v, lat, lon)) return usage("--origin needs LAT,LON in degrees");
            settings.origin_latitude = lat;
            settings.origin_longitude = lon;
        } else if (arg == "--station") {
            const char* v = value("--station");
            in_addr a{};
            if (!v || ::inet_pton(AF_INET, v, &a) != 1) return usage("--station needs an IPv4 address");
            kavro::Ipv4Address station{};
            std::memcpy(station.data(), &a.s_addr, 4);
            settings.stations.push_back(station);
        } else if (arg == "--verbose" || arg == "-v") {
            settings.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            usage("simulated robots for the console");
            return 0;
        } else {
            return usage(("unknown argument \"" + arg + "\"").c_str());
        }
    }
    if (robots.empty()) return usage("at least one --robot is needed");
    for (std::size_t i = 0; i < robots.size(); ++i)
        if (!own_status_port[i]) robots[i].status_port = status_port;

    RobotSimulator sim(robots, settings);
    if (!sim.open()) return 1;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::fprintf(stderr, "kavro-robot-sim: %zu robot(s) ready\n", robots.size());
    // A page that cannot be served (a port below 1024 without privileges) leaves its robot running.
    RobotPages pages(sim);
    if (web_port != 0)
        for (std::size_t i = 0; i < robots.size(); ++i)
            if (pages.start(i, robots[i].address, web_port))
                std::fprintf(stderr, "kavro-robot-sim: robot %zu's page at http://%s:%u/\n", i + 1,
                             robots[i].address.c_str(), unsigned(web_port));
    sim.run(g_stop);
    pages.stop();
    return 0;
}
