#include "tools/kavro-robot-sim/status_datagram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kavro::robot {

namespace {

bool read_int(const char*& p, long low, long high, int& out) {
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (v < low || v > high) return false;
    out = static_cast<int>(v);
    p = end;
    return true;
}

bool read_degrees(const char*& p, double& out) {
    if (*p != '-' && (*p < '0' || *p > '9')) return false;
    char* end = nullptr;
    double v = std::strtod(p, &end);
    if (end == p || !std::isfinite(v) || v < -1000.0 || v > 1000.0) return false;
    out = v;
    p = end;
    return true;
}

bool blank(const char*& p) {
    if (*p != ' ') return false;
    ++p;
    return true;
}

} // namespace

std::string format_status_datagram(const RobotStatus& s) {
    char text[kStatusDatagramMaximum];
    int n = std::snprintf(text, sizeof text, "status %d %d %d %d %.6f %.6f %d.%d.%d.%d", s.battery, s.wheel1,
                          s.wheel2, s.signal, s.latitude, s.longitude, s.node[0], s.node[1], s.node[2], s.node[3]);
    if (n < 0) return {};
    return std::string(text, static_cast<std::size_t>(std::min<int>(n, sizeof text - 1)));
}

bool parse_status_datagram(const char* data, std::size_t size, RobotStatus& out) {
    if (size == 0 || size >= kStatusDatagramMaximum || std::memchr(data, '\0', size) != nullptr) return false;
    char text[kStatusDatagramMaximum];
    std::memcpy(text, data, size);
    text[size] = '\0';
    if (std::strncmp(text, "status ", 7) != 0) return false;
    const char* p = text + 7;
    RobotStatus s;
    int node[4];
    if (!read_int(p, 0, 100, s.battery) || !blank(p) || !read_int(p, 0, 127, s.wheel1) || !blank(p) ||
        !read_int(p, 0, 127, s.wheel2) || !blank(p) || !read_int(p, 0, 100, s.signal) || !blank(p) ||
        !read_degrees(p, s.latitude) || !blank(p) || !read_degrees(p, s.longitude) || !blank(p))
        return false;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != '.') return false;
        if (!read_int(p, 0, 255, node[i])) return false;
        s.node[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(node[i]);
    }
    if (*p != '\0') return false;
    out = s;
    return true;
}

} // namespace kavro::robot
