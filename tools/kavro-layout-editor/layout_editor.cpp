#include "tools/kavro-layout-editor/layout_editor.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace kavro::editor {

namespace {

std::vector<std::string_view> fields(std::string_view body) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < body.size()) {
        while (i < body.size() && (body[i] == ' ' || body[i] == '\n' || body[i] == '\r' || body[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < body.size() && body[i] != ' ' && body[i] != '\n' && body[i] != '\r' && body[i] != '\t') ++i;
        if (i > start) out.push_back(body.substr(start, i - start));
    }
    return out;
}

bool read(std::string_view s, float& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}
bool read(std::string_view s, std::int32_t& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}
bool fraction(std::string_view s, float& v) { return read(s, v) && v >= 0 && v <= 1; }

void put(std::string& out, float v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out += ' ';
    out.append(buf, r.ptr);
}
void put(std::string& out, std::int32_t v) {
    out += ' ';
    out += std::to_string(v);
}

} // namespace

std::optional<Layout> parse_layout_form(std::string_view body) {
    const auto f = fields(body);
    if (f.size() != kPanes * 6 + 1 + kRobots * 12) return std::nullopt;
    Layout l;
    std::size_t i = 0;
    for (PaneLayout& p : l.panes) {
        if (!fraction(f[i], p.left) || !fraction(f[i + 1], p.top) || !fraction(f[i + 2], p.right) ||
            !fraction(f[i + 3], p.bottom) || !fraction(f[i + 4], p.alpha) || !read(f[i + 5], p.z))
            return std::nullopt;
        if (p.right < p.left || p.bottom < p.top || p.z < 0 || p.z > 11) return std::nullopt;
        i += 6;
    }
    if (!fraction(f[i++], l.overlay_alpha)) return std::nullopt;
    for (auto& robot : l.sensors)
        for (SensorSetting& s : robot) {
            std::int32_t on = 0;
            if (!read(f[i], on) || (on != 0 && on != 1) || !read(f[i + 1], s.a) || !read(f[i + 2], s.b))
                return std::nullopt;
            s.on = on == 1;
            i += 3;
        }
    return l;
}

std::string layout_datagram(const Layout& l) {
    std::string out = "2";
    auto pane = [&](const PaneLayout& p) {
        put(out, p.left);
        put(out, p.top);
        put(out, p.right);
        put(out, p.bottom);
        put(out, p.alpha);
        put(out, p.z);
    };
    for (int k = 0; k < 4; ++k) pane(l.panes[k]);
    for (int k = 0; k < 24; ++k) put(out, 0);
    for (int k = 4; k < 8; ++k) pane(l.panes[k]);
    put(out, l.overlay_alpha);
    if (l.overlay_alpha != 0) {
        for (const auto& robot : l.sensors)
            for (int s : {0, 3, 1, 2}) {
                put(out, robot[s].on ? 1 : 0);
                put(out, robot[s].a);
                put(out, robot[s].b);
            }
    }
    return out;
}

std::optional<Picture> parse_picture_form(std::string_view body) {
    const auto f = fields(body);
    if (f.size() != 5) return std::nullopt;
    Picture p;
    std::int32_t v = 0;
    if (!read(f[0], v) || v < 1 || v > 4) return std::nullopt;
    p.input = v;
    for (int i = 0; i < 4; ++i) {
        if (!read(f[1 + i], v) || v < 0 || v > 200) return std::nullopt;
        p.values[i] = v;
    }
    return p;
}

std::string picture_datagram(const Picture& p) {
    std::string out = "3";
    put(out, p.input);
    for (int v : p.values) put(out, v);
    return out;
}

std::string layout_form(const Layout& l) {
    std::string out;
    for (const PaneLayout& p : l.panes) {
        put(out, p.left);
        put(out, p.top);
        put(out, p.right);
        put(out, p.bottom);
        put(out, p.alpha);
        put(out, p.z);
    }
    put(out, l.overlay_alpha);
    for (const auto& robot : l.sensors)
        for (const SensorSetting& s : robot) {
            put(out, s.on ? 1 : 0);
            put(out, s.a);
            put(out, s.b);
        }
    return out.substr(1);
}

Layout default_layout() {
    Layout l;
    for (int k = 0; k < 4; ++k) {
        const float x = float(k % 2) * 0.5f, y = float(k / 2) * 0.5f;
        l.panes[k] = PaneLayout{x, y, x + 0.5f, y + 0.5f, 1.0f, 0};
        const float cx = 0.02f + float(k) * 0.245f;
        l.panes[4 + k] = PaneLayout{cx, 0.76f, cx + 0.22f, 0.98f, 0.0f, 1};
    }
    return l;
}

} // namespace kavro::editor
