#include "util/status_datagram.h"

#include "util/c_numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kavro::robot {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits only (no sign, no blank), within [low, high]. Locale-independent.
bool read_int(const char*& p, const char* end, long low, long high, int& out) {
    const char* q = p;
    while (q < end && is_digit(*q)) ++q;
    if (q == p || q - p > 9) return false;
    long v = 0;
    if (std::from_chars(p, q, v).ptr != q || v < low || v > high) return false;
    out = static_cast<int>(v);
    p = q;
    return true;
}

// "-"? digits "." digits, nothing else (no exponent, no hexadecimal, no locale's decimal comma).
bool read_degrees(const char*& p, const char* end, double& out) {
    const char* q = p;
    if (q < end && *q == '-') ++q;
    const char* whole = q;
    while (q < end && is_digit(*q)) ++q;
    if (q == whole || q >= end || *q != '.') return false;
    const char* fraction = ++q;
    while (q < end && is_digit(*q)) ++q;
    if (q == fraction) return false;
    double v = 0.0;
    if (std::from_chars(p, q, v).ptr != q || !std::isfinite(v) || v < -1000.0 || v > 1000.0) return false;
    out = v;
    p = q;
    return true;
}

bool blank(const char*& p, const char* end) {
    if (p >= end || *p != ' ') return false;
    ++p;
    return true;
}

} // namespace

std::string format_status_datagram(const RobotStatus& s) {
    // Degrees with a decimal point, whatever the process locale.
    std::string text = "status " + std::to_string(s.battery) + ' ' + std::to_string(s.wheel1) + ' ' +
                       std::to_string(s.wheel2) + ' ' + std::to_string(s.signal) + ' ';
    append_fixed(text, s.latitude, 6);
    text += ' ';
    append_fixed(text, s.longitude, 6);
    for (int i = 0; i < 4; ++i) text += (i == 0 ? " " : ".") + std::to_string(s.node[static_cast<std::size_t>(i)]);
    if (text.size() > kStatusDatagramMaximum - 1) text.resize(kStatusDatagramMaximum - 1);
    return text;
}

bool parse_status_datagram(const char* data, std::size_t size, RobotStatus& out) {
    if (data == nullptr || size == 0 || size >= kStatusDatagramMaximum) return false;
    const char* end = data + size;
    if (size < 7 || std::memcmp(data, "status ", 7) != 0) return false;
    const char* p = data + 7;
    RobotStatus s;
    int node[4];
    if (!read_int(p, end, 0, 100, s.battery) || !blank(p, end) || !read_int(p, end, 0, 127, s.wheel1) ||
        !blank(p, end) || !read_int(p, end, 0, 127, s.wheel2) || !blank(p, end) ||
        !read_int(p, end, 0, 100, s.signal) || !blank(p, end) || !read_degrees(p, end, s.latitude) ||
        !blank(p, end) || !read_degrees(p, end, s.longitude) || !blank(p, end))
        return false;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (p >= end || *p++ != '.')) return false;
        if (!read_int(p, end, 0, 255, node[i])) return false;
        s.node[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(node[i]);
    }
    if (p != end) return false;
    out = s;
    return true;
}

} // namespace kavro::robot
